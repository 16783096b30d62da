// A room's announcement in a room directory (internet/directory.h): what a host's
// presence in the directory's chat room carries, in the program's own XML
// namespace, and what a guest makes of the announcements it collects.
//
//   <room xmlns="urn:x-vellora:room" version="2" instance="305419896"
//         players="1" max="6">
//     <reach address="203.0.113.5" port="6247"/> 1 to kMaxEndpoints, numeric
//     <reach address="2001:db8::5" port="6247"/>
//   </room>
//
// Nothing else: a guest shows only what the room's own answer over TCP
// says (its name, comment and counts), so the directory carries no more
// of a room than where to ask it. (Version 1 also carried the name and
// comment, for one shared chat room; version 2 goes with the shard rooms
// of internet/directory.h.)
//
// instance is the host's random number of its local network search
// (net/discovery.h): a guest that finds the same room both there and in the
// directory shows it once.
//
// The directory and everyone in it are untrusted: a guest takes from an
// announcement nothing but where to ask (its endpoints), asks there over
// TCP exactly as it asks a room of RoomList.txt, and shows only what the
// room's own answer says. An announcement that is malformed in any way,
// oversized, or of another version is ignored whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "internet/xml_stream.h"
#include "net/room_query.h"
#include "platform/net_socket.h"

namespace internet {

using net::AnnouncedRoom;
using net::kMaxAnnouncedRooms;

inline constexpr char kAnnouncementNamespace[] = "urn:x-vellora:room";
inline constexpr int kAnnouncementVersion = 2;
// Where a room can be reached: at most this many address and port pairs
// (the router's address, address= of RoomConfig.txt, global IPv6 ones).
inline constexpr size_t kMaxEndpoints = 4;
static_assert(kMaxEndpoints <= platform::kMaxLookupAddresses, "a room's places fit a lookup's");
// Longest numeric address text taken ("ffff:...:255.255.255.255").
inline constexpr size_t kMaxAddressText = 45;

// What a guest asks of the announcements of one refresh: at most
// kMaxAnnouncedRooms rooms in all and at most kRoomsPerAddress rooms on
// any one address (a machine that hosts several rooms is rare, and one
// machine's flood must not push out everybody else), each address and port
// once, chosen in an order of the guest's own (random), never in the order
// the directory or an announcer gave them.
inline constexpr size_t kRoomsPerAddress = 3;
// Announcements one browse keeps at most while it collects them: a uniform
// random sample of all valid ones when more arrive, so that neither their
// order nor their number decides which are kept.
inline constexpr size_t kMaxKeptAnnouncements = 4096;

struct Announcement {
  int version = kAnnouncementVersion;
  uint32_t instance = 0;
  uint8_t players = 0;
  uint8_t maxPlayers = 0;
  // Each with its port.
  std::array<platform::Address, kMaxEndpoints> endpoints{};
  size_t endpointCount = 0;
};

// Whether a guest may ask this endpoint because a directory announced it,
// and whether a host may announce it: internet/address_policy.h.
bool isAskable(const platform::Address& endpoint);

// Whether a host may announce one of its own interface addresses: a public
// IPv6 address (internet/address_policy.h). Addresses of its own network
// never leave it.
bool isGlobalIpv6(const platform::Address& address);

// The <room> element of an announcement; false when the announcement has
// no endpoint (or too many), or more players than its maximum.
bool buildAnnouncement(const Announcement& announcement, xml::Element& room);

// Reads the announcement a presence stanza carries: exactly one <room> of
// kAnnouncementNamespace, as built above. False (and announcement
// unspecified) on anything else: another version, a missing or repeated
// field, an unknown element, text where none belongs, a number that is not
// plain decimal or out of range, more players than its maximum, an address
// that is not numeric.
bool readAnnouncement(const xml::Element& presence, Announcement& announcement);

// Keeps a uniform random sample of at most kMaxKeptAnnouncements of the
// announcements offered to it (reservoir sampling).
class AnnouncementSample {
 public:
  explicit AnnouncementSample(uint32_t seed) : random_(seed) {}
  void offer(Announcement announcement);
  size_t seen() const { return seen_; }
  std::vector<Announcement>& kept() { return kept_; }

 private:
  std::mt19937 random_;
  std::vector<Announcement> kept_;
  size_t seen_ = 0;
};

// Chooses the rooms to ask among announcements, by the rules above: shuffled
// with random, each endpoint askable, each address and port once, at most
// kRoomsPerAddress rooms per address and kMaxAnnouncedRooms rooms. A room
// keeps those of its endpoints that pass; one left with none is dropped.
std::vector<AnnouncedRoom> chooseRooms(std::vector<Announcement>& announcements,
                                       std::mt19937& random);

}  // namespace internet
