// The program against a host written from the wire format alone, which
// counts every closed connection it seated as a player leaving: a refresh,
// a join and leaving must cost it exactly the connections and bytes the
// format describes, or its count goes wrong.
#include <gtest/gtest.h>

#include "net/room_query.h"
#include "support/net_test_peers.h"
#include "support/wire_host.h"

namespace {

using nettest::Bytes;
using nettest::Lobby;
using nettest::WireHost;

// Runs the wire host and step() until done() holds; false when it never did.
bool stepUntil(
    WireHost& host, const std::function<bool()>& done, const std::function<void()>& step = [] {}) {
  for (int i = 0; i < nettest::kMaxSteps; ++i) {
    if (done()) return true;
    host.step();
    step();
    SDL_Delay(1);
  }
  return done();
}

TEST(WireHost, ARefreshCostsOneConnectionSendingThreeZerosAndLeavesTheCount) {
  WireHost host(23301);
  ASSERT_TRUE(host.listening());
  const RoomRecord listed = nettest::listedRoom(23301);
  for (int refresh = 1; refresh <= 2; ++refresh) {
    net::RoomRefresh asking;
    asking.start(&listed, 1, 1000);
    bool done = false;
    ASSERT_TRUE(stepUntil(
        host, [&] { return done; }, [&] { done = asking.step(); }));
    ASSERT_TRUE(asking.answered(0));
    EXPECT_EQ(asking.answer(0).currentPlayers, 1);
    EXPECT_STREQ(asking.answer(0).roomName.data(), "WireRoom");
    for (int i = 0; i < 10; ++i) host.step();
    EXPECT_EQ(host.accepted(), refresh);
    EXPECT_EQ(host.receivedOn(refresh - 1), (Bytes{0, 0, 0}));
    EXPECT_EQ(host.count(), 1);
  }
}

TEST(WireHost, AJoinCostsOneConnectionAndLeavingBringsTheCountBack) {
  WireHost host(23302);
  ASSERT_TRUE(host.listening());
  {
    Lobby guest;
    ASSERT_TRUE(guest.guest(23302, "Guest"));
    const Bytes expected =
        nettest::join(nettest::guestFrame(net::Join),
                      nettest::guestFrame(net::PlayerInfo, nettest::recordBytes(guest.players[0])));
    ASSERT_TRUE(stepUntil(
        host, [&] { return host.accepted() == 1 && host.receivedOn(0).size() >= expected.size(); },
        [&] { guest.frame(); }));
    EXPECT_EQ(host.receivedOn(0), expected);
    EXPECT_EQ(guest.link.ownSlot(), 1);
    EXPECT_STREQ(guest.players[0].name.data(), "WireHost");
    EXPECT_EQ(host.count(), 2);
  }  // the guest leaves: its lobby closes the connection
  ASSERT_TRUE(stepUntil(host, [&] { return host.count() == 1; }));
  for (int i = 0; i < 10; ++i) host.step();
  EXPECT_EQ(host.count(), 1);
  EXPECT_EQ(host.accepted(), 1);
}

}  // namespace
