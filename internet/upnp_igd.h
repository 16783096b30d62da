// A home router's Internet Gateway Device, as UPnP reaches it: the search
// (our own SSDP search, internet/ssdp_search.h), its description (read over
// a bounded exchange, parsed by miniupnpc) and the SOAP commands of its WAN
// connection service (answers parsed by miniupnpc). Every answer comes from
// the local network and is untrusted: each step is bounded in time and
// bytes and ends in one of a few plain outcomes. Used by the port mapping's
// worker and the start-up removal of forwardings left behind; nothing here
// touches the frame loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "internet/http_exchange.h"
#include "platform/net_socket.h"
#include "platform/worker.h"

namespace internet::upnp {

// Longest one exchange with a device may take: its description, or one
// command (less when the step's budget has less left).
inline constexpr uint32_t kExchangeLimitMs = 3000;

enum class Outcome : uint8_t {
  Done,
  NoRouter,   // nobody answered the search as a router
  NoAnswer,   // a device stopped answering, or answered too slowly
  BadAnswer,  // a device answered with something that is not a router's answer
  Refused,    // the router answered a command with an error (error holds it)
  Stopped,    // the worker was asked to stop
};

// Where a step must end: by `end`, or as soon as the worker is asked to
// stop (when stop is given; a removal on the way out runs without it).
struct Budget {
  const platform::StopToken* stop = nullptr;
  std::chrono::steady_clock::time_point end;

  bool stopped() const { return stop != nullptr && stop->stopRequested(); }
  // Milliseconds for the next exchange: what is left, at most
  // kExchangeLimitMs; 0 when the time is up.
  uint32_t exchangeMs() const;
};
Budget budgetOf(const platform::StopToken* stop, uint32_t limitMs);

struct Router {
  HttpUrl control;          // the WAN connection service's control URL
  std::string serviceType;  // "urn:schemas-upnp-org:service:WANIPConnection:1"...
  platform::Address local;  // this machine's address towards the router
};

// Searches the local network and reads what answered, until one device is
// an Internet Gateway Device with a WAN connection service on the local
// network.
Outcome findRouter(const Budget& budget, Router& router);

// The router's external IPv4 address; none when it has none (not
// connected). An answer that is no IPv4 address is BadAnswer.
Outcome externalAddress(const Router& router, const Budget& budget,
                        std::optional<platform::Address>& address, int& error);

// Forwards TCP externalPort on the router to this machine's internalPort for
// leaseSeconds (0: no end). error: the router's UPnP error code (718: the
// external port is taken; 725: only leases without end).
Outcome addMapping(const Router& router, uint16_t externalPort, uint16_t internalPort,
                   uint32_t leaseSeconds, const Budget& budget, int& error);

// Where the router forwards TCP externalPort. Refused (714 and others) when
// it holds no such forwarding.
struct MappingEntry {
  platform::Address client;  // port 0
  uint16_t internalPort = 0;
};
Outcome mappingEntry(const Router& router, uint16_t externalPort, const Budget& budget,
                     MappingEntry& entry, int& error);

// Removes the forwarding of TCP externalPort.
Outcome deleteMapping(const Router& router, uint16_t externalPort, const Budget& budget,
                      int& error);

// Whether an address belongs to a local network: a device there may be
// asked (RFC 1918, shared 100.64/10, link-local, IPv6 unique-local and
// link-local).
bool isLocalNetworkAddress(const platform::Address& address);

// Text from a device that goes into our requests: a service type
// ("urn:schemas-upnp-org:service:WANIPConnection:1") has nothing else.
bool isPlainUrn(const char* text);

}  // namespace internet::upnp
