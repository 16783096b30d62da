// The room directory's announcement (internet/announcement.h) and the choice of
// the rooms a guest asks, without any server: what a host's presence
// carries, which announcements a guest ignores whole, which addresses it
// never asks, and the bounds of one refresh (per address, per refresh, each
// address and port once, in an order of the guest's own).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "internet/announcement.h"
#include "internet/directory.h"
#include "support/xml_stanza.h"

namespace {

using internet::Announcement;
using net::AnnouncedRoom;

platform::Address address(const char* text, uint16_t port) {
  platform::Address parsed;
  EXPECT_TRUE(platform::parseNumericAddress(text, parsed)) << text;
  parsed.port = port;
  return parsed;
}

// A presence as the directory's room relays a host's, around room.
std::string presence(const std::string& room) {
  return "<presence from='vellora@rooms.dir.test/vabc' to='x@dir.test/r'>"
         "<x xmlns='http://jabber.org/protocol/muc#user'><item affiliation='none' "
         "role='visitor'/></x>" +
         room + "</presence>";
}

std::string roomXml(const std::string& attributes, const std::string& body) {
  return "<room xmlns='urn:x-vellora:room' " + attributes + ">" + body + "</room>";
}

const std::string kGoodAttributes = "version='2' instance='7' players='1' max='6'";
const std::string kGoodBody = "<reach address='203.0.113.5' port='6247'/>";

bool reads(const std::string& xml, Announcement* out = nullptr) {
  internet::xml::Element stanza;
  if (!xmltest::parseStanza(xml, stanza)) return false;
  Announcement announcement;
  const bool ok = internet::readAnnouncement(stanza, announcement);
  if (ok && out != nullptr) *out = announcement;
  return ok;
}

TEST(Announcement, BuiltAndReadBack) {
  Announcement sent;
  sent.players = 2;
  sent.maxPlayers = 6;
  sent.instance = 0x89ABCDEFu;
  sent.endpoints[0] = address("203.0.113.5", 40123);
  sent.endpoints[1] = address("2001:db8::5", 6247);
  sent.endpointCount = 2;
  internet::xml::Element wrapper("presence", "jabber:client");
  ASSERT_TRUE(internet::buildAnnouncement(sent, wrapper.addChild(internet::xml::Element())));
  std::string xml;
  internet::xml::write(wrapper, "jabber:client", xml);
  EXPECT_NE(xml.find("xmlns='urn:x-vellora:room'"), std::string::npos) << xml;
  EXPECT_NE(xml.find("version='2'"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("name"), std::string::npos) << "nothing but where to ask: " << xml;

  Announcement read;
  ASSERT_TRUE(reads(xml, &read)) << xml;
  EXPECT_EQ(read.instance, 0x89ABCDEFu);
  EXPECT_EQ(read.players, 2);
  EXPECT_EQ(read.maxPlayers, 6);
  ASSERT_EQ(read.endpointCount, 2u);
  EXPECT_TRUE(read.endpoints[0] == sent.endpoints[0]);
  EXPECT_TRUE(read.endpoints[1] == sent.endpoints[1]);
}

TEST(Announcement, NothingToBuildWithoutAPlaceOrWithMorePlayersThanItsMaximum) {
  Announcement a;
  a.maxPlayers = 6;
  internet::xml::Element room;
  EXPECT_FALSE(internet::buildAnnouncement(a, room));  // no endpoint
  a.endpoints[0] = address("203.0.113.5", 6247);
  a.endpointCount = 1;
  a.players = 7;
  EXPECT_FALSE(internet::buildAnnouncement(a, room));
}

TEST(Announcement, WellFormedVariantsAreRead) {
  EXPECT_TRUE(reads(presence(roomXml(kGoodAttributes, kGoodBody))));
  // Whitespace between the elements, empty texts, a full room.
  EXPECT_TRUE(reads(presence(roomXml("version='2' instance='4294967295' players='6' max='6'",
                                     "\n  <reach address='198.51.100.9' port='1'/>\n"))));
  // Four places, the most there are.
  EXPECT_TRUE(reads(presence(roomXml(kGoodAttributes,
                                     "<reach address='198.51.100.1' port='1'/>"
                                     "<reach address='198.51.100.2' port='2'/>"
                                     "<reach address='2001:db8::3' port='3'/>"
                                     "<reach address='2001:db8::4' port='65535'/>"))));
  // An IPv4-mapped address reads as the IPv4 address it stands for.
  Announcement mapped;
  ASSERT_TRUE(reads(presence(roomXml(kGoodAttributes,
                                     "<reach address='::ffff:198.51.100.7' "
                                     "port='7'/>")),
                    &mapped));
  EXPECT_TRUE(mapped.endpoints[0] == address("198.51.100.7", 7));
}

TEST(Announcement, AnythingElseIsIgnoredWhole) {
  const std::vector<std::pair<const char*, std::string>> bad = {
      {"no announcement", presence("")},
      {"two announcements",
       presence(roomXml(kGoodAttributes, kGoodBody) + roomXml(kGoodAttributes, kGoodBody))},
      {"version 1 (a shared room's)",
       presence(roomXml("version='1' instance='7' players='1' max='6'", kGoodBody))},
      {"another version",
       presence(roomXml("version='3' instance='7' players='1' max='6'", kGoodBody))},
      {"version 01", presence(roomXml("version='02' instance='7' players='1' max='6'", kGoodBody))},
      {"no version", presence(roomXml("instance='7' players='1' max='6'", kGoodBody))},
      {"no instance", presence(roomXml("version='2' players='1' max='6'", kGoodBody))},
      {"an instance over 32 bits",
       presence(roomXml("version='2' instance='4294967296' players='1' max='6'", kGoodBody))},
      {"another element name",
       presence("<rooms xmlns='urn:x-vellora:room' version='2' instance='7' players='1' max='6'>" +
                kGoodBody + "</rooms>")},
      {"more players than its maximum",
       presence(roomXml("version='2' instance='7' players='7' max='6'", kGoodBody))},
      {"a negative count",
       presence(roomXml("version='2' instance='7' players='-1' max='6'", kGoodBody))},
      {"a count over 255",
       presence(roomXml("version='2' instance='7' players='1' max='256'", kGoodBody))},
      {"a count with a sign",
       presence(roomXml("version='2' instance='7' players='+1' max='6'", kGoodBody))},
      {"a count with a space",
       presence(roomXml("version='2' instance='7' players=' 1' max='6'", kGoodBody))},
      {"no place", presence(roomXml(kGoodAttributes, ""))},
      {"a name (version 1's)", presence(roomXml(kGoodAttributes, "<name>a</name>" + kGoodBody))},
      {"five places", presence(roomXml(kGoodAttributes,
                                       "<reach address='198.51.100.1' port='1'/>"
                                       "<reach address='198.51.100.2' port='2'/>"
                                       "<reach address='198.51.100.3' port='3'/>"
                                       "<reach address='198.51.100.4' port='4'/>"
                                       "<reach address='198.51.100.5' port='5'/>"))},
      {"an unknown element", presence(roomXml(kGoodAttributes, kGoodBody + "<extra/>"))},
      {"text between the elements", presence(roomXml(kGoodAttributes, "junk" + kGoodBody))},
      {"a host name for an address",
       presence(roomXml(kGoodAttributes, "<reach address='example.org' port='1'/>"))},
      {"an address in brackets",
       presence(roomXml(kGoodAttributes, "<reach address='[2001:db8::1]' port='1'/>"))},
      {"an address with a scope",
       presence(roomXml(kGoodAttributes, "<reach address='2001:db8::1%eth0' port='1'/>"))},
      {"port 0", presence(roomXml(kGoodAttributes, "<reach address='203.0.113.5' port='0'/>"))},
      {"port 65536",
       presence(roomXml(kGoodAttributes, "<reach address='203.0.113.5' port='65536'/>"))},
      {"no port", presence(roomXml(kGoodAttributes, "<reach address='203.0.113.5'/>"))},
      {"a place with a child",
       presence(roomXml(kGoodAttributes, "<reach address='203.0.113.5' port='1'><x/></reach>"))},
      {"a long children list",
       presence(roomXml(kGoodAttributes, kGoodBody + std::string(2000, 'x')))},
  };
  for (const auto& [what, xml] : bad) {
    internet::xml::Element parsed;
    ASSERT_TRUE(xmltest::parseStanza(xml, parsed)) << what << ": the test's XML does not parse";
    Announcement announcement;
    EXPECT_FALSE(internet::readAnnouncement(parsed, announcement)) << what;
  }
}

// The one address policy (internet/address_policy.h), as a guest applies it
// to what it is told to ask and a host to what it announces.
TEST(Announcement, OnlyPublicAddressesAreAskable) {
  for (const char* text : {"127.0.0.1",
                           "127.255.0.9",
                           "0.0.0.0",
                           "0.1.2.3",
                           "224.0.0.1",
                           "239.255.255.250",
                           "255.255.255.255",
                           "169.254.10.20",
                           "10.0.0.1",
                           "172.16.5.4",
                           "172.31.255.255",
                           "192.168.1.20",
                           "100.64.0.1",
                           "100.127.255.254",
                           "240.0.0.1",
                           "250.1.2.3",
                           "192.0.0.9",
                           "198.18.0.1",
                           "::",
                           "::1",
                           "ff02::1",
                           "ff0e::5",
                           "fe80::1",
                           "febf::1",
                           "fd00::20",
                           "fc00::1",
                           "fec0::1",
                           "::ffff:127.0.0.1",
                           "::ffff:224.0.0.9",
                           "::ffff:169.254.1.1",
                           "::ffff:0.0.0.0",
                           "::ffff:10.0.0.1",
                           "::7f00:1",
                           "::192.168.1.1",
                           "64:ff9b::7f00:1",
                           "64:ff9b::a00:1",
                           "64:ff9b::c0a8:114",
                           "64:ff9b:1::1",
                           "2002:7f00:1::1",
                           "2002:c0a8:114::1",
                           "2002:a00:1::5",
                           "4000::1",
                           "100::1"}) {
    EXPECT_FALSE(internet::isAskable(address(text, 6247))) << text;
  }
  for (const char* text : {"203.0.113.5", "198.51.100.1", "192.0.2.1", "8.8.8.8", "100.63.0.1",
                           "100.128.0.1", "172.32.0.1", "2001:db8::1", "2a00::1", "3fff::1",
                           "::ffff:203.0.113.5", "64:ff9b::cb00:7105", "2002:cb00:7105::1"}) {
    EXPECT_TRUE(internet::isAskable(address(text, 6247))) << text;
    EXPECT_FALSE(internet::isAskable(address(text, 0))) << text << " port 0";
  }
  EXPECT_TRUE(internet::isGlobalIpv6(address("2001:db8::1", 0)));
  EXPECT_TRUE(internet::isGlobalIpv6(address("3fff::1", 0)));
  EXPECT_FALSE(internet::isGlobalIpv6(address("fd00::1", 0)));
  EXPECT_FALSE(internet::isGlobalIpv6(address("fe80::1", 0)));
  EXPECT_FALSE(internet::isGlobalIpv6(address("2002:a00:1::5", 0)));
  EXPECT_FALSE(internet::isGlobalIpv6(address("203.0.113.5", 0)));
}

Announcement room(std::initializer_list<platform::Address> endpoints) {
  Announcement a;
  a.maxPlayers = 6;
  for (const platform::Address& e : endpoints) a.endpoints[a.endpointCount++] = e;
  return a;
}

// Every endpoint chosen, in order.
std::vector<platform::Address> endpointsOf(const std::vector<AnnouncedRoom>& rooms) {
  std::vector<platform::Address> all;
  for (const AnnouncedRoom& r : rooms) {
    for (size_t i = 0; i < r.endpoints.count; ++i) all.push_back(r.endpoints.addresses[i]);
  }
  return all;
}

std::string key(const platform::Address& a) { return platform::formatAddress(a); }

TEST(ChooseRooms, AFloodOnOneAddressGetsItsShareAndNoMore) {
  std::vector<Announcement> all;
  for (int i = 0; i < 1000; ++i)
    all.push_back(room({address("198.51.100.66", static_cast<uint16_t>(30000 + i))}));
  all.push_back(room({address("203.0.113.5", 6247)}));
  for (const char* forbidden : {"127.0.0.1", "224.0.0.1", "0.0.0.0", "::1", "fe80::1"})
    all.push_back(room({address(forbidden, 6247)}));
  std::mt19937 random(1);
  const std::vector<AnnouncedRoom> rooms = internet::chooseRooms(all, random);
  std::map<std::string, int> perAddress;
  for (const platform::Address& e : endpointsOf(rooms)) {
    ++perAddress[key(e)];
    EXPECT_TRUE(internet::isAskable(e)) << key(e);
  }
  EXPECT_EQ(perAddress["198.51.100.66"], static_cast<int>(internet::kRoomsPerAddress));
  EXPECT_EQ(perAddress["203.0.113.5"], 1);
  EXPECT_EQ(rooms.size(), internet::kRoomsPerAddress + 1);
}

TEST(ChooseRooms, AtMostNRoomsEachAddressAndPortOnce) {
  std::vector<Announcement> all;
  for (int i = 0; i < 300; ++i) {
    const std::string a = "198.51." + std::to_string(100 + i / 200) + "." + std::to_string(i % 200);
    all.push_back(room({address(a.c_str(), 6247)}));
    all.push_back(room({address(a.c_str(), 6247)}));  // the same room twice
  }
  std::mt19937 random(2);
  const std::vector<AnnouncedRoom> rooms = internet::chooseRooms(all, random);
  EXPECT_EQ(rooms.size(), net::kMaxAnnouncedRooms);
  std::set<std::string> seen;
  for (const platform::Address& e : endpointsOf(rooms)) {
    EXPECT_TRUE(seen.insert(key(e) + ":" + std::to_string(e.port)).second) << key(e);
  }
}

TEST(ChooseRooms, AMappedAddressCountsAsItsIpv4One) {
  std::vector<Announcement> all;
  for (int i = 0; i < 10; ++i) {
    all.push_back(room({address("198.51.100.66", static_cast<uint16_t>(1000 + i))}));
    all.push_back(room({address("::ffff:198.51.100.66", static_cast<uint16_t>(2000 + i))}));
  }
  std::mt19937 random(3);
  EXPECT_EQ(internet::chooseRooms(all, random).size(), internet::kRoomsPerAddress);
}

TEST(ChooseRooms, ARoomKeepsItsOtherPlacesWhenOneAddressIsFull) {
  std::vector<Announcement> all;
  for (int i = 0; i < 5; ++i)
    all.push_back(room({address("198.51.100.66", static_cast<uint16_t>(1000 + i))}));
  all.push_back(room({address("198.51.100.66", 6247), address("2001:db8::7", 6247)}));
  std::mt19937 random(4);
  const std::vector<AnnouncedRoom> rooms = internet::chooseRooms(all, random);
  std::map<std::string, int> perAddress;
  for (const platform::Address& e : endpointsOf(rooms)) ++perAddress[key(e)];
  EXPECT_EQ(perAddress["198.51.100.66"], static_cast<int>(internet::kRoomsPerAddress));
  EXPECT_EQ(perAddress["2001:db8::7"], 1);
}

// Which of a flood's rooms are asked is the guest's own draw: over many
// draws every position in the directory's order is chosen about as often.
TEST(ChooseRooms, TheOrderIsTheGuestsOwn) {
  std::map<uint16_t, int> chosen;
  std::mt19937 random(5);
  for (int draw = 0; draw < 2000; ++draw) {
    std::vector<Announcement> all;
    for (int i = 0; i < 10; ++i)
      all.push_back(room({address("198.51.100.66", static_cast<uint16_t>(1000 + i))}));
    for (const platform::Address& e : endpointsOf(internet::chooseRooms(all, random)))
      ++chosen[e.port];
  }
  for (int i = 0; i < 10; ++i) {
    // 2000 draws x 3 of 10: 600 expected each.
    EXPECT_GT(chosen[static_cast<uint16_t>(1000 + i)], 450) << i;
    EXPECT_LT(chosen[static_cast<uint16_t>(1000 + i)], 750) << i;
  }
}

// A relayed room: one place, the relay's, and whom to ask for a
// permission; built, read back, and refused in any other shape.
TEST(Announcement, ARelayedRoomNamesItsHostAndOnePlace) {
  Announcement sent = room({address("198.51.100.30", 49152)});
  sent.relayJid = "k3j9v2@dir.test/4711";
  internet::xml::Element wrapper("presence", "jabber:client");
  ASSERT_TRUE(internet::buildAnnouncement(sent, wrapper.addChild(internet::xml::Element())));
  std::string xml;
  internet::xml::write(wrapper, "jabber:client", xml);
  Announcement read;
  ASSERT_TRUE(reads(xml, &read)) << xml;
  EXPECT_EQ(read.relayJid, "k3j9v2@dir.test/4711");
  EXPECT_EQ(internet::jidDomain(read.relayJid), "dir.test");

  const std::string relay = "<relay jid='k3j9v2@dir.test/4711'/>";
  EXPECT_TRUE(reads(presence(roomXml(kGoodAttributes, kGoodBody + relay))));
  for (const std::string& bad : {
           kGoodBody + kGoodBody + relay,                       // two places
           kGoodBody + relay + relay,                           // two relays
           kGoodBody + "<relay jid='no-at-sign/x'/>",           // not a full address
           kGoodBody + "<relay jid='k3@dir.test'/>",            // no resource
           kGoodBody + "<relay jid='k3@dir.test/a b'/>",        // a space
           kGoodBody + "<relay jid='k3@dir.test/x'>text</relay>",
           kGoodBody + "<relay/>",
       }) {
    EXPECT_FALSE(reads(presence(roomXml(kGoodAttributes, bad)))) << bad;
  }
  EXPECT_FALSE(internet::isRelayJid("k3@dir.test/" + std::string(internet::kMaxJidBytes, 'x')));
  sent.endpoints[1] = address("203.0.113.5", 6247);
  sent.endpointCount = 2;
  internet::xml::Element room;
  EXPECT_FALSE(internet::buildAnnouncement(sent, room));
}

TEST(Announcement, APermissionsRequestAndGrantCarryAnAddressAlone) {
  for (const bool granted : {false, true}) {
    const internet::xml::Element sent =
        internet::permitMessage("k3@dir.test/1", address("198.51.100.11", 4000), granted);
    std::string xml;
    internet::xml::write(sent, "jabber:client", xml);
    internet::xml::Element stanza;
    ASSERT_TRUE(xmltest::parseStanza(xml, stanza)) << xml;
    bool readGranted = !granted;
    platform::Address read;
    ASSERT_TRUE(internet::readPermitMessage(stanza, readGranted, read)) << xml;
    EXPECT_EQ(readGranted, granted);
    EXPECT_TRUE(read == address("198.51.100.11", 0));
  }
  {
    // A request bounced back by the server (its host gone) is no grant.
    internet::xml::Element bounced;
    ASSERT_TRUE(xmltest::parseStanza(
        "<message from='h@dir.test/1' type='error'><permitted xmlns='urn:x-vellora:relay' "
        "address='198.51.100.11'/><error type='cancel'/></message>",
        bounced));
    bool granted = false;
    platform::Address read;
    EXPECT_FALSE(internet::readPermitMessage(bounced, granted, read));
  }
  for (const std::string& bad : {
           std::string("<permit xmlns='urn:x-vellora:relay' address='example.org'/>"),
           std::string("<permit xmlns='urn:x-vellora:relay' address='[::1]'/>"),
           std::string("<permit xmlns='urn:x-vellora:relay'/>"),
           std::string("<grant xmlns='urn:x-vellora:relay' address='198.51.100.11'/>"),
           std::string("<permit xmlns='urn:x-vellora:relay' address='198.51.100.11'/>"
                       "<permit xmlns='urn:x-vellora:relay' address='198.51.100.12'/>"),
       }) {
    internet::xml::Element stanza;
    ASSERT_TRUE(xmltest::parseStanza("<message from='a@b/c'>" + bad + "</message>", stanza));
    bool granted = false;
    platform::Address read;
    EXPECT_FALSE(internet::readPermitMessage(stanza, granted, read)) << bad;
  }
}

// Relayed rooms all share the relay's address: at most kMaxRelayedRooms of
// them, each place once, never a forbidden one, and none among the rooms
// chosen the other way.
TEST(ChooseRooms, RelayedRoomsHaveABoundOfTheirOwn) {
  std::vector<Announcement> all;
  for (int i = 0; i < 100; ++i) {
    Announcement a = room({address("198.51.100.30", static_cast<uint16_t>(49152 + i % 50))});
    a.relayJid = "h" + std::to_string(i) + "@dir.test/r";
    all.push_back(a);
  }
  Announcement forbidden = room({address("10.0.0.1", 49152)});
  forbidden.relayJid = "f@dir.test/r";
  all.push_back(forbidden);
  std::mt19937 random(7);
  EXPECT_TRUE(internet::chooseRooms(all, random).empty());
  const std::vector<internet::RelayedRoom> relayed = internet::chooseRelayedRooms(all, random);
  EXPECT_EQ(relayed.size(), internet::kMaxRelayedRooms);
  std::set<uint16_t> ports;
  for (const internet::RelayedRoom& r : relayed) {
    ASSERT_EQ(r.room.endpoints.count, 1u);
    EXPECT_EQ(key(r.room.endpoints.addresses[0]), "198.51.100.30");
    EXPECT_TRUE(ports.insert(r.room.endpoints.addresses[0].port).second);
  }
}

TEST(AnnouncementSample, KeepsAUniformSampleOfABoundedSize) {
  internet::AnnouncementSample sample(6);
  const size_t total = internet::kMaxKeptAnnouncements * 4;
  for (size_t i = 0; i < total; ++i) {
    Announcement a = room({address("198.51.100.1", static_cast<uint16_t>(1 + i % 60000))});
    a.players = static_cast<uint8_t>(i * 4 / total);  // the quarter it came in
    sample.offer(a);
  }
  EXPECT_EQ(sample.seen(), total);
  ASSERT_EQ(sample.kept().size(), internet::kMaxKeptAnnouncements);
  std::array<size_t, 4> quarters{};
  for (const Announcement& a : sample.kept()) ++quarters[a.players];
  for (size_t q : quarters) {
    EXPECT_GT(q, internet::kMaxKeptAnnouncements / 4 * 8 / 10);
    EXPECT_LT(q, internet::kMaxKeptAnnouncements / 4 * 12 / 10);
  }
}

TEST(DirectoryServer, ParsedFromRoomConfig) {
  net::DirectoryServer server;
  ASSERT_TRUE(net::parseDirectoryServer("rooms.example.org", server));
  EXPECT_STREQ(server.domain.data(), "rooms.example.org");
  EXPECT_EQ(server.port, 5222);
  ASSERT_TRUE(net::parseDirectoryServer("example.org:15222", server));
  EXPECT_STREQ(server.domain.data(), "example.org");
  EXPECT_EQ(server.port, 15222);
  for (const char* bad :
       {"", ":5222", "example.org:", "example.org:0", "example.org:65536", "example.org:+5",
        "example.org:5x", "exa mple.org", "[::1]:5222", "example.org:5222:1", "a..b"}) {
    EXPECT_FALSE(net::parseDirectoryServer(bad, server)) << bad;
    EXPECT_FALSE(server.configured()) << bad;
  }
}

}  // namespace
