#include "net/room_query.h"

#include <SDL.h>

#include <array>
#include <cstring>

#include "net/net_link.h"
#include "net/protocol.h"

namespace net {

namespace {

// True once ms have passed since start (unsigned arithmetic keeps it right
// across the wrap of the tick count).
bool elapsed(uint32_t now, uint32_t start, uint32_t ms) { return now - start >= ms; }

}  // namespace

void RoomRefresh::start(const RoomRecord* rooms, size_t count, uint32_t answerMs) {
  cancel();
  if (count > kMaxRefreshRooms) count = kMaxRefreshRooms;
  queries_ = std::make_unique<Query[]>(count);
  count_ = count;
  answerMs_ = answerMs;
  const uint32_t now = SDL_GetTicks();
  for (size_t i = 0; i < count; ++i) {
    Query& query = queries_[i];
    query.room = rooms[i];
    terminateField(query.room.hostAddress);
    if (query.room.hostAddress[0] == '\0') continue;  // no host: never asked
    query.port = query.room.port;
    query.lookup.start(query.room.hostAddress.data());
    query.stage = Stage::LookingUp;
    query.stageStart = now;
  }
  running_ = true;
}

void RoomRefresh::cancel() {
  queries_.reset();
  count_ = 0;
  running_ = false;
}

// One readiness poll for every connection under way, then each query moves
// on as far as it can without waiting.
bool RoomRefresh::step() {
  if (!running_) return true;
  const uint32_t now = SDL_GetTicks();
  std::array<platform::PollItem, kMaxRefreshRooms> items{};
  for (size_t i = 0; i < count_; ++i) {
    const Query& query = queries_[i];
    if (query.stage != Stage::Connecting && query.stage != Stage::Waiting) continue;
    items[i].socket = &query.socket;
    items[i].wantWrite = query.stage == Stage::Connecting;
  }
  platform::pollSockets(items.data(), count_, 0);
  running_ = false;
  for (size_t i = 0; i < count_; ++i) {
    Query& query = queries_[i];
    if (query.stage == Stage::LookingUp) lookUp(query, now);
    if (query.stage == Stage::Connecting) {
      connect(query, items[i].writable, now);
    } else if (query.stage == Stage::Waiting) {
      converse(query, now);
    }
    running_ = running_ || query.stage == Stage::LookingUp || query.stage == Stage::Connecting ||
               query.stage == Stage::Waiting;
  }
  return !running_;
}

// The lookup gives up by itself (platform::kLookupLimitMs); a lookup still
// queued behind others that are being answered waits its turn.
void RoomRefresh::lookUp(Query& query, uint32_t now) {
  const platform::Lookup result = query.lookup.result(query.addresses);
  if (result == platform::Lookup::Pending) return;
  query.lookup.abandon();
  if (!acceptRoomAddresses(query.room.hostAddress.data(), result, query.addresses, query.port)) {
    giveUp(query);
    return;
  }
  query.nextAddress = 0;
  query.stageStart = now;
  if (!connectNext(query)) {
    printConnectError();
    giveUp(query);
    return;
  }
  query.stage = Stage::Connecting;
}

bool RoomRefresh::connectNext(Query& query) {
  while (query.nextAddress < query.addresses.count) {
    query.socket = platform::startConnect(query.addresses.addresses[query.nextAddress++]);
    if (query.socket.valid()) return true;
  }
  return false;
}

// A connection that fails moves on to the room's next address while the
// room's time to connect lasts. One that is made is sent the query at once,
// so the host never sees it silent.
void RoomRefresh::connect(Query& query, bool writable, uint32_t now) {
  if (writable) {
    switch (platform::connectState(query.socket, 0)) {
      case platform::ConnectState::Connected:
        query.stage = Stage::Waiting;
        query.stageStart = now;
        converse(query, now);
        return;
      case platform::ConnectState::Failed:
        if (!elapsed(now, query.stageStart, kConnectTimeoutMs) && connectNext(query)) return;
        printConnectError();
        giveUp(query);
        return;
      case platform::ConnectState::Pending:
        break;
    }
  }
  if (elapsed(now, query.stageStart, kConnectTimeoutMs)) {
    printConnectError(kNoConnectAnswer);
    giveUp(query);
  }
}

// Sends the query (a new connection takes three bytes at once; what it does
// not take is sent next step), then collects the answer across as many
// receives as it takes, until the room's time to answer is up.
void RoomRefresh::converse(Query& query, uint32_t now) {
  if (elapsed(now, query.stageStart, answerMs_)) {
    giveUp(query);
    return;
  }
  if (query.sent < sizeof kRoomQueryBytes) {
    const int sent = platform::sendSome(query.socket, kRoomQueryBytes + query.sent,
                                        sizeof kRoomQueryBytes - query.sent);
    if (sent < 0) {
      giveUp(query);
      return;
    }
    query.sent += static_cast<size_t>(sent);
  }
  const int got = platform::receiveSome(query.socket, query.bytes.data() + query.received,
                                        query.bytes.size() - query.received);
  if (got < 0) {
    giveUp(query);  // closed or failed: whatever came is all there is
    return;
  }
  query.received += static_cast<size_t>(got);
  if (query.received < query.bytes.size()) return;
  // The received bytes overwrite the whole record, port included; the
  // room's own host is kept.
  const std::array<char, kHostAddressSize> host = query.room.hostAddress;
  readRoomRecord(query.bytes, query.room);
  query.room.hostAddress = host;
  query.socket.close();
  query.stage = Stage::Answered;
}

void RoomRefresh::giveUp(Query& query) {
  query.lookup.abandon();
  query.socket.close();
  query.stage = Stage::GaveUp;
}

bool RoomRefresh::answered(size_t i) const {
  return i < count_ && queries_[i].stage == Stage::Answered;
}

const RoomRecord& RoomRefresh::answer(size_t i) const { return queries_[i].room; }

bool queryRoom(RoomRecord& room, uint8_t polls, uint32_t delayMs) {
  RoomRefresh refresh;
  refresh.start(&room, 1, static_cast<uint32_t>(polls) * delayMs);
  while (!refresh.step()) SDL_Delay(delayMs > 0 ? delayMs : 1);
  if (!refresh.answered(0)) return false;
  room = refresh.answer(0);
  return true;
}

}  // namespace net
