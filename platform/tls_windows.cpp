// TLS on Schannel (SSPI) over bytes the caller carries: the handshake
// (InitializeSecurityContext), the records (DecryptMessage, EncryptMessage)
// and the close all work on buffers of this object, so no call here touches
// a socket or waits. Schannel is asked not to check the server's certificate
// itself (it could fetch revocation lists over the network); the chain and
// the name are checked here once the handshake is done, from what this
// machine already holds.
#define SECURITY_WIN32
#include <windows.h>

#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/tls.h"

namespace platform {
namespace {

// A TLS record (RFC 5246 6.2, RFC 8446 5.1): content type, protocol
// version, length, then at most 2^14 bytes of text plus 2048 of expansion.
constexpr size_t kRecordHeader = 5;
constexpr size_t kMaxRecordBody = 16384 + 2048;
// change_cipher_spec, alert, handshake, application_data.
constexpr uint8_t kFirstContentType = 20;
constexpr uint8_t kLastContentType = 23;
constexpr uint8_t kAlert = 21;
// A host name is at most 253 bytes (RFC 1035, written without the final dot).
constexpr size_t kMaxServerName = 253;
// Received bytes already used are dropped from the buffer's front once this
// many have gathered (and they are more than half of it).
constexpr size_t kCompactAt = 16384;

constexpr ULONG kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                  ISC_REQ_MANUAL_CRED_VALIDATION | ISC_REQ_USE_SUPPLIED_CREDS;

enum class Record { Whole, Partial, NotTls };

// What the bytes at the front of the stream from the server hold: a whole
// record (size: its length with the header), the start of one, or bytes no
// TLS server sends, a record longer than TLS allows among them. Judged from
// as few bytes as have come, so garbage fails at its first byte.
Record frontRecord(const uint8_t* bytes, size_t length, size_t& size) {
  if (length >= 1 && (bytes[0] < kFirstContentType || bytes[0] > kLastContentType)) {
    return Record::NotTls;
  }
  if (length >= 2 && bytes[1] != 3) return Record::NotTls;
  if (length < kRecordHeader) return Record::Partial;
  const size_t body = static_cast<size_t>(bytes[3]) << 8 | bytes[4];
  if (body > kMaxRecordBody) return Record::NotTls;
  size = kRecordHeader + body;
  return length >= size ? Record::Whole : Record::Partial;
}

std::string hexStatus(long status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

// Schannel's refusals in a few words, with the code for the rest.
std::string statusText(const char* what, SECURITY_STATUS status) {
  static const struct {
    SECURITY_STATUS status;
    const char* text;
  } kKnown[] = {
      {SEC_E_ALGORITHM_MISMATCH, "no protocol version or cipher in common, "},
      {SEC_E_ILLEGAL_MESSAGE, "the server sent a message that is not valid here, "},
      {SEC_E_INVALID_TOKEN, "malformed TLS data, "},
      {SEC_E_DECRYPT_FAILURE, "a record failed its integrity check, "},
      {SEC_E_MESSAGE_ALTERED, "a record failed its integrity check, "},
      {SEC_E_INSUFFICIENT_MEMORY, "out of memory, "},
  };
  std::string text = std::string(what) + " (";
  for (const auto& known : kKnown) {
    if (known.status == status) text += known.text;
  }
  return text + "Schannel " + hexStatus(status) + ")";
}

// Why the certificate policy refused the chain, in a few words.
std::string policyText(DWORD error, const std::string& serverName) {
  switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
      return "it does not chain to a trusted root";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return "it is not for " + serverName;
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return "it has expired or is not valid yet";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
      return "it is not for a TLS server";
    case static_cast<DWORD>(CERT_E_REVOKED):
      return "it has been revoked";
    default:
      return "refused by the certificate policy (" + hexStatus(error) + ")";
  }
}

// Why the chain itself is broken (CERT_TRUST_* bits), in a few words.
std::string chainText(DWORD errors) {
  if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
    return "it does not chain to a trusted root";
  }
  if (errors & CERT_TRUST_IS_NOT_TIME_VALID) return "it has expired or is not valid yet";
  if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "it is not for a TLS server";
  return "its chain is not valid (" + hexStatus(static_cast<long>(errors)) + ")";
}

// Empty when the server's certificate chains to a root of this machine's
// trust store, is valid now for a TLS server and names serverName; else why
// not. Nothing is fetched over the network (no missing certificates, no
// roots from Windows Update, no revocation), so the check never waits.
std::string certificateProblem(CtxtHandle& context, const std::wstring& serverName,
                               const std::string& serverNameText) {
  PCCERT_CONTEXT certificate = nullptr;
  if (QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
          SEC_E_OK ||
      certificate == nullptr) {
    return "the server sent no certificate";
  }
  LPSTR serverUsage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = serverUsage;
  const DWORD offline = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AIA |
                        CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  // The certificates the server sent with its own (its certificate's store)
  // may fill the gap between it and a trusted root.
  const BOOL built = CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore,
                                             &chainPara, offline, nullptr, &chain);
  CertFreeCertificateContext(certificate);
  if (!built || chain == nullptr) return "its chain could not be built";

  SSL_EXTRA_CERT_CHAIN_POLICY_PARA tls{};
  tls.cbSize = sizeof tls;
  tls.dwAuthType = AUTHTYPE_SERVER;
  tls.pwszServerName = const_cast<wchar_t*>(serverName.c_str());
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &tls;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  const BOOL checked =
      CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
  // Revocation was not asked about, so its status is unknown by design. The
  // chain's own status is checked as well as the policy's verdict: a policy
  // may let pass a chain that ends at no trusted root.
  const DWORD chainErrors =
      chain->TrustStatus.dwErrorStatus &
      ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  CertFreeCertificateChain(chain);
  if (!checked) return "its chain could not be checked";
  if (status.dwError != 0) return policyText(status.dwError, serverNameText);
  if (chainErrors != CERT_TRUST_NO_ERROR) return chainText(chainErrors);
  return {};
}

class SchannelClient final : public TlsClient {
 public:
  SchannelClient(CredHandle credentials, std::wstring serverName, std::string serverNameText)
      : credentials_(credentials),
        serverName_(std::move(serverName)),
        serverNameText_(std::move(serverNameText)) {}
  ~SchannelClient() override {
    if (haveContext_) DeleteSecurityContext(&context_);
    FreeCredentialsHandle(&credentials_);
  }
  SchannelClient(const SchannelClient&) = delete;
  SchannelClient& operator=(const SchannelClient&) = delete;

  // The first call of the handshake: the ClientHello, waiting in toSend_.
  bool start() {
    SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc output{SECBUFFER_VERSION, 1, &token};
    ULONG attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextW(&credentials_, nullptr, serverName_.data(), kContextRequest, 0,
                                   0, nullptr, 0, &context_, &output, &attributes, nullptr);
    haveContext_ = status == SEC_I_CONTINUE_NEEDED;
    takeToken(token);
    return haveContext_ && !toSend_.empty();
  }

  void putReceived(const uint8_t* bytes, size_t length) override {
    if (state_ == TlsState::Failed || state_ == TlsState::Closed) return;
    received_.append(reinterpret_cast<const char*>(bytes), length);
  }

  TlsState advance() override {
    while (state_ == TlsState::Handshaking && handshakeStep()) {
    }
    return state_;
  }

  size_t readPlain(uint8_t* out, size_t capacity) override {
    if (state_ != TlsState::Open || capacity == 0) return 0;
    while (plainAt_ == plain_.size()) {
      plain_.clear();
      plainAt_ = 0;
      if (!decryptRecord()) return 0;
    }
    const size_t count = std::min(capacity, plain_.size() - plainAt_);
    std::memcpy(out, plain_.data() + plainAt_, count);
    plainAt_ += count;
    return count;
  }

  bool writePlain(const uint8_t* bytes, size_t length) override {
    if (state_ != TlsState::Open) return false;
    if (closing_) {
      fail("text written after the session was closed");
      return false;
    }
    while (length > 0) {
      const size_t chunk = std::min<size_t>(length, sizes_.cbMaximumMessage);
      if (!encrypt(bytes, chunk)) return false;
      bytes += chunk;
      length -= chunk;
    }
    return true;
  }

  void takeToSend(std::string& out) override {
    out.append(toSend_);
    toSend_.clear();
  }

  // Where the system cannot make a close_notify (Wine has no
  // ApplyControlToken), nothing is sent: the caller's closing of the
  // connection ends the session.
  void close() override {
    if (state_ != TlsState::Open || closing_) return;
    closing_ = true;
    DWORD shutdown = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&context_, &controlDesc) != SEC_E_OK) return;
    SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc output{SECBUFFER_VERSION, 1, &token};
    ULONG attributes = 0;
    InitializeSecurityContextW(&credentials_, &context_, serverName_.data(), kContextRequest, 0, 0,
                               nullptr, 0, nullptr, &output, &attributes, nullptr);
    takeToken(token);
  }

  const std::string& failure() const override { return failure_; }

 private:
  const uint8_t* unused() const {
    return reinterpret_cast<const uint8_t*>(received_.data()) + receivedAt_;
  }
  size_t unusedLength() const { return received_.size() - receivedAt_; }

  void consume(size_t count) {
    receivedAt_ += count;
    if (receivedAt_ == received_.size()) {
      received_.clear();
      receivedAt_ = 0;
    } else if (receivedAt_ >= kCompactAt && receivedAt_ * 2 >= received_.size()) {
      received_.erase(0, receivedAt_);
      receivedAt_ = 0;
    }
  }

  // A token Schannel allocated: appended to what goes to the server, freed.
  void takeToken(SecBuffer& token) {
    if (token.pvBuffer == nullptr) return;
    toSend_.append(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
    FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
  }

  void fail(const std::string& why) {
    if (state_ == TlsState::Failed) return;
    state_ = TlsState::Failed;
    failure_ = why;
    received_.clear();
    receivedAt_ = 0;
    plain_.clear();
    plainAt_ = 0;
  }

  // One call of the handshake over the whole records received. True when
  // it used bytes and more may wait: call again.
  bool handshakeStep() {
    size_t size = 0;
    const Record front = frontRecord(unused(), unusedLength(), size);
    if (front == Record::NotTls) {
      fail("the server's answer is not TLS");
      return false;
    }
    if (front == Record::Partial) return false;
    const size_t length = unusedLength();
    SecBuffer inputs[2] = {
        {static_cast<ULONG>(length), SECBUFFER_TOKEN, const_cast<uint8_t*>(unused())},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc input{SECBUFFER_VERSION, 2, inputs};
    SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc output{SECBUFFER_VERSION, 1, &token};
    ULONG attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextW(&credentials_, &context_, serverName_.data(), kContextRequest, 0,
                                   0, &input, 0, nullptr, &output, &attributes, nullptr);
    // On a failure the token is the alert that tells the server why.
    takeToken(token);
    switch (status) {
      case SEC_E_INCOMPLETE_MESSAGE:
        return false;
      case SEC_I_INCOMPLETE_CREDENTIALS:
        // The server asks for a client certificate, which this client has
        // none of: once more with the same bytes, to go on without one.
        if (++credentialRequests_ > 1) {
          fail("the server insists on a client certificate");
          return false;
        }
        return true;
      case SEC_I_CONTINUE_NEEDED:
      case SEC_E_OK: {
        const size_t extra = inputs[1].BufferType == SECBUFFER_EXTRA ? inputs[1].cbBuffer : 0;
        if (extra > length) {
          fail("Schannel reported more bytes left than it was given");
          return false;
        }
        consume(length - extra);
        if (status == SEC_E_OK) {
          finishHandshake();
          return false;
        }
        return extra > 0 && extra < length;
      }
      default:
        fail(statusText("the TLS handshake failed", status));
        return false;
    }
  }

  // The handshake is done: the sizes of records, then the certificate.
  void finishHandshake() {
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK ||
        sizes_.cbMaximumMessage == 0) {
      fail("Schannel did not tell its record sizes");
      return;
    }
    sizes_.cbMaximumMessage = std::min<ULONG>(sizes_.cbMaximumMessage, 16384);
    const std::string problem = certificateProblem(context_, serverName_, serverNameText_);
    if (!problem.empty()) {
      fail("certificate not trusted: " + problem);
      return;
    }
    state_ = TlsState::Open;
  }

  // Decrypts the record at the front into plain_. False when no whole record
  // is waiting or the session has ended (Closed, Failed).
  bool decryptRecord() {
    size_t size = 0;
    const Record front = frontRecord(unused(), unusedLength(), size);
    if (front == Record::NotTls) {
      fail("the server sent bytes that are not TLS");
      return false;
    }
    if (front == Record::Partial) return false;
    // Exactly one record, decrypted in place.
    SecBuffer buffers[4] = {
        {static_cast<ULONG>(size), SECBUFFER_DATA, const_cast<uint8_t*>(unused())},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
    const bool alert = unused()[0] == kAlert;
    const SECURITY_STATUS status = DecryptMessage(&context_, &message, 0, nullptr);
    switch (status) {
      case SEC_E_OK:
        for (const SecBuffer& buffer : buffers) {
          if (buffer.BufferType == SECBUFFER_DATA && buffer.pvBuffer != nullptr &&
              buffer.cbBuffer <= size) {
            plain_.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
          }
        }
        // Wine tells the server's close_notify as an alert that decrypts
        // to no text (any other alert is an error there).
        if (alert && plain_.empty()) return closedByServer();
        consume(size);
        return true;
      case SEC_I_CONTEXT_EXPIRED:
        return closedByServer();
      case SEC_I_RENEGOTIATE:
        fail("the server asked to renegotiate the session, which this client does not do");
        return false;
      default:
        fail(statusText("the TLS session broke", status));
        return false;
    }
  }

  bool closedByServer() {
    state_ = TlsState::Closed;
    received_.clear();
    receivedAt_ = 0;
    return false;
  }

  // One record of at most cbMaximumMessage bytes of text, to toSend_.
  bool encrypt(const uint8_t* bytes, size_t length) {
    const size_t header = sizes_.cbHeader;
    const size_t trailer = sizes_.cbTrailer;
    scratch_.assign(header + length + trailer, '\0');
    char* at = &scratch_[0];
    std::memcpy(at + header, bytes, length);
    SecBuffer buffers[4] = {
        {static_cast<ULONG>(header), SECBUFFER_STREAM_HEADER, at},
        {static_cast<ULONG>(length), SECBUFFER_DATA, at + header},
        {static_cast<ULONG>(trailer), SECBUFFER_STREAM_TRAILER, at + header + length},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = EncryptMessage(&context_, 0, &message, 0);
    if (status != SEC_E_OK) {
      fail(statusText("the TLS session broke", status));
      return false;
    }
    // The record is the three parts as EncryptMessage left them: the
    // trailer may be shorter than the room it was given.
    for (int i = 0; i < 3; ++i) {
      toSend_.append(static_cast<const char*>(buffers[i].pvBuffer), buffers[i].cbBuffer);
    }
    return true;
  }

  CredHandle credentials_;
  CtxtHandle context_{};
  bool haveContext_ = false;
  std::wstring serverName_;  // for the server name indication and the certificate
  std::string serverNameText_;
  TlsState state_ = TlsState::Handshaking;
  int credentialRequests_ = 0;
  bool closing_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::string received_;  // from the server; received_[receivedAt_..] not used yet
  size_t receivedAt_ = 0;
  std::string plain_;  // one record's text; plain_[plainAt_..] not read yet
  size_t plainAt_ = 0;
  std::string toSend_;
  std::string scratch_;  // the record being encrypted
  std::string failure_;
};

}  // namespace

std::unique_ptr<TlsClient> startTls(const char* serverName) {
  if (serverName == nullptr || serverName[0] == '\0' || std::strlen(serverName) > kMaxServerName) {
    return nullptr;
  }
  wchar_t wide[kMaxServerName + 1];
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, serverName, -1, wide,
                          kMaxServerName + 1) == 0) {
    return nullptr;
  }
  // TLS 1.2 as the least, as on Linux. Schannel's older credential form
  // offers no TLS 1.3.
  SCHANNEL_CRED settings{};
  settings.dwVersion = SCHANNEL_CRED_VERSION;
  settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  settings.dwFlags =
      SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  CredHandle credentials{};
  if (AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                nullptr, &settings, nullptr, nullptr, &credentials,
                                nullptr) != SEC_E_OK) {
    return nullptr;
  }
  auto client = std::make_unique<SchannelClient>(credentials, wide, serverName);
  if (!client->start()) return nullptr;
  return client;
}

}  // namespace platform
