// The client half of the room query: one connection per listed room that
// sends 00 00 00 and collects the host's 712-byte RoomRecord. A refresh asks
// every room at once and is stepped once per frame without waiting, so a
// silent or unreachable room delays nobody but itself: each room has its
// own bounded time to be looked up (kLookupTimeoutMs), to take the
// connection (kConnectTimeoutMs, its host's addresses tried side by side:
// net/connect_attempt.h) and to answer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/connect_attempt.h"
#include "net/discovery.h"
#include "net/wire.h"
#include "platform/net_socket.h"
#include "records/records.h"

namespace net {

// The most rooms one refresh asks (the room list's length), listed and found
// together.
inline constexpr size_t kMaxRefreshRooms = 100;
// The most rooms a refresh takes from elsewhere (a room directory) besides.
inline constexpr size_t kMaxAnnouncedRooms = 100;

// A room found elsewhere, to be asked: the endpoints to try, each with its
// port, all of them one machine; and the instance its host gave (the local
// network search's, net/discovery.h), so that a room found twice is shown
// once.
struct AnnouncedRoom {
  platform::LookupAnswer endpoints;
  uint32_t instance = 0;
};

// Rooms a refresh asks besides the listed and found ones, from a source that
// works beside the frame loop (a room directory, internet/directory.h): the
// refresh polls it each step and never waits for it.
class RoomSource {
 public:
  enum class State : uint8_t { Idle, Asking, Done, Failed };
  virtual ~RoomSource() = default;
  // Where the source stands, without waiting; Asking for a bounded time.
  virtual State poll() = 0;
  // Done: the rooms to ask, handed over once.
  virtual std::vector<AnnouncedRoom> takeRooms() = 0;
  // Done or Failed: one line for the console (what was found, or why
  // nothing was).
  virtual const std::string& outcome() const = 0;
  // Drops whatever the source still has open; Idle again.
  virtual void cancel() = 0;
};
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
  // After start: takes rooms from source too (started by the caller, who
  // keeps it alive while the refresh runs). The rooms it gives are asked
  // after the listed and found ones, exactly as those are, each address and
  // port once in the refresh; the refresh runs while the source is Asking.
  void browse(RoomSource* source);
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
  // and port that answered). Each listed room that answered counts, however
  // often the same room is listed. A room from any other source (the search,
  // the directory) counts as not answered when a room before it that
  // answered is the same room, so it is shown once: see sameRoom.
  bool answered(size_t i) const;
  const RoomRecord& answer(size_t i) const;

 private:
  enum class Stage : uint8_t { Unasked, LookingUp, Connecting, Waiting, Answered, GaveUp };

  struct Query {
    Stage stage = Stage::Unasked;
    platform::HostLookup lookup;
    platform::LookupAnswer addresses;  // the host's, once looked up: all of them one machine
    ConnectAttempt attempt;
    platform::Address connected;  // the address that took the connection
    uint32_t instance = 0;        // found and announced rooms: the host's instance
    bool announced = false;       // from the directory: its addresses carry their ports
    platform::Socket socket;      // once connected
    uint32_t stageStart = 0;      // SDL_GetTicks when this stage began
    uint16_t port = 0;
    size_t sent = 0;      // bytes of the query the connection took
    size_t received = 0;  // bytes of the answer so far
    RoomBytes bytes{};
    RoomRecord room;                  // the listed room; its host's record once answered
    mutable int8_t thisMachine = -1;  // its host is this machine: 1, 0, or -1 not known yet
  };

  void lookUp(Query& query, uint32_t now);
  void connect(Query& query, uint32_t now);
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
  // Two queries ask the same room: the same port of the same machine. The
  // addresses a query's host was looked up to (and the one it connected to)
  // are all one machine; two machines are the same when they share an
  // address, or when both are this machine (an address of loopback or of
  // one of its interfaces). An announced room is the same as another when
  // they share an address and port, and as a room the search found when it
  // carries that room's instance (the search answers from the local
  // network; an announcement from anywhere, so it never hides another
  // announcement by its instance).
  bool sameRoom(const Query& a, const Query& b) const;
  bool onThisMachine(const Query& query) const;
  bool isThisMachine(const platform::Address& address) const;
  void readOwnAddresses() const;

  std::unique_ptr<Query[]> queries_;
  size_t count_ = 0;   // queries in use
  size_t listed_ = 0;  // of which the listed rooms
  uint32_t answerMs_ = 0;
  bool running_ = false;
  RoomSearch search_;
  uint32_t searchStart_ = 0;
  RoomSource* directory_ = nullptr;
  std::vector<AnnouncedRoom> announced_;  // chosen, not asked yet
  size_t announcedNext_ = 0;
  // This machine's own addresses: read when a search starts, or when first
  // needed.
  static constexpr size_t kMaxOwnAddresses = 64;
  mutable std::array<platform::Address, kMaxOwnAddresses> own_{};
  mutable size_t ownCount_ = 0;
  mutable bool ownKnown_ = false;
};

// Asks one room and waits for the outcome: true with room become the host's
// record (its own hostAddress kept) on a whole answer; false with room left
// as it was on anything else (no answer in time, a short answer, a closed
// connection). The answer is waited for polls x delayMs. Failures to look up
// or connect print "SDLNet_ResolveHost: %s\n" / "SDLNet_TCP_Open: %s\n" on
// standard error; 0.0.0.0 and 255.255.255.255 are refused as unreachable.
bool queryRoom(RoomRecord& room, uint8_t polls, uint32_t delayMs);

}  // namespace net
