// Which addresses may travel across the internet: what a host announces in
// a room directory and what a guest asks because a directory told it to.
// One rule for both sides: an address that another machine on the internet
// cannot reach, or that leads into somebody's own machine or home network,
// is never announced and never asked, whoever wrote it into an
// announcement. The documentation ranges (192.0.2/24, 198.51.100/24,
// 203.0.113/24, 2001:db8::/32) stay usable: tests build their internets of
// them.
#pragma once

#include <cstdint>

#include "platform/net_socket.h"

namespace internet {

enum class AddressKind : uint8_t {
  Public,
  Unspecified,  // 0/8, ::
  Loopback,     // 127/8, ::1
  Multicast,    // 224/4, ff00::/8
  Broadcast,    // 255.255.255.255
  LinkLocal,    // 169.254/16, fe80::/10
  Private,      // 10/8, 172.16/12, 192.168/16, fc00::/7, fec0::/10
  Shared,       // 100.64/10: a provider's NAT (RFC 6598)
  Reserved,     // 240/4, 192.0.0/24, 198.18/15, IPv6 outside 2000::/3...
};

// What address is, after unwrapping the IPv6 forms that carry an IPv4
// address (IPv4-mapped ::ffff:0:0/96, IPv4-compatible ::/96, NAT64
// 64:ff9b::/96 and 64:ff9b:1::/48, 6to4 2002::/16): such a form is what it
// wraps. The port plays no part.
AddressKind classifyAddress(const platform::Address& address);

// The one rule: Public, and a port other than 0.
bool isPublicEndpoint(const platform::Address& endpoint);

// A short English name of the kind ("private", "shared (a provider's NAT)"),
// for console lines.
const char* addressKindName(AddressKind kind);

// The address an IPv4-mapped IPv6 address stands for (other addresses as
// they are), so that one machine counts once whichever way it is written.
platform::Address plainForm(const platform::Address& address);

}  // namespace internet
