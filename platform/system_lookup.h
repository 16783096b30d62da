// The system resolver's answer read into a LookupAnswer, the same for BSD
// sockets and Winsock (they share getaddrinfo). Included by the platform's
// host lookup files after their system headers; nothing else includes it.
#pragma once

#include <array>
#include <cstddef>

#include "platform/net_socket.h"
#include "platform/socket_address.h"

namespace platform {

// Most addresses of one lookup read from the system's answer, before
// interleaveFamilies keeps the first kMaxLookupAddresses of them.
inline constexpr size_t kMaxSystemAddresses = 64;

// systemNameLookup once the system's sockets are ready: getaddrinfo's IPv4
// and IPv6 addresses, each once, ports 0, in its order with the families
// interleaved. May wait as long as the resolver does.
inline bool resolveName(const char* name, LookupAnswer& answer) {
  answer = LookupAnswer{};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &results) != 0) return false;
  std::array<Address, kMaxSystemAddresses> all{};
  size_t count = 0;
  for (const addrinfo* it = results; it != nullptr; it = it->ai_next) {
    if (it->ai_family != AF_INET && it->ai_family != AF_INET6) continue;
    Address found = fromSystem(it->ai_addr);
    found.port = 0;
    count = addUnique(all.data(), count, all.size(), found);
  }
  freeaddrinfo(results);
  answer = interleaveFamilies(all.data(), count);
  return answer.count > 0;
}

}  // namespace platform
