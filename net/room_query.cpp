#include "net/room_query.h"

#include <SDL.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "net/net_link.h"
#include "net/protocol.h"

namespace net {

namespace {

// True once ms have passed since start (unsigned arithmetic keeps it right
// across the wrap of the tick count).
bool elapsed(uint32_t now, uint32_t start, uint32_t ms) { return now - start >= ms; }

}  // namespace

void RoomRefresh::start(const RoomRecord* rooms, size_t count, uint32_t answerMs,
                        bool searchLocal) {
  cancel();
  if (count > kMaxRefreshRooms) count = kMaxRefreshRooms;
  queries_ = std::make_unique<Query[]>(kMaxRefreshQueries);
  count_ = listed_ = count;
  answerMs_ = answerMs;
  ownKnown_ = false;
  const uint32_t now = SDL_GetTicks();
  if (searchLocal && search_.start()) {
    searchStart_ = now;
    readOwnAddresses();  // the rooms found may be this machine's
  }
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
  count_ = listed_ = 0;
  running_ = false;
  search_.stop();
  if (directory_ != nullptr) directory_->cancel();
  directory_ = nullptr;
  announced_.clear();
  announcedNext_ = 0;
}

void RoomRefresh::browse(RoomSource* source) {
  if (!running_) return;
  directory_ = source;
}

// The directory's choice is taken once it is made; the rooms are asked a
// few per step after the listed and found ones, each address and port of
// the refresh once.
void RoomRefresh::collectAnnounced(uint32_t now) {
  const RoomSource::State state =
      directory_ != nullptr ? directory_->poll() : RoomSource::State::Idle;
  if (state == RoomSource::State::Asking) return;
  if (state == RoomSource::State::Failed) {
    std::fprintf(stderr, "directory: %s\n", directory_->outcome().c_str());
    directory_->cancel();
    directory_ = nullptr;
    return;
  }
  if (state == RoomSource::State::Done) {
    if (!directory_->outcome().empty())
      std::fprintf(stderr, "directory: %s\n", directory_->outcome().c_str());
    announced_ = directory_->takeRooms();
    announcedNext_ = 0;
    directory_->cancel();
    directory_ = nullptr;
  }
  for (size_t added = 0; added < kAnnouncedPerStep && announcedNext_ < announced_.size();
       ++added) {
    addAnnounced(announced_[announcedNext_++], now);
  }
}

bool RoomRefresh::asking(const platform::Address& endpoint) const {
  for (size_t i = 0; i < count_; ++i) {
    const Query& query = queries_[i];
    for (size_t j = 0; j < query.addresses.count; ++j) {
      platform::Address known = query.addresses.addresses[j];
      if (known.port == 0) known.port = query.port;
      if (known == endpoint) return true;
    }
  }
  return false;
}

void RoomRefresh::addAnnounced(const AnnouncedRoom& room, uint32_t now) {
  if (count_ == kMaxRefreshQueries) return;
  platform::LookupAnswer endpoints;
  for (size_t i = 0; i < room.endpoints.count; ++i) {
    if (!asking(room.endpoints.addresses[i])) {
      endpoints.addresses[endpoints.count++] = room.endpoints.addresses[i];
    }
  }
  if (endpoints.count == 0) return;
  Query& query = queries_[count_++];
  query.addresses = endpoints;
  const std::string text = platform::formatAddress(endpoints.addresses[0]);
  copyField(query.room.hostAddress, text.c_str());
  query.port = query.room.port = endpoints.addresses[0].port;
  query.instance = room.instance;
  query.announced = true;
  query.stageStart = now;
  query.attempt.start(query.addresses, kConnectTimeoutMs);
  query.stage =
      query.attempt.state() == ConnectAttempt::State::Failed ? Stage::GaveUp : Stage::Connecting;
}

void RoomRefresh::collectFound(uint32_t now) {
  if (!search_.isOpen()) return;
  search_.newStep();
  platform::Address address;
  uint32_t instance = 0;
  while (search_.next(address, instance)) addFound(address, instance, now);
  if (elapsed(now, searchStart_, kSearchWindowMs)) search_.stop();
}

// A host answers once per request it hears: on several interfaces, or
// through several of its addresses, it is still one room.
void RoomRefresh::addFound(const platform::Address& address, uint32_t instance, uint32_t now) {
  if (count_ == kMaxRefreshRooms) return;
  for (size_t i = listed_; i < count_; ++i) {
    const Query& other = queries_[i];
    if (other.instance == instance && other.port == address.port) return;
    if (other.addresses.count > 0 && other.addresses.addresses[0] == address) return;
  }
  Query& query = queries_[count_++];
  const std::string text = platform::formatAddress(address);
  copyField(query.room.hostAddress, text.c_str());
  query.room.port = address.port;
  query.port = address.port;
  query.instance = instance;
  query.addresses.addresses[0] = address;
  query.addresses.count = 1;
  query.stageStart = now;
  query.attempt.start(query.addresses, kConnectTimeoutMs);
  query.stage =
      query.attempt.state() == ConnectAttempt::State::Failed ? Stage::GaveUp : Stage::Connecting;
}

// Each query moves on as far as it can without waiting: a connection
// attempt looks at its own sockets; the connections made are read as they
// are.
bool RoomRefresh::step() {
  if (!running_) return true;
  const uint32_t now = SDL_GetTicks();
  collectFound(now);
  collectAnnounced(now);
  running_ = search_.isOpen() ||
             (directory_ != nullptr && directory_->poll() == RoomSource::State::Asking) ||
             announcedNext_ < announced_.size();
  for (size_t i = 0; i < count_; ++i) {
    Query& query = queries_[i];
    if (query.stage == Stage::LookingUp) lookUp(query, now);
    if (query.stage == Stage::Connecting) {
      connect(query, now);
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
  query.stageStart = now;
  query.attempt.start(query.addresses, kConnectTimeoutMs);
  if (query.attempt.state() == ConnectAttempt::State::Failed) {
    printConnectError(query.attempt.error());
    giveUp(query);
    return;
  }
  query.stage = Stage::Connecting;
}

// The room's addresses are tried side by side while its time to connect
// lasts. A connection that is made is sent the query at once, so the host
// never sees it silent.
void RoomRefresh::connect(Query& query, uint32_t now) {
  switch (query.attempt.step(0)) {
    case ConnectAttempt::State::Connected:
      query.socket = query.attempt.take();
      query.connected = query.attempt.address();
      query.stage = Stage::Waiting;
      query.stageStart = now;
      converse(query, now);
      return;
    case ConnectAttempt::State::Failed:
      printConnectError(query.attempt.error());
      giveUp(query);
      return;
    case ConnectAttempt::State::TimedOut:
      printConnectError(kNoConnectAnswer);
      giveUp(query);
      return;
    case ConnectAttempt::State::Pending:
    case ConnectAttempt::State::Idle:
      return;
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
  if (query.announced) {
    // The place that answered is where to join: the room's own port may
    // not be its router's.
    copyField(query.room.hostAddress, platform::formatAddress(query.connected).c_str());
    query.room.port = query.connected.port;
  }
  query.socket.close();
  query.stage = Stage::Answered;
}

void RoomRefresh::giveUp(Query& query) {
  query.lookup.abandon();
  query.attempt.cancel();
  query.socket.close();
  query.stage = Stage::GaveUp;
}

bool RoomRefresh::answered(size_t i) const {
  if (i >= count_ || queries_[i].stage != Stage::Answered) return false;
  if (i < listed_) return true;
  for (size_t j = 0; j < i; ++j) {
    if (queries_[j].stage == Stage::Answered && sameRoom(queries_[j], queries_[i])) return false;
  }
  return true;
}

namespace {

// The address as an IPv4 one when it is one in IPv6 form (::ffff:a.b.c.d).
platform::Address unmapped(const platform::Address& address) {
  static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (address.family != platform::Family::V6 ||
      std::memcmp(address.bytes.data(), kMapped, sizeof kMapped) != 0) {
    return address;
  }
  return platform::Address::v4(static_cast<uint32_t>(address.bytes[12]) << 24 |
                                   static_cast<uint32_t>(address.bytes[13]) << 16 |
                                   static_cast<uint32_t>(address.bytes[14]) << 8 |
                                   address.bytes[15],
                               address.port);
}

// The same host address, whatever the ports.
bool sameHost(const platform::Address& a, const platform::Address& b) {
  platform::Address x = unmapped(a);
  platform::Address y = unmapped(b);
  x.port = y.port = 0;
  // An address given without its interface is the same as with it.
  if (x.scope == 0 || y.scope == 0) x.scope = y.scope = 0;
  return x == y;
}

}  // namespace

void RoomRefresh::readOwnAddresses() const {
  ownCount_ = platform::localAddresses(own_.data(), own_.size());
  ownKnown_ = true;
}

bool RoomRefresh::isThisMachine(const platform::Address& address) const {
  if (platform::isLoopback(address)) return true;
  if (!ownKnown_) readOwnAddresses();
  for (size_t i = 0; i < ownCount_; ++i) {
    if (sameHost(own_[i], address)) return true;
  }
  return false;
}

namespace {

// Calls visit with each address of the query's machine: those its host was
// looked up to, and the one it connected to.
template <typename Query, typename Visit>
void eachAddress(const Query& query, const Visit& visit) {
  for (size_t i = 0; i < query.addresses.count; ++i) visit(query.addresses.addresses[i]);
  visit(query.connected);
}

}  // namespace

bool RoomRefresh::onThisMachine(const Query& query) const {
  if (query.thisMachine < 0) {
    bool here = false;
    eachAddress(query, [&](const platform::Address& x) { here = here || isThisMachine(x); });
    query.thisMachine = here ? 1 : 0;
  }
  return query.thisMachine == 1;
}

bool RoomRefresh::sameRoom(const Query& a, const Query& b) const {
  if (a.announced || b.announced) {
    const Query& announced = a.announced ? a : b;
    const Query& other = a.announced ? b : a;
    if (!other.announced && other.instance != 0 && other.instance == announced.instance) {
      return true;
    }
    bool shared = false;
    eachAddress(announced, [&](const platform::Address& x) {
      eachAddress(other, [&](platform::Address y) {
        if (y.port == 0) y.port = other.port;
        shared = shared || (sameHost(x, y) && x.port == y.port);
      });
    });
    return shared;
  }
  if (a.port != b.port) return false;
  bool shared = false;
  eachAddress(a, [&](const platform::Address& x) {
    eachAddress(b, [&](const platform::Address& y) { shared = shared || sameHost(x, y); });
  });
  return shared || (onThisMachine(a) && onThisMachine(b));
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
