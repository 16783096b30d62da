// The room directory's XMPP client (RFC 6120), the program's own: one
// connection to a chat server, signed in anonymously (SASL ANONYMOUS), over
// TLS whenever the server offers it (platform/tls.h: the certificate checked
// against the system's trust store, never a fall-back to plain text after
// the offer), with stream management acknowledgements (XEP-0198) so that
// the server notices a client that vanished.
//
// Session speaks the protocol over bytes and knows nothing of sockets;
// Connection carries its bytes over a socket and TLS. Nothing here waits
// longer than the caller's turn, and every byte a server sends is bounded
// before anything parses it: a connection's byte budget
// (ConnectionLimits), a stanza's bounds (internet/xml_stream.h). Breaking
// a bound ends the connection, with a reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "internet/xml_stream.h"
#include "platform/net_socket.h"
#include "platform/tls.h"

namespace internet::xmpp {

inline constexpr char kClientNamespace[] = "jabber:client";

class Session {
 public:
  enum class Phase : uint8_t {
    Opening,    // the stream's start and features, STARTTLS
    TlsWanted,  // the server said proceed: the driver starts TLS
    SigningIn,  // SASL ANONYMOUS, then binding a resource
    Ready,      // signed in: stanzas flow
    Ended,      // the server ended the stream in order
    Failed,     // see failure()
  };
  // Called for each stanza (presence, message, an iq's result or error)
  // once Ready; requests (iq get and set) the session answers itself.
  using StanzaHandler = std::function<void(const xml::Element&)>;

  Session(std::string domain, StanzaHandler handler);

  // Plain text from the server, in order.
  void receive(const char* bytes, size_t length);
  // TLS is up (after TlsWanted): the stream starts over inside it.
  void tlsStarted();
  // Appends what is to be sent to the server to out.
  void takeOutgoing(std::string& out);
  // Ready: sends a stanza (its namespace is the stream's, jabber:client).
  void send(const xml::Element& stanza);
  // Ends the stream from this side.
  void end();

  Phase phase() const { return phase_; }
  const std::string& failure() const { return failure_; }
  bool secured() const { return secured_; }
  // Ready: the address the server gave this client.
  const std::string& jid() const { return jid_; }

 private:
  void openStream();
  void onStanza(xml::Element& stanza);
  void onFeatures(const xml::Element& features);
  void onBound(const xml::Element& iq);
  void answer(const xml::Element& request);
  void fail(const std::string& why);

  std::string domain_;
  StanzaHandler handler_;
  xml::StreamReader reader_;
  std::string outgoing_;
  Phase phase_ = Phase::Opening;
  std::string failure_;
  std::string jid_;
  bool secured_ = false;
  bool signedIn_ = false;  // SASL succeeded; the stream restarted
  bool bindSent_ = false;
  bool sessionSent_ = false;
  bool smOffered_ = false;
  bool smEnabled_ = false;
  uint32_t handled_ = 0;  // stanzas received since stream management began
};

// What one connection may read from its server: budget bytes at once, and
// perSecond more each second it lasts (0: none). Reading past it ends the
// connection.
struct ConnectionLimits {
  size_t budget = 1024 * 1024;
  size_t perSecond = 0;
};

class Connection {
 public:
  Connection(std::string domain, ConnectionLimits limits, Session::StanzaHandler handler);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Starts connecting to address; false when it failed at once.
  bool start(const platform::Address& address);
  // One turn: waits at most ms for the socket, then moves every byte it
  // can both ways. The session's handler runs inside.
  void turn(uint32_t ms);

  // The TCP connection was made at some point (the server answered).
  bool reached() const { return reached_; }
  // Signed in and still open.
  bool ready() const { return !ended_ && session_.phase() == Session::Phase::Ready; }
  // Closed, failed or ended by either side.
  bool ended() const { return ended_; }
  const std::string& failure() const { return failure_; }
  bool secured() const { return session_.secured(); }
  // Signed in: the address the server gave this client (a full JID).
  const std::string& jid() const { return session_.jid(); }
  uint64_t bytesRead() const { return bytesRead_; }
  void send(const xml::Element& stanza);
  // Ends the stream; the connection closes once that is sent or the server
  // ends too (turn on until ended).
  void close();

 private:
  void fail(const std::string& why);
  bool readSocket();
  void feedSession(const char* bytes, size_t length);
  void pumpTls();
  void flushOutgoing();
  bool spend(size_t bytes);

  std::string domain_;
  ConnectionLimits limits_;
  Session session_;
  platform::Socket socket_;
  std::unique_ptr<platform::TlsClient> tls_;
  bool connected_ = false;
  bool reached_ = false;
  bool ended_ = false;
  bool closing_ = false;
  std::string failure_;
  std::string toSend_;  // bytes for the socket
  uint64_t bytesRead_ = 0;
  double allowance_ = 0;  // bytes that may still be read
  uint64_t allowanceAt_ = 0;
};

}  // namespace internet::xmpp
