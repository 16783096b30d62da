// A host whose first address is silent is still listed and joined: its next
// address is tried beside the silent one after 250 ms (RFC 8305). The test
// runs itself again inside a network namespace of its own (the guest's and
// the host's machine) whose name server is the test's (tests/support/
// slow_dns.py); a second namespace is the machine's router, which drops
// whatever goes to 198.51.100.0/24 and 2001:db8:77::/64 without a word
// (blackhole routes: the firewall that lets nothing through). The names:
//   v6silent.vellora.test  AAAA 2001:db8:77::2 (silent), A 127.0.0.1
//   v4silent.vellora.test  A 198.51.100.2 (silent), AAAA fd00:77::1 (the
//                          machine's own address)
// and the system's lookup puts the silent address first for each (checked):
// IPv6 by its default order, IPv4 where the machine is set to prefer IPv4
// (the line of Debian's /etc/gai.conf for it, as `ip netns exec` shows the
// namespace its own gai.conf).
// Linux only; needs root (skipped, saying why, without it).
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "net/room_query.h"
#include "support/name_server.h"
#include "support/net_test_peers.h"
#include "support/wire_host.h"

namespace {

using nettest::Lobby;

constexpr uint16_t kPort = 24430;
constexpr uint16_t kWirePort = 24431;
constexpr uint32_t kListedWithinMs = 2500;
constexpr const char* kV6Silent = "v6silent.vellora.test";
constexpr const char* kV4Silent = "v4silent.vellora.test";

// Outside: makes the machine and its router, and runs the current test again
// inside the machine.
void runInsideTheMachine(bool preferIpv4 = false) {
  nettest::ScratchNamespace machine("eyg");
  if (!machine.whyNot().empty()) GTEST_SKIP() << machine.whyNot();
  nettest::ScratchNamespace router("eyr");
  ASSERT_TRUE(router.whyNot().empty()) << router.whyNot();
  const std::string g = "nsenter --net=/var/run/netns/" + machine.name() + " ";
  const std::string r = "nsenter --net=/var/run/netns/" + router.name() + " ";
  // nodad: the IPv6 addresses are usable at once, with no duplicate check.
  for (const std::string& command : {
           "ip link add eyeg0 netns " + machine.name() + " type veth peer name eyer0 netns " +
               router.name(),
           g + "ip addr add 10.213.77.1/24 dev eyeg0",
           g + "ip addr add fd00:77::1/64 dev eyeg0 nodad",
           // A global source address, so the system ranks the silent IPv6
           // destination above IPv4 (RFC 6724).
           g + "ip addr add 2001:db8:78::1/64 dev eyeg0 nodad",
           g + "ip link set eyeg0 up",
           r + "ip addr add 10.213.77.2/24 dev eyer0",
           r + "ip addr add fd00:77::2/64 dev eyer0 nodad",
           r + "ip link set eyer0 up",
           g + "ip route add 198.51.100.0/24 via 10.213.77.2",
           g + "ip -6 route add 2001:db8:77::/64 via fd00:77::2",
           r + "sysctl -qw net.ipv4.ip_forward=1",
           r + "sysctl -qw net.ipv6.conf.all.forwarding=1",
           r + "ip route add blackhole 198.51.100.0/24",
           r + "ip -6 route add blackhole 2001:db8:77::/64",
       }) {
    ASSERT_TRUE(nettest::quietly(command)) << command;
  }
  // With any precedence line, glibc takes the table from gai.conf alone:
  // its default one, IPv4 raised.
  const std::string gai = "/etc/netns/" + machine.name() + "/gai.conf";
  if (preferIpv4) {
    std::ofstream(gai) << "precedence ::1/128 50\nprecedence ::/0 40\nprecedence 2002::/16 30\n"
                          "precedence ::/96 20\nprecedence ::ffff:0:0/96 100\n";
  }
  const bool passed = machine.runCurrentTestInside();
  std::remove(gai.c_str());
  ASSERT_TRUE(passed) << "the run inside " << machine.name() << " failed";
}

// The system's order for name starts with silent, then answering.
void expectOrder(const char* name, const char* silent, const char* answering) {
  platform::LookupAnswer found;
  ASSERT_TRUE(platform::systemNameLookup(name, found)) << name;
  ASSERT_EQ(found.count, 2u) << name;
  EXPECT_EQ(platform::formatAddress(found.addresses[0]), silent) << name;
  EXPECT_EQ(platform::formatAddress(found.addresses[1]), answering) << name;
}

// A refresh of the one listed line, as the key press on "refresh" starts it
// (the local network searched too), one step per 16 ms frame with `frame`
// run between them. Returns the time until the refresh ended and the room
// list would show what it found.
uint32_t refreshLine(net::RoomRefresh& refresh, uint16_t port, const char* host,
                     const std::function<void()>& frame) {
  const RoomRecord listed = nettest::listedRoom(port, host);
  const Uint32 pressed = SDL_GetTicks();
  refresh.start(&listed, 1, 1000, true);
  for (int i = 0; i < 400 && !refresh.step(); ++i) {
    frame();
    SDL_Delay(16);
  }
  return SDL_GetTicks() - pressed;
}

class Eyeballs : public nettest::NetTest {
 protected:
  // Our host on kPort: listed by name within the bound, then joined.
  void listAndJoin(const char* name) {
    Lobby host;
    ASSERT_TRUE(host.host(kPort));
    copyField(host.room.roomName, "Ame");
    net::RoomRefresh refresh;
    const uint32_t took = refreshLine(refresh, kPort, name, [&] { host.frame(); });
    std::printf("%s listed; the refresh ended %u ms after the key press\n", name, took);
    ASSERT_TRUE(refresh.answered(0)) << name << " was not listed";
    EXPECT_LE(took, kListedWithinMs);
    EXPECT_STREQ(refresh.answer(0).roomName.data(), "Ame");
    EXPECT_STREQ(refresh.answer(0).hostAddress.data(), name);
    // The search found the same room at the machine's own address: one cell.
    size_t shown = 0;
    for (size_t i = 0; i < refresh.size(); ++i) shown += refresh.answered(i) ? 1 : 0;
    EXPECT_EQ(shown, 1u);

    Lobby guest;
    const Uint32 begun = SDL_GetTicks();
    ASSERT_TRUE(guest.guest(kPort, "Tabi", name)) << name << " was not joined";
    const Uint32 joinTook = SDL_GetTicks() - begun;
    std::printf("%s: the join's connection took %u ms\n", name, joinTook);
    EXPECT_LT(joinTook, net::kConnectTimeoutMs);
    ASSERT_TRUE(nettest::runUntil([&] { return host.room.currentPlayers == 2; }, {&host, &guest}));
    EXPECT_EQ(guest.link.ownSlot(), 1);
    EXPECT_STREQ(guest.players[0].name.data(), "Host");
  }
};

TEST_F(Eyeballs, SilentIpv6FirstTheIpv4AddressIsListedAndJoined) {
  if (!nettest::insideNamespace()) return runInsideTheMachine();
  nettest::SlowNameServer names(0);
  ASSERT_TRUE(names.ready()) << "the name server did not start";
  expectOrder(kV6Silent, "2001:db8:77::2", "127.0.0.1");
  listAndJoin(kV6Silent);
}

TEST_F(Eyeballs, SilentIpv4FirstTheIpv6AddressIsListedAndJoined) {
  if (!nettest::insideNamespace()) return runInsideTheMachine(true);
  nettest::SlowNameServer names(0);
  ASSERT_TRUE(names.ready()) << "the name server did not start";
  expectOrder(kV4Silent, "198.51.100.2", "fd00:77::1");
  listAndJoin(kV4Silent);
}

// A host that follows the wire format exactly, listening on IPv4 alone: the
// refresh and the join each cost it one connection, and the count it keeps
// stays right (a second connection closed would count as a player leaving).
TEST_F(Eyeballs, AWireFormatHostOnIpv4AloneCountsOneConnectionEach) {
  if (!nettest::insideNamespace()) return runInsideTheMachine();
  nettest::SlowNameServer names(0);
  ASSERT_TRUE(names.ready()) << "the name server did not start";
  nettest::WireHost host(kWirePort);
  ASSERT_TRUE(host.listening());
  net::RoomRefresh refresh;
  const uint32_t took = refreshLine(refresh, kWirePort, kV6Silent, [&] { host.step(); });
  ASSERT_TRUE(refresh.answered(0));
  EXPECT_LE(took, kListedWithinMs);
  EXPECT_STREQ(refresh.answer(0).roomName.data(), "WireRoom");
  for (int i = 0; i < 20; ++i) host.step();
  ASSERT_EQ(host.accepted(), 1);
  EXPECT_EQ(host.receivedOn(0), (nettest::Bytes{0, 0, 0}));
  EXPECT_EQ(host.count(), 1);
  {
    Lobby guest;
    ASSERT_TRUE(guest.guest(kWirePort, "Tabi", kV6Silent));
    for (int i = 0; i < nettest::kMaxSteps && host.count() != 2; ++i) {
      host.step();
      guest.frame();
      SDL_Delay(1);
    }
    EXPECT_EQ(host.count(), 2);
    EXPECT_EQ(guest.link.ownSlot(), 1);
  }  // the guest leaves
  for (int i = 0; i < nettest::kMaxSteps && host.count() != 1; ++i) {
    host.step();
    SDL_Delay(1);
  }
  for (int i = 0; i < 20; ++i) host.step();
  EXPECT_EQ(host.count(), 1);
  EXPECT_EQ(host.accepted(), 2);
}

}  // namespace
