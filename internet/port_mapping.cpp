#include "internet/port_mapping.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "internet/upnp_igd.h"

namespace internet {

namespace {

using Clock = std::chrono::steady_clock;

// External ports tried after the room's own is taken on the router.
constexpr int kOtherPorts = 4;
// UPnP errors: the external port is mapped to another machine; the router
// keeps only leases without end.
constexpr int kConflictInMappingEntry = 718;
constexpr int kOnlyPermanentLeases = 725;
// Time the removal has in stop(), out of kStopLimitMs.
constexpr uint32_t kRemoveLimitMs = 2500;

ReachNote noteOf(upnp::Outcome outcome) {
  switch (outcome) {
    case upnp::Outcome::NoAnswer:
      return ReachNote::NoAnswer;
    case upnp::Outcome::BadAnswer:
      return ReachNote::BadAnswer;
    case upnp::Outcome::Refused:
      return ReachNote::Refused;
    default:
      return ReachNote::NoRouter;
  }
}

}  // namespace

struct PortMapping::Shared {
  mutable std::mutex mutex;
  std::condition_variable wake;  // stop was raised
  std::condition_variable ended;
  Reachability state;  // guarded by mutex
  bool workerEnded = false;
  std::atomic<bool> stop{false};
};

namespace {

// The worker's own side: what it asked, what the router holds.
class Worker {
 public:
  Worker(std::shared_ptr<PortMapping::Shared> shared, uint16_t roomPort,
         const net::HostReachSettings& settings, uint32_t leaseSeconds)
      : shared_(std::move(shared)),
        roomPort_(roomPort),
        configured_(settings.address),
        lease_(leaseSeconds) {}

  void run() {
    bool mapped = false;
    while (!shared_->stop.load()) {
      if (!mapped) {
        publish(Reach::Asking, ReachNote::None);
        mapped = ask();
        if (!mapped) {
          waitForStop(Clock::time_point::max());
          break;
        }
      }
      // Renewed when half of the lease has run; a renewal the router does
      // not take starts over with a new search.
      const Clock::time_point renewAt =
          lease_ == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::seconds(lease_) / 2;
      if (waitForStop(renewAt)) break;
      int error = 0;
      const upnp::Outcome renewed =
          upnp::addMapping(router_, port_, roomPort_, lease_, shared_->stop, error);
      mapped = renewed == upnp::Outcome::Done;
      // A router that refuses says the port is no longer this machine's:
      // it is never removed in another machine's place.
      if (renewed == upnp::Outcome::Refused)
        sent_.erase(std::remove(sent_.begin(), sent_.end(), port_), sent_.end());
    }
    removeMappings();
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->workerEnded = true;
    shared_->ended.notify_all();
  }

 private:
  // Finds the router and maps the port; false when no mapping was made
  // (the state then says why) or the room closed meanwhile.
  bool ask() {
    upnp::Outcome got = upnp::findRouter(shared_->stop, router_);
    if (got != upnp::Outcome::Done) return fail(got, 0);
    std::string external;
    int error = 0;
    got = upnp::externalAddress(router_, shared_->stop, external, error);
    if (got == upnp::Outcome::Refused) got = upnp::Outcome::Done;  // no address: below
    if (got != upnp::Outcome::Done) return fail(got, error);
    if (external.empty() && configured_[0] == '\0') {
      publish(Reach::LanOnly, ReachNote::NotConnected);
      return false;
    }
    got = map(error);
    if (got != upnp::Outcome::Done) return fail(got, error);
    platform::Address parsed;
    const bool isPrivate =
        !platform::parseNumericAddress(external.c_str(), parsed) || upnp::isPrivateExternal(parsed);
    if (configured_[0] != '\0') {
      publish(Reach::Internet, ReachNote::ConfigAddress, configured_.data(), port_, true);
    } else {
      publish(Reach::Internet, isPrivate ? ReachNote::RouterPrivate : ReachNote::RouterMapped,
              external.c_str(), port_, true);
    }
    return true;
  }

  // Asks for the room's port, then others while the router has it taken.
  upnp::Outcome map(int& error) {
    std::vector<uint16_t> ports = {roomPort_};
    for (int i = 0; i < kOtherPorts; ++i)
      ports.push_back(static_cast<uint16_t>(20000 + random_() % 40000));
    upnp::Outcome got = upnp::Outcome::Refused;
    for (const uint16_t port : ports) {
      // A command that got no answer may still have been carried out.
      if (std::find(sent_.begin(), sent_.end(), port) == sent_.end()) sent_.push_back(port);
      got = upnp::addMapping(router_, port, roomPort_, lease_, shared_->stop, error);
      if (got == upnp::Outcome::Refused && error == kOnlyPermanentLeases && lease_ != 0) {
        lease_ = 0;
        got = upnp::addMapping(router_, port, roomPort_, lease_, shared_->stop, error);
      }
      if (got == upnp::Outcome::Done) {
        port_ = port;
        return got;
      }
      // A refusal says the router holds nothing of ours on that port.
      if (got == upnp::Outcome::Refused)
        sent_.erase(std::remove(sent_.begin(), sent_.end(), port), sent_.end());
      if (got != upnp::Outcome::Refused || error != kConflictInMappingEntry) break;
    }
    return got;
  }

  // The state for a room that cannot be reached through the router, unless
  // address= tells where it is anyway.
  bool fail(upnp::Outcome outcome, int error) {
    if (outcome == upnp::Outcome::Stopped) return false;
    if (configured_[0] != '\0') {
      publish(Reach::Internet, ReachNote::ConfigAddress, configured_.data(), roomPort_, false);
    } else {
      publish(Reach::LanOnly, noteOf(outcome), "", 0, false, error);
    }
    return false;
  }

  void publish(Reach reach, ReachNote note, const char* address = "", uint16_t port = 0,
               bool mapped = false, int error = 0) {
    Reachability next;
    next.reach = reach;
    next.note = note;
    std::snprintf(next.address.data(), next.address.size(), "%s", address);
    next.port = port;
    next.roomPort = roomPort_;
    next.routerMapped = mapped;
    next.routerError = error;
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    if (!shared_->stop.load()) shared_->state = next;
  }

  // Waits until the deadline; true when stop was raised first.
  bool waitForStop(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const auto stopped = [this] { return shared_->stop.load(); };
    if (deadline == Clock::time_point::max()) {
      shared_->wake.wait(lock, stopped);
      return true;
    }
    return shared_->wake.wait_until(lock, deadline, stopped);
  }

  // Removes every forwarding asked for that the router may hold, within
  // kRemoveLimitMs in all.
  void removeMappings() {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(kRemoveLimitMs);
    for (const uint16_t port : sent_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) break;
      int error = 0;
      upnp::deleteMapping(router_, port, static_cast<uint32_t>(left.count()), error);
    }
    sent_.clear();
  }

  std::shared_ptr<PortMapping::Shared> shared_;
  uint16_t roomPort_;
  std::array<char, kReachAddressSize> configured_;
  uint32_t lease_;
  upnp::Router router_;
  uint16_t port_ = 0;           // the external port mapped
  std::vector<uint16_t> sent_;  // external ports the router may hold
  std::mt19937 random_{std::random_device{}()};
};

}  // namespace

PortMapping::~PortMapping() { stop(); }

void PortMapping::start(uint16_t roomPort, const net::HostReachSettings& settings) {
  stop();
  shared_ = std::make_shared<Shared>();
  Reachability& state = shared_->state;
  state.roomPort = roomPort;
  const bool configured = settings.address[0] != '\0';
  if (configured) {
    state.address = settings.address;
    state.address.back() = '\0';
    state.port = roomPort;
  }
  if (!settings.upnp) {
    state.reach = configured ? Reach::Internet : Reach::LanOnly;
    state.note = configured ? ReachNote::ConfigAddress : ReachNote::UpnpOff;
    shared_->workerEnded = true;
    return;
  }
  state.reach = Reach::Asking;
  try {
    std::thread([worker = Worker(shared_, roomPort, settings, leaseSeconds_)]() mutable {
      worker.run();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: nothing is asked.
    state.reach = configured ? Reach::Internet : Reach::LanOnly;
    state.note = configured ? ReachNote::ConfigAddress : ReachNote::NoRouter;
    shared_->workerEnded = true;
  }
}

void PortMapping::stop() {
  if (shared_ == nullptr) return;
  {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->stop = true;
    shared_->wake.notify_all();
    // A worker still in the search (which cannot be cut short) has made no
    // mapping; it sees the flag when the search ends and leaves at once.
    shared_->ended.wait_for(lock, std::chrono::milliseconds(kStopLimitMs),
                            [this] { return shared_->workerEnded; });
  }
  shared_.reset();
}

Reachability PortMapping::state() const {
  if (shared_ == nullptr) return Reachability{};
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->state;
}

}  // namespace internet
