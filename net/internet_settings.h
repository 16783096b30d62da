// What RoomConfig.txt says about reaching across the internet (read by
// net/room_files.h, used by the internet/ layer): upnp=, address=,
// directory=, the room directory (internet/directory.h) a copy of the
// program uses as host and as guest (none by default, and then the program
// contacts no server at all), and relay=, whether a hosted room goes
// through that directory's relay (internet/room_relay.h).
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

// relay=: Auto (the default) relays a room the internet cannot reach (the
// router's line says this network only) when the directory offers a relay;
// Always relays every room and announces only the relay's address; Off
// never relays.
enum class RelayMode : uint8_t { Auto, Off, Always };

struct HostReachSettings {
  bool upnp = true;  // upnp=off: the router is never asked
  // address=: told instead of the router's answer; empty when not given.
  std::array<char, kReachAddressSize> address{};
  // directory=: the room directory the room is announced in, and that a
  // refresh asks (as guest too); none when not given.
  DirectoryServer directory;
  RelayMode relay = RelayMode::Auto;
};

}  // namespace net
