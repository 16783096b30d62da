// The resolver call and the numeric address forms on Windows: getaddrinfo,
// inet_pton and inet_ntop, and inet_aton's IPv4 forms parsed here (Winsock
// has no inet_aton, and its inet_addr cannot tell 255.255.255.255 from a
// failure).
#include "platform/winsock_windows.h"

#include <iphlpapi.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/net_socket.h"
#include "platform/socket_address.h"
#include "platform/system_lookup.h"

namespace platform {
namespace {

// One part of an inet_aton address: decimal, octal after a leading 0,
// hexadecimal after 0x. False when there are no digits or it passes 32 bits.
bool parsePart(const char*& text, uint32_t& value) {
  int base = 10;
  if (text[0] == '0') {
    base = 8;
    if (text[1] == 'x' || text[1] == 'X') {
      base = 16;
      text += 2;
    }
  }
  uint64_t number = 0;
  int digits = 0;
  for (;; ++text, ++digits) {
    const char c = *text;
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0 || digit >= base) break;
    number = number * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (number > 0xFFFFFFFFu) return false;
  }
  // No digit: nothing, or "0x" without a hexadecimal digit after it, which
  // inet_aton refuses (it reads the 0 and then stops at the x).
  if (digits == 0) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

// inet_aton's forms: a.b.c.d, a.b.c (c 16 bits), a.b (b 24 bits), a (32
// bits), each part as parsePart reads it, ended by the text's end or white
// space (what isspace takes in the C locale; the rest is not read).
bool parseV4(const char* text, uint32_t& host) {
  uint32_t parts[4] = {};
  int count = 0;
  for (;;) {
    if (count == 4 || !parsePart(text, parts[count])) return false;
    ++count;
    if (*text != '.') break;
    ++text;
  }
  if (*text != '\0' && std::strchr(" \t\n\v\f\r", *text) == nullptr) return false;
  for (int i = 0; i + 1 < count; ++i) {
    if (parts[i] > 0xFF) return false;
  }
  const uint32_t lastLimit = count == 1 ? 0xFFFFFFFFu : 0xFFFFFFFFu >> (8 * (count - 1));
  if (parts[count - 1] > lastLimit) return false;
  host = parts[count - 1];
  for (int i = 0; i + 1 < count; ++i) host |= parts[i] << (24 - 8 * i);
  return true;
}

}  // namespace

bool systemNameLookup(const char* name, LookupAnswer& answer) {
  answer = LookupAnswer{};
  if (!startWinsock()) return false;
  return resolveName(name, answer);
}

bool parseNumericAddress(const char* text, Address& address) {
  if (text == nullptr || !startWinsock()) return false;
  std::string bare = text;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  const uint16_t port = address.port;
  uint32_t host = 0;
  if (bare.find(':') == std::string::npos && parseV4(bare.c_str(), host)) {
    address = Address::v4(host, port);
    return true;
  }
  // An IPv6 address, with "%zone" for a link-local one: on Windows the zone
  // is the interface's number, or its name as if_nametoindex knows it.
  uint32_t scope = 0;
  const size_t percent = bare.find('%');
  if (percent != std::string::npos) {
    const std::string zone = bare.substr(percent + 1);
    if (!parseZoneNumber(zone, scope)) {
      scope = if_nametoindex(zone.c_str());
      if (scope == 0) return false;
    }
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
  startWinsock();
  char text[INET6_ADDRSTRLEN + 16] = {};
  if (address.family == Family::V4) {
    inet_ntop(AF_INET, address.bytes.data(), text, sizeof text);
    return text;
  }
  inet_ntop(AF_INET6, address.bytes.data(), text, sizeof text);
  std::string out = text;
  // Windows names zones by number ("fe80::1%12").
  if (address.scope != 0) out += "%" + std::to_string(address.scope);
  return out;
}

}  // namespace platform
