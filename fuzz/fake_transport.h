// A scripted stand-in for the platform's sockets and name lookups and for
// the SDL timer, linked into the fuzz harnesses instead of the real ones. The
// network code runs unchanged on top of it; a harness decides which
// connections arrive, what bytes they carry and in what pieces, when they
// close or fail, how much they take when sent to, and what time it is.
//
// Misuse that real sockets would punish is fatal here: any use of a closed
// socket, or a socket closed twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/net_socket.h"

namespace fake {

// One socket the code opened or was given.
struct Connection {
  bool listening = false;
  bool closedByCode = false;     // the code closed it
  bool peerClosed = false;       // after its bytes, a receive reports the end
  bool failed = false;           // receives and sends fail
  std::vector<uint8_t> inbound;  // bytes for the code to receive, from inboundAt
  size_t inboundAt = 0;
  size_t recvPiece = 0;             // most bytes one receive returns; 0 = any
  size_t sendRoom = SIZE_MAX;       // bytes a send still takes
  std::vector<uint8_t> outbound;    // every byte the code sent on it
  std::deque<Connection*> pending;  // listening: connections to accept
  platform::Address peer;
  platform::SocketHandle handle = platform::kNoSocket;  // its index in the fake
};

// Bytes a connection still has for the code to receive.
inline size_t unread(const Connection& c) { return c.inbound.size() - c.inboundAt; }

// Forgets every socket and setting; the clock restarts at 0.
void reset();
// The listening socket the code opened last (null when none).
Connection* listener();
// A new connection waiting on the listener; null when the code listens
// nowhere.
Connection* arrive();
// The connection the code opened last to a remote host (null when none).
Connection* connection();
// Whether connection attempts to remote hosts can be started at all.
void setReachable(bool reachable);
// What the next connection the code opens to a remote host will carry:
// its bytes, piece size, end and failure are copied from this template.
Connection& nextConnection();
// The fake clock, in milliseconds.
void advance(uint32_t ms);

// Reads a fuzz input from the front, byte by byte; past its end it reads
// zeros.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() {
    const uint16_t low = byte();
    return static_cast<uint16_t>(low | (byte() << 8));
  }
  // Up to length bytes, fewer when the input ends.
  std::vector<uint8_t> bytes(size_t length) {
    const uint8_t* begin = nullptr;
    const size_t n = span(length, &begin);
    return std::vector<uint8_t>(begin, begin + n);
  }
  // The same without a copy: the next up to length bytes start at *begin.
  size_t span(size_t length, const uint8_t** begin) {
    const size_t left = size_ - at_;
    const size_t n = length < left ? length : left;
    *begin = data_ + at_;
    at_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace fake
