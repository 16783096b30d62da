// A hosted room's presence on the internet, the one thing the lobby holds
// while it hosts: the home router asked to forward the room's port
// (internet/port_mapping.h) and the room's announcement in the room
// directory of RoomConfig.txt (internet/directory.h), which follows where
// the router says the room is reached. Opened with the room, told the room
// each frame, closed with it; nothing of it waits, and what it has to say
// comes as the lobby line's state and a few console lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "internet/directory.h"
#include "internet/port_mapping.h"
#include "internet/reachability.h"
#include "net/internet_settings.h"

namespace internet {

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
  // answers.
  void update(const RoomFacts& room);
  // The room closed: the forwarding is removed and the announcement goes,
  // each by its own worker.
  void close();
  bool isOpen() const { return open_; }

  // Where the room can be reached, for the lobby line.
  Reachability reach() const { return mapping_.state(); }
  // What changed since the last call, one English line each: where the
  // room can be reached once known, how its announcement stands.
  std::vector<std::string> takeConsoleLines();

  // Tests: the router's side.
  PortMapping& mapping() { return mapping_; }
  DirectoryAnnouncer& announcer() { return announcer_; }

 private:
  HostedRoom hosted(const RoomFacts& room) const;

  PortMapping mapping_;
  DirectoryAnnouncer announcer_;
  net::DirectoryServer directory_;
  bool open_ = false;
  Reachability toldReach_;
  DirectoryAnnouncer::State toldAnnouncer_ = DirectoryAnnouncer::State::Off;
};

}  // namespace internet
