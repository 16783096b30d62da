// A room directory: an XMPP server that nobody here wrote (Debian's prosody
// with directory/prosody.cfg.lua, or ejabberd), named by directory= in
// RoomConfig.txt. One convention for every copy and every directory: sign in
// anonymously on DOMAIN (SASL ANONYMOUS; TLS whenever the server offers it,
// its certificate checked against the system's trust store; a server that
// offers none is still used), and meet in the multi-user chat rooms (XEP-0045)
// vellora-00 to vellora-47@rooms.DOMAIN, the shards below, under a random
// nickname. A host's presence in one of them carries its room's
// announcement (internet/announcement.h); a guest's refresh asks every
// shard how many it holds, joins a few, takes the announcements from the
// presences until its own comes back (the end of each occupant list),
// leaves, and asks each chosen room over TCP exactly as a room of
// RoomList.txt.
//
// A directory's server may also offer a relay (a TURN server, found by
// XEP-0215 external service discovery, urn:xmpp:extdisco:2): a host no
// router opens is then relayed (internet/room_relay.h), its announcement
// says whom to ask for a permission (internet/announcement.h), and a guest
// that chose such a room learns its own public address from the relay's
// server, asks the host through the directory, and asks the room over the
// relay once the host has let it through: all of it within the refresh's
// kDirectoryLimitMs.
//
// Each sign-in runs on a worker (platform/worker.h) with the program's own
// XMPP client (internet/xmpp_client.h); the frame loop only ever looks at
// its outcome, without waiting, and a worker asked to stop is gone within
// kAnnouncerLeaveLimitMs. Without directory= the program contacts no
// server at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "internet/announcement.h"
#include "internet/room_relay.h"
#include "net/internet_settings.h"
#include "net/room_query.h"
#include "platform/net_socket.h"
#include "platform/worker.h"

namespace internet {

using net::DirectoryServer;

// The longest a refresh waits for its directory, from the key press: the
// name looked up, the connection, TLS, the sign-in, the join and the whole
// occupant list. A directory that does not answer, refuses or drops costs
// a refresh at most this.
inline constexpr uint32_t kDirectoryLimitMs = 2000;
// The directory's chat rooms on its chat service rooms.DOMAIN: shards
// vellora-00 to vellora-47, made once by the directory's operator (3,072
// rooms at kShardFill). Their number keeps a look at every shard's count
// small: prosody answers each with about 1.5 KB. A host
// announces in the first that holds fewer than kShardFill occupants (so
// its announcements reach at most that many others, however many rooms
// there are); a guest skips a shard holding more than kShardCap (flooded)
// and joins shards until they hold kBrowseAnnouncements announcements (all
// of them in a directory of a few hundred rooms), at most kBrowseShardsMax
// of them a refresh.
inline constexpr int kDirectoryShards = 48;
inline constexpr char kDirectoryShardPrefix[] = "vellora-";
inline constexpr int kShardFill = 64;
inline constexpr int kShardCap = 96;
inline constexpr size_t kBrowseShardsMax = 5;
inline constexpr size_t kBrowseAnnouncements = 320;
// A guest waits for the hosts of the relayed rooms it chose to let it
// through at most this long after asking (and never past the refresh's
// limit, less the time to leave).
inline constexpr uint32_t kPermitWaitMs = 1000;
inline constexpr char kServicesNamespace[] = "urn:xmpp:extdisco:2";
// How long a host waits for the shards' counts before it chooses among
// those that told theirs (a node of a cluster may be slow for a moment).
inline constexpr uint32_t kAnnouncerCountsWaitMs = 2000;
// How often a host asks its shard how many it holds (to move when flooded).
inline constexpr uint32_t kAnnouncerShardCheckMs = 60000;

// What one directory connection may read: a guest's look at most
// kBrowseBytesMax in all; a host's session kAnnouncerBytesMax at once and
// kAnnouncerBytesPerSecond more each second it lasts. A directory that
// sends more loses the connection.
inline constexpr size_t kBrowseBytesMax = 512 * 1024;
inline constexpr size_t kAnnouncerBytesMax = 1024 * 1024;
inline constexpr size_t kAnnouncerBytesPerSecond = 32 * 1024;

// A host keeps its place in the directory: it pings the server every
// kAnnouncerPingMs and takes a connection that has been silent for
// kAnnouncerSilenceMs as dropped; after a drop (or a refusal) it signs in
// again after a pause that doubles from kAnnouncerRetryMs up to
// kAnnouncerRetryMaxMs. A new presence goes out at most once per
// kAnnouncerUpdateMs, however often the room changes.
inline constexpr uint32_t kAnnouncerPingMs = 8000;
inline constexpr uint32_t kAnnouncerSilenceMs = 25000;
inline constexpr uint32_t kAnnouncerRetryMs = 1000;
inline constexpr uint32_t kAnnouncerRetryMaxMs = 30000;
inline constexpr uint32_t kAnnouncerUpdateMs = 1000;
// How long a host's client has to sign in (lookup to joined) before the
// attempt counts as failed, and to leave when its room closes.
inline constexpr uint32_t kAnnouncerJoinLimitMs = 10000;
inline constexpr uint32_t kAnnouncerLeaveLimitMs = 1000;

// The shared state of one worker (its owner and its thread); directory.cpp.
struct DirectoryWork;

// A guest's look at the directory, for one refresh.
class DirectoryBrowse : public net::RoomSource {
 public:
  DirectoryBrowse() = default;
  ~DirectoryBrowse() override { cancel(); }
  DirectoryBrowse(const DirectoryBrowse&) = delete;
  DirectoryBrowse& operator=(const DirectoryBrowse&) = delete;

  // Starts signing in on a worker (whatever an earlier browse still had
  // open is dropped). Nothing happens for a server that is not configured.
  void start(const DirectoryServer& server);
  // Where the browse stands, without waiting: Asking until the rooms are
  // chosen or the browse has failed, and never longer than
  // kDirectoryLimitMs after start.
  State poll() override;
  // Done: the rooms to ask (internet/announcement.h chooseRooms), handed
  // over once. (cancel then makes the browse Idle again.)
  std::vector<AnnouncedRoom> takeRooms() override;
  // Done or Failed: one line for the console ("12 rooms announced, 12 to
  // ask (9 KiB read)", "no answer in time").
  const std::string& outcome() const override { return outcome_; }
  // Announcements taken from the directory (before the choice), and how
  // many presences came with none that could be read.
  size_t announced() const { return announced_; }
  size_t ignored() const { return ignored_; }
  // Whether the sign-in went over TLS.
  bool secured() const { return secured_; }
  // Bytes read from the directory.
  uint64_t bytesRead() const { return bytesRead_; }
  // Relayed rooms chosen, and of those the ones whose hosts let this
  // machine through their relay in time (among the rooms to ask).
  size_t relayed() const { return relayed_; }
  size_t permitted() const { return permitted_; }
  void cancel() override;

 private:
  std::shared_ptr<DirectoryWork> work_;
  platform::Worker worker_;
  State state_ = State::Idle;
  uint64_t startedAt_ = 0;
  std::vector<AnnouncedRoom> rooms_;
  std::string outcome_;
  size_t announced_ = 0;
  size_t ignored_ = 0;
  bool secured_ = false;
  uint64_t bytesRead_ = 0;
  size_t relayed_ = 0;
  size_t permitted_ = 0;
};

// What a host announces, as its lobby sees the room each frame.
struct HostedRoom {
  uint8_t players = 0;
  uint8_t maxPlayers = 0;
  // The room's instance in the local network search (net/discovery.h).
  uint32_t instance = 0;
  // Where the internet reaches the room (the router's external address,
  // address= of RoomConfig.txt), numeric, each with its port; only those
  // the address policy allows are announced.
  std::array<platform::Address, kMaxEndpoints> reach{};
  size_t reachCount = 0;
  // The room's own TCP port, for the machine's global IPv6 addresses.
  uint16_t roomPort = 0;
  // reach[0] is the relay's address for the room: it alone is announced,
  // with the host's own address in the directory to ask for a permission.
  bool relayed = false;

  bool operator==(const HostedRoom& other) const;
  bool operator!=(const HostedRoom& other) const { return !(*this == other); }
};

// A host's place in the directory while its room is open.
class DirectoryAnnouncer {
 public:
  enum class State : uint8_t {
    Off,        // not open
    Joining,    // signing in and joining
    Announced,  // the room's presence is in the directory's room
    Nowhere,    // signed in, but there is no address to announce
    Retrying,   // dropped or refused; signs in again soon
  };

  DirectoryAnnouncer() = default;
  ~DirectoryAnnouncer() { close(); }
  DirectoryAnnouncer(const DirectoryAnnouncer&) = delete;
  DirectoryAnnouncer& operator=(const DirectoryAnnouncer&) = delete;

  // Starts announcing room (see update) in server's directory. With a
  // desk, the announcer also asks the server for its relay (and again when
  // the desk wants it), passes guests' permission requests to the desk and
  // the desk's grants back to the guests.
  void open(const DirectoryServer& server, const HostedRoom& room,
            std::shared_ptr<RelayDesk> desk = nullptr);
  bool isOpen() const { return work_ != nullptr; }
  // The room as it is now; a change goes out as a new presence (at most one
  // per kAnnouncerUpdateMs). Never waits.
  void update(const HostedRoom& room);
  State state() const;
  // Whether the current (or last) sign-in went over TLS.
  bool secured() const;
  // Why the last sign-in ended or failed (empty when none did).
  std::string lastFailure() const;
  // Leaves the directory's room and signs out, without waiting: the worker
  // finishes by itself within kAnnouncerLeaveLimitMs.
  void close();

 private:
  std::shared_ptr<DirectoryWork> work_;
  platform::Worker worker_;
  HostedRoom last_;
};

}  // namespace internet
