#include "internet/port_mapping.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "internet/address_policy.h"
#include "internet/upnp_igd.h"

namespace internet {

struct PortMapping::Shared {
  mutable std::mutex mutex;
  Reachability state;  // guarded by mutex
};

namespace {

using Clock = std::chrono::steady_clock;

// External ports tried after the room's own is taken on the router.
constexpr int kOtherPorts = 4;
// UPnP errors: the external port is mapped to another machine; the router
// keeps only leases without end.
constexpr int kConflictInMappingEntry = 718;
constexpr int kOnlyPermanentLeases = 725;
// How often a wait for a name lookup looks at the stop token.
constexpr uint32_t kLookupSliceMs = 20;

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

// What is known of where the room can be reached; the state follows from
// it (reachOf).
struct Facts {
  uint16_t roomPort = 0;
  std::array<char, kReachAddressSize> configured{};  // address=, empty when none
  uint16_t mappedPort = 0;                     // the external port the router forwards, 0 when none
  std::optional<platform::Address> external;   // the router's external address
  ReachNote failure = ReachNote::NoRouter;     // why there is no forwarding
  int error = 0;                               // the router's refusal, if any
  platform::LookupAnswer configuredAddresses;  // what address= stands for
};

void addEndpoint(Reachability& state, const platform::Address& address, uint16_t port) {
  platform::Address endpoint = plainForm(address);
  endpoint.port = port;
  if (!isPublicEndpoint(endpoint) || state.endpointCount == kMaxReachEndpoints) return;
  const auto end = state.endpoints.begin() + state.endpointCount;
  if (std::find(state.endpoints.begin(), end, endpoint) == end)
    state.endpoints[state.endpointCount++] = endpoint;
}

Reachability reachOf(const Facts& facts) {
  Reachability state;
  state.roomPort = facts.roomPort;
  const bool mapped = facts.mappedPort != 0;
  const bool configured = facts.configured[0] != '\0';
  const bool externalPublic =
      facts.external.has_value() && classifyAddress(*facts.external) == AddressKind::Public;
  state.routerMapped = mapped;
  if (configured) {
    state.reach = Reach::Internet;
    state.note = ReachNote::ConfigAddress;
    state.address = facts.configured;
    state.port = mapped ? facts.mappedPort : facts.roomPort;
  } else if (mapped && facts.external.has_value()) {
    // A router whose own address is not public forwards from behind another
    // NAT: the internet reaches the room only where that one forwards too.
    state.reach = externalPublic ? Reach::Internet : Reach::LanOnly;
    state.note = externalPublic ? ReachNote::RouterMapped : ReachNote::RouterPrivate;
    std::snprintf(state.address.data(), state.address.size(), "%s",
                  platform::formatAddress(*facts.external).c_str());
    state.port = facts.mappedPort;
  } else {
    state.reach = Reach::LanOnly;
    state.note = facts.failure;
    state.routerError = facts.failure == ReachNote::Refused ? facts.error : 0;
    return state;
  }
  if (mapped && externalPublic) addEndpoint(state, *facts.external, facts.mappedPort);
  if (configured) {
    for (size_t i = 0; i < facts.configuredAddresses.count; ++i)
      addEndpoint(state, facts.configuredAddresses.addresses[i], state.port);
  }
  return state;
}

// What a room's worker was started with.
struct Setup {
  bool upnp = true;
  uint32_t leaseSeconds = kLeaseSeconds;
  uint32_t checkSeconds = kCheckSeconds;
  platform::NameLookup lookup = platform::systemNameLookup;
  std::string recordPath;
};

// The worker's side of one hosted room: what it asked, what the router
// holds.
class Session {
 public:
  Session(std::shared_ptr<PortMapping::Shared> shared, Setup setup, Facts facts,
          std::shared_ptr<const RouterWork> before, std::shared_ptr<RouterWork> removal)
      : shared_(std::move(shared)),
        setup_(std::move(setup)),
        facts_(facts),
        before_(std::move(before)),
        removal_(std::move(removal)),
        lease_(setup_.leaseSeconds),
        preferredPort_(facts.roomPort) {}

  void run(const platform::StopToken& stop) {
    stop_ = &stop;
    for (;;) {
      turn();
      if (stop.stopRequested()) break;
      publish();
      // The next check, or the lease's renewal when that comes first.
      const Clock::time_point now = Clock::now();
      const Clock::time_point renewal =
          facts_.mappedPort != 0 ? renewAt_ : Clock::time_point::max();
      const Clock::time_point wake =
          std::min(now + std::chrono::seconds(setup_.checkSeconds), renewal);
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
      if (stop.sleepFor(static_cast<uint32_t>(std::max<int64_t>(ms, 0)))) break;
    }
    removeMappings();
    removal_->finish();
  }

 private:
  // One check: the router (searched for when not known) and address=.
  void turn() {
    const upnp::Budget budget = upnp::budgetOf(stop_, kAskLimitMs);
    const bool lookingUp = facts_.configured[0] != '\0';
    if (lookingUp) lookup_.start(facts_.configured.data(), setup_.lookup);
    if (setup_.upnp) followRouter(budget);
    if (lookingUp) collectLookup();
  }

  void followRouter(const upnp::Budget& budget) {
    bool fresh = false;
    if (!routerKnown_) {
      if (!find(budget)) return;
      fresh = true;
    }
    int error = 0;
    std::optional<platform::Address> external;
    upnp::Outcome got = upnp::externalAddress(router_, budget, external, error);
    if (got == upnp::Outcome::NoAnswer || got == upnp::Outcome::BadAnswer) {
      // The router stopped answering (it restarts, say): searched for again.
      routerKnown_ = false;
      if (fresh || !find(budget)) {
        if (fresh) forgetRouter(got);
        return;
      }
      got = upnp::externalAddress(router_, budget, external, error);
    }
    if (got == upnp::Outcome::Stopped) return;
    if (got != upnp::Outcome::Done && got != upnp::Outcome::Refused) {
      forgetRouter(got);
      return;
    }
    facts_.external = external;  // a refusal: no address either
    if (!external.has_value() && facts_.configured[0] == '\0') {
      facts_.failure = ReachNote::NotConnected;
      return;
    }
    if (facts_.mappedPort == 0) {
      map(budget, preferredPort_);
    } else if (Clock::now() >= renewAt_) {
      renew(budget);
    } else {
      verify(budget);
    }
  }

  // Searches for the router; false (the state saying why) when none was
  // found.
  bool find(const upnp::Budget& budget) {
    upnp::Router found;
    const upnp::Outcome got = upnp::findRouter(budget, found);
    if (got != upnp::Outcome::Done) {
      if (got != upnp::Outcome::Stopped) forgetRouter(got);
      return false;
    }
    if (found.control.address != router_.control.address ||
        found.control.path != router_.control.path) {
      // Another router: what the one before holds is out of reach.
      sent_.clear();
      facts_.mappedPort = 0;
    }
    router_ = found;
    routerKnown_ = true;
    return true;
  }

  void forgetRouter(upnp::Outcome outcome) {
    routerKnown_ = false;
    facts_.mappedPort = 0;
    facts_.external.reset();
    facts_.failure = noteOf(outcome);
    facts_.error = 0;
  }

  // Asks for preferred, then other ports while the router has them taken.
  void map(const upnp::Budget& budget, uint16_t preferred) {
    if (!waited_) {
      // Removals still on their way to the router go first.
      if (before_ != nullptr) before_->await(budget);
      recordedRemoval()->await(budget);
      waited_ = true;
    }
    std::vector<uint16_t> ports = {preferred};
    for (int i = 0; i < kOtherPorts; ++i)
      ports.push_back(static_cast<uint16_t>(20000 + random_() % 40000));
    upnp::Outcome got = upnp::Outcome::Refused;
    int error = 0;
    for (const uint16_t port : ports) {
      got = add(budget, port, error);
      if (got == upnp::Outcome::Done) {
        mapped(port);
        return;
      }
      if (got != upnp::Outcome::Refused || error != kConflictInMappingEntry) break;
    }
    facts_.mappedPort = 0;
    if (got == upnp::Outcome::Stopped) return;
    facts_.failure = noteOf(got);
    facts_.error = error;
  }

  // The lease renewed (the same request again).
  void renew(const upnp::Budget& budget) {
    int error = 0;
    const upnp::Outcome got = add(budget, facts_.mappedPort, error);
    if (got == upnp::Outcome::Done) {
      mapped(facts_.mappedPort);
    } else if (got == upnp::Outcome::Refused) {
      facts_.mappedPort = 0;
      map(budget, preferredPort_);
    } else if (got != upnp::Outcome::Stopped) {
      // Searched for, and renewed, at the next check.
      routerKnown_ = false;
      renewAt_ = Clock::now() + std::chrono::seconds(setup_.checkSeconds);
    }
  }

  // Whether the router still forwards the port to the room; made again when
  // it does not.
  void verify(const upnp::Budget& budget) {
    const uint16_t port = facts_.mappedPort;
    upnp::MappingEntry entry;
    int error = 0;
    const upnp::Outcome got = upnp::mappingEntry(router_, port, budget, entry, error);
    if (got == upnp::Outcome::Done) {
      if (entry.client.v4Host() == router_.local.v4Host() && entry.internalPort == facts_.roomPort)
        return;
      // Another machine has the port now: never removed in its place.
      drop(port);
      facts_.mappedPort = 0;
      map(budget, facts_.roomPort);
    } else if (got == upnp::Outcome::Refused) {
      // Gone (the router restarted), or a router that will not tell: the
      // same request again, which keeps a forwarding that is there.
      facts_.mappedPort = 0;
      map(budget, port);
    } else if (got != upnp::Outcome::Stopped) {
      routerKnown_ = false;
    }
  }

  // One AddPortMapping of port; a router that keeps only leases without end
  // gets one, written down first (a game killed meanwhile leaves a record).
  upnp::Outcome add(const upnp::Budget& budget, uint16_t port, int& error) {
    // A command that got no answer may still have been carried out.
    if (std::find(sent_.begin(), sent_.end(), port) == sent_.end()) sent_.push_back(port);
    if (lease_ == 0) recordMapping(setup_.recordPath, recordOf(port));
    upnp::Outcome got = upnp::addMapping(router_, port, facts_.roomPort, lease_, budget, error);
    if (got == upnp::Outcome::Refused && error == kOnlyPermanentLeases && lease_ != 0) {
      lease_ = 0;
      recordMapping(setup_.recordPath, recordOf(port));
      got = upnp::addMapping(router_, port, facts_.roomPort, lease_, budget, error);
    }
    // A refusal says the router holds nothing of ours on that port.
    if (got == upnp::Outcome::Refused) drop(port);
    return got;
  }

  void mapped(uint16_t port) {
    facts_.mappedPort = port;
    preferredPort_ = port;
    renewAt_ =
        lease_ == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::seconds(lease_) / 2;
  }

  // The router holds nothing of ours on port.
  void drop(uint16_t port) {
    sent_.erase(std::remove(sent_.begin(), sent_.end(), port), sent_.end());
    if (lease_ == 0) forgetMapping(setup_.recordPath, recordOf(port));
  }

  RecordedMapping recordOf(uint16_t port) const {
    RecordedMapping record;
    record.control = "http://" + router_.control.host + router_.control.path;
    record.serviceType = router_.serviceType;
    record.externalPort = port;
    record.client = router_.local;
    record.client.port = 0;
    record.internalPort = facts_.roomPort;
    return record;
  }

  // What address= stands for now; a failed lookup keeps what the last one
  // found, and the next check asks again.
  void collectLookup() {
    platform::LookupAnswer answer;
    platform::Lookup got;
    while ((got = lookup_.result(answer, kLookupSliceMs)) == platform::Lookup::Pending) {
      if (stop_->stopRequested()) {
        lookup_.abandon();
        return;
      }
    }
    if (got == platform::Lookup::Found && !sameAddresses(answer, facts_.configuredAddresses))
      facts_.configuredAddresses = answer;
  }

  // The same addresses in another order (a name server that rotates them)
  // change nothing the lobby or a directory shows.
  static bool sameAddresses(const platform::LookupAnswer& a, const platform::LookupAnswer& b) {
    const auto end = b.addresses.begin() + b.count;
    return a.count == b.count && std::all_of(a.addresses.begin(), a.addresses.begin() + a.count,
                                             [&](const platform::Address& x) {
                                               return std::find(b.addresses.begin(), end, x) != end;
                                             });
  }

  void publish() {
    const Reachability next = reachOf(facts_);
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->state = next;
  }

  // Removes every forwarding asked for that the router may hold, within
  // kRemoveLimitMs in all, whatever the stop token says.
  void removeMappings() {
    const upnp::Budget budget = upnp::budgetOf(nullptr, kRemoveLimitMs);
    for (const uint16_t port : sent_) {
      if (budget.exchangeMs() == 0) break;
      int error = 0;
      const upnp::Outcome got = upnp::deleteMapping(router_, port, budget, error);
      if (lease_ == 0 && (got == upnp::Outcome::Done || got == upnp::Outcome::Refused))
        forgetMapping(setup_.recordPath, recordOf(port));
    }
    sent_.clear();
  }

  std::shared_ptr<PortMapping::Shared> shared_;
  const Setup setup_;
  Facts facts_;
  std::shared_ptr<const RouterWork> before_;  // the room before's removal, if any
  std::shared_ptr<RouterWork> removal_;       // this room's, finished at its end
  const platform::StopToken* stop_ = nullptr;
  uint32_t lease_;
  upnp::Router router_;
  bool routerKnown_ = false;
  bool waited_ = false;     // for the removals before the first mapping
  uint16_t preferredPort_;  // the external port asked for first
  Clock::time_point renewAt_ = Clock::time_point::max();
  std::vector<uint16_t> sent_;  // external ports the router may hold
  platform::HostLookup lookup_;
  std::mt19937 random_{std::random_device{}()};
};

}  // namespace

PortMapping::~PortMapping() { stop(); }

void PortMapping::start(uint16_t roomPort, const net::HostReachSettings& settings) {
  stop();
  shared_ = std::make_shared<Shared>();
  Facts facts;
  facts.roomPort = roomPort;
  facts.configured = settings.address;
  facts.configured.back() = '\0';
  facts.failure = settings.upnp ? ReachNote::NoRouter : ReachNote::UpnpOff;
  const bool configured = facts.configured[0] != '\0';
  platform::Address numeric;
  const bool named = configured && !platform::parseNumericAddress(facts.configured.data(), numeric);
  if (configured && !named) {
    facts.configuredAddresses.addresses[0] = numeric;
    facts.configuredAddresses.count = 1;
  }
  shared_->state = reachOf(facts);
  // Without the router and without a name to look up, nothing changes.
  if (!settings.upnp && !named) return;
  if (settings.upnp) {
    shared_->state = Reachability{};
    shared_->state.reach = Reach::Asking;
    shared_->state.roomPort = roomPort;
  }
  auto removal = std::make_shared<RouterWork>();
  const Setup setup{settings.upnp, leaseSeconds_, checkSeconds_, nameLookup_, recordPath_};
  auto session = std::make_shared<Session>(shared_, setup, facts, removal_, removal);
  if (!worker_.start([session](const platform::StopToken& stop) { session->run(stop); })) {
    // No thread to be had: nothing is asked.
    facts.failure = settings.upnp ? ReachNote::NoRouter : ReachNote::UpnpOff;
    shared_->state = reachOf(facts);
    removal->finish();
  }
  removal_ = removal;
}

void PortMapping::stop() {
  // The worker removes what it made by itself; nobody waits for it.
  worker_.release();
  shared_.reset();
}

Reachability PortMapping::state() const {
  if (shared_ == nullptr) return Reachability{};
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->state;
}

}  // namespace internet
