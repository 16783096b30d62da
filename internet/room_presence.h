// A hosted room's presence on the internet, the one thing the lobby holds
// while it hosts: the home router asked to forward the room's port
// (internet/port_mapping.h), the room's announcement in the room
// directory of RoomConfig.txt (internet/directory.h), which follows where
// the router says the room is reached, and the directory's relay
// (internet/room_relay.h) for a room the internet cannot reach otherwise
// (relay= of RoomConfig.txt). Opened with the room, told the room each
// frame, closed with it; nothing of it waits, and what it has to say comes
// as the lobby line's state and a few console lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "internet/directory.h"
#include "internet/port_mapping.h"
#include "internet/reachability.h"
#include "internet/room_relay.h"
#include "net/internet_settings.h"

namespace internet {

// A relay that failed is tried again after a pause that doubles from
// kRelayRetryMs up to kRelayRetryMaxMs (with fresh credentials).
inline constexpr uint32_t kRelayRetryMs = 5000;
inline constexpr uint32_t kRelayRetryMaxMs = 120000;
// Refused permission requests are told on the console at most this often.
inline constexpr uint32_t kRefusalLineMs = 10000;

// What the lobby knows of its room each frame.
struct RoomFacts {
  uint16_t port = 0;
  uint8_t players = 0;
  uint8_t maxPlayers = 0;
  uint32_t instance = 0;  // the local network search's (net/discovery.h)
};

class RoomPresence {
 public:
  RoomPresence() = default;
  RoomPresence(const RoomPresence&) = delete;
  RoomPresence& operator=(const RoomPresence&) = delete;

  // The room opened: asks the router (unless upnp=off) and announces the
  // room in the directory (when directory= names one).
  void open(const RoomFacts& room, const net::HostReachSettings& settings);
  // The room as it is now; the announcement follows it and the router's
  // answers, and the relay starts or stops as relay= and the router's line
  // want it.
  void update(const RoomFacts& room);
  // The room closed: the forwarding is removed, the announcement goes and
  // the relay is released, each by its own worker.
  void close();
  bool isOpen() const { return open_; }

  // Where the room can be reached, for the lobby line: the relay's address
  // while it is relayed, the relay gone once it was, else the router's.
  Reachability reach() const;
  // What changed since the last call, one English line each: where the
  // room can be reached once known, how its announcement and relay stand.
  std::vector<std::string> takeConsoleLines();

  // Tests: the router's side, the announcement, the relay.
  PortMapping& mapping() { return mapping_; }
  DirectoryAnnouncer& announcer() { return announcer_; }
  RoomRelay& relay() { return relay_; }

 private:
  HostedRoom hosted(const RoomFacts& room) const;
  // Starts, restarts or stops the relay.
  void steerRelay();
  void relayLines(std::vector<std::string>& lines);

  PortMapping mapping_;
  DirectoryAnnouncer announcer_;
  RoomRelay relay_;
  std::shared_ptr<RelayDesk> desk_;
  net::DirectoryServer directory_;
  net::RelayMode relayMode_ = net::RelayMode::Auto;
  uint16_t roomPort_ = 0;
  bool open_ = false;
  // The relay: whether it was up at some point of this room, why it last
  // failed, and when it is tried again.
  bool relayWasUp_ = false;
  std::string relayWhy_;
  uint64_t relayRetryAt_ = 0;
  uint32_t relayPause_ = kRelayRetryMs;
  uint64_t offerAskedAt_ = 0;
  // What the console was last told.
  Reachability toldReach_;
  DirectoryAnnouncer::State toldAnnouncer_ = DirectoryAnnouncer::State::Off;
  bool toldNoOffer_ = false;
  size_t toldRefused_ = 0;
  uint64_t toldRefusedAt_ = 0;
  std::vector<std::string> pendingLines_;
};

}  // namespace internet
