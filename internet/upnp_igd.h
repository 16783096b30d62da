// A home router's Internet Gateway Device, as UPnP reaches it: the search
// (miniupnpc's SSDP search), its description (read over a bounded
// exchange, parsed by miniupnpc) and the SOAP commands of its WAN
// connection service (answers parsed by miniupnpc). Every answer comes from
// the local network and is untrusted: each step is bounded in time and
// bytes and ends in one of a few plain outcomes. Used by the port mapping's
// worker only; nothing here touches the frame loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "internet/http_exchange.h"
#include "platform/net_socket.h"

namespace internet::upnp {

// Longest wait for search answers, per kind of device searched (the search
// asks for up to four kinds in turn while nobody answers).
inline constexpr int kSearchWaitMs = 1000;
// Devices whose descriptions are read, at most.
inline constexpr int kMaxDevices = 4;
// One exchange with a device: its description, or one command.
inline constexpr uint32_t kExchangeLimitMs = 3000;

enum class Outcome : uint8_t {
  Done,
  NoRouter,   // nobody answered the search as a router
  NoAnswer,   // a device stopped answering, or answered too slowly
  BadAnswer,  // a device answered with something that is not a router's answer
  Refused,    // the router answered a command with an error (error holds it)
  Stopped,    // the caller's stop flag was raised
};

struct Router {
  HttpUrl control;          // the WAN connection service's control URL
  std::string serviceType;  // "urn:schemas-upnp-org:service:WANIPConnection:1"...
  platform::Address local;  // this machine's address towards the router
};

// Searches the local network and reads what answered, until one device is
// an Internet Gateway Device with a WAN connection service on the local
// network.
Outcome findRouter(const std::atomic<bool>& stop, Router& router);

// The router's external IPv4 address as text (dotted); NotConnected-like
// answers (empty, not an address) give BadAnswer with address empty.
Outcome externalAddress(const Router& router, const std::atomic<bool>& stop, std::string& address,
                        int& error);

// Forwards TCP externalPort on the router to this machine's internalPort for
// leaseSeconds (0: no end). error: the router's UPnP error code (718: the
// external port is taken; 725: only leases without end).
Outcome addMapping(const Router& router, uint16_t externalPort, uint16_t internalPort,
                   uint32_t leaseSeconds, const std::atomic<bool>& stop, int& error);

// Removes the forwarding of TCP externalPort; bounded by limitMs, stop
// flag or not.
Outcome deleteMapping(const Router& router, uint16_t externalPort, uint32_t limitMs, int& error);

// Whether an address belongs to a local network: a device there may be
// asked (RFC 1918, shared 100.64/10, link-local, IPv6 unique-local and
// link-local).
bool isLocalNetworkAddress(const platform::Address& address);
// Whether an external address is one no other machine on the internet can
// reach: private, shared, link-local, loopback, documentation, benchmark or
// reserved ranges (a second router stands in front, or a test's internet).
bool isPrivateExternal(const platform::Address& address);

}  // namespace internet::upnp
