// The link's and the room search's sockets on Windows: Winsock, non-blocking
// from the start, with the keep-alive and unacknowledged-data bounds set on
// every connection as far as the Windows version offers them.
#include "platform/winsock_windows.h"

#include <iphlpapi.h>
#include <mstcpip.h>
#include <mswsock.h>
#include <windows.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/net_socket.h"
#include "platform/socket_address.h"

// Option numbers of newer Windows versions that older headers lack; a system
// that does not know one refuses it, and the socket goes on without it.
#ifndef TCP_KEEPIDLE
#define TCP_KEEPIDLE 3
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif
#ifndef TCP_KEEPINTVL
#define TCP_KEEPINTVL 17
#endif
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif

namespace platform {

bool startWinsock() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

namespace {

thread_local std::array<char, 128> lastError{};

// The texts the Linux half prints for the failures a player meets; others
// from the system, in English where it has it.
const char* knownText(int code) {
  switch (code) {
    case WSAECONNREFUSED:
      return "Connection refused";
    case WSAECONNRESET:
      return "Connection reset by peer";
    case WSAECONNABORTED:
      return "Software caused connection abort";
    case WSAETIMEDOUT:
      return "Connection timed out";
    case WSAEADDRINUSE:
      return "Address already in use";
    case WSAEADDRNOTAVAIL:
      return "Cannot assign requested address";
    case WSAENETUNREACH:
      return "Network is unreachable";
    case WSAEHOSTUNREACH:
      return "No route to host";
    case WSAENETDOWN:
      return "Network is down";
    case WSAEACCES:
      return "Permission denied";
    case WSAEMSGSIZE:
      return "Message too long";
    case WSAENOTCONN:
      return "Transport endpoint is not connected";
    case WSAENOTSOCK:
    case WSAEBADF:
      return "Bad file descriptor";
    case WSAEAFNOSUPPORT:
      return "Address family not supported by protocol";
    case WSAEMFILE:
      return "Too many open files";
    case WSAENOBUFS:
      return "No buffer space available";
    case WSANOTINITIALISED:
      return "Network not started";
    default:
      return nullptr;
  }
}

void noteError(int code) {
  if (const char* known = knownText(code)) {
    std::snprintf(lastError.data(), lastError.size(), "%s", known);
    return;
  }
  char text[256] = {};
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length =
      FormatMessageA(flags, nullptr, static_cast<DWORD>(code),
                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text, nullptr);
  if (length == 0)
    length =
        FormatMessageA(flags, nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  // The system's texts end in ".\r\n"; the Linux ones have neither.
  while (length > 0 &&
         (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) {
    text[--length] = '\0';
  }
  if (length == 0) std::snprintf(text, sizeof text, "Socket error %d", code);
  std::snprintf(lastError.data(), lastError.size(), "%s", text);
}

SOCKET sockOf(const Socket& socket) { return static_cast<SOCKET>(socket.handle()); }

Socket failWith(int code) {
  noteError(code);
  return Socket();
}

void setOption(SOCKET s, int level, int name, int value) {
  ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

// A socket that does not wait and is not inherited by programs the game
// starts. Invalid with the error noted.
Socket openSocket(int family, int type) {
  if (!startWinsock()) return failWith(WSANOTINITIALISED);
  const SOCKET s = ::socket(family, type, 0);
  if (s == INVALID_SOCKET) return failWith(WSAGetLastError());
  Socket owned(static_cast<SocketHandle>(s));
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return failWith(WSAGetLastError());
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return owned;
}

// Every connection: small messages leave at once, and a peer that vanished
// is given up within seconds rather than hours. SIO_KEEPALIVE_VALS sets the
// idle time and interval on every Windows version (the probe count is then
// the system's own); the per-option calls of newer versions refine it.
void tuneConnection(SOCKET s) {
  setOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
  setOption(s, SOL_SOCKET, SO_KEEPALIVE, 1);
  tcp_keepalive values{1, kKeepAliveIdleS * 1000u, kKeepAliveIntervalS * 1000u};
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
             nullptr);
  setOption(s, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleS);
  setOption(s, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalS);
  setOption(s, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
  // In whole seconds.
  setOption(s, IPPROTO_TCP, TCP_MAXRT, static_cast<int>(kUnacknowledgedLimitMs / 1000));
}

timeval toTimeval(uint32_t timeoutMs) {
  timeval out{};
  out.tv_sec = static_cast<long>(timeoutMs / 1000);
  out.tv_usec = static_cast<long>(timeoutMs % 1000) * 1000;
  return out;
}

// Binds and listens; false with the error noted. Neither SO_REUSEADDR (on
// Windows it lets a second program take a port in use) nor
// SO_EXCLUSIVEADDRUSE (it keeps the port until every connection accepted
// on it is gone): without either, Windows binds a listener at once over the
// old connections' TIME_WAIT, so a room closed and opened again binds at
// once, and a port another listener holds is refused.
bool bindAndListen(const Socket& listener, const Address& any, int backlog, int& error) {
  const SystemAddress address = toSystem(any);
  if (::bind(sockOf(listener), address.get(), address.size) == 0 &&
      ::listen(sockOf(listener), backlog) == 0) {
    return true;
  }
  error = WSAGetLastError();
  noteError(error);
  return false;
}

}  // namespace

void Socket::close() {
  if (handle_ != kNoSocket) ::closesocket(static_cast<SOCKET>(handle_));
  handle_ = kNoSocket;
}

const char* socketError() { return lastError.data(); }

// One listener for both families: an IPv6 socket that also takes IPv4
// connections (as ::ffff:a.b.c.d). Where the system has no IPv6 the
// listener is IPv4 alone.
Socket listenOn(uint16_t port, int backlog) {
  Address any;
  any.port = port;
  int error = 0;
  Socket dual = openSocket(AF_INET6, SOCK_STREAM);
  if (dual.valid()) {
    setOption(sockOf(dual), IPPROTO_IPV6, IPV6_V6ONLY, 0);
    any.family = Family::V6;
    if (bindAndListen(dual, any, backlog, error)) return dual;
    // The port in use is in use for IPv4 too; anything else may be IPv6
    // being switched off.
    if (error == WSAEADDRINUSE || error == WSAEACCES) return Socket();
    dual.close();
  }
  Socket listener = openSocket(AF_INET, SOCK_STREAM);
  if (!listener.valid()) return Socket();
  any.family = Family::V4;
  if (!bindAndListen(listener, any, backlog, error)) return Socket();
  return listener;
}

Socket acceptWaiting(const Socket& listener) {
  if (!listener.valid()) return failWith(WSAENOTSOCK);
  for (;;) {
    const SOCKET s = ::accept(sockOf(listener), nullptr, nullptr);
    if (s != INVALID_SOCKET) {
      // Accepted sockets take the listener's non-blocking mode; set anyway.
      u_long nonBlocking = 1;
      ::ioctlsocket(s, FIONBIO, &nonBlocking);
      SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
      tuneConnection(s);
      return Socket(static_cast<SocketHandle>(s));
    }
    // A connection that was reset while it waited is simply gone.
    const int error = WSAGetLastError();
    if (error == WSAECONNRESET || error == WSAEINTR) continue;
    return failWith(error);
  }
}

Socket startConnect(const Address& address) {
  Socket connection = openSocket(address.family == Family::V6 ? AF_INET6 : AF_INET, SOCK_STREAM);
  if (!connection.valid()) return Socket();
  tuneConnection(sockOf(connection));
  const SystemAddress target = toSystem(address);
  if (::connect(sockOf(connection), target.get(), target.size) != 0) {
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return failWith(error);
  }
  return connection;
}

// A failed connect shows in select's except set, not as writable (WSAPoll
// of Windows before 10 2004 does not report it at all).
ConnectState connectState(const Socket& socket, uint32_t timeoutMs) {
  if (!socket.valid()) {
    noteError(WSAENOTSOCK);
    return ConnectState::Failed;
  }
  const SOCKET s = sockOf(socket);
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval wait = toTimeval(timeoutMs);
  const int ready = ::select(0, nullptr, &writable, &failed, &wait);
  if (ready == 0) return ConnectState::Pending;
  if (ready < 0) {
    noteError(WSAGetLastError());
    return ConnectState::Failed;
  }
  int error = 0;
  int size = sizeof error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
    error = WSAGetLastError();
  }
  if (error == 0 && FD_ISSET(s, &failed)) error = WSAECONNREFUSED;
  if (error != 0) {
    noteError(error);
    return ConnectState::Failed;
  }
  return ConnectState::Connected;
}

int sendSome(const Socket& socket, const void* bytes, size_t length) {
  if (!socket.valid()) return -1;
  if (length == 0) return 0;
  const int chunk = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  const int sent = ::send(sockOf(socket), static_cast<const char*>(bytes), chunk, 0);
  if (sent >= 0) return sent;
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return 0;
  noteError(error);
  return -1;
}

int receiveSome(const Socket& socket, void* bytes, size_t capacity) {
  if (!socket.valid()) return -1;
  if (capacity == 0) return 0;
  const int chunk = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  const int got = ::recv(sockOf(socket), static_cast<char*>(bytes), chunk, 0);
  if (got > 0) return got;
  if (got == 0) return -1;  // closed by the other side
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return 0;
  noteError(error);
  return -1;
}

// select rather than WSAPoll, for the failed connects it misses. A socket
// that ended is readable (its receive fails); a connect that failed is
// writable, as on Linux.
int pollSockets(PollItem* items, size_t count, uint32_t timeoutMs) {
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    items[i].readable = items[i].writable = false;
    // Items past FD_SETSIZE are left unpolled.
    if (items[i].socket == nullptr || !items[i].socket->valid() || used == FD_SETSIZE) continue;
    const SOCKET s = sockOf(*items[i].socket);
    if (items[i].wantWrite) {
      FD_SET(s, &writable);
      FD_SET(s, &failed);
    } else {
      FD_SET(s, &readable);
    }
    ++used;
  }
  if (used == 0) {
    // select refuses empty sets; the caller still expects the wait.
    Sleep(timeoutMs);
    return 0;
  }
  timeval wait = toTimeval(timeoutMs);
  if (::select(0, &readable, &writable, &failed, &wait) <= 0) return 0;
  int found = 0;
  for (size_t i = 0; i < count; ++i) {
    PollItem& item = items[i];
    if (item.socket == nullptr || !item.socket->valid()) continue;
    const SOCKET s = sockOf(*item.socket);
    if (item.wantWrite) {
      item.writable = FD_ISSET(s, &writable) || FD_ISSET(s, &failed);
    } else {
      item.readable = FD_ISSET(s, &readable);
    }
    found += item.readable || item.writable ? 1 : 0;
  }
  return found;
}

Socket openDatagram(uint16_t port, bool shared) {
  Socket socket = openSocket(AF_INET, SOCK_DGRAM);
  if (!socket.valid()) return Socket();
  const SOCKET s = sockOf(socket);
  setOption(s, SOL_SOCKET, SO_BROADCAST, 1);
  // Every room on this machine hears the broadcasts sent to the port.
  if (shared) setOption(s, SOL_SOCKET, SO_REUSEADDR, 1);
  // Without this, a datagram's "port unreachable" fails the next receive
  // with WSAECONNRESET.
  BOOL reportUnreachable = FALSE;
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_UDP_CONNRESET, &reportUnreachable, sizeof reportUnreachable, nullptr, 0,
             &returned, nullptr, nullptr);
  const SystemAddress address = toSystem(Address::v4(INADDR_ANY, port));
  if (::bind(s, address.get(), address.size) != 0) return failWith(WSAGetLastError());
  return socket;
}

int sendDatagram(const Socket& socket, const Address& to, const void* bytes, size_t length) {
  if (!socket.valid() || to.family != Family::V4 || length > INT_MAX) return -1;
  const SystemAddress target = toSystem(to);
  const int sent = ::sendto(sockOf(socket), static_cast<const char*>(bytes),
                            static_cast<int>(length), 0, target.get(), target.size);
  if (sent >= 0) return sent;
  noteError(WSAGetLastError());
  return -1;
}

int receiveDatagram(const Socket& socket, void* bytes, size_t capacity, Address& from) {
  if (!socket.valid()) return kNoDatagram;
  const int room = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  // Each pass drops one earlier datagram's "port unreachable" report, where
  // SIO_UDP_CONNRESET was refused; they say nothing of the datagrams still
  // waiting. Bounded, as a report comes per datagram sent.
  for (int pass = 0; pass < 64; ++pass) {
    sockaddr_storage sender{};
    int size = sizeof sender;
    const int got = ::recvfrom(sockOf(socket), static_cast<char*>(bytes), room, 0,
                               reinterpret_cast<sockaddr*>(&sender), &size);
    if (got >= 0) {
      from = fromSystem(sender);
      return got;
    }
    const int error = WSAGetLastError();
    // A longer datagram: its first capacity bytes were taken, the rest is
    // gone, as on Linux.
    if (error == WSAEMSGSIZE) {
      from = fromSystem(sender);
      return room;
    }
    if (error == WSAECONNRESET) continue;
    if (error != WSAEWOULDBLOCK) noteError(error);
    return kNoDatagram;
  }
  return kNoDatagram;
}

namespace {

// The adapters' table with their addresses of family (AF_INET, AF_INET6 or
// AF_UNSPEC for both), or an empty one with the error noted.
std::vector<unsigned char> adapterTable(ULONG family) {
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> table;
  // The table can grow between the calls; a few tries are enough.
  for (int attempt = 0; attempt < 4; ++attempt) {
    table.assign(size, 0);
    const ULONG result = GetAdaptersAddresses(
        family, kFlags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(table.data()), &size);
    if (result == NO_ERROR) return table;
    if (result != ERROR_BUFFER_OVERFLOW) {
      noteError(static_cast<int>(result));
      break;
    }
  }
  return {};
}

}  // namespace

size_t broadcastAddresses(Address* addresses, size_t capacity) {
  const std::vector<unsigned char> table = adapterTable(AF_INET);
  if (table.empty()) return 0;
  size_t count = 0;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(table.data());
       adapter != nullptr && count < capacity; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK ||
        adapter->IfType == IF_TYPE_PPP) {
      continue;
    }
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr && count < capacity;
         unicast = unicast->Next) {
      const SOCKET_ADDRESS& raw = unicast->Address;
      const unsigned prefix = unicast->OnLinkPrefixLength;
      // A /31 or /32 network has no broadcast address.
      if (raw.lpSockaddr == nullptr || raw.lpSockaddr->sa_family != AF_INET || prefix > 30) {
        continue;
      }
      sockaddr_storage storage{};
      std::memcpy(&storage, raw.lpSockaddr, sizeof(sockaddr_in));
      const uint32_t host = fromSystem(storage).v4Host();
      const uint32_t mask = prefix == 0 ? 0 : ~0u << (32 - prefix);
      const Address found = Address::v4(host | ~mask, 0);
      bool seen = false;
      for (size_t i = 0; i < count; ++i) seen = seen || addresses[i] == found;
      if (!seen) addresses[count++] = found;
    }
  }
  return count;
}

size_t localAddresses(Address* addresses, size_t capacity) {
  const std::vector<unsigned char> table = adapterTable(AF_UNSPEC);
  if (table.empty()) return 0;
  size_t count = 0;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(table.data());
       adapter != nullptr; adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const SOCKET_ADDRESS& raw = unicast->Address;
      if (raw.lpSockaddr == nullptr) continue;
      const int family = raw.lpSockaddr->sa_family;
      if (family != AF_INET && family != AF_INET6) continue;
      Address own = fromSystem(raw.lpSockaddr);
      own.port = 0;
      count = addUnique(addresses, count, capacity, own);
    }
  }
  return count;
}

}  // namespace platform
