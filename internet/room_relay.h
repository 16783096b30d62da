// A hosted room relayed through its room directory's TURN server, for a
// host no router opens (behind a provider's NAT, a router without UPnP): the
// room is announced at an address of the relay's, and every guest's TCP
// bytes travel through it unchanged. On a platform::Worker beside the frame
// loop, RoomRelay allocates a relayed TCP address (internet/turn_client.h)
// with the credentials the directory handed out (RelayOffer), keeps it,
// grants guests permissions as their requests come through the directory
// (RelayDesk), and bridges each guest's connection to the relayed address
// (one data connection each, bound with ConnectionBind) to the room's own
// TCP port on this machine, so that the room sees a local connection and
// the lobby's link needs nothing of its own. Whatever the relay's server
// sends is bounded in bytes and time; the frame loop only reads status().
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "internet/turn_client.h"
#include "platform/net_socket.h"
#include "platform/worker.h"

namespace internet {

// Guests' connections through the relay at once (a room's players and the
// room queries of those who look at it); more wait on the relay's server
// until it gives them up.
inline constexpr size_t kMaxBridges = 16;
// Bytes held for one bridge in each direction at most; a side that does not
// take them is not read from meanwhile.
inline constexpr size_t kBridgeBufferBytes = 16 * 1024;
// Permissions: at most kMaxPermissions guests' addresses let through at
// once, kPermitsPerMinute new ones a minute in all and kPermitsPerGuestPerMinute
// for one asker; a request past these is refused. An address is kept while
// a guest from it is connected, and kPermitKeepMs after it last asked.
inline constexpr size_t kMaxPermissions = 32;
inline constexpr size_t kPermitsPerMinute = 30;
inline constexpr size_t kPermitsPerGuestPerMinute = 4;
inline constexpr uint32_t kPermitKeepMs = 120000;
// Requests waiting between the directory's worker and the relay's.
inline constexpr size_t kMaxDeskRequests = 64;
// The relay's server: reached (its name looked up, connected) within this.
inline constexpr uint32_t kRelayConnectLimitMs = 5000;
// What the control connection may read: kRelayBytesMax at once and
// kRelayBytesPerSecond more each second. A server past it loses the relay.
inline constexpr size_t kRelayBytesMax = 64 * 1024;
inline constexpr size_t kRelayBytesPerSecond = 4096;
// Once the room closes, the allocation's release is waited for this long.
inline constexpr uint32_t kRelayReleaseLimitMs = 300;
// A directory's credentials are used within this of their receipt; older
// ones are asked again.
inline constexpr uint32_t kOfferFreshMs = 60000;

// What a room directory's server offers as its relay (XEP-0215 external
// service discovery): where the TURN server is and time-limited
// credentials for it.
struct RelayOffer {
  std::string host;  // a name or a numeric address
  uint16_t port = 0;
  turn::Credentials credentials;
  uint64_t receivedAt = 0;  // relayClockMs()
};

// A guest's request for a permission, as the directory brought it, and the
// grant to send back.
struct PermitRequest {
  std::string from;  // the guest's address in the directory (a full JID)
  platform::Address address;
};

// Where the directory's worker and the relay's meet: the offer the
// directory's server made, the guests' requests and the grants. Every queue
// is bounded; all of it is safe from any thread.
class RelayDesk {
 public:
  enum class Offered : uint8_t { Unknown, None, Some };

  // The directory's side.
  void putOffer(const RelayOffer& offer);
  void putNoOffer();
  // Whether a fresh offer is wanted (cleared by the asking).
  bool takeOfferWanted();
  // A guest's request; dropped (and counted) when the queue is full.
  void request(const PermitRequest& request);
  bool takeGrant(PermitRequest& grant);

  // The relay's side.
  Offered offer(RelayOffer& offer) const;
  void wantOffer();
  bool takeRequest(PermitRequest& request);
  void grant(const PermitRequest& grant);
  size_t dropped() const;

 private:
  mutable std::mutex mutex_;
  Offered offered_ = Offered::Unknown;
  RelayOffer offer_;
  bool offerWanted_ = false;
  std::deque<PermitRequest> requests_;
  std::deque<PermitRequest> grants_;
  size_t dropped_ = 0;
};

class RoomRelay {
 public:
  enum class State : uint8_t {
    Off,         // not started
    Allocating,  // reaching the relay's server and allocating
    Relayed,     // guests reach the room at relayed
    Failed,      // no relay (failure says why); was it relayed before: gone
  };
  struct Status {
    State state = State::Off;
    platform::Address relayed;
    std::string failure;
    bool wasRelayed = false;  // Failed after Relayed: the relay is gone
    size_t bridges = 0;       // guests' connections open now
    size_t granted = 0;       // permissions granted, in all
    size_t refused = 0;       // requests refused, in all
  };

  RoomRelay() = default;
  ~RoomRelay() { stop(); }
  RoomRelay(const RoomRelay&) = delete;
  RoomRelay& operator=(const RoomRelay&) = delete;

  // Starts relaying the room on roomPort (a relay before is let go first);
  // returns at once.
  void start(const RelayOffer& offer, uint16_t roomPort, std::shared_ptr<RelayDesk> desk);
  // Lets the relay go without waiting: its worker releases the allocation
  // and closes every connection within kRelayReleaseLimitMs.
  void stop();
  bool started() const { return work_ != nullptr; }
  Status status() const;

  // What the worker and this object share.
  struct Work;

 private:
  std::shared_ptr<Work> work_;
  platform::Worker worker_;
};

}  // namespace internet
