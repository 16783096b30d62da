#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <climits>
#include <mutex>

#include "platform/tls.h"

namespace platform {
namespace {

// One context for the whole program: the trust store is read once.
SSL_CTX* clientContext() {
  static SSL_CTX* context = nullptr;
  static std::once_flag made;
  std::call_once(made, [] {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) return;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
      SSL_CTX_free(ctx);
      return;
    }
    // No session tickets kept: each connection is short or long-lived and
    // alone.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    context = ctx;
  });
  return context;
}

class OpenSslClient final : public TlsClient {
 public:
  OpenSslClient(SSL* ssl, BIO* in, BIO* out) : ssl_(ssl), in_(in), out_(out) {}
  ~OpenSslClient() override { SSL_free(ssl_); }  // frees both BIOs
  OpenSslClient(const OpenSslClient&) = delete;
  OpenSslClient& operator=(const OpenSslClient&) = delete;

  void putReceived(const uint8_t* bytes, size_t length) override {
    while (length > 0 && state_ != TlsState::Failed) {
      const int chunk = length > INT_MAX ? INT_MAX : static_cast<int>(length);
      const int written = BIO_write(in_, bytes, chunk);
      if (written <= 0) {
        fail("out of memory");
        return;
      }
      bytes += written;
      length -= static_cast<size_t>(written);
    }
  }

  TlsState advance() override {
    if (state_ != TlsState::Handshaking) return state_;
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_);
    if (result == 1) {
      state_ = TlsState::Open;
    } else {
      const int error = SSL_get_error(ssl_, result);
      if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) failHandshake();
    }
    return state_;
  }

  size_t readPlain(uint8_t* out, size_t capacity) override {
    if (state_ != TlsState::Open || capacity == 0) return 0;
    ERR_clear_error();
    const int chunk = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    const int got = SSL_read(ssl_, out, chunk);
    if (got > 0) return static_cast<size_t>(got);
    const int error = SSL_get_error(ssl_, got);
    if (error == SSL_ERROR_ZERO_RETURN) {
      state_ = TlsState::Closed;
    } else if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      fail(lastError("the TLS session broke"));
    }
    return 0;
  }

  bool writePlain(const uint8_t* bytes, size_t length) override {
    if (state_ != TlsState::Open) return false;
    while (length > 0) {
      ERR_clear_error();
      const int chunk = length > INT_MAX ? INT_MAX : static_cast<int>(length);
      const int written = SSL_write(ssl_, bytes, chunk);
      if (written <= 0) {
        fail(lastError("the TLS session broke"));
        return false;
      }
      bytes += written;
      length -= static_cast<size_t>(written);
    }
    return true;
  }

  void takeToSend(std::string& out) override {
    char buffer[4096];
    for (int got; (got = BIO_read(out_, buffer, sizeof buffer)) > 0;) out.append(buffer, got);
  }

  void close() override {
    if (state_ == TlsState::Open) SSL_shutdown(ssl_);
  }

  const std::string& failure() const override { return failure_; }

 private:
  void fail(const std::string& why) {
    if (state_ == TlsState::Failed) return;
    state_ = TlsState::Failed;
    failure_ = why;
  }

  void failHandshake() {
    const long verified = SSL_get_verify_result(ssl_);
    if (verified != X509_V_OK) {
      fail(std::string("certificate not trusted: ") + X509_verify_cert_error_string(verified));
    } else {
      fail(lastError("the TLS handshake failed"));
    }
  }

  static std::string lastError(const char* fallback) {
    const unsigned long code = ERR_get_error();
    if (code == 0) return fallback;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return std::string(fallback) + " (" + text + ")";
  }

  SSL* ssl_;
  BIO* in_;   // bytes from the server
  BIO* out_;  // bytes to the server
  TlsState state_ = TlsState::Handshaking;
  std::string failure_;
};

}  // namespace

std::unique_ptr<TlsClient> startTls(const char* serverName) {
  SSL_CTX* context = clientContext();
  if (context == nullptr || serverName == nullptr || serverName[0] == '\0') return nullptr;
  SSL* ssl = SSL_new(context);
  if (ssl == nullptr) return nullptr;
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (in == nullptr || out == nullptr) {
    BIO_free(in);
    BIO_free(out);
    SSL_free(ssl);
    return nullptr;
  }
  // An empty memory buffer means "more to come", not the end.
  BIO_set_mem_eof_return(in, -1);
  SSL_set_bio(ssl, in, out);
  SSL_set_connect_state(ssl);
  if (SSL_set_tlsext_host_name(ssl, serverName) != 1 || SSL_set1_host(ssl, serverName) != 1) {
    SSL_free(ssl);
    return nullptr;
  }
  auto client = std::make_unique<OpenSslClient>(ssl, in, out);
  client->advance();  // the ClientHello
  return client;
}

}  // namespace platform
