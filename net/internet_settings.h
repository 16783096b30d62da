// What RoomConfig.txt says about reaching across the internet (read by
// net/room_files.h, used by the internet/ layer): upnp=, address= and
// directory=, the room directory (internet/directory.h) a copy of the
// program uses as host and as guest; none by default, and then the program
// contacts no server at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace net {

inline constexpr uint16_t kDirectoryPort = 5222;
inline constexpr size_t kDirectoryDomainSize = 128;

struct DirectoryServer {
  std::array<char, kDirectoryDomainSize> domain{};  // empty: no directory
  uint16_t port = kDirectoryPort;
  bool configured() const { return domain[0] != '\0'; }
};

// Reads "DOMAIN" or "DOMAIN:PORT": DOMAIN a host name (platform::isHostName),
// PORT 1 to 65535 in plain decimal. False, with server left as none, on
// anything else.
bool parseDirectoryServer(const char* text, DirectoryServer& server);

// Longest address told: a dotted IPv4 address or a host name from
// RoomConfig.txt (which keeps 127 bytes at most), plus the terminator.
inline constexpr size_t kReachAddressSize = 128;

struct HostReachSettings {
  bool upnp = true;  // upnp=off: the router is never asked
  // address=: told instead of the router's answer; empty when not given.
  std::array<char, kReachAddressSize> address{};
  // directory=: the room directory the room is announced in, and that a
  // refresh asks (as guest too); none when not given.
  DirectoryServer directory;
};

}  // namespace net
