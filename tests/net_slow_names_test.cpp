// Rooms listed by host name behind a slow name server: every name is looked
// up, none is dropped for lack of lookup threads, and each room is asked
// once. The test runs itself again inside a network namespace of its own,
// whose resolv.conf names the test's name server (tests/support/slow_dns.py,
// 150 ms an answer); the stand-in rooms listen on that namespace's loopback.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "net/room_query.h"
#include "support/name_server.h"
#include "support/net_test_peers.h"

namespace {

using nettest::CountingRooms;

constexpr uint16_t kFirstPort = 24100;
constexpr int kRooms = 40;

std::string roomHost(int i) {
  char text[40];
  std::snprintf(text, sizeof text, "room%02d.vellora.test", i);
  return text;
}

class SlowNames : public nettest::NetTest {};

TEST_F(SlowNames, FortyNamedRoomsAllAnswerOnceWithinTheGoal) {
  if (!nettest::insideNamespace()) {
    nettest::ScratchNamespace ns("names");
    if (!ns.whyNot().empty()) GTEST_SKIP() << ns.whyNot();
    ASSERT_TRUE(ns.runCurrentTestInside()) << "the run inside " << ns.name() << " failed";
    return;
  }
  nettest::SlowNameServer names(150);
  ASSERT_TRUE(names.ready()) << "the name server did not start";
  CountingRooms rooms(kFirstPort, kRooms);
  ASSERT_TRUE(rooms.ready());
  std::vector<RoomRecord> listed;
  for (int i = 0; i < kRooms; ++i) {
    listed.push_back(
        nettest::listedRoom(static_cast<uint16_t>(kFirstPort + i), roomHost(i).c_str()));
  }

  net::RoomRefresh refresh;
  const Uint32 start = SDL_GetTicks();
  refresh.start(listed.data(), listed.size(), 2000);
  // The game's pace: one step a frame. Bounded well past every time limit.
  for (int frame = 0; frame < 1000 && !refresh.step(); ++frame) SDL_Delay(10);
  const Uint32 took = SDL_GetTicks() - start;
  std::printf("40 named rooms refreshed in %u ms\n", took);

  ASSERT_EQ(refresh.size(), static_cast<size_t>(kRooms));
  const std::map<std::string, int> queries = names.queries();
  for (int i = 0; i < kRooms; ++i) {
    EXPECT_TRUE(refresh.answered(i)) << roomHost(i) << " did not answer";
    if (refresh.answered(i)) {
      EXPECT_STREQ(refresh.answer(i).roomName.data(), CountingRooms::name(i).c_str());
      EXPECT_STREQ(refresh.answer(i).hostAddress.data(), roomHost(i).c_str());
    }
    EXPECT_EQ(rooms.asked(i), 1) << roomHost(i);
    EXPECT_EQ(rooms.taken(i), 1) << roomHost(i) << ": connections other than the query";
    const auto a = queries.find("A " + roomHost(i));
    EXPECT_TRUE(a != queries.end()) << roomHost(i) << " never reached the name server";
  }
  EXPECT_LE(took, 2500u);
}

}  // namespace
