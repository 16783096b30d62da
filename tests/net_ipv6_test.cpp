// Rooms over IPv6: our dual-stack host queried and joined over ::1 and over
// an IPv6 link between two namespaces; a name with only an AAAA record; a
// RoomList.txt line "[::1]:port"; and lines that are neither an address nor
// a name, refused with a message before any lookup or connection.
#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "net/room_files.h"
#include "net/room_query.h"
#include "support/name_server.h"
#include "support/net_test_peers.h"

namespace {

using nettest::Lobby;
using nettest::runUntil;

constexpr uint16_t kPort = 24260;

class Ipv6 : public nettest::NetTest {};

// Queries the room at host:port while host frames run, then joins it as
// "Six"; the host sees the guest's record arrive.
void queryAndJoin(Lobby& host, const char* address, uint16_t port) {
  RoomRecord room = nettest::listedRoom(port, address);
  {
    const nettest::Background serving(host);
    ASSERT_TRUE(net::queryRoom(room, 200, 5)) << "no answer over " << address;
  }
  EXPECT_STREQ(room.roomName.data(), "Room");
  EXPECT_STREQ(room.hostAddress.data(), address);
  Lobby guest;
  ASSERT_TRUE(guest.guest(port, "Six", address));
  ASSERT_TRUE(runUntil([&] { return host.arrivals[1] == 1; }, {&host, &guest}))
      << "the join over " << address << " was not seated";
  EXPECT_EQ(guest.link.ownSlot(), 1);
}

TEST_F(Ipv6, OurHostIsQueriedAndJoinedOverTheLoopback) {
  Lobby host;
  ASSERT_TRUE(host.host(kPort));
  queryAndJoin(host, "::1", kPort);
}

TEST_F(Ipv6, OurHostIsQueriedAndJoinedOverALinkBetweenNamespaces) {
  nettest::ScratchNamespace hostSide("6h");
  if (!hostSide.whyNot().empty()) GTEST_SKIP() << hostSide.whyNot();
  nettest::ScratchNamespace guestSide("6g");
  ASSERT_TRUE(guestSide.whyNot().empty()) << guestSide.whyNot();
  const std::string in = "nsenter --net=/var/run/netns/";
  // nodad: the addresses are usable at once, with no duplicate detection.
  ASSERT_TRUE(nettest::quietly("ip link add dnsv6h netns " + hostSide.name() +
                               " type veth peer name dnsv6g netns " + guestSide.name()));
  ASSERT_TRUE(
      nettest::quietly(in + hostSide.name() + " ip addr add fd00:d5::1/64 dev dnsv6h nodad"));
  ASSERT_TRUE(
      nettest::quietly(in + guestSide.name() + " ip addr add fd00:d5::2/64 dev dnsv6g nodad"));
  ASSERT_TRUE(nettest::quietly(in + hostSide.name() + " ip link set dnsv6h up"));
  ASSERT_TRUE(nettest::quietly(in + guestSide.name() + " ip link set dnsv6g up"));
  Lobby host;
  {
    const nettest::ThreadInNamespace inHost(hostSide.name());
    ASSERT_TRUE(inHost.entered());
    ASSERT_TRUE(host.host(kPort));
  }
  const nettest::ThreadInNamespace inGuest(guestSide.name());
  ASSERT_TRUE(inGuest.entered());
  queryAndJoin(host, "fd00:d5::1", kPort);
}

// Inside a namespace of its own, with the test's name server: the room
// list's lines are read, then refreshed as the room list scene does.
TEST_F(Ipv6, ListedAddressesAndNamesOfEitherFamilyOrNeither) {
  if (!nettest::insideNamespace()) {
    nettest::ScratchNamespace ns("6n");
    if (!ns.whyNot().empty()) GTEST_SKIP() << ns.whyNot();
    ASSERT_TRUE(ns.runCurrentTestInside()) << "the run inside " << ns.name() << " failed";
    return;
  }
  nettest::SlowNameServer names(150);
  ASSERT_TRUE(names.ready()) << "the name server did not start";
  Lobby host;
  ASSERT_TRUE(host.host(kPort));
  const nettest::Background serving(host);

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fprintf(file, "[::1]:%u\r\n[2001:db8::zz]:6247\n", kPort);
  std::rewind(file);
  std::array<RoomRecord, 4> rooms{};
  ASSERT_EQ(net::readRoomList(file, rooms.data(), 3), 2);
  std::fclose(file);
  EXPECT_STREQ(rooms[0].hostAddress.data(), "[::1]");
  EXPECT_EQ(rooms[0].port, kPort);
  rooms[2] = nettest::listedRoom(kPort, "exa mple");
  rooms[3] = nettest::listedRoom(kPort, "v6only.vellora.test");

  testing::internal::CaptureStderr();
  net::RoomRefresh refresh;
  refresh.start(rooms.data(), rooms.size(), 2000);
  const int lookups = platform::pendingLookups();  // the AAAA-only name alone
  for (int frame = 0; frame < 1000 && !refresh.step(); ++frame) SDL_Delay(5);
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(lookups, 1);

  ASSERT_EQ(refresh.size(), rooms.size());
  EXPECT_TRUE(refresh.answered(0));
  EXPECT_STREQ(refresh.answer(0).hostAddress.data(), "[::1]");
  EXPECT_STREQ(refresh.answer(0).roomName.data(), "Room");
  EXPECT_FALSE(refresh.answered(1));
  EXPECT_FALSE(refresh.answered(2));
  EXPECT_TRUE(refresh.answered(3)) << "the name with only an AAAA record";
  EXPECT_STREQ(refresh.answer(3).hostAddress.data(), "v6only.vellora.test");
  // One message for each line that names no host, and nothing else.
  EXPECT_NE(errors.find("SDLNet_ResolveHost: [2001:db8::zz]"), std::string::npos) << errors;
  EXPECT_NE(errors.find("SDLNet_ResolveHost: exa mple"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("SDLNet_TCP_Open"), std::string::npos) << errors;
  // Only the AAAA-only name reached the name server.
  for (const auto& [query, count] : names.queries()) {
    EXPECT_NE(query.find(" v6only.vellora.test"), std::string::npos) << "asked for " << query;
  }
}

}  // namespace
