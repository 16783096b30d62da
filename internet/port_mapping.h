// The home router asked to forward a hosted room's TCP port (UPnP-IGD), and
// followed while the room is open, on a platform::Worker beside the frame
// loop. The worker finds the router, learns its external address and maps
// the port (the same external port when free, else another); then every
// kCheckSeconds it asks the router for its external address and whether
// the forwarding is still there (GetSpecificPortMappingEntry: a question
// that changes nothing on the router): a forwarding the router lost (it
// restarted) is made again, a new external address is told, a router that
// stopped answering is searched for again. address= of RoomConfig.txt, when
// a name, is looked up again at every check, with upnp=off too. When the
// room closes the worker is let go and removes its forwardings by itself
// within kRemoveLimitMs. Every step is bounded in time and size, whatever a
// device on the local network answers; the frame loop only reads state().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "internet/mapping_record.h"
#include "internet/reachability.h"
#include "platform/worker.h"

namespace internet {

// Lease asked for, renewed when half of it has run.
inline constexpr uint32_t kLeaseSeconds = 3600;
// Time between two checks of the router and of address=.
inline constexpr uint32_t kCheckSeconds = 30;
// One search and mapping, or one check, at most: the lobby's line leaves
// "still asking" within this, whatever the local network does.
inline constexpr uint32_t kAskLimitMs = 8000;
// The removal of the forwardings once the room has closed, at most.
inline constexpr uint32_t kRemoveLimitMs = 1500;

class PortMapping {
 public:
  PortMapping() = default;
  ~PortMapping();  // stop()
  PortMapping(const PortMapping&) = delete;
  PortMapping& operator=(const PortMapping&) = delete;

  // A room opened on roomPort: starts asking the router (unless upnp is
  // off) and following address= on a worker, and returns at once. A room
  // before is let go first (stop()).
  void start(uint16_t roomPort, const net::HostReachSettings& settings);
  // The room closed: returns at once; the worker removes the forwardings it
  // made, within kRemoveLimitMs, and ends. The state is NotHosting again.
  void stop();
  // The current state, copied without waiting on the network.
  Reachability state() const;

  // Tests: the lease and the time between checks of rooms started from now
  // on, in seconds; the lookup of address=; the record of forwardings
  // without end.
  void setLeaseSeconds(uint32_t seconds) { leaseSeconds_ = seconds; }
  void setCheckSeconds(uint32_t seconds) { checkSeconds_ = seconds; }
  void setNameLookup(platform::NameLookup lookup) { nameLookup_ = lookup; }
  void setRecordPath(const std::string& path) { recordPath_ = path; }

  // What the worker and this object share; outlives either.
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  platform::Worker worker_;
  // Set by the worker of the room before once it has removed its
  // forwardings: the next room's waits for it before it maps.
  std::shared_ptr<RouterWork> removal_;
  uint32_t leaseSeconds_ = kLeaseSeconds;
  uint32_t checkSeconds_ = kCheckSeconds;
  platform::NameLookup nameLookup_ = platform::systemNameLookup;
  std::string recordPath_ = kMappingRecordFile;
};

}  // namespace internet
