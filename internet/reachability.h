// Where a hosted room can be reached from: what the host's lobby shows, the
// console line, and the endpoints a room directory announces. A PortMapping
// (internet/port_mapping.h) fills it on its worker while the room is open; the
// frame loop reads a copy every frame without waiting.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/internet_settings.h"
#include "platform/net_socket.h"

namespace internet {

using net::kReachAddressSize;

// Endpoints a room may be announced at, at most.
inline constexpr size_t kMaxReachEndpoints = 4;

enum class Reach : uint8_t {
  NotHosting,  // no room is open
  Asking,      // the home router is being asked to forward the room's port
  Internet,    // reachable from the internet at address:port
  LanOnly,     // reachable on this network only; note says why
  Relayed,     // reachable through the directory's relay at address:port
};

enum class ReachNote : uint8_t {
  None,
  // Internet
  RouterMapped,   // the router forwards port to the room
  ConfigAddress,  // address= of RoomConfig.txt is told (port: the router's
                  // mapping when it made one, else the room's port)
  // LanOnly
  RouterPrivate,  // the router forwards port to the room, but its own
                  // external address (address) is not public: a second
                  // router or the provider's NAT stands in front of it
  UpnpOff,        // upnp=off in RoomConfig.txt, and no address= either
  NoRouter,       // no router answered the search
  NoAnswer,       // a device answered the search, then did not answer in time
  BadAnswer,      // a device answered with something that is no router's answer
  NotConnected,   // the router has no external address (not connected)
  Refused,        // the router refused the forwarding (routerError)
  RelayGone,      // the room was relayed and the relay is gone (relayWhy)
};

// RelayGone: why, in a few English words, at most.
inline constexpr size_t kRelayWhySize = 96;

struct Reachability {
  Reach reach = Reach::NotHosting;
  ReachNote note = ReachNote::None;
  // Internet: the address to tell (the router's external address, or the
  // configured name); RouterPrivate: the router's external address;
  // Relayed: the relay's address for the room; NUL-terminated, empty
  // otherwise.
  std::array<char, kReachAddressSize> address{};
  // Internet and RouterPrivate: the port to tell (the mapping's external
  // port, which may differ from the room's when the router had the room's
  // taken).
  uint16_t port = 0;
  // Where the internet reaches the room, for a room directory to announce:
  // each numeric, with its port, and public (internet/address_policy.h):
  // the router's external address with the mapped port, and the addresses
  // address= stands for with the mapped port (the room's own without a
  // mapping). None while no such address is known.
  std::array<platform::Address, kMaxReachEndpoints> endpoints{};
  uint8_t endpointCount = 0;
  // The room's own TCP port: what to forward by hand when not reachable.
  uint16_t roomPort = 0;
  // A forwarding made by this program is on the router now.
  bool routerMapped = false;
  // Refused: the router's UPnP error code (0 when it gave none).
  int routerError = 0;
  // RelayGone: why the relay went, NUL-terminated.
  std::array<char, kRelayWhySize> relayWhy{};

  bool operator==(const Reachability& other) const;
  bool operator!=(const Reachability& other) const { return !(*this == other); }
};

// The state in one line of Shift-JIS text for the host's lobby (Japanese,
// digits as digits); empty when not hosting.
std::string reachLobbyLine(const Reachability& state);
// The same in one English line for the console; empty when not hosting.
std::string reachConsoleLine(const Reachability& state);

}  // namespace internet
