#include "platform/winsock_windows.h"

#include <iphlpapi.h>
#include <mstcpip.h>
#include <windows.h>

#include <vector>

#include "platform/net_library.h"
#include "platform/socket_address.h"

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
namespace {

void setOption(SOCKET s, int level, int name, int value) {
  ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

SocketHandle librarySocket(const void* librarySocketPointer) {
  return static_cast<SocketHandle>(*static_cast<const SOCKET*>(librarySocketPointer));
}

// As the platform's own connections (net_socket_windows.cpp).
void tuneLibraryConnection(SocketHandle handle) {
  const SOCKET s = static_cast<SOCKET>(handle);
  setOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
  setOption(s, SOL_SOCKET, SO_KEEPALIVE, 1);
  tcp_keepalive values{1, kKeepAliveIdleS * 1000u, kKeepAliveIntervalS * 1000u};
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
             nullptr);
  setOption(s, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleS);
  setOption(s, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalS);
  setOption(s, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
  setOption(s, IPPROTO_TCP, TCP_MAXRT, static_cast<int>(kUnacknowledgedLimitMs / 1000));
}

// A SOCKET has no second handle within one process that shutdown would
// reach safely: the library bounds its own waits here (the Windows build's
// libstrophe is built with a bounded TLS handshake, tools/windows/deps.sh).
Socket duplicateConnection(SocketHandle) { return Socket(); }

void wakeConnection(const Socket& connection) {
  if (connection.valid()) ::shutdown(static_cast<SOCKET>(connection.handle()), SD_BOTH);
}

// Winsock raises no signal.
void shieldLibraryThread() {}

size_t globalIpv6Addresses(Address* addresses, size_t capacity) {
  if (!startWinsock()) return 0;
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> table;
  bool read = false;
  for (int attempt = 0; attempt < 4 && !read; ++attempt) {
    table.assign(size, 0);
    const ULONG result = GetAdaptersAddresses(
        AF_INET6, kFlags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(table.data()), &size);
    if (result == NO_ERROR) read = true;
    if (result != NO_ERROR && result != ERROR_BUFFER_OVERFLOW) return 0;
  }
  if (!read) return 0;
  size_t count = 0;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(table.data());
       adapter != nullptr && count < capacity; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
      continue;
    }
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr && count < capacity;
         unicast = unicast->Next) {
      const SOCKET_ADDRESS& raw = unicast->Address;
      if (raw.lpSockaddr == nullptr || raw.lpSockaddr->sa_family != AF_INET6) continue;
      if (unicast->DadState != IpDadStatePreferred) continue;
      Address found = fromSystem(raw.lpSockaddr);
      found.port = 0;
      found.scope = 0;
      if ((found.bytes[0] & 0xE0) != 0x20) continue;  // not 2000::/3
      bool seen = false;
      for (size_t i = 0; i < count; ++i) seen = seen || addresses[i] == found;
      if (!seen) addresses[count++] = found;
    }
  }
  return count;
}

}  // namespace platform
