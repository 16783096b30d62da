// A room with one guest slot left, asked by several queries at once and
// joined while it is being asked: every query is answered and the newcomer
// is seated. Our own host with four of our own guests.
#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "net/room_query.h"
#include "support/net_test_peers.h"

namespace {

using nettest::Lobby;

constexpr uint16_t kPort = 24230;
constexpr int kGuests = 4;  // with the host, one slot of six left

class LastSlot : public nettest::NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    ASSERT_TRUE(host_.host(kPort));
    for (int i = 0; i < kGuests; ++i) {
      const std::string name = "Guest" + std::to_string(i + 1);
      ASSERT_TRUE(guests_[i].guest(kPort, name.c_str()));
      ASSERT_TRUE(runAll([&] { return host_.arrivals[i + 1] == 1; }));
    }
    ASSERT_EQ(host_.room.currentPlayers, kGuests + 1);
  }
  // Runs frames of every lobby until done() holds; false when it never did.
  bool runAll(const std::function<bool()>& done) {
    for (int frame = 0; frame < nettest::kMaxSteps; ++frame) {
      if (done()) return true;
      frames();
    }
    return done();
  }
  void frames() {
    host_.frame();
    for (Lobby& guest : guests_) guest.frame();
    SDL_Delay(1);
  }
  // Steps refresh and every lobby, frame by frame, until the refresh is
  // done (and extra() holds); false when that never happened.
  bool runRefresh(
      net::RoomRefresh& refresh, const std::function<bool()>& extra = [] { return true; }) {
    for (int frame = 0; frame < nettest::kMaxSteps; ++frame) {
      const bool done = refresh.step();
      if (done && extra()) return true;
      frames();
    }
    return false;
  }

  Lobby host_;
  std::array<Lobby, kGuests> guests_;
};

TEST_F(LastSlot, ARoomListedThreeTimesAnswersEveryTimeOverThirtyRefreshes) {
  const std::array<RoomRecord, 3> listed = {nettest::listedRoom(kPort), nettest::listedRoom(kPort),
                                            nettest::listedRoom(kPort)};
  int answered = 0;
  for (int round = 0; round < 30; ++round) {
    net::RoomRefresh refresh;
    refresh.start(listed.data(), listed.size(), 2000);
    ASSERT_TRUE(runRefresh(refresh)) << "refresh " << round << " never ended";
    for (size_t i = 0; i < listed.size(); ++i) {
      EXPECT_TRUE(refresh.answered(i)) << "refresh " << round << ", entry " << i;
      if (!refresh.answered(i)) continue;
      ++answered;
      EXPECT_EQ(refresh.answer(i).currentPlayers, kGuests + 1);
    }
  }
  EXPECT_EQ(answered, 30 * 3);
  // Nobody joined or left meanwhile.
  EXPECT_EQ(host_.room.currentPlayers, kGuests + 1);
  for (int i = 1; i <= kGuests; ++i) EXPECT_EQ(host_.leaves[i], 0);
}

TEST_F(LastSlot, AQueryWhileSomeoneTakesTheLastSlotIsAnsweredAndTheJoinSeated) {
  const RoomRecord listed = nettest::listedRoom(kPort);
  net::RoomRefresh refresh;
  refresh.start(&listed, 1, 2000);
  // The query's connection is made and its three bytes sent (the host has
  // not looked at its listener yet), then the newcomer connects and joins:
  // the query reaches the host while the slot is still free.
  for (int i = 0; i < 3; ++i) {
    refresh.step();
    SDL_Delay(1);
  }
  Lobby newcomer;
  ASSERT_TRUE(newcomer.guest(kPort, "Late"));
  ASSERT_TRUE(runRefresh(refresh, [&] {
    newcomer.frame();
    return host_.arrivals[kGuests + 1] == 1;
  })) << "the query or the join never settled";
  EXPECT_TRUE(refresh.answered(0));
  EXPECT_EQ(newcomer.link.ownSlot(), kGuests + 1);
  EXPECT_EQ(host_.room.currentPlayers, kPlayerSlots);
}

}  // namespace
