#include "internet/room_presence.h"

#include <algorithm>
#include <cstdio>

#include "internet/relay_link.h"

namespace internet {
namespace {

// How often a stale relay offer is asked for again at most.
constexpr uint64_t kOfferAskMs = 10000;

Reachability relayedReach(const platform::Address& relayed, uint16_t roomPort) {
  Reachability reach;
  reach.reach = Reach::Relayed;
  std::snprintf(reach.address.data(), reach.address.size(), "%s",
                platform::formatAddress(relayed).c_str());
  reach.port = relayed.port;
  reach.endpoints[0] = relayed;
  reach.endpointCount = 1;
  reach.roomPort = roomPort;
  return reach;
}

}  // namespace

HostedRoom RoomPresence::hosted(const RoomFacts& room) const {
  HostedRoom hosted;
  hosted.maxPlayers = room.maxPlayers;
  hosted.players = std::min(room.players, room.maxPlayers);
  hosted.instance = room.instance;
  hosted.roomPort = room.port;
  const Reachability where = reach();
  hosted.relayed = where.reach == Reach::Relayed;
  for (size_t i = 0; i < where.endpointCount && hosted.reachCount < hosted.reach.size(); ++i)
    hosted.reach[hosted.reachCount++] = where.endpoints[i];
  return hosted;
}

void RoomPresence::open(const RoomFacts& room, const net::HostReachSettings& settings) {
  close();
  open_ = true;
  directory_ = settings.directory;
  relayMode_ = settings.relay;
  roomPort_ = room.port;
  toldReach_ = Reachability{};
  toldAnnouncer_ = DirectoryAnnouncer::State::Off;
  toldNoOffer_ = false;
  toldRefused_ = 0;
  toldRefusedAt_ = 0;
  relayWasUp_ = false;
  relayWhy_.clear();
  relayRetryAt_ = 0;
  relayPause_ = kRelayRetryMs;
  offerAskedAt_ = 0;
  pendingLines_.clear();
  const bool relays = directory_.configured() && relayMode_ != net::RelayMode::Off;
  desk_ = relays ? std::make_shared<RelayDesk>() : nullptr;
  if (relayMode_ == net::RelayMode::Always && !directory_.configured())
    pendingLines_.push_back("relay: relay=always needs a room directory (directory=) to relay through");
  mapping_.start(room.port, settings);
  announcer_.open(settings.directory, hosted(room), desk_);
}

void RoomPresence::update(const RoomFacts& room) {
  if (!open_) return;
  steerRelay();
  announcer_.update(hosted(room));
}

void RoomPresence::steerRelay() {
  if (desk_ == nullptr) return;
  const uint64_t now = relayClockMs();
  const bool wanted =
      relayMode_ == net::RelayMode::Always || mapping_.state().reach == Reach::LanOnly;
  if (!wanted) {
    // The router opens the room now: the relay goes once nobody uses it.
    if (relay_.started() && relay_.status().bridges == 0) {
      relay_.stop();
      relayWasUp_ = false;
      relayWhy_.clear();
      relayRetryAt_ = 0;
      relayPause_ = kRelayRetryMs;
    }
    return;
  }
  if (relay_.started()) {
    const RoomRelay::Status status = relay_.status();
    if (status.state == RoomRelay::State::Relayed) {
      relayWasUp_ = true;
      relayPause_ = kRelayRetryMs;
      return;
    }
    if (status.state != RoomRelay::State::Failed) return;
    if (relayRetryAt_ == 0) {
      relayWhy_ = status.failure;
      relayRetryAt_ = now + relayPause_;
      if (!relayWasUp_) {
        pendingLines_.push_back("relay: not reached (" + status.failure + "); trying again in " +
                                std::to_string(relayPause_ / 1000) + " s");
      }
      relayPause_ = std::min(relayPause_ * 2, kRelayRetryMaxMs);
    }
    if (now < relayRetryAt_) return;
  }
  // A new relay, with credentials fresh from the directory.
  RelayOffer offer;
  const RelayDesk::Offered offered = desk_->offer(offer);
  if (offered == RelayDesk::Offered::None) {
    if (!toldNoOffer_) {
      toldNoOffer_ = true;
      pendingLines_.push_back(std::string("relay: directory ") + directory_.domain.data() +
                              " offers no relay");
    }
    return;
  }
  if (offered == RelayDesk::Offered::Some && now - offer.receivedAt < kOfferFreshMs) {
    relay_.start(offer, roomPort_, desk_);
    relayRetryAt_ = 0;
    return;
  }
  if (offerAskedAt_ == 0 || now - offerAskedAt_ >= kOfferAskMs) {
    desk_->wantOffer();
    offerAskedAt_ = now;
  }
}

void RoomPresence::close() {
  if (!open_) return;
  open_ = false;
  mapping_.stop();
  announcer_.close();
  relay_.stop();
  desk_.reset();
}

Reachability RoomPresence::reach() const {
  const Reachability mapped = mapping_.state();
  if (!open_ || !relay_.started()) return mapped;
  const RoomRelay::Status status = relay_.status();
  if (status.state == RoomRelay::State::Relayed) return relayedReach(status.relayed, roomPort_);
  if (!relayWasUp_ && !status.wasRelayed) return mapped;
  Reachability gone = mapped;
  gone.reach = Reach::LanOnly;
  gone.note = ReachNote::RelayGone;
  gone.endpointCount = 0;
  const std::string& why = status.failure.empty() ? relayWhy_ : status.failure;
  std::snprintf(gone.relayWhy.data(), gone.relayWhy.size(), "%s", why.c_str());
  return gone;
}

void RoomPresence::relayLines(std::vector<std::string>& lines) {
  lines.insert(lines.end(), pendingLines_.begin(), pendingLines_.end());
  pendingLines_.clear();
  if (!relay_.started()) return;
  const RoomRelay::Status status = relay_.status();
  const uint64_t now = relayClockMs();
  if (status.refused > toldRefused_ && now - toldRefusedAt_ >= kRefusalLineMs) {
    lines.push_back("relay: " + std::to_string(status.refused - toldRefused_) +
                    " requests for a permission refused (at most " +
                    std::to_string(kPermitsPerMinute) + " new addresses a minute, " +
                    std::to_string(kPermitsPerGuestPerMinute) + " from one guest, " +
                    std::to_string(kMaxPermissions) + " at once)");
    toldRefused_ = status.refused;
    toldRefusedAt_ = now;
  }
}

std::vector<std::string> RoomPresence::takeConsoleLines() {
  std::vector<std::string> lines;
  if (!open_) return lines;
  const Reachability where = reach();
  if (where != toldReach_) {
    toldReach_ = where;
    if (where.reach == Reach::Internet || where.reach == Reach::LanOnly ||
        where.reach == Reach::Relayed)
      lines.push_back(reachConsoleLine(where));
  }
  relayLines(lines);
  const DirectoryAnnouncer::State state = announcer_.state();
  if (state != toldAnnouncer_) {
    toldAnnouncer_ = state;
    const std::string prefix = std::string("directory ") + directory_.domain.data() + ": ";
    switch (state) {
      case DirectoryAnnouncer::State::Announced:
        lines.push_back(prefix + "the room is announced" + (announcer_.secured() ? " (TLS)" : ""));
        break;
      case DirectoryAnnouncer::State::Nowhere:
        lines.push_back(prefix + "nothing to announce (no address the internet reaches)");
        break;
      case DirectoryAnnouncer::State::Retrying: {
        const std::string why = announcer_.lastFailure();
        lines.push_back(prefix + "not reached" + (why.empty() ? "" : ": " + why) + "; trying again");
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
