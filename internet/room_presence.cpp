#include "internet/room_presence.h"

#include <algorithm>

namespace internet {

HostedRoom RoomPresence::hosted(const RoomFacts& room) const {
  HostedRoom hosted;
  hosted.maxPlayers = room.maxPlayers;
  hosted.players = std::min(room.players, room.maxPlayers);
  hosted.instance = room.instance;
  hosted.roomPort = room.port;
  const Reachability reach = mapping_.state();
  for (size_t i = 0; i < reach.endpointCount && hosted.reachCount < hosted.reach.size(); ++i)
    hosted.reach[hosted.reachCount++] = reach.endpoints[i];
  return hosted;
}

void RoomPresence::open(const RoomFacts& room, const net::HostReachSettings& settings) {
  close();
  open_ = true;
  directory_ = settings.directory;
  toldReach_ = Reachability{};
  toldAnnouncer_ = DirectoryAnnouncer::State::Off;
  mapping_.start(room.port, settings);
  announcer_.open(settings.directory, hosted(room));
}

void RoomPresence::update(const RoomFacts& room) {
  if (open_) announcer_.update(hosted(room));
}

void RoomPresence::close() {
  if (!open_) return;
  open_ = false;
  mapping_.stop();
  announcer_.close();
}

std::vector<std::string> RoomPresence::takeConsoleLines() {
  std::vector<std::string> lines;
  if (!open_) return lines;
  const Reachability reach = mapping_.state();
  if (reach != toldReach_) {
    toldReach_ = reach;
    if (reach.reach == Reach::Internet || reach.reach == Reach::LanOnly)
      lines.push_back(reachConsoleLine(reach));
  }
  const DirectoryAnnouncer::State state = announcer_.state();
  if (state != toldAnnouncer_) {
    toldAnnouncer_ = state;
    const std::string where = std::string("directory ") + directory_.domain.data() + ": ";
    switch (state) {
      case DirectoryAnnouncer::State::Announced:
        lines.push_back(where + "the room is announced" + (announcer_.secured() ? " (TLS)" : ""));
        break;
      case DirectoryAnnouncer::State::Nowhere:
        lines.push_back(where + "nothing to announce (no address the internet reaches)");
        break;
      case DirectoryAnnouncer::State::Retrying: {
        const std::string why = announcer_.lastFailure();
        lines.push_back(where + "not reached" + (why.empty() ? "" : ": " + why) + "; trying again");
        break;
      }
      case DirectoryAnnouncer::State::Off:
      case DirectoryAnnouncer::State::Joining:
        break;
    }
  }
  return lines;
}

}  // namespace internet
