#include "internet/address_policy.h"

#include <cstring>

namespace internet {
namespace {

bool inV4(uint32_t address, uint32_t base, int bits) {
  const uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
  return (address & mask) == (base & mask);
}

AddressKind classifyV4(uint32_t a) {
  if (inV4(a, 0x00000000, 8)) return AddressKind::Unspecified;
  if (inV4(a, 0x7F000000, 8)) return AddressKind::Loopback;
  if (a == 0xFFFFFFFFu) return AddressKind::Broadcast;
  if (inV4(a, 0xE0000000, 4)) return AddressKind::Multicast;
  if (inV4(a, 0xF0000000, 4)) return AddressKind::Reserved;
  if (inV4(a, 0xA9FE0000, 16)) return AddressKind::LinkLocal;
  if (inV4(a, 0x0A000000, 8) || inV4(a, 0xAC100000, 12) || inV4(a, 0xC0A80000, 16))
    return AddressKind::Private;
  if (inV4(a, 0x64400000, 10)) return AddressKind::Shared;
  // IETF protocol assignments and the benchmarking range: never routed.
  if (inV4(a, 0xC0000000, 24) || inV4(a, 0xC6120000, 15)) return AddressKind::Reserved;
  return AddressKind::Public;
}

uint32_t v4At(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
         static_cast<uint32_t>(b[2]) << 8 | b[3];
}

bool startsWith(const uint8_t* bytes, std::initializer_list<uint8_t> prefix) {
  size_t i = 0;
  for (const uint8_t b : prefix) {
    if (bytes[i++] != b) return false;
  }
  return true;
}

bool zeros(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

AddressKind classifyV6(const uint8_t* b) {
  if (zeros(b, 15))
    return b[15] == 0   ? AddressKind::Unspecified
           : b[15] == 1 ? AddressKind::Loopback
                        : AddressKind::Reserved;
  // IPv4-mapped and IPv4-compatible: what they carry.
  if (zeros(b, 10) && b[10] == 0xFF && b[11] == 0xFF) return classifyV4(v4At(b + 12));
  if (zeros(b, 12)) return classifyV4(v4At(b + 12));
  // NAT64, the well-known prefix and the local-use one: the IPv4 address
  // the translator reaches.
  if (startsWith(b, {0x00, 0x64, 0xFF, 0x9B}) && zeros(b + 4, 8)) return classifyV4(v4At(b + 12));
  if (startsWith(b, {0x00, 0x64, 0xFF, 0x9B, 0x00, 0x01})) return AddressKind::Reserved;
  // 6to4: the IPv4 address of the site's relay.
  if (startsWith(b, {0x20, 0x02})) {
    const AddressKind wrapped = classifyV4(v4At(b + 2));
    if (wrapped != AddressKind::Public) return wrapped;
  }
  if (b[0] == 0xFF) return AddressKind::Multicast;
  if (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) return AddressKind::LinkLocal;
  if ((b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0xC0)) return AddressKind::Private;
  if ((b[0] & 0xE0) != 0x20) return AddressKind::Reserved;  // not global unicast
  return AddressKind::Public;
}

}  // namespace

AddressKind classifyAddress(const platform::Address& address) {
  if (address.family == platform::Family::V4) return classifyV4(address.v4Host());
  return classifyV6(address.bytes.data());
}

bool isPublicEndpoint(const platform::Address& endpoint) {
  return endpoint.port != 0 && classifyAddress(endpoint) == AddressKind::Public;
}

const char* addressKindName(AddressKind kind) {
  switch (kind) {
    case AddressKind::Public:
      return "public";
    case AddressKind::Unspecified:
      return "unspecified";
    case AddressKind::Loopback:
      return "loopback";
    case AddressKind::Multicast:
      return "multicast";
    case AddressKind::Broadcast:
      return "broadcast";
    case AddressKind::LinkLocal:
      return "link-local";
    case AddressKind::Private:
      return "private";
    case AddressKind::Shared:
      return "shared (a provider's NAT)";
    case AddressKind::Reserved:
      return "reserved";
  }
  return "reserved";
}

platform::Address plainForm(const platform::Address& address) {
  const uint8_t* b = address.bytes.data();
  if (address.family != platform::Family::V6 || !zeros(b, 10) || b[10] != 0xFF || b[11] != 0xFF)
    return address;
  platform::Address v4;
  std::memcpy(v4.bytes.data(), b + 12, 4);
  v4.port = address.port;
  return v4;
}

}  // namespace internet
