// The client half of the room query: one connection per listed room that
// sends 00 00 00 and collects the host's 712-byte RoomRecord. A refresh asks
// every room at once and is stepped once per frame without waiting, so a
// silent or unreachable room delays nobody but itself: each room has its
// own bounded time to be looked up (kLookupTimeoutMs), to take the
// connection (kConnectTimeoutMs) and to answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/directory.h"
#include "net/discovery.h"
#include "net/wire.h"
#include "platform/net_socket.h"
#include "records/records.h"

namespace net {

// The most rooms one refresh asks (the room list's length), listed and found
// together.
inline constexpr size_t kMaxRefreshRooms = 100;
// Queries one refresh holds: the listed and found rooms, and up to
// kMaxAnnouncedRooms rooms of a room directory besides.
inline constexpr size_t kMaxRefreshQueries = kMaxRefreshRooms + kMaxAnnouncedRooms;
// Announced rooms a refresh starts asking per step, so that a directory's
// long list costs a bounded amount of work per frame.
inline constexpr size_t kAnnouncedPerStep = 25;
// How long a refresh that searches the local network takes answers to its
// request; the rooms that answered are then asked like listed ones.
inline constexpr uint32_t kSearchWindowMs = 500;

class RoomRefresh {
 public:
  RoomRefresh() = default;
  RoomRefresh(const RoomRefresh&) = delete;
  RoomRefresh& operator=(const RoomRefresh&) = delete;

  // Starts asking each room of rooms[0..count) that has a host (the first
  // kMaxRefreshRooms of them); answerMs is how long a room that took the
  // connection has to answer. With searchLocal, the rooms of the local
  // network are searched for too, and each one found is asked after the
  // listed ones (while fewer than kMaxRefreshRooms are asked). Whatever an
  // earlier refresh still had open is dropped.
  void start(const RoomRecord* rooms, size_t count, uint32_t answerMs, bool searchLocal = false);
  // After start: asks the room directory too (net/directory.h; nothing for
  // a server that is not configured). The rooms it chooses are asked after
  // the listed and found ones, exactly as those are, each address and port
  // once in the refresh; the refresh waits for the directory at most
  // kDirectoryLimitMs.
  void browse(const DirectoryServer& directory);
  // Advances every query without waiting. True once every room has
  // answered or given up (at once when none was asked).
  bool step();
  bool running() const { return running_; }
  // Drops every query still open.
  void cancel();
  // The rooms asked: the listed ones (as given to start), then those the
  // search found, in the order their hosts answered it, then those the
  // directory announced.
  size_t size() const { return count_; }
  // After the refresh: whether room i answered with a whole record, and
  // that record, with the room's own host address kept (for a room found
  // by the search, its address as text; for an announced one, the address
  // and port that answered). A found or announced room that a room before
  // it answered for over the same address and port (or, found and
  // announced, with the same instance) counts as not answered, so it is
  // shown once.
  bool answered(size_t i) const;
  const RoomRecord& answer(size_t i) const;

 private:
  enum class Stage : uint8_t { Unasked, LookingUp, Connecting, Waiting, Answered, GaveUp };

  struct Query {
    Stage stage = Stage::Unasked;
    platform::HostLookup lookup;
    platform::LookupAnswer addresses;  // to try in turn, once looked up
    size_t nextAddress = 0;
    platform::Address connected;  // the address that took the connection
    uint32_t instance = 0;        // found and announced rooms: the host's instance
    bool announced = false;       // from the directory
    platform::Socket socket;
    uint32_t stageStart = 0;  // SDL_GetTicks when this stage began
    uint16_t port = 0;
    size_t sent = 0;      // bytes of the query the connection took
    size_t received = 0;  // bytes of the answer so far
    RoomBytes bytes{};
    RoomRecord room;  // the listed room; its host's record once answered
  };

  void lookUp(Query& query, uint32_t now);
  // Starts a connection to the query's next address; false when none is
  // left that could be started.
  bool connectNext(Query& query);
  void connect(Query& query, bool writable, uint32_t now);
  void converse(Query& query, uint32_t now);
  static void giveUp(Query& query);
  // Takes the answers to the search that are waiting; closes it when its
  // window is over.
  void collectFound(uint32_t now);
  void addFound(const platform::Address& address, uint32_t instance, uint32_t now);
  // Takes what the directory chose, a few rooms per step.
  void collectAnnounced(uint32_t now);
  void addAnnounced(const AnnouncedRoom& room, uint32_t now);
  // Whether a query of the refresh already asks this address and port.
  bool asking(const platform::Address& endpoint) const;

  std::unique_ptr<Query[]> queries_;
  size_t count_ = 0;   // queries in use
  size_t listed_ = 0;  // of which the listed rooms
  uint32_t answerMs_ = 0;
  bool running_ = false;
  RoomSearch search_;
  uint32_t searchStart_ = 0;
  DirectoryBrowse directory_;
  std::vector<AnnouncedRoom> announced_;  // chosen, not asked yet
  size_t announcedNext_ = 0;
};

// Asks one room and waits for the outcome: true with room become the host's
// record (its own hostAddress kept) on a whole answer; false with room left
// as it was on anything else (no answer in time, a short answer, a closed
// connection). The answer is waited for polls x delayMs. Failures to look up
// or connect print "SDLNet_ResolveHost: %s\n" / "SDLNet_TCP_Open: %s\n" on
// standard error; 0.0.0.0 and 255.255.255.255 are refused as unreachable.
bool queryRoom(RoomRecord& room, uint8_t polls, uint32_t delayMs);

}  // namespace net
