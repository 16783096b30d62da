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

#include "net/wire.h"
#include "platform/net_socket.h"
#include "records/records.h"

namespace net {

// The most rooms one refresh asks (the room list's length).
inline constexpr size_t kMaxRefreshRooms = 100;

class RoomRefresh {
 public:
  RoomRefresh() = default;
  RoomRefresh(const RoomRefresh&) = delete;
  RoomRefresh& operator=(const RoomRefresh&) = delete;

  // Starts asking each room of rooms[0..count) that has a host (the first
  // kMaxRefreshRooms of them); answerMs is how long a room that took the
  // connection has to answer. Whatever an earlier refresh still had open is
  // dropped.
  void start(const RoomRecord* rooms, size_t count, uint32_t answerMs);
  // Advances every query without waiting. True once every room has
  // answered or given up (at once when none was asked).
  bool step();
  bool running() const { return running_; }
  // Drops every query still open.
  void cancel();
  // After the refresh: whether room i answered with a whole record, and
  // that record, with the room's own host address kept.
  bool answered(size_t i) const;
  const RoomRecord& answer(size_t i) const;

 private:
  enum class Stage : uint8_t { Unasked, LookingUp, Connecting, Waiting, Answered, GaveUp };

  struct Query {
    Stage stage = Stage::Unasked;
    platform::HostLookup lookup;
    platform::LookupAnswer addresses;  // to try in turn, once looked up
    size_t nextAddress = 0;
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

  std::unique_ptr<Query[]> queries_;
  size_t count_ = 0;
  uint32_t answerMs_ = 0;
  bool running_ = false;
};

// Asks one room and waits for the outcome: true with room become the host's
// record (its own hostAddress kept) on a whole answer; false with room left
// as it was on anything else (no answer in time, a short answer, a closed
// connection). The answer is waited for polls x delayMs. Failures to look up
// or connect print "SDLNet_ResolveHost: %s\n" / "SDLNet_TCP_Open: %s\n" on
// standard error; 0.0.0.0 and 255.255.255.255 are refused as unreachable.
bool queryRoom(RoomRecord& room, uint8_t polls, uint32_t delayMs);

}  // namespace net
