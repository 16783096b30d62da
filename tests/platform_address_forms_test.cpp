// The numeric address forms, one table for both builds: the Linux build
// parses them with inet_aton and inet_pton, the Windows build with its own
// inet_aton twin and Winsock's inet_pton, and both must take and refuse the
// same texts with the same result.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/net_socket.h"

namespace {

struct Form {
  const char* text;
  bool taken;
  platform::Family family;
  uint32_t v4;                     // host byte order
  std::array<uint16_t, 8> groups;  // the IPv6 address, group by group
  uint32_t scope;
};

constexpr platform::Family V4 = platform::Family::V4;
constexpr platform::Family V6 = platform::Family::V6;

constexpr Form taken4(const char* text, uint32_t host) { return {text, true, V4, host, {}, 0}; }
constexpr Form taken6(const char* text, std::array<uint16_t, 8> groups, uint32_t scope = 0) {
  return {text, true, V6, 0, groups, scope};
}
constexpr Form refused(const char* text) { return {text, false, V4, 0, {}, 0}; }

constexpr Form kForms[] = {
    // inet_aton's forms: a.b.c.d, a.b.c, a.b, a; decimal, octal, hexadecimal.
    taken4("192.168.1.20", 0xC0A80114),
    taken4("127.1", 0x7F000001),
    taken4("10.1.2", 0x0A010002),
    taken4("10.65535", 0x0A00FFFF),
    taken4("3232235796", 0xC0A80114),
    taken4("0x7f.1", 0x7F000001),
    taken4("0X7F.0.0.1", 0x7F000001),
    taken4("0177.0.0.01", 0x7F000001),
    taken4("1.0x10.3.4", 0x01100304),
    taken4("0xffffffff", 0xFFFFFFFF),
    taken4("0xFfFfFfFf", 0xFFFFFFFF),
    taken4("0x000000001", 1),
    taken4("255.255.255.255", 0xFFFFFFFF),
    taken4("0", 0),
    taken4("00", 0),
    taken4("0x0", 0),
    taken4("[1.2.3.4]", 0x01020304),
    // White space ends the address; what follows it is not read.
    taken4("1.2.3.4 and more", 0x01020304),
    taken4("1.2.3.4\t", 0x01020304),
    taken4("1.2.3.4\n", 0x01020304),
    taken4("1.2.3.4\r", 0x01020304),
    taken4("1.2.3.4\v", 0x01020304),
    taken4("1.2.3.4\f", 0x01020304),
    // "0x" with no hexadecimal digit after it is no number.
    refused("0x"),
    refused("0X"),
    refused("0x.1"),
    refused("1.0x.3.4"),
    refused("1.2.3.0x"),
    refused("0x1g"),
    refused("0xg"),
    // Digits of the wrong base, parts too large, too many or too few parts.
    refused("08.1.1.1"),
    refused("09"),
    refused("1.2.3.256"),
    refused("256.1"),
    refused("1.16777216"),
    refused("1.2.65536"),
    refused("4294967296"),
    refused("0x100000000"),
    refused("040000000000"),
    refused("99999999999999999999999"),
    refused("1.2.3.4.5"),
    refused("1.2.3.4."),
    refused("1."),
    refused("1..2"),
    refused(".1"),
    refused(""),
    refused("-1"),
    refused("+1"),
    refused(" 1"),
    refused("1.+2"),
    refused("1.2.3.4x"),
    refused("1.2.3.4\xa0"),
    refused("1.2.3.4:80"),
    refused("localhost"),
    refused("[1.2.3.4"),
    // IPv6, with a zone given by number.
    taken6("::1", {0, 0, 0, 0, 0, 0, 0, 1}),
    taken6("[::1]", {0, 0, 0, 0, 0, 0, 0, 1}),
    taken6("::", {0, 0, 0, 0, 0, 0, 0, 0}),
    taken6("2001:db8::7", {0x2001, 0xdb8, 0, 0, 0, 0, 0, 7}),
    taken6("1:2:3:4:5:6:7:8", {1, 2, 3, 4, 5, 6, 7, 8}),
    taken6("0001:02:3::", {1, 2, 3, 0, 0, 0, 0, 0}),
    taken6("::ffff:1.2.3.4", {0, 0, 0, 0, 0, 0xffff, 0x0102, 0x0304}),
    taken6("fe80::1%1", {0xfe80, 0, 0, 0, 0, 0, 0, 1}, 1),
    taken6("fe80::1%0", {0xfe80, 0, 0, 0, 0, 0, 0, 1}, 0),
    taken6("fe80::1%4294967295", {0xfe80, 0, 0, 0, 0, 0, 0, 1}, 4294967295u),
    taken6("[fe80::1%7]", {0xfe80, 0, 0, 0, 0, 0, 0, 1}, 7),
    refused("fe80::1%4294967296"),
    refused("fe80::1%99999999999"),
    refused("fe80::1%-1"),
    refused("fe80::1%+1"),
    refused("fe80::1% 1"),
    refused("fe80::1%"),
    refused("fe80::1%no-such-interface"),
    refused("::1::2"),
    refused(":::"),
    refused("12345::"),
    refused("1:2:3:4:5:6:7:8:9"),
    refused("::g"),
    refused("[::1"),
    refused("::1]"),
    refused("::ffff:1.2.3"),
    refused("::ffff:1.2.3.256"),
};

std::string shown(const char* text) {
  std::string out = "\"";
  for (const char* c = text; *c != '\0'; ++c) {
    const unsigned char byte = static_cast<unsigned char>(*c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += *c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    }
  }
  return out + "\"";
}

TEST(AddressForms, BothBuildsTakeAndRefuseTheSameTexts) {
  for (const Form& form : kForms) {
    platform::Address address;
    address.port = 6247;
    const bool taken = platform::parseNumericAddress(form.text, address);
    EXPECT_EQ(taken, form.taken) << shown(form.text);
    if (!taken || !form.taken) continue;
    EXPECT_EQ(address.family, form.family) << shown(form.text);
    EXPECT_EQ(address.port, 6247) << shown(form.text) << ": the port is left as it was";
    if (form.family == V4) {
      EXPECT_EQ(address.v4Host(), form.v4) << shown(form.text);
      continue;
    }
    for (int i = 0; i < 8; ++i) {
      const uint16_t group =
          static_cast<uint16_t>(address.bytes[2 * i] << 8 | address.bytes[2 * i + 1]);
      EXPECT_EQ(group, form.groups[i]) << shown(form.text) << " group " << i;
    }
    EXPECT_EQ(address.scope, form.scope) << shown(form.text);
  }
}

TEST(AddressForms, ANullTextIsRefused) {
  platform::Address address;
  EXPECT_FALSE(platform::parseNumericAddress(nullptr, address));
}

}  // namespace
