#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/net_local.h"
#include "platform/socket_address.h"

namespace platform {

bool localAddressOf(const Socket& connection, Address& address) {
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  if (!connection.valid() || ::getsockname(static_cast<int>(connection.handle()),
                                           reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    return false;
  }
  address = fromSystem(local);
  return local.ss_family == AF_INET || local.ss_family == AF_INET6;
}

namespace {

// The kernel's flags of an IPv6 address (linux/if_addr.h).
constexpr unsigned kTemporary = 0x01;
constexpr unsigned kDadFailed = 0x08;
constexpr unsigned kDeprecated = 0x20;
constexpr unsigned kTentative = 0x40;

struct Ipv6Entry {
  Address address;
  unsigned flags = 0;
};

// /proc/net/if_inet6: one line an address ("20010db8...0005 02 40 00 01
// eth0": address, interface index, prefix length, scope, flags, name).
std::vector<Ipv6Entry> kernelIpv6Flags() {
  std::vector<Ipv6Entry> entries;
  std::FILE* file = std::fopen("/proc/net/if_inet6", "re");
  if (file == nullptr) return entries;
  char hex[33] = {};
  unsigned index = 0;
  unsigned prefix = 0;
  unsigned scope = 0;
  unsigned flags = 0;
  char name[32] = {};
  while (entries.size() < 256 && std::fscanf(file, "%32s %x %x %x %x %31s", hex, &index, &prefix,
                                             &scope, &flags, name) == 6) {
    Ipv6Entry entry;
    entry.address.family = Family::V6;
    bool parsed = std::strlen(hex) == 32;
    for (int i = 0; parsed && i < 16; ++i) {
      unsigned byte = 0;
      parsed = std::sscanf(hex + 2 * i, "%2x", &byte) == 1;
      entry.address.bytes[i] = static_cast<uint8_t>(byte);
    }
    entry.flags = flags;
    if (parsed) entries.push_back(entry);
  }
  std::fclose(file);
  return entries;
}

}  // namespace

size_t announceableIpv6Addresses(Address* addresses, size_t capacity) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return 0;
  const std::vector<Ipv6Entry> kernel = kernelIpv6Flags();
  std::vector<Ipv6Entry> usable;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET6 ||
        (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    Ipv6Entry found;
    found.address = fromSystem(entry->ifa_addr);
    found.address.port = 0;
    found.address.scope = 0;
    if ((found.address.bytes[0] & 0xE0) != 0x20) continue;  // not 2000::/3
    for (const Ipv6Entry& k : kernel) {
      if (k.address.bytes == found.address.bytes) found.flags = k.flags;
    }
    if ((found.flags & (kDeprecated | kTentative | kDadFailed)) != 0) continue;
    usable.push_back(found);
  }
  ::freeifaddrs(list);
  bool anyTemporary = false;
  for (const Ipv6Entry& e : usable) anyTemporary = anyTemporary || (e.flags & kTemporary) != 0;
  size_t count = 0;
  for (const Ipv6Entry& e : usable) {
    if (count == capacity) break;
    if (anyTemporary && (e.flags & kTemporary) == 0) continue;
    bool seen = false;
    for (size_t i = 0; i < count; ++i) seen = seen || addresses[i] == e.address;
    if (!seen) addresses[count++] = e.address;
  }
  return count;
}

}  // namespace platform
