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
// A room relayed through the directory's relay (internet/room_relay.h)
// carries exactly one <reach>, the relay's address for it, and says whom
// to ask for a permission to connect there: its host's own address in the
// directory (a full JID of the directory's domain):
//
//   <room xmlns="urn:x-vellora:room" version="2" instance="305419896"
//         players="1" max="6">
//     <reach address="198.51.100.30" port="49152"/>
//     <relay jid="k3j9v2@example.org/4711"/>
//   </room>
//
// A guest tells that host its public address (as the relay's server sees
// it) in a message of kRelayNamespace, and asks the room once the host has
// answered that the relay lets it through:
//
//   <message to="HOST'S JID"><permit xmlns="urn:x-vellora:relay" address="A"/></message>
//   <message to="GUEST'S JID"><permitted xmlns="urn:x-vellora:relay" address="A"/></message>
//
// A copy that knows no <relay> ignores such an announcement whole, as it
// ignores anything unknown: without a permission the relay would refuse it.
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

// A host's address in the directory, at most (printable ASCII, one '@'
// before its '/').
inline constexpr size_t kMaxJidBytes = 256;
inline constexpr char kRelayNamespace[] = "urn:x-vellora:relay";

struct Announcement {
  int version = kAnnouncementVersion;
  uint32_t instance = 0;
  uint8_t players = 0;
  uint8_t maxPlayers = 0;
  // Each with its port.
  std::array<platform::Address, kMaxEndpoints> endpoints{};
  size_t endpointCount = 0;
  // A relayed room: whom to ask for a permission (one endpoint then, the
  // relay's); empty for a room reached directly.
  std::string relayJid;
};

// Whether a guest may ask this endpoint because a directory announced it,
// and whether a host may announce it: internet/address_policy.h.
bool isAskable(const platform::Address& endpoint);

// Whether a host may announce one of its own interface addresses: a public
// IPv6 address (internet/address_policy.h). Addresses of its own network
// never leave it.
bool isGlobalIpv6(const platform::Address& address);

// Whether text can be a host's address in the directory (kMaxJidBytes).
bool isRelayJid(const std::string& text);
// The domain of such an address, lowercase.
std::string jidDomain(const std::string& jid);

// The <room> element of an announcement; false when the announcement has
// no endpoint (or too many), or more players than its maximum, or is
// relayed with another number of endpoints than one or a bad address.
bool buildAnnouncement(const Announcement& announcement, xml::Element& room);

// Reads the announcement a presence stanza carries: exactly one <room> of
// kAnnouncementNamespace, as built above. False (and announcement
// unspecified) on anything else: another version, a missing or repeated
// field, an unknown element, text where none belongs, a number that is not
// plain decimal or out of range, more players than its maximum, an address
// that is not numeric.
bool readAnnouncement(const xml::Element& presence, Announcement& announcement);

// The messages of a permission (see above): a guest's request (granted
// false) or a host's grant, to `to`, for address.
xml::Element permitMessage(const std::string& to, const platform::Address& address,
                           bool granted);
// Reads one: a message (not a bounced one, of type error) with exactly one
// <permit> or <permitted> of kRelayNamespace with a numeric address and
// nothing else in it. False on anything else.
bool readPermitMessage(const xml::Element& message, bool& granted, platform::Address& address);

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

// Relayed rooms a guest asks permissions of in one refresh, at most: they
// all share the relay's address, which the per-address bound above would
// otherwise cut to kRoomsPerAddress.
inline constexpr size_t kMaxRelayedRooms = 16;
struct RelayedRoom {
  AnnouncedRoom room;
  std::string jid;
};
// Chooses among relayed announcements (the others are skipped) as
// chooseRooms does, but at most kMaxRelayedRooms in all and each endpoint
// once whatever its address.
std::vector<RelayedRoom> chooseRelayedRooms(std::vector<Announcement>& announcements,
                                            std::mt19937& random);

}  // namespace internet
