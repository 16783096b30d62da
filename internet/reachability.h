// Where a hosted room can be reached from: what the host's lobby shows, the
// console line, and what a room directory announces. A PortMapping
// (internet/port_mapping.h) fills it on its worker while the room is open; the
// frame loop reads a copy every frame without waiting.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/internet_settings.h"

namespace internet {

using net::kReachAddressSize;

enum class Reach : uint8_t {
  NotHosting,  // no room is open
  Asking,      // the home router is being asked to forward the room's port
  Internet,    // reachable from the internet at address:port
  LanOnly,     // reachable on this network only; note says why
};

enum class ReachNote : uint8_t {
  None,
  // Internet
  RouterMapped,   // the router forwards port to the room
  RouterPrivate,  // the same, but the router's own external address is
                  // private: another router may stand in front of it
  ConfigAddress,  // address= of RoomConfig.txt is told (port: the router's
                  // mapping when it made one, else the room's port)
  // LanOnly
  UpnpOff,       // upnp=off in RoomConfig.txt, and no address= either
  NoRouter,      // no router answered the search
  NoAnswer,      // a device answered the search, then did not answer in time
  BadAnswer,     // a device answered with something that is no router's answer
  NotConnected,  // the router has no external address (not connected)
  Refused,       // the router refused the forwarding (routerError)
};

struct Reachability {
  Reach reach = Reach::NotHosting;
  ReachNote note = ReachNote::None;
  // Internet: the address to tell (the router's external address, or the
  // configured name); NUL-terminated, empty otherwise.
  std::array<char, kReachAddressSize> address{};
  // Internet: the port to tell (the mapping's external port, which may
  // differ from the room's when the router had the room's taken).
  uint16_t port = 0;
  // The room's own TCP port: what to forward by hand when not reachable.
  uint16_t roomPort = 0;
  // A forwarding made by this program is on the router now.
  bool routerMapped = false;
  // Refused: the router's UPnP error code (0 when it gave none).
  int routerError = 0;

  bool operator==(const Reachability& other) const;
  bool operator!=(const Reachability& other) const { return !(*this == other); }
};

// The state in one line of Shift-JIS text for the host's lobby (Japanese,
// digits as digits); empty when not hosting.
std::string reachLobbyLine(const Reachability& state);
// The same in one English line for the console; empty when not hosting.
std::string reachConsoleLine(const Reachability& state);

}  // namespace internet
