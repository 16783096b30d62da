// Conversions between Address and the system's socket addresses, the same
// for BSD sockets and Winsock (they share the structures). Included by the
// platform's socket files after their system headers; nothing else includes
// it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/net_socket.h"

namespace platform {

// A system socket address of either family, and its size.
struct SystemAddress {
  sockaddr_storage storage{};
  socklen_t size = 0;

  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

inline SystemAddress toSystem(const Address& address) {
  SystemAddress out;
  if (address.family == Family::V6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
    v6->sin6_family = AF_INET6;
    std::memcpy(&v6->sin6_addr, address.bytes.data(), 16);
    v6->sin6_port = htons(address.port);
    v6->sin6_scope_id = address.scope;
    out.size = sizeof *v6;
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out.storage);
    v4->sin_family = AF_INET;
    std::memcpy(&v4->sin_addr, address.bytes.data(), 4);
    v4->sin_port = htons(address.port);
    out.size = sizeof *v4;
  }
  return out;
}

// An AF_INET or AF_INET6 address (anything else reads as 0.0.0.0).
inline Address fromSystem(const sockaddr* address) {
  Address out;
  if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    out.family = Family::V6;
    std::memcpy(out.bytes.data(), &v6->sin6_addr, 16);
    out.port = ntohs(v6->sin6_port);
    out.scope = v6->sin6_scope_id;
  } else if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    std::memcpy(out.bytes.data(), &v4->sin_addr, 4);
    out.port = ntohs(v4->sin_port);
  }
  return out;
}

inline Address fromSystem(const sockaddr_storage& storage) {
  return fromSystem(reinterpret_cast<const sockaddr*>(&storage));
}

// A zone given as the interface's number: 1 to 10 decimal digits, at most
// 4294967295; no sign, no white space (strtoul's long is 32 bits on Windows
// and 64 on Linux, so it would take different texts on each).
inline bool parseZoneNumber(const std::string& zone, uint32_t& scope) {
  if (zone.empty() || zone.size() > 10) return false;
  uint64_t number = 0;
  for (const char c : zone) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > 0xFFFFFFFFu) return false;
  scope = static_cast<uint32_t>(number);
  return true;
}

// Appends address to list[0..count) unless it is there already or the list
// holds capacity; returns the new count.
inline size_t addUnique(Address* list, size_t count, size_t capacity, const Address& address) {
  for (size_t i = 0; i < count; ++i) {
    if (list[i] == address) return count;
  }
  if (count < capacity) list[count++] = address;
  return count;
}

}  // namespace platform
