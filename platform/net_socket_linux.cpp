// The link's and the room search's sockets on Linux: POSIX sockets,
// non-blocking from the start, with the keep-alive and unacknowledged-data
// bounds set on every connection.
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/net_socket.h"
#include "platform/socket_address.h"

namespace platform {
namespace {

thread_local std::array<char, 128> lastError{};

void noteError(int code) {
  const char* text = strerror_r(code, lastError.data(), lastError.size());
  if (text != lastError.data()) std::snprintf(lastError.data(), lastError.size(), "%s", text);
}

int fdOf(const Socket& socket) { return static_cast<int>(socket.handle()); }

int familyOf(const Address& address) { return address.family == Family::V6 ? AF_INET6 : AF_INET; }

void setOption(int fd, int level, int name, int value) {
  ::setsockopt(fd, level, name, &value, sizeof value);
}

// Every connection: small messages leave at once, and a peer that vanished
// is given up within seconds rather than hours.
void tuneConnection(int fd) {
  setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleS);
  setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalS);
  setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
  setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUnacknowledgedLimitMs));
}

Socket failWith(int code) {
  noteError(code);
  return Socket();
}

uint64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

// poll() that waits out the whole of timeoutMs even when a signal cuts a
// wait short.
int pollFor(pollfd* fds, size_t count, uint32_t timeoutMs) {
  const uint64_t end = monotonicMs() + timeoutMs;
  for (;;) {
    const uint64_t now = monotonicMs();
    const int wait = now >= end ? 0 : static_cast<int>(end - now);
    const int ready = ::poll(fds, count, wait);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

}  // namespace

void Socket::close() {
  if (handle_ != kNoSocket) ::close(static_cast<int>(handle_));
  handle_ = kNoSocket;
}

const char* socketError() { return lastError.data(); }

namespace {

// Binds and listens; false with the error noted.
bool bindAndListen(const Socket& listener, const Address& any, int backlog) {
  const int fd = fdOf(listener);
  // A room closed and opened again must not wait for the old connections'
  // TIME_WAIT to pass.
  setOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
  const SystemAddress address = toSystem(any);
  if (::bind(fd, address.get(), address.size) == 0 && ::listen(fd, backlog) == 0) return true;
  noteError(errno);
  return false;
}

}  // namespace

// One listener for both families: an IPv6 socket that also takes IPv4
// connections (as ::ffff:a.b.c.d). Where the system has no IPv6 the
// listener is IPv4 alone.
Socket listenOn(uint16_t port, int backlog) {
  Address any;
  any.port = port;
  Socket dual(::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (dual.valid()) {
    setOption(fdOf(dual), IPPROTO_IPV6, IPV6_V6ONLY, 0);
    any.family = Family::V6;
    if (bindAndListen(dual, any, backlog)) return dual;
    // The port in use is in use for IPv4 too; anything else may be IPv6
    // being switched off.
    if (errno == EADDRINUSE) return Socket();
    dual.close();
  }
  Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listener.valid()) return failWith(errno);
  any.family = Family::V4;
  if (!bindAndListen(listener, any, backlog)) return Socket();
  return listener;
}

Socket acceptWaiting(const Socket& listener) {
  if (!listener.valid()) return failWith(EBADF);
  for (;;) {
    const int fd = ::accept4(fdOf(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      tuneConnection(fd);
      return Socket(fd);
    }
    // A connection that was reset while it waited is simply gone.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return failWith(errno);
  }
}

Socket startConnect(const Address& address) {
  Socket connection(::socket(familyOf(address), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!connection.valid()) return failWith(errno);
  const int fd = fdOf(connection);
  tuneConnection(fd);
  const SystemAddress target = toSystem(address);
  if (::connect(fd, target.get(), target.size) != 0 && errno != EINPROGRESS) {
    return failWith(errno);
  }
  return connection;
}

ConnectState connectState(const Socket& socket, uint32_t timeoutMs) {
  if (!socket.valid()) {
    noteError(EBADF);
    return ConnectState::Failed;
  }
  pollfd entry{fdOf(socket), POLLOUT, 0};
  const int ready = pollFor(&entry, 1, timeoutMs);
  if (ready == 0) return ConnectState::Pending;
  if (ready < 0) {
    noteError(errno);
    return ConnectState::Failed;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(entry.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  if (error != 0) {
    noteError(error);
    return ConnectState::Failed;
  }
  return ConnectState::Connected;
}

int sendSome(const Socket& socket, const void* bytes, size_t length) {
  if (!socket.valid()) return -1;
  if (length == 0) return 0;
  for (;;) {
    const ssize_t sent = ::send(fdOf(socket), bytes, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    noteError(errno);
    return -1;
  }
}

int receiveSome(const Socket& socket, void* bytes, size_t capacity) {
  if (!socket.valid()) return -1;
  if (capacity == 0) return 0;
  for (;;) {
    const ssize_t got = ::recv(fdOf(socket), bytes, capacity, MSG_DONTWAIT);
    if (got > 0) return static_cast<int>(got);
    if (got == 0) return -1;  // closed by the other side
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    noteError(errno);
    return -1;
  }
}

int pollSockets(PollItem* items, size_t count, uint32_t timeoutMs) {
  // The link polls the listener and six connections, a refresh up to a
  // hundred rooms; items past this many are left unpolled.
  constexpr size_t kMaxItems = 128;
  std::array<pollfd, kMaxItems> fds{};
  std::array<size_t, kMaxItems> itemOf{};
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    items[i].readable = items[i].writable = false;
    if (items[i].socket == nullptr || !items[i].socket->valid() || used == kMaxItems) continue;
    fds[used] = pollfd{fdOf(*items[i].socket),
                       static_cast<short>(items[i].wantWrite ? POLLOUT : POLLIN), 0};
    itemOf[used++] = i;
  }
  if (pollFor(fds.data(), used, timeoutMs) <= 0) return 0;
  int found = 0;
  for (size_t k = 0; k < used; ++k) {
    const short events = fds[k].revents;
    if (events == 0) continue;
    PollItem& item = items[itemOf[k]];
    const bool ended = (events & (POLLERR | POLLHUP)) != 0;
    item.readable = (events & POLLIN) != 0 || (ended && !item.wantWrite);
    item.writable = (events & POLLOUT) != 0 || (ended && item.wantWrite);
    found += item.readable || item.writable ? 1 : 0;
  }
  return found;
}

Socket openDatagram(uint16_t port, bool shared) {
  Socket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return failWith(errno);
  const int fd = fdOf(socket);
  setOption(fd, SOL_SOCKET, SO_BROADCAST, 1);
  // Every room on this machine hears the broadcasts sent to the port.
  if (shared) setOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
  const SystemAddress address = toSystem(Address::v4(INADDR_ANY, port));
  if (::bind(fd, address.get(), address.size) != 0) return failWith(errno);
  return socket;
}

int sendDatagram(const Socket& socket, const Address& to, const void* bytes, size_t length) {
  if (!socket.valid() || to.family != Family::V4) return -1;
  const SystemAddress target = toSystem(to);
  for (;;) {
    const ssize_t sent = ::sendto(fdOf(socket), bytes, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                                  target.get(), target.size);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno == EINTR) continue;
    noteError(errno);
    return -1;
  }
}

int receiveDatagram(const Socket& socket, void* bytes, size_t capacity, Address& from) {
  if (!socket.valid()) return kNoDatagram;
  for (;;) {
    sockaddr_storage sender{};
    socklen_t size = sizeof sender;
    const ssize_t got = ::recvfrom(fdOf(socket), bytes, capacity, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&sender), &size);
    if (got >= 0) {
      from = fromSystem(sender);
      return static_cast<int>(got);
    }
    // An earlier datagram's "port unreachable" is reported on the next
    // receive; it says nothing of the datagrams still waiting.
    if (errno == EINTR || errno == ECONNREFUSED) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) noteError(errno);
    return kNoDatagram;
  }
}

size_t broadcastAddresses(Address* addresses, size_t capacity) {
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) {
    noteError(errno);
    return 0;
  }
  size_t count = 0;
  for (const ifaddrs* it = interfaces; it != nullptr && count < capacity; it = it->ifa_next) {
    const unsigned flags = it->ifa_flags;
    if ((flags & IFF_UP) == 0 || (flags & IFF_LOOPBACK) != 0 || (flags & IFF_BROADCAST) == 0) {
      continue;
    }
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in own{};
    std::memcpy(&own, it->ifa_addr, sizeof own);
    sockaddr_in broadcast{};
    if (it->ifa_broadaddr != nullptr && it->ifa_broadaddr->sa_family == AF_INET) {
      std::memcpy(&broadcast, it->ifa_broadaddr, sizeof broadcast);
    }
    // An address given without a broadcast one (`ip addr add` without
    // `brd`) comes with its own address in that place: the broadcast of its
    // subnet is used instead, which the interface still takes.
    if (broadcast.sin_addr.s_addr == own.sin_addr.s_addr || broadcast.sin_addr.s_addr == 0) {
      if (it->ifa_netmask == nullptr || it->ifa_netmask->sa_family != AF_INET) continue;
      sockaddr_in mask{};
      std::memcpy(&mask, it->ifa_netmask, sizeof mask);
      if (mask.sin_addr.s_addr == INADDR_BROADCAST) continue;  // a single address
      broadcast = own;
      broadcast.sin_addr.s_addr |= ~mask.sin_addr.s_addr;
    }
    sockaddr_storage storage{};
    std::memcpy(&storage, &broadcast, sizeof broadcast);
    Address found = fromSystem(storage);
    found.port = 0;
    bool seen = false;
    for (size_t i = 0; i < count; ++i) seen = seen || addresses[i] == found;
    if (!seen) addresses[count++] = found;
  }
  ::freeifaddrs(interfaces);
  return count;
}

size_t localAddresses(Address* addresses, size_t capacity) {
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) {
    noteError(errno);
    return 0;
  }
  size_t count = 0;
  for (const ifaddrs* it = interfaces; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr) continue;
    const int family = it->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    Address own = fromSystem(it->ifa_addr);
    own.port = 0;
    count = addUnique(addresses, count, capacity, own);
  }
  ::freeifaddrs(interfaces);
  return count;
}

}  // namespace platform
