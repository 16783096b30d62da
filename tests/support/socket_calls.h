// The few system socket calls the network tests' raw peers make, on POSIX
// sockets or on Winsock, so that the peers read the same on both systems.
// The platform layer's own sockets are not reached through these.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstddef>
#include <cstdint>

namespace nettest::sys {

#ifdef _WIN32
using Native = SOCKET;
inline constexpr Native kNone = INVALID_SOCKET;
#else
using Native = int;
inline constexpr Native kNone = -1;
#endif

// Winsock starts once, before the first socket call (a test may make raw
// sockets before the program's network start-up has run).
inline void start() {
#ifdef _WIN32
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
#endif
}

inline Native openStream(bool nonBlocking) {
  start();
#ifdef _WIN32
  const Native s = ::socket(AF_INET, SOCK_STREAM, 0);
  u_long on = nonBlocking ? 1 : 0;
  if (s != kNone) ::ioctlsocket(s, FIONBIO, &on);
  return s;
#else
  return ::socket(AF_INET, SOCK_STREAM | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
#endif
}

inline void closeNative(Native s) {
#ifdef _WIN32
  ::closesocket(s);
#else
  ::close(s);
#endif
}

inline void setInt(Native s, int level, int name, int value) {
  ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

inline void lingerHard(Native s) {
  const linger hard{1, 0};
  ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
}

// 1 when s is ready to read (or to write), 0 when timeoutMs passed first.
inline int waitReady(Native s, bool write, int timeoutMs) {
#ifdef _WIN32
  // select, since WSAPoll of older Windows misses a failed connect.
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int found = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr,
                             write ? &failed : nullptr, &wait);
  return found > 0 ? 1 : found;
#else
  pollfd p{s, static_cast<short>(write ? POLLOUT : POLLIN), 0};
  return ::poll(&p, 1, timeoutMs);
#endif
}

// One send; noWait: take what fits now (the socket may be blocking). Never
// raises SIGPIPE.
inline long sendOnce(Native s, const void* bytes, size_t length, bool noWait, bool blocking) {
#ifdef _WIN32
  u_long on = 1;
  if (noWait && blocking) ::ioctlsocket(s, FIONBIO, &on);
  const int sent = ::send(s, static_cast<const char*>(bytes), static_cast<int>(length), 0);
  u_long off = 0;
  if (noWait && blocking) ::ioctlsocket(s, FIONBIO, &off);
  return sent;
#else
  (void)blocking;
  return ::send(s, bytes, length, MSG_NOSIGNAL | (noWait ? MSG_DONTWAIT : 0));
#endif
}

// One receive; noWait: only what has arrived (-1 with wouldBlock() when
// nothing has); peek leaves the bytes in place.
inline long receiveOnce(Native s, void* bytes, size_t capacity, bool noWait, bool peek) {
#ifdef _WIN32
  if (noWait && waitReady(s, false, 0) != 1) {
    WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  return ::recv(s, static_cast<char*>(bytes), static_cast<int>(capacity), peek ? MSG_PEEK : 0);
#else
  return ::recv(s, bytes, capacity, (noWait ? MSG_DONTWAIT : 0) | (peek ? MSG_PEEK : 0));
#endif
}

// The last call failed only because it would have had to wait.
inline bool wouldBlock() {
#ifdef _WIN32
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINTR;
#else
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

// Ports of an IPv4 or IPv6 (dual-stack) socket, host order.
inline uint16_t portOf(const sockaddr_storage& address) {
  return ntohs(address.ss_family == AF_INET6
                   ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                   : reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

inline uint16_t localPort(Native s) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  return portOf(address);
}

inline uint16_t peerPort(Native s) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  ::getpeername(s, reinterpret_cast<sockaddr*>(&address), &size);
  return portOf(address);
}

}  // namespace nettest::sys
