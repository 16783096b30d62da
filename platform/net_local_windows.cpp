#include "platform/winsock_windows.h"

#include <iphlpapi.h>
#include <windows.h>

#include <vector>

#include "platform/net_local.h"
#include "platform/socket_address.h"

namespace platform {

bool localAddressOf(const Socket& connection, Address& address) {
  sockaddr_storage local{};
  int size = sizeof local;
  if (!connection.valid() || ::getsockname(static_cast<SOCKET>(connection.handle()),
                                           reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    return false;
  }
  address = fromSystem(local);
  return local.ss_family == AF_INET || local.ss_family == AF_INET6;
}

size_t announceableIpv6Addresses(Address* addresses, size_t capacity) {
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
  // Temporary (privacy) addresses where the machine has any; never a
  // deprecated or tentative one (only those in the preferred state).
  bool anyTemporary = false;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(table.data());
       adapter != nullptr; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
      continue;
    }
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* raw = unicast->Address.lpSockaddr;
      if (raw == nullptr || raw->sa_family != AF_INET6) continue;
      const bool global = (fromSystem(raw).bytes[0] & 0xE0) == 0x20;
      anyTemporary = anyTemporary || (global && unicast->DadState == IpDadStatePreferred &&
                                      unicast->SuffixOrigin == IpSuffixOriginRandom);
    }
  }
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
      if (anyTemporary && unicast->SuffixOrigin != IpSuffixOriginRandom) continue;
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
