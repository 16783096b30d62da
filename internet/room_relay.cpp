#include "internet/room_relay.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "internet/address_policy.h"
#include "internet/relay_link.h"

namespace internet {

struct RoomRelay::Work {
  std::mutex mutex;
  Status status;
};

void RelayDesk::putOffer(const RelayOffer& offer) {
  const std::lock_guard<std::mutex> lock(mutex_);
  offered_ = Offered::Some;
  offer_ = offer;
}

void RelayDesk::putNoOffer() {
  const std::lock_guard<std::mutex> lock(mutex_);
  offered_ = Offered::None;
}

bool RelayDesk::takeOfferWanted() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(offerWanted_, false);
}

void RelayDesk::request(const PermitRequest& request) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (requests_.size() < kMaxDeskRequests) {
    requests_.push_back(request);
  } else {
    ++dropped_;
  }
}

bool RelayDesk::takeGrant(PermitRequest& grant) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (grants_.empty()) return false;
  grant = std::move(grants_.front());
  grants_.pop_front();
  return true;
}

RelayDesk::Offered RelayDesk::offer(RelayOffer& offer) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (offered_ == Offered::Some) offer = offer_;
  return offered_;
}

void RelayDesk::wantOffer() {
  const std::lock_guard<std::mutex> lock(mutex_);
  offerWanted_ = true;
}

bool RelayDesk::takeRequest(PermitRequest& request) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (requests_.empty()) return false;
  request = std::move(requests_.front());
  requests_.pop_front();
  return true;
}

void RelayDesk::grant(const PermitRequest& grant) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (grants_.size() < kMaxDeskRequests) grants_.push_back(grant);
}

size_t RelayDesk::dropped() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

namespace {

// Longest wait of one turn of the worker's loop.
constexpr uint32_t kTurnMs = 20;
constexpr int kReadsPerTurn = 16;
constexpr size_t kReadSize = 4096;
// What may wait to be sent to the relay's server on the control connection.
constexpr size_t kMaxUnsent = 64 * 1024;
// A bridge one of whose sides has ended passes on what it still holds for
// the other side, for this long at most.
constexpr uint64_t kDrainMs = 1000;
// Askers of one address told of its grant, at most.
constexpr size_t kMaxWaiting = 4;
constexpr uint64_t kMinuteMs = 60000;

bool sameHost(const platform::Address& a, const platform::Address& b) {
  const size_t size = a.family == platform::Family::V4 ? 4 : 16;
  return a.family == b.family && std::memcmp(a.bytes.data(), b.bytes.data(), size) == 0;
}

// One guest's connection through the relay: the data connection to the
// relay's server and the local one to the room.
struct Bridge {
  enum class Stage : uint8_t { Connecting, Binding, Joining, Open, Draining, Closed };
  Stage stage = Stage::Connecting;
  platform::Socket relay;
  platform::Socket room;
  std::unique_ptr<turn::Bind> bind;
  platform::Address peer;
  std::string toRoom;
  std::string toRelay;
  uint64_t stageAt = 0;
};

struct Permission {
  platform::Address address;  // port 0
  bool granted = false;
  uint64_t askedAt = 0;
  std::vector<std::string> waiting;  // askers to tell of the grant
};

class Relay {
 public:
  Relay(RelayOffer offer, uint16_t roomPort, std::shared_ptr<RelayDesk> desk,
        std::shared_ptr<RoomRelay::Work> work, uint32_t seed)
      : offer_(std::move(offer)),
        roomPort_(roomPort),
        desk_(std::move(desk)),
        work_(std::move(work)),
        random_(seed),
        control_(offer_.credentials, seed) {}

  void run(const platform::StopToken& token) {
    if (reach(token)) converse(token);
    if (token.stopRequested()) release();
    for (Bridge& bridge : bridges_) close(bridge);
    publish();
  }

 private:
  // The relay's server looked up and connected to, within its bound.
  bool reach(const platform::StopToken& token) {
    ServerConnection server;
    server.start(offer_.host, offer_.port, kRelayConnectLimitMs);
    for (;;) {
      const ServerConnection::State state = server.step();
      if (state == ServerConnection::State::Connected) break;
      if (state == ServerConnection::State::Failed) {
        fail("its server is not reached: " + server.failure());
        return false;
      }
      if (token.stopRequested()) return false;
      if (server.socket().valid()) {
        platform::PollItem item{&server.socket(), true};
        platform::pollSockets(&item, 1, kTurnMs);
      } else {
        token.sleepFor(kTurnMs);
      }
    }
    server_ = server.address();
    socket_ = server.take();
    allowance_ = static_cast<double>(kRelayBytesMax);
    allowanceAt_ = relayClockMs();
    control_.start(allowanceAt_);
    return true;
  }

  void converse(const platform::StopToken& token) {
    while (!token.stopRequested() && !failed_) {
      waitForSockets();
      const uint64_t now = relayClockMs();
      readControl(now);
      control_.tick(now);
      if (control_.state() == turn::Control::State::Failed) {
        fail(control_.failure());
        return;
      }
      if (control_.state() == turn::Control::State::Allocated) {
        takeAttempts(now);
        takeRequests(now);
        takePermits();
        forgetIdle(now);
      }
      for (Bridge& bridge : bridges_) step(bridge, now);
      bridges_.erase(std::remove_if(bridges_.begin(), bridges_.end(),
                                    [](const Bridge& b) { return b.stage == Bridge::Stage::Closed; }),
                     bridges_.end());
      flushControl();
      publish();
    }
  }

  // Waits at most one turn for any of the sockets.
  void waitForSockets() {
    std::vector<platform::PollItem> items;
    items.push_back(platform::PollItem{&socket_});
    for (const Bridge& bridge : bridges_) {
      items.push_back(platform::PollItem{&bridge.relay, bridge.stage == Bridge::Stage::Connecting});
      if (bridge.room.valid())
        items.push_back(platform::PollItem{&bridge.room, bridge.stage == Bridge::Stage::Joining});
    }
    platform::pollSockets(items.data(), items.size(), kTurnMs);
  }

  bool spend(size_t bytes, uint64_t now) {
    allowance_ = std::min(static_cast<double>(kRelayBytesMax),
                          allowance_ + static_cast<double>(kRelayBytesPerSecond) *
                                           static_cast<double>(now - allowanceAt_) / 1000.0);
    allowanceAt_ = now;
    bytesRead_ += bytes;
    if (static_cast<double>(bytes) > allowance_) return false;
    allowance_ -= static_cast<double>(bytes);
    return true;
  }

  void readControl(uint64_t now) {
    for (int reads = 0; reads < kReadsPerTurn && !failed_; ++reads) {
      uint8_t buffer[kReadSize];
      const int got = platform::receiveSome(socket_, buffer, sizeof buffer);
      if (got == 0) return;
      if (got < 0) {
        fail("its server closed the connection");
        return;
      }
      if (!spend(static_cast<size_t>(got), now)) {
        fail("its server sent more than a relay's server may (" +
             std::to_string(bytesRead_ / 1024) + " KiB)");
        return;
      }
      control_.receive(buffer, static_cast<size_t>(got), now);
      if (control_.state() == turn::Control::State::Failed) return;
    }
  }

  void flushControl() {
    if (failed_) return;
    control_.takeOutgoing(toControl_);
    if (toControl_.size() > kMaxUnsent) {
      fail("its server reads nothing we send");
      return;
    }
    if (!platform::sendPending(socket_, toControl_)) fail("its server closed the connection");
  }

  // Guests that connected to the relayed address: a data connection each,
  // while there is room for it.
  void takeAttempts(uint64_t now) {
    turn::Control::Attempt attempt;
    while (control_.takeAttempt(attempt)) {
      if (bridges_.size() >= kMaxBridges) continue;  // the server gives it up
      Bridge bridge;
      bridge.peer = attempt.peer;
      bridge.stageAt = now;
      bridge.bind = std::make_unique<turn::Bind>(offer_.credentials, control_.auth(),
                                                 attempt.connectionId, random_());
      bridge.relay = platform::startConnect(server_);
      if (!bridge.relay.valid()) continue;
      bridges_.push_back(std::move(bridge));
    }
  }

  size_t askedLastMinute(const std::string& from, uint64_t now) {
    while (!recent_.empty() && now - recent_.front().second >= kMinuteMs) recent_.pop_front();
    return static_cast<size_t>(std::count_if(recent_.begin(), recent_.end(),
                                             [&from](const auto& r) { return r.first == from; }));
  }

  // A request is granted at once for an address already let through, asked
  // of the server for a new one within the limits, refused otherwise.
  void takeRequests(uint64_t now) {
    PermitRequest request;
    while (desk_->takeRequest(request)) {
      platform::Address address = request.address;
      address.port = 0;
      address.scope = 0;
      const bool allowed = address.family == control_.relayed().family &&
                           classifyAddress(address) == AddressKind::Public;
      const auto known = std::find_if(permissions_.begin(), permissions_.end(),
                                      [&address](const Permission& p) {
                                        return sameHost(p.address, address);
                                      });
      if (allowed && known != permissions_.end()) {
        known->askedAt = now;
        if (known->granted) {
          desk_->grant(request);
        } else if (known->waiting.size() < kMaxWaiting) {
          known->waiting.push_back(request.from);
        }
        continue;
      }
      const size_t fromAsker = askedLastMinute(request.from, now);
      if (!allowed || permissions_.size() >= kMaxPermissions ||
          recent_.size() >= kPermitsPerMinute || fromAsker >= kPermitsPerGuestPerMinute ||
          !control_.permit(address, now)) {
        ++refused_;
        continue;
      }
      recent_.emplace_back(request.from, now);
      permissions_.push_back(Permission{address, false, now, {request.from}});
    }
  }

  void takePermits() {
    turn::Control::Permit permit;
    while (control_.takePermit(permit)) {
      const auto it = std::find_if(permissions_.begin(), permissions_.end(),
                                   [&permit](const Permission& p) {
                                     return sameHost(p.address, permit.peer);
                                   });
      if (it == permissions_.end()) continue;
      if (!permit.granted) {
        refused_ += it->waiting.size();
        control_.forget(it->address);
        permissions_.erase(it);
        continue;
      }
      if (!it->granted) ++granted_;
      it->granted = true;
      for (const std::string& asker : it->waiting) desk_->grant(PermitRequest{asker, it->address});
      it->waiting.clear();
    }
  }

  // An address nobody is connected from and nobody asked for lately is no
  // longer renewed (the server lets it run out).
  void forgetIdle(uint64_t now) {
    for (auto it = permissions_.begin(); it != permissions_.end();) {
      const bool inUse = std::any_of(bridges_.begin(), bridges_.end(), [&it](const Bridge& b) {
        return sameHost(b.peer, it->address);
      });
      if (it->granted && !inUse && now - it->askedAt >= kPermitKeepMs) {
        control_.forget(it->address);
        it = permissions_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void close(Bridge& bridge) {
    bridge.relay.close();
    bridge.room.close();
    bridge.stage = Bridge::Stage::Closed;
  }

  // Reads what side `from` has for the other into buffer while it has
  // room; false once that side has ended.
  static bool readInto(const platform::Socket& from, std::string& buffer) {
    for (int reads = 0; reads < kReadsPerTurn && buffer.size() < kBridgeBufferBytes; ++reads) {
      char chunk[kReadSize];
      const size_t room = std::min(sizeof chunk, kBridgeBufferBytes - buffer.size());
      const int got = platform::receiveSome(from, chunk, room);
      if (got < 0) return false;
      if (got == 0) break;
      buffer.append(chunk, static_cast<size_t>(got));
    }
    return true;
  }

  // Whether a connection the bridge started is made; the bridge is closed
  // when it failed or is not made within the answer's limit.
  bool connected(Bridge& bridge, const platform::Socket& socket, uint64_t now) {
    switch (platform::connectState(socket, 0)) {
      case platform::ConnectState::Connected:
        return true;
      case platform::ConnectState::Failed:
        close(bridge);
        return false;
      case platform::ConnectState::Pending:
        if (now - bridge.stageAt >= turn::kAnswerLimitMs) close(bridge);
        return false;
    }
    return false;
  }

  void step(Bridge& bridge, uint64_t now) {
    switch (bridge.stage) {
      case Bridge::Stage::Connecting:
        if (!connected(bridge, bridge.relay, now)) return;
        bridge.bind->start(now);
        bridge.stage = Bridge::Stage::Binding;
        [[fallthrough]];
      case Bridge::Stage::Binding:
        bind(bridge, now);
        return;
      case Bridge::Stage::Joining:
        if (!connected(bridge, bridge.room, now)) return;
        bridge.stage = Bridge::Stage::Open;
        [[fallthrough]];
      case Bridge::Stage::Open: {
        const bool guestOn = readInto(bridge.relay, bridge.toRoom);
        const bool roomOn = readInto(bridge.room, bridge.toRelay);
        const bool sent = platform::sendPending(bridge.room, bridge.toRoom) &&
                          platform::sendPending(bridge.relay, bridge.toRelay);
        if (!guestOn || !roomOn || !sent) {
          bridge.stage = Bridge::Stage::Draining;
          bridge.stageAt = now;
        }
        if (bridge.stage == Bridge::Stage::Open) return;
        [[fallthrough]];
      }
      case Bridge::Stage::Draining: {
        // What one side sent before it ended still reaches the other.
        const bool sent = platform::sendPending(bridge.room, bridge.toRoom) &&
                          platform::sendPending(bridge.relay, bridge.toRelay);
        if (!sent || (bridge.toRoom.empty() && bridge.toRelay.empty()) ||
            now - bridge.stageAt >= kDrainMs) {
          close(bridge);
        }
        return;
      }
      case Bridge::Stage::Closed:
        return;
    }
  }

  void bind(Bridge& bridge, uint64_t now) {
    std::string out;
    bridge.bind->takeOutgoing(out);
    bridge.toRelay += out;
    if (!platform::sendPending(bridge.relay, bridge.toRelay)) {
      close(bridge);
      return;
    }
    uint8_t buffer[kReadSize];
    const int got = platform::receiveSome(bridge.relay, buffer, sizeof buffer);
    if (got < 0) {
      close(bridge);
      return;
    }
    size_t used = 0;
    bridge.bind->receive(buffer, static_cast<size_t>(got), &used, now);
    bridge.bind->tick(now);
    if (bridge.bind->state() == turn::Bind::State::Failed) {
      close(bridge);
      return;
    }
    if (bridge.bind->state() != turn::Bind::State::Bound) return;
    // The guest's first bytes may have come with the bind's success.
    bridge.toRoom.assign(reinterpret_cast<const char*>(buffer) + used,
                         static_cast<size_t>(got) - used);
    bridge.bind.reset();
    bridge.room = platform::startConnect(platform::Address::v4(0x7F000001, roomPort_));
    bridge.stage = Bridge::Stage::Joining;
    bridge.stageAt = now;
    if (!bridge.room.valid()) close(bridge);
  }

  // The room closed: the allocation ends at once rather than when its
  // lifetime runs out (the answer waited for a short while).
  void release() {
    if (failed_ || control_.state() != turn::Control::State::Allocated) return;
    const uint64_t until = relayClockMs() + kRelayReleaseLimitMs;
    control_.release(relayClockMs());
    flushControl();
    while (!failed_ && relayClockMs() < until &&
           control_.state() == turn::Control::State::Released) {
      platform::PollItem item{&socket_};
      platform::pollSockets(&item, 1, kTurnMs);
      readControl(relayClockMs());
      if (control_.idle()) break;  // answered
    }
  }

  void fail(const std::string& why) {
    if (failed_) return;
    failed_ = true;
    failure_ = why;
    socket_.close();
  }

  void publish() {
    RoomRelay::Status status;
    const bool allocated = control_.state() == turn::Control::State::Allocated && !failed_;
    status.state = failed_ ? RoomRelay::State::Failed
                   : allocated ? RoomRelay::State::Relayed
                               : RoomRelay::State::Allocating;
    if (allocated) status.relayed = control_.relayed();
    wasRelayed_ = wasRelayed_ || allocated;
    status.wasRelayed = wasRelayed_;
    status.failure = failure_;
    status.bridges = bridges_.size();
    status.granted = granted_;
    status.refused = refused_ + desk_->dropped();
    const std::lock_guard<std::mutex> lock(work_->mutex);
    work_->status = status;
  }

  RelayOffer offer_;
  uint16_t roomPort_;
  std::shared_ptr<RelayDesk> desk_;
  std::shared_ptr<RoomRelay::Work> work_;
  std::mt19937 random_;
  turn::Control control_;
  platform::Address server_;
  platform::Socket socket_;
  std::string toControl_;
  double allowance_ = 0;
  uint64_t allowanceAt_ = 0;
  uint64_t bytesRead_ = 0;
  std::vector<Bridge> bridges_;
  std::vector<Permission> permissions_;
  std::deque<std::pair<std::string, uint64_t>> recent_;  // new permissions: asker, time
  size_t granted_ = 0;
  size_t refused_ = 0;
  bool failed_ = false;
  bool wasRelayed_ = false;
  std::string failure_;
};

}  // namespace

void RoomRelay::start(const RelayOffer& offer, uint16_t roomPort, std::shared_ptr<RelayDesk> desk) {
  stop();
  auto work = std::make_shared<Work>();
  work->status.state = State::Allocating;
  const uint32_t seed = std::random_device()() ^ static_cast<uint32_t>(relayClockMs());
  if (!worker_.start([work, offer, roomPort, desk, seed](const platform::StopToken& token) {
        Relay relay(offer, roomPort, desk, work, seed);
        relay.run(token);
      })) {
    work->status.state = State::Failed;
    work->status.failure = "no thread to run it on";
  }
  work_ = std::move(work);
}

void RoomRelay::stop() {
  worker_.release();
  work_.reset();
}

RoomRelay::Status RoomRelay::status() const {
  if (work_ == nullptr) return Status{};
  const std::lock_guard<std::mutex> lock(work_->mutex);
  return work_->status;
}

}  // namespace internet
