#include "internet/xmpp_client.h"

#include <algorithm>
#include <chrono>

namespace internet::xmpp {
namespace {

constexpr char kTlsNamespace[] = "urn:ietf:params:xml:ns:xmpp-tls";
constexpr char kSaslNamespace[] = "urn:ietf:params:xml:ns:xmpp-sasl";
constexpr char kBindNamespace[] = "urn:ietf:params:xml:ns:xmpp-bind";
constexpr char kSessionNamespace[] = "urn:ietf:params:xml:ns:xmpp-session";
constexpr char kStreamManagement[] = "urn:xmpp:sm:3";
constexpr char kPingNamespace[] = "urn:xmpp:ping";
constexpr char kStanzaErrorNamespace[] = "urn:ietf:params:xml:ns:xmpp-stanzas";
constexpr char kBindId[] = "bind";
constexpr char kSessionId[] = "session";
// Reads of one turn at most, so that a fast server cannot hold a turn.
constexpr int kReadsPerTurn = 16;
constexpr size_t kReadSize = 4096;
// What may wait to be sent before a server that reads nothing is dropped.
constexpr size_t kMaxUnsent = 256 * 1024;

uint64_t nowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool isA(const xml::Element& e, const char* name, const char* ns) {
  return e.name == name && e.ns == ns;
}

xml::Element iq(const char* type, const char* id) {
  xml::Element stanza("iq", kClientNamespace);
  stanza.setAttribute("type", type);
  stanza.setAttribute("id", id);
  return stanza;
}

}  // namespace

Session::Session(std::string domain, StanzaHandler handler)
    : domain_(std::move(domain)), handler_(std::move(handler)) {
  openStream();
}

void Session::openStream() {
  outgoing_ += "<?xml version='1.0'?><stream:stream to='" + xml::escape(domain_) +
               "' version='1.0' xmlns='jabber:client' "
               "xmlns:stream='http://etherx.jabber.org/streams'>";
}

void Session::fail(const std::string& why) {
  if (phase_ == Phase::Failed) return;
  phase_ = Phase::Failed;
  failure_ = why;
}

void Session::receive(const char* bytes, size_t length) {
  size_t used = 0;
  while (used < length &&
         (phase_ == Phase::Opening || phase_ == Phase::SigningIn || phase_ == Phase::Ready)) {
    switch (reader_.read(bytes, length, &used)) {
      case xml::StreamReader::Event::None:
        break;
      case xml::StreamReader::Event::StreamOpened: {
        const std::string* version = reader_.stream().attribute("version");
        if (version == nullptr || version->compare(0, 2, "1.") != 0)
          fail("it does not speak XMPP 1.0");
        break;
      }
      case xml::StreamReader::Event::Stanza: {
        xml::Element stanza = reader_.takeStanza();
        onStanza(stanza);
        break;
      }
      case xml::StreamReader::Event::StreamClosed:
        phase_ = Phase::Ended;
        break;
      case xml::StreamReader::Event::Error:
        fail("it sent what no XMPP server sends (" + reader_.error() + ")");
        break;
    }
  }
  // After "proceed" the next byte must be TLS's, and the server waits for
  // ours first.
  if (phase_ == Phase::TlsWanted && used < length) fail("it did not wait for TLS to begin");
}

void Session::onStanza(xml::Element& stanza) {
  if (stanza.ns == xml::kStreamNamespace) {
    if (stanza.name == "features") {
      onFeatures(stanza);
    } else if (stanza.name == "error") {
      const std::string condition =
          stanza.children.empty() ? std::string("no reason") : stanza.children.front().name;
      fail("it ended the stream (" + condition + ")");
    }
    return;
  }
  if (stanza.ns == kTlsNamespace) {
    if (stanza.name == "proceed" && phase_ == Phase::Opening && !secured_) {
      phase_ = Phase::TlsWanted;
    } else {
      fail("it refused TLS");
    }
    return;
  }
  if (stanza.ns == kSaslNamespace) {
    if (stanza.name == "success" && phase_ == Phase::SigningIn && !signedIn_) {
      signedIn_ = true;
      reader_.reset();
      openStream();
    } else {
      fail("it refused the sign-in");
    }
    return;
  }
  if (stanza.ns == kStreamManagement) {
    if (stanza.name == "enabled" && phase_ == Phase::Ready) {
      smEnabled_ = true;
      handled_ = 0;
    } else if (stanza.name == "r" && smEnabled_) {
      outgoing_ += "<a xmlns='urn:xmpp:sm:3' h='" + std::to_string(handled_) + "'/>";
    }
    return;
  }
  if (stanza.ns != kClientNamespace) return;
  if (phase_ == Phase::SigningIn && stanza.name == "iq") {
    onBound(stanza);
    return;
  }
  if (phase_ != Phase::Ready) return;
  if (smEnabled_) ++handled_;
  const std::string* type = stanza.attribute("type");
  if (stanza.name == "iq" && type != nullptr && (*type == "get" || *type == "set")) {
    answer(stanza);
    return;
  }
  if (handler_) handler_(stanza);
}

void Session::onFeatures(const xml::Element& features) {
  if (!signedIn_) {
    if (!secured_ && features.child("starttls", kTlsNamespace) != nullptr) {
      outgoing_ += "<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>";
      return;
    }
    const xml::Element* mechanisms = features.child("mechanisms", kSaslNamespace);
    bool anonymous = false;
    for (const xml::Element& m :
         mechanisms != nullptr ? mechanisms->children : std::vector<xml::Element>{}) {
      anonymous = anonymous || (isA(m, "mechanism", kSaslNamespace) && m.text == "ANONYMOUS");
    }
    if (!anonymous) {
      fail("it offers no anonymous sign-in");
      return;
    }
    // An empty initial response is written "=" (RFC 6120, 6.4.2).
    outgoing_ += "<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='ANONYMOUS'>=</auth>";
    phase_ = Phase::SigningIn;
    return;
  }
  if (bindSent_ || features.child("bind", kBindNamespace) == nullptr) {
    fail("it offers no resource to bind");
    return;
  }
  smOffered_ = features.child("sm", kStreamManagement) != nullptr;
  const xml::Element* session = features.child("session", kSessionNamespace);
  sessionSent_ = session == nullptr || session->child("optional") != nullptr;  // nothing to ask
  xml::Element bind = iq("set", kBindId);
  bind.addChild(xml::Element("bind", kBindNamespace));
  xml::write(bind, kClientNamespace, outgoing_);
  bindSent_ = true;
}

void Session::onBound(const xml::Element& answer) {
  const std::string* id = answer.attribute("id");
  const std::string* type = answer.attribute("type");
  if (id == nullptr || type == nullptr) return;
  if (*type != "result") {
    if (*id == kBindId || *id == kSessionId) fail("it refused to bind a resource");
    return;
  }
  if (*id == kBindId && jid_.empty()) {
    const xml::Element* bind = answer.child("bind", kBindNamespace);
    const xml::Element* jid = bind != nullptr ? bind->child("jid", kBindNamespace) : nullptr;
    if (jid == nullptr || jid->text.empty()) {
      fail("it bound no address");
      return;
    }
    jid_ = jid->text;
    if (!sessionSent_) {
      xml::Element start = iq("set", kSessionId);
      start.addChild(xml::Element("session", kSessionNamespace));
      xml::write(start, kClientNamespace, outgoing_);
      sessionSent_ = true;
      return;
    }
  } else if (*id != kSessionId || jid_.empty()) {
    return;
  }
  if (smOffered_) outgoing_ += "<enable xmlns='urn:xmpp:sm:3'/>";
  phase_ = Phase::Ready;
}

// A request of the server's (or another client's): a ping (XEP-0199) is
// answered, anything else refused as a service this client does not offer
// (RFC 6120, 8.2.3: every get and set has its answer).
void Session::answer(const xml::Element& request) {
  const std::string* id = request.attribute("id");
  const std::string* from = request.attribute("from");
  xml::Element reply("iq", kClientNamespace);
  if (id != nullptr) reply.setAttribute("id", *id);
  if (from != nullptr) reply.setAttribute("to", *from);
  if (request.child("ping", kPingNamespace) != nullptr) {
    reply.setAttribute("type", "result");
  } else {
    reply.setAttribute("type", "error");
    xml::Element& error = reply.addChild(xml::Element("error", kClientNamespace));
    error.setAttribute("type", "cancel");
    error.addChild(xml::Element("service-unavailable", kStanzaErrorNamespace));
  }
  xml::write(reply, kClientNamespace, outgoing_);
}

void Session::tlsStarted() {
  if (phase_ != Phase::TlsWanted) return;
  secured_ = true;
  phase_ = Phase::Opening;
  reader_.reset();
  openStream();
}

void Session::takeOutgoing(std::string& out) {
  out += outgoing_;
  outgoing_.clear();
}

void Session::send(const xml::Element& stanza) {
  if (phase_ == Phase::Ready) xml::write(stanza, kClientNamespace, outgoing_);
}

void Session::end() {
  if (phase_ == Phase::Opening || phase_ == Phase::SigningIn || phase_ == Phase::Ready)
    outgoing_ += "</stream:stream>";
}

Connection::Connection(std::string domain, ConnectionLimits limits, Session::StanzaHandler handler)
    : domain_(domain), limits_(limits), session_(std::move(domain), std::move(handler)) {}

Connection::~Connection() = default;

void Connection::fail(const std::string& why) {
  if (ended_) return;
  ended_ = true;
  failure_ = why;
  socket_.close();
  tls_.reset();
}

bool Connection::start(const platform::Address& address) {
  allowance_ = static_cast<double>(limits_.budget);
  allowanceAt_ = nowMs();
  socket_ = platform::startConnect(address);
  if (!socket_.valid()) {
    fail(std::string("the connection failed (") + platform::socketError() + ")");
    return false;
  }
  return true;
}

bool Connection::spend(size_t bytes) {
  const uint64_t now = nowMs();
  if (limits_.perSecond != 0) {
    allowance_ = std::min(static_cast<double>(limits_.budget),
                          allowance_ + static_cast<double>(limits_.perSecond) *
                                           static_cast<double>(now - allowanceAt_) / 1000.0);
  }
  allowanceAt_ = now;
  bytesRead_ += bytes;
  if (static_cast<double>(bytes) > allowance_) return false;
  allowance_ -= static_cast<double>(bytes);
  return true;
}

void Connection::turn(uint32_t ms) {
  if (ended_) return;
  if (!connected_) {
    const platform::ConnectState state = platform::connectState(socket_, ms);
    if (state == platform::ConnectState::Pending) return;
    if (state == platform::ConnectState::Failed) {
      fail(std::string("the connection failed (") + platform::socketError() + ")");
      return;
    }
    connected_ = reached_ = true;
    ms = 0;
  }
  flushOutgoing();
  if (ended_) return;
  platform::PollItem item;
  item.socket = &socket_;
  platform::pollSockets(&item, 1, ms);
  if (readSocket()) flushOutgoing();
}

bool Connection::readSocket() {
  for (int reads = 0; reads < kReadsPerTurn && !ended_; ++reads) {
    char buffer[kReadSize];
    const int got = platform::receiveSome(socket_, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (closing_) {
        ended_ = true;
        socket_.close();
      } else {
        fail("the connection ended");
      }
      return false;
    }
    if (!spend(static_cast<size_t>(got))) {
      fail("it sent more than a directory may (" + std::to_string(bytesRead_ / 1024) + " KiB)");
      return false;
    }
    if (tls_ != nullptr) {
      tls_->putReceived(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(got));
      pumpTls();
    } else {
      feedSession(buffer, static_cast<size_t>(got));
    }
  }
  return !ended_;
}

void Connection::feedSession(const char* bytes, size_t length) {
  session_.receive(bytes, length);
  switch (session_.phase()) {
    case Session::Phase::TlsWanted:
      if (tls_ == nullptr) {
        tls_ = platform::startTls(domain_.c_str());
        if (tls_ == nullptr) fail("TLS could not be set up on this machine");
      }
      break;
    case Session::Phase::Failed:
      fail(session_.failure());
      break;
    case Session::Phase::Ended:
      ended_ = true;
      socket_.close();
      break;
    default:
      break;
  }
}

void Connection::pumpTls() {
  const platform::TlsState state = tls_->advance();
  if (state == platform::TlsState::Failed) {
    fail("TLS failed: " + tls_->failure());
    return;
  }
  if (state == platform::TlsState::Handshaking) return;
  if (session_.phase() == Session::Phase::TlsWanted) session_.tlsStarted();
  uint8_t plain[kReadSize];
  for (size_t got; !ended_ && tls_ != nullptr && (got = tls_->readPlain(plain, sizeof plain)) > 0;)
    feedSession(reinterpret_cast<const char*>(plain), got);
  if (tls_ == nullptr || ended_) return;
  if (tls_->advance() == platform::TlsState::Failed) {
    fail("TLS failed: " + tls_->failure());
  } else if (tls_->advance() == platform::TlsState::Closed) {
    ended_ = true;
    socket_.close();
  }
}

void Connection::flushOutgoing() {
  if (ended_ || !connected_) return;
  std::string plain;
  session_.takeOutgoing(plain);
  if (tls_ != nullptr) {
    if (!plain.empty() &&
        !tls_->writePlain(reinterpret_cast<const uint8_t*>(plain.data()), plain.size())) {
      fail("TLS failed: " + tls_->failure());
      return;
    }
    tls_->takeToSend(toSend_);
  } else {
    toSend_ += plain;
  }
  if (toSend_.size() > kMaxUnsent) {
    fail("it reads nothing we send");
    return;
  }
  if (!platform::sendPending(socket_, toSend_)) fail("the connection ended");
}

void Connection::send(const xml::Element& stanza) {
  session_.send(stanza);
  flushOutgoing();
}

void Connection::close() {
  if (ended_) return;
  if (!connected_ || closing_) {
    ended_ = true;
    socket_.close();
    return;
  }
  closing_ = true;
  session_.end();
  flushOutgoing();
  if (tls_ != nullptr) {
    tls_->close();
    tls_->takeToSend(toSend_);
    flushOutgoing();
  }
}

}  // namespace internet::xmpp
