// TLS for a connection that the caller carries (the room directory's): the
// caller moves the bytes between the network and this object, so nothing
// here touches a socket or waits, and the caller bounds the time and bytes a
// handshake may take. The server's certificate must chain to the system's
// trust store and carry the name asked for; nothing falls back to plain
// text. One implementation per platform: OpenSSL here (tls_linux.cpp),
// Schannel on Windows (tls_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class TlsState : uint8_t {
  Handshaking,  // wants more bytes from the server
  Open,         // handshake done, certificate checked: text flows
  Closed,       // the server ended the session in order (close_notify)
  Failed,       // see failure()
};

class TlsClient {
 public:
  virtual ~TlsClient() = default;

  // Bytes that arrived from the server, in order. The object keeps them
  // until advance or readPlain has used them.
  virtual void putReceived(const uint8_t* bytes, size_t length) = 0;
  // Moves the handshake on as far as the bytes received allow, and says
  // where the session stands.
  virtual TlsState advance() = 0;
  // Open: up to capacity bytes of the plain text received; 0 when no whole
  // record is waiting. Never more plain text waits than was received.
  virtual size_t readPlain(uint8_t* out, size_t capacity) = 0;
  // Open: encrypts text to send (takeToSend gives it). False once failed.
  virtual bool writePlain(const uint8_t* bytes, size_t length) = 0;
  // Appends the bytes waiting to go to the server (the handshake's, the
  // encrypted text, a close) to out.
  virtual void takeToSend(std::string& out) = 0;
  // Starts an orderly end (close_notify), to be sent by takeToSend.
  virtual void close() = 0;
  // Failed: why, in one short English line.
  virtual const std::string& failure() const = 0;
};

// A client that sends its first handshake bytes at once (takeToSend);
// serverName is the name the server's certificate must carry. Null when
// this system offers no TLS.
std::unique_ptr<TlsClient> startTls(const char* serverName);

}  // namespace platform
