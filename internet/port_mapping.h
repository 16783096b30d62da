// The home router asked to forward a hosted room's TCP port (UPnP-IGD), on a
// worker thread beside the frame loop: it finds the router, learns its
// external address, maps the port (the same external port when free, else
// another), renews the lease before it ends, and removes the mapping when
// the room closes. Every step is bounded in time and size, whatever a device
// on the local network answers; the frame loop only reads state().
#pragma once

#include <cstdint>
#include <memory>

#include "internet/reachability.h"

namespace internet {

// Lease asked for, renewed when half of it has run.
inline constexpr uint32_t kLeaseSeconds = 3600;
// Longest wait of stop() (and of the destructor) for the worker to remove the
// mapping: a router that stopped answering never holds up the program.
inline constexpr uint32_t kStopLimitMs = 3000;

class PortMapping {
 public:
  PortMapping() = default;
  ~PortMapping();  // stop()
  PortMapping(const PortMapping&) = delete;
  PortMapping& operator=(const PortMapping&) = delete;

  // A room opened on roomPort: starts asking the router (unless upnp is off)
  // on a worker thread and returns at once. A mapping of a room before is
  // removed first (stop()).
  void start(uint16_t roomPort, const net::HostReachSettings& settings);
  // The room closed: the worker removes the mapping it made, within
  // kStopLimitMs, and ends; the state is NotHosting again.
  void stop();
  // The current state, copied without waiting on the network.
  Reachability state() const;

  // Tests: the lease of mappings started from now on, in seconds.
  void setLeaseSeconds(uint32_t seconds) { leaseSeconds_ = seconds; }

  // What the worker and this object share; outlives either.
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  uint32_t leaseSeconds_ = kLeaseSeconds;
};

}  // namespace internet
