// The resolver call and the numeric address forms on Linux: getaddrinfo,
// inet_aton and inet_pton.
#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/net_socket.h"
#include "platform/socket_address.h"
#include "platform/system_lookup.h"

namespace platform {
bool systemNameLookup(const char* name, LookupAnswer& answer) { return resolveName(name, answer); }

bool parseNumericAddress(const char* text, Address& address) {
  if (text == nullptr) return false;
  std::string bare = text;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  const uint16_t port = address.port;
  in_addr v4{};
  // inet_aton's forms, which also tell 255.255.255.255 apart from a failure.
  if (bare.find(':') == std::string::npos && inet_aton(bare.c_str(), &v4) != 0) {
    address = Address{};
    std::memcpy(address.bytes.data(), &v4, 4);
    address.port = port;
    return true;
  }
  // An IPv6 address, with "%zone" for a link-local one.
  uint32_t scope = 0;
  const size_t percent = bare.find('%');
  if (percent != std::string::npos) {
    const std::string zone = bare.substr(percent + 1);
    scope = if_nametoindex(zone.c_str());
    if (scope == 0 && !parseZoneNumber(zone, scope)) return false;
    bare.resize(percent);
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, bare.c_str(), &v6) != 1) return false;
  address = Address{};
  address.family = Family::V6;
  std::memcpy(address.bytes.data(), &v6, 16);
  address.scope = scope;
  address.port = port;
  return true;
}

std::string formatAddress(const Address& address) {
  char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
  if (address.family == Family::V4) {
    inet_ntop(AF_INET, address.bytes.data(), text, sizeof text);
    return text;
  }
  inet_ntop(AF_INET6, address.bytes.data(), text, sizeof text);
  std::string out = text;
  if (address.scope != 0) {
    char zone[IF_NAMESIZE] = {};
    out += '%';
    out += if_indextoname(address.scope, zone) != nullptr ? zone : std::to_string(address.scope);
  }
  return out;
}

}  // namespace platform
