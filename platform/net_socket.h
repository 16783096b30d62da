// TCP sockets of the link, owned by the platform layer: listening, accepting,
// connecting without waiting (or waiting a bounded time), sends and receives
// that never wait, and readiness polling. Every connection is non-blocking,
// sends without delay (TCP_NODELAY) and notices a peer that vanished without
// a word (keep-alive with short timers, and a bound on how long sent data may
// stay unacknowledged): invisible on the wire, nothing asked of the peer.
// One implementation per platform (net_socket_linux.cpp; a Winsock twin
// would sit beside it, with Winsock started by the network library's step of
// the program's start-up); nothing else includes a system socket header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// An IPv4 address and port, both in host byte order (127.0.0.1 is
// 0x7F000001).
struct Address {
  uint32_t host = 0;
  uint16_t port = 0;
};

// The system's handle of a socket: a descriptor here, a SOCKET on Windows.
using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// A TCP socket; closed when it is destroyed or replaced. Move-only.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  ~Socket() { close(); }
  Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoSocket; }
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      other.handle_ = kNoSocket;
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool valid() const { return handle_ != kNoSocket; }
  SocketHandle handle() const { return handle_; }
  void close();

 private:
  SocketHandle handle_ = kNoSocket;
};

// How long a connection may go without a sign of life from its peer before
// the system gives it up: keep-alive probes after kKeepAliveIdleS quiet
// seconds, then every kKeepAliveIntervalS, kKeepAliveProbes unanswered in
// all (14 s); sent data unacknowledged for kUnacknowledgedLimitMs.
inline constexpr int kKeepAliveIdleS = 5;
inline constexpr int kKeepAliveIntervalS = 3;
inline constexpr int kKeepAliveProbes = 3;
inline constexpr unsigned kUnacknowledgedLimitMs = 15000;

// Text of the last failure of a call below on this thread ("Connection
// refused", say).
const char* socketError();

// Listens on all interfaces. Invalid on failure (the port in use, say).
Socket listenOn(uint16_t port, int backlog);

// A connection waiting on listener, or an invalid socket when none is.
Socket acceptWaiting(const Socket& listener);

// Starts a connection and returns at once. Invalid when it failed at once
// (no route, say); otherwise connectState tells how it goes.
Socket startConnect(const Address& address);

enum class ConnectState { Pending, Connected, Failed };
// Where a connection started by startConnect stands, waiting at most
// timeoutMs for it to be made or to fail (0: not at all).
ConnectState connectState(const Socket& socket, uint32_t timeoutMs);

// Sends up to length bytes without waiting. Returns the bytes the system
// took (0 when its buffer is full), or -1 when the connection has failed. A
// connection the other side has gone from fails quietly, without a signal.
int sendSome(const Socket& socket, const void* bytes, size_t length);

// Receives up to capacity bytes without waiting. Returns the bytes received,
// 0 when nothing has arrived, or -1 when the connection was closed by the
// other side or has failed (reset, or the peer vanished: see above).
int receiveSome(const Socket& socket, void* bytes, size_t capacity);

// One socket of a readiness poll. readable: something to receive or
// accept, or the connection ended; writable: a connection started by
// startConnect has been made or has failed.
struct PollItem {
  const Socket* socket = nullptr;
  bool wantWrite = false;
  bool readable = false;
  bool writable = false;
};
// Fills in the items' readiness, waiting at most timeoutMs for one of them
// (0: not at all). Returns how many are ready; items with a null or invalid
// socket are skipped.
int pollSockets(PollItem* items, size_t count, uint32_t timeoutMs);

// How a host name was looked up.
enum class Lookup { Pending, Found, NotFound };

// Asks the system for the IPv4 address of a host name (host byte order).
// May wait as long as the system's resolver does.
using NameLookup = bool (*)(const char* name, uint32_t& host);
bool systemNameLookup(const char* name, uint32_t& host);

// Parses the numeric forms of an IPv4 address ("192.168.1.20", "127.1").
bool parseNumericHost(const char* text, uint32_t& host);

// A host name looked up on a thread of its own, so that nobody waits for a
// resolver that has stopped answering. A lookup given up is left to finish
// by itself; while kMaxPendingLookups of them are outstanding no new one
// starts (it stays Pending until given up), so a resolver that has stopped
// answering costs a few threads, not one wait per name.
inline constexpr int kMaxPendingLookups = 16;
int pendingLookups();

class HostLookup {
 public:
  HostLookup() = default;
  ~HostLookup();
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Starts looking name up; a numeric address is taken at once.
  void start(const char* name, NameLookup lookup = systemNameLookup);
  // Where the lookup stands, waiting at most timeoutMs for it (0: not at
  // all). Found fills host.
  Lookup result(uint32_t& host, uint32_t timeoutMs = 0);
  // Forgets the lookup (it finishes by itself).
  void abandon();

 private:
  struct Job;
  // The lookup thread's body.
  static void run(const std::shared_ptr<Job>& job);

  std::shared_ptr<Job> job_;  // shared with the lookup thread
  Lookup settled_ = Lookup::Pending;
  uint32_t host_ = 0;
};

}  // namespace platform
