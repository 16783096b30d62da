// Sockets of the link and of the room search, owned by the platform layer.
// TCP: listening, accepting,
// connecting without waiting (or waiting a bounded time), sends and receives
// that never wait, and readiness polling. Every connection is non-blocking,
// sends without delay (TCP_NODELAY) and notices a peer that vanished without
// a word (keep-alive with short timers, and a bound on how long sent data may
// stay unacknowledged): invisible on the wire, nothing asked of the peer.
// UDP: datagrams for finding rooms on the local network. Name lookups that
// never hold up the caller.
// One implementation per platform (net_socket_linux.cpp and
// host_lookup_linux.cpp, and their Winsock twins, which start Winsock on
// first use); nothing else includes a system socket header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// An IPv4 or IPv6 address and a port. bytes hold the address in network
// order (an IPv4 address in the first four); port is in host order; scope is
// the interface an IPv6 link-local address belongs to (0 otherwise).
enum class Family : uint8_t { V4, V6 };
struct Address {
  Family family = Family::V4;
  std::array<uint8_t, 16> bytes{};
  uint16_t port = 0;
  uint32_t scope = 0;

  // An IPv4 address given in host byte order (127.0.0.1 is 0x7F000001).
  static Address v4(uint32_t host, uint16_t port);
  // The IPv4 address in host byte order (0 for an IPv6 address).
  uint32_t v4Host() const;
  bool operator==(const Address& other) const;
  bool operator!=(const Address& other) const { return !(*this == other); }
};

// True for the addresses that name no one host: 0.0.0.0, ::, and the
// IPv4 broadcast 255.255.255.255.
bool isWildcardOrBroadcast(const Address& address);
// True for 127.0.0.0/8, ::1 and ::ffff:127.0.0.0/104.
bool isLoopback(const Address& address);

// Parses the numeric forms of an address: IPv4 as inet_aton takes them
// ("192.168.1.20", "127.1"), IPv6 ("2001:db8::7", "fe80::1%eth0"), either
// one in square brackets ("[::1]"). The port is left as it was.
bool parseNumericAddress(const char* text, Address& address);
// True for text that can be a host name to look up: dot-separated labels of
// 1 to 63 letters, digits, '-' or '_', 253 bytes at most, a final dot
// allowed. A space, a bracket or a colon makes it none.
bool isHostName(const char* text);
// The address as text, without the port: "192.168.1.20", "2001:db8::7"
// (with "%scope" for a link-local one).
std::string formatAddress(const Address& address);

// The system's handle of a socket: a descriptor here, a SOCKET on Windows.
using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// A socket; closed when it is destroyed or replaced. Move-only.
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

// Listens on all interfaces, IPv6 and IPv4 alike (one dual-stack socket;
// IPv4 alone where the system has no IPv6). Invalid on failure (the port in
// use, say).
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

// Sends from the front of pending what the system takes without waiting and
// removes it there. False when the connection has failed.
inline bool sendPending(const Socket& socket, std::string& pending) {
  while (!pending.empty()) {
    const int sent = sendSome(socket, pending.data(), pending.size());
    if (sent < 0) return false;
    if (sent == 0) break;
    pending.erase(0, static_cast<size_t>(sent));
  }
  return true;
}

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

// Datagram sockets, for finding rooms on the local network: IPv4, non-blocking,
// allowed to send to broadcast addresses.
//
// Bound to port on all interfaces (0: a port the system picks). shared lets
// several programs on one machine bind the same port and each receive the
// broadcasts sent to it. Invalid on failure.
Socket openDatagram(uint16_t port, bool shared);
// Sends one datagram without waiting. Returns the bytes sent, or -1 when
// it could not be sent (no route, say, or the system's buffer is full).
int sendDatagram(const Socket& socket, const Address& to, const void* bytes, size_t length);
// Takes the next waiting datagram without waiting: returns its length
// (datagrams longer than capacity are cut to it; an empty datagram is 0)
// and fills from with its sender, or kNoDatagram when none is waiting (or
// the socket failed).
inline constexpr int kNoDatagram = -1;
int receiveDatagram(const Socket& socket, void* bytes, size_t capacity, Address& from);
// The broadcast addresses of this machine's IPv4 interfaces that are up
// (loopback excluded), at most capacity of them, port 0. Returns how many
// were written.
size_t broadcastAddresses(Address* addresses, size_t capacity);
// The addresses of every interface of this machine, loopback included, of
// either family (the machine's own addresses, as a room found on the local
// network may answer from them), at most capacity of them, port 0. Returns
// how many were written.
size_t localAddresses(Address* addresses, size_t capacity);

// How a host name was looked up. TimedOut: the system did not answer in
// time (see HostLookup).
enum class Lookup { Pending, Found, NotFound, TimedOut };

// The addresses a name stands for, in the order the system prefers them
// with the families interleaved (interleaveFamilies), the first
// kMaxLookupAddresses of them: more than a connection attempt can start
// within its bound (see ConnectAttempt in net/connect_attempt.h).
inline constexpr size_t kMaxLookupAddresses = 8;
struct LookupAnswer {
  std::array<Address, kMaxLookupAddresses> addresses{};
  size_t count = 0;
};

// The first kMaxLookupAddresses of addresses[0..count) with their families
// taking turns, as RFC 8305 (section 4) orders them: the family of the first
// address first, then the first address of the other family, and so on; once
// one family runs out the rest of the other follows. Within a family the
// order stays as given. So a name with many IPv6 addresses still reaches its
// IPv4 one second.
LookupAnswer interleaveFamilies(const Address* addresses, size_t count);

// Asks the system for the IPv4 and IPv6 addresses of a host name (ports 0),
// in its order with the families interleaved (interleaveFamilies). May wait
// as long as the system's resolver does; false when it found none.
using NameLookup = bool (*)(const char* name, LookupAnswer& answer);
bool systemNameLookup(const char* name, LookupAnswer& answer);

// Host name lookups that nobody waits for: each runs on one of at most
// kLookupThreads workers of the platform layer (platform/worker.h, so the
// program's end, stopAllWorkers, sees them; an idle one ends by itself);
// lookups started while all of them are busy wait in a queue, in order, and
// none is dropped. A lookup gives up (TimedOut) once it has run for
// kLookupLimitMs without an answer, or has waited in the queue
// kLookupLimitMs since any lookup last finished (the resolver has stopped
// answering: its workers are all held by lookups already given up). A
// lookup given up is left to finish by itself on its worker; one given up
// while still queued never runs.
inline constexpr int kLookupThreads = 16;
inline constexpr uint32_t kLookupLimitMs = 1000;
// Lookups started and not yet finished or dropped from the queue (running,
// queued, or given up and still running).
int pendingLookups();

class HostLookup {
 public:
  HostLookup() = default;
  ~HostLookup();
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Starts looking name up; a numeric address (parseNumericAddress) is
  // taken at once; an empty name, or one that is not a host name
  // (isHostName), is NotFound at once, without asking the system.
  void start(const char* name, NameLookup lookup = systemNameLookup);
  // Where the lookup stands, waiting at most timeoutMs for it to settle
  // (0: not at all). Found fills answer.
  Lookup result(LookupAnswer& answer, uint32_t timeoutMs = 0);
  // Forgets the lookup (a running one finishes by itself).
  void abandon();

  // One lookup as the queue and its workers see it.
  struct Job;

 private:
  std::shared_ptr<Job> job_;  // shared with the lookup workers' queue
  Lookup settled_ = Lookup::Pending;
  LookupAnswer answer_;
};

}  // namespace platform
