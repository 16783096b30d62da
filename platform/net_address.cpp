// The parts of Address that need no system call, the same on every
// platform.
#include <cstring>

#include "platform/net_socket.h"

namespace platform {
namespace {

// ::ffff:a.b.c.d, the form an IPv4 peer takes on a dual-stack socket.
bool isMappedV4(const Address& address) {
  static constexpr uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return address.family == Family::V6 && std::memcmp(address.bytes.data(), kPrefix, 12) == 0;
}

bool allZero(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

}  // namespace

Address Address::v4(uint32_t host, uint16_t port) {
  Address address;
  address.family = Family::V4;
  address.bytes[0] = static_cast<uint8_t>(host >> 24);
  address.bytes[1] = static_cast<uint8_t>(host >> 16);
  address.bytes[2] = static_cast<uint8_t>(host >> 8);
  address.bytes[3] = static_cast<uint8_t>(host);
  address.port = port;
  return address;
}

uint32_t Address::v4Host() const {
  if (family != Family::V4) return 0;
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

bool Address::operator==(const Address& other) const {
  const size_t size = family == Family::V4 ? 4 : bytes.size();
  return family == other.family && port == other.port && scope == other.scope &&
         std::memcmp(bytes.data(), other.bytes.data(), size) == 0;
}

bool isWildcardOrBroadcast(const Address& address) {
  if (address.family == Family::V6) return allZero(address.bytes.data(), 16);
  const uint32_t host = address.v4Host();
  return host == 0 || host == 0xFFFFFFFFu;
}

bool isLoopback(const Address& address) {
  if (address.family == Family::V4) return address.bytes[0] == 127;
  if (isMappedV4(address)) return address.bytes[12] == 127;
  return allZero(address.bytes.data(), 15) && address.bytes[15] == 1;
}

bool isHostName(const char* text) {
  if (text == nullptr) return false;
  size_t total = 0;
  size_t label = 0;
  for (const char* c = text; *c != '\0'; ++c, ++total) {
    const unsigned char byte = static_cast<unsigned char>(*c);
    if (byte == '.') {
      if (label == 0) return false;  // an empty label: "a..b", ".a"
      label = 0;
      continue;
    }
    const bool letterOrDigit = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                               (byte >= '0' && byte <= '9');
    if (!letterOrDigit && byte != '-' && byte != '_') return false;
    if (++label > 63) return false;
  }
  return total > 0 && total <= 253;
}

}  // namespace platform
