#include "internet/reachability.h"

#include <cstring>

#include "internet/address_policy.h"
#include "text/sjis_strings.h"

namespace internet {

bool Reachability::operator==(const Reachability& other) const {
  if (endpointCount != other.endpointCount) return false;
  for (size_t i = 0; i < endpointCount; ++i) {
    if (endpoints[i] != other.endpoints[i]) return false;
  }
  return reach == other.reach && note == other.note && address == other.address &&
         port == other.port && roomPort == other.roomPort && routerMapped == other.routerMapped &&
         routerError == other.routerError && relayWhy == other.relayWhy;
}

namespace {

std::string addressAndPort(const Reachability& state) {
  std::string text(state.address.data(), strnlen(state.address.data(), state.address.size()));
  if (text.find(':') != std::string::npos) text = "[" + text + "]";  // IPv6
  return text + ":" + std::to_string(state.port);
}

// What the router's external address is ("private", "shared (a provider's
// NAT)"...).
const char* externalKind(const Reachability& state) {
  platform::Address address;
  if (!platform::parseNumericAddress(state.address.data(), address)) return "not public";
  return addressKindName(classifyAddress(address));
}

const char* lobbyReason(ReachNote note) {
  switch (note) {
    case ReachNote::UpnpOff:
      return "upnp=off";
    case ReachNote::NoRouter:
      return sjis::kReachNoRouter;
    case ReachNote::NoAnswer:
      return sjis::kReachNoAnswer;
    case ReachNote::BadAnswer:
      return sjis::kReachBadAnswer;
    case ReachNote::NotConnected:
      return sjis::kReachNotConnected;
    case ReachNote::Refused:
      return sjis::kReachRefused;
    default:
      return "";
  }
}

std::string consoleReason(const Reachability& state) {
  switch (state.note) {
    case ReachNote::UpnpOff:
      return "upnp=off in RoomConfig.txt";
    case ReachNote::NoRouter:
      return "no router answered the search";
    case ReachNote::NoAnswer:
      return "the router did not answer in time";
    case ReachNote::BadAnswer:
      return "the router's answer could not be read";
    case ReachNote::NotConnected:
      return "the router has no internet connection";
    case ReachNote::Refused:
      return state.routerError != 0 ? "the router refused the forwarding (UPnP error " +
                                          std::to_string(state.routerError) + ")"
                                    : std::string("the router refused the forwarding");
    case ReachNote::RouterPrivate:
      return "the router forwards port " + std::to_string(state.port) +
             ", but its external address " + state.address.data() + " is " + externalKind(state) +
             ": a second router or the provider's NAT stands in front of it";
    default:
      return "";
  }
}

}  // namespace

std::string reachLobbyLine(const Reachability& state) {
  switch (state.reach) {
    case Reach::NotHosting:
      return "";
    case Reach::Asking:
      return sjis::kReachAsking;
    case Reach::Internet:
      return sjis::kReachInternet + addressAndPort(state);
    case Reach::Relayed:
      return sjis::kReachRelayed + addressAndPort(state);
    case Reach::LanOnly:
      break;
  }
  if (state.note == ReachNote::RelayGone)
    return std::string(sjis::kReachLanOnly) + sjis::kReachRelayGone + sjis::kReachRelayRetry;
  if (state.note == ReachNote::RouterPrivate) {
    return std::string(sjis::kReachLanOnly) + sjis::kReachOuterNat + sjis::kReachForwardOuter +
           std::to_string(state.port) + sjis::kReachForwardOuterEnd;
  }
  return std::string(sjis::kReachLanOnly) + lobbyReason(state.note) + sjis::kReachForward +
         std::to_string(state.roomPort) + sjis::kReachForwardEnd;
}

std::string reachConsoleLine(const Reachability& state) {
  switch (state.reach) {
    case Reach::NotHosting:
      return "";
    case Reach::Asking:
      return "Room: asking the router to forward TCP port " + std::to_string(state.roomPort);
    case Reach::Internet:
      break;
    case Reach::Relayed:
      return "Room: reachable through the relay at " + addressAndPort(state) +
             " (the room directory's relay passes guests on to this machine)";
    case Reach::LanOnly:
      if (state.note == ReachNote::RelayGone) {
        return std::string("Room: reachable on this network only: the relay is gone (") +
               state.relayWhy.data() + "); trying it again";
      }
      if (state.note == ReachNote::RouterPrivate) {
        return "Room: reachable on this network only: " + consoleReason(state) +
               "; forward TCP port " + std::to_string(state.port) +
               " there too, or put address= in RoomConfig.txt";
      }
      return "Room: reachable on this network only: " + consoleReason(state) +
             "; forward TCP port " + std::to_string(state.roomPort) + " to this machine";
  }
  const std::string where = "Room: reachable from the internet at " + addressAndPort(state);
  if (state.note == ReachNote::ConfigAddress) return where + " (address= in RoomConfig.txt)";
  return where + " (the router forwards it to this machine)";
}

}  // namespace internet
