// The room list driven frame by frame with buttons set by hand: the button
// bar's skipping rules, paging, the grid, joining and hosting, and a real
// refresh against a room that answers over loopback.
#include <gtest/gtest.h>

#include <thread>

#include "net/wire.h"
#include "render/draw.h"
#include "scenes/room_list_scene.h"
#include "scenes/widgets.h"
#include "support/game_fixture.h"
#include "support/net_test_peers.h"
#include "support/test_support.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::frame;
using testsupport::readGlPixel;

constexpr uint16_t kPort = 23201;
constexpr uint16_t kClosedPort = 23202;
constexpr uint16_t kSilentPort = 23203;
constexpr uint16_t kCommentPort = 23204;

bool isCell(testsupport::Rgba p) { return p.r < 20 && p.g < 20 && p.b < 20; }

// Whether the help panel shows white text right of x = 120 (where a comment
// of a few letters, drawn from x = 20, does not reach).
bool longTextInHelpPanel() {
  for (int y = 428; y < 470; ++y) {
    for (int x = 120; x < 630; ++x) {
      const testsupport::Rgba p = testsupport::readGlPixel(x, y);
      if (p.r > 200 && p.g > 200 && p.b > 200) return true;
    }
  }
  return false;
}

class RoomList : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ctx = &testsupport::startedContext();
    link = new net::NetLink;
    scene = new RoomListScene(*ctx, *link);
  }
  void SetUp() override {
    testsupport::setDrawing(false);
    widgets::state() = widgets::WidgetState{};
    setDefaultBindings(ctx->bindings.data());
    for (RoomListEntry& entry : scene->entries) {
      entry.unanswered = 1;
      entry.found = false;
      entry.room = RoomRecord{};
    }
    ctx->sceneId = kSceneRoomList;
    ctx->entryPending = 0;
    link->setMode(net::Offline);
    scene->enter();
  }
  static void answer(std::initializer_list<int> indexes) {
    for (int i : indexes) {
      scene->entries[i].unanswered = 0;
      scene->entries[i].room.maxPlayers = 6;
      copyField(scene->entries[i].room.comment, "hello");
    }
  }

  static GameContext* ctx;
  static net::NetLink* link;
  static RoomListScene* scene;
};
GameContext* RoomList::ctx = nullptr;
net::NetLink* RoomList::link = nullptr;
RoomListScene* RoomList::scene = nullptr;

TEST_F(RoomList, WithoutAnsweredRoomsDownDoesNothingAndTheGridIsEmpty) {
  testsupport::setDrawing(true);
  frame(*ctx, *scene, {ButtonDown});
  EXPECT_EQ(scene->visit.browsing, 0);
  EXPECT_EQ(scene->visit.selected, 0);
  EXPECT_FALSE(isCell(readGlPixel(120, 130)));
}

TEST_F(RoomList, AnsweredRoomsPackTogetherOnTheirPage) {
  testsupport::setDrawing(true);
  answer({0, 1, 4});
  frame(*ctx, *scene);
  testsupport::saveGlScreenshot("room-list-packed");
  EXPECT_TRUE(isCell(readGlPixel(120, 130)));
  EXPECT_TRUE(isCell(readGlPixel(320, 130)));
  EXPECT_TRUE(isCell(readGlPixel(520, 130)));
  EXPECT_FALSE(isCell(readGlPixel(120, 230)));
}

TEST_F(RoomList, HighlightNeverRestsOnPageButtonsWithOnePage) {
  answer({0, 1, 2});
  frame(*ctx, *scene, {ButtonRight});
  EXPECT_EQ(scene->visit.button, RoomListScene::ButtonCreate);
  frame(*ctx, *scene, {ButtonRight});  // lands on "previous", turned back at once
  EXPECT_EQ(scene->visit.button, RoomListScene::ButtonCreate);
}

TEST_F(RoomList, PagesMoveByNineAndBack) {
  testsupport::setDrawing(true);
  answer({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  frame(*ctx, *scene, {ButtonRight});
  frame(*ctx, *scene, {ButtonRight});  // skips "previous" to "next"
  EXPECT_EQ(scene->visit.button, RoomListScene::ButtonNext);
  frame(*ctx, *scene, {ButtonConfirm});
  EXPECT_EQ(scene->visit.selected, 9);
  EXPECT_EQ(scene->visit.browsing, 0);
  frame(*ctx, *scene);
  // No page after this one: the highlight falls back to "previous".
  EXPECT_EQ(scene->visit.button, RoomListScene::ButtonPrevious);
  EXPECT_TRUE(isCell(readGlPixel(120, 130)));  // entries 9..11 in the top row
  EXPECT_TRUE(isCell(readGlPixel(520, 130)));
  EXPECT_FALSE(isCell(readGlPixel(120, 230)));
  frame(*ctx, *scene, {ButtonConfirm});
  EXPECT_EQ(scene->visit.selected, 0);
  frame(*ctx, *scene);
  EXPECT_TRUE(isCell(readGlPixel(120, 330)));  // rows of three: 0..8
}

TEST_F(RoomList, NextFromTheLastFullPageReachesTheHundredthRoom) {
  answer({90, 92, 95, 99});
  for (const uint16_t from : {90, 95, 98}) {
    scene->visit.selected = from;
    scene->visit.button = RoomListScene::ButtonNext;
    frame(*ctx, *scene, {ButtonConfirm});
    EXPECT_EQ(scene->visit.selected, 99) << "from " << from;
    frame(*ctx, *scene);  // no page after the last: the highlight moves off "next"
    EXPECT_EQ(scene->visit.button, RoomListScene::ButtonPrevious);
  }
}

TEST_F(RoomList, GridMovesAndUpFromTheTopRowReturnsToTheBar) {
  answer({2, 3, 4, 5, 6});
  frame(*ctx, *scene, {ButtonDown});
  EXPECT_EQ(scene->visit.browsing, 1);
  EXPECT_EQ(scene->visit.selected, 2);  // the first answered entry
  EXPECT_EQ(scene->lastCommentIndex, 2);
  frame(*ctx, *scene, {ButtonDown});
  EXPECT_EQ(scene->visit.selected, 5);
  frame(*ctx, *scene, {ButtonDown});  // entry 8 did not answer
  EXPECT_EQ(scene->visit.selected, 5);
  frame(*ctx, *scene, {ButtonRight});
  EXPECT_EQ(scene->visit.selected, 6);
  frame(*ctx, *scene, {ButtonRight});
  EXPECT_EQ(scene->visit.selected, 6);
  frame(*ctx, *scene, {ButtonUp});
  EXPECT_EQ(scene->visit.selected, 3);
  frame(*ctx, *scene, {ButtonLeft});
  frame(*ctx, *scene, {ButtonUp});
  EXPECT_EQ(scene->visit.browsing, 0);
  EXPECT_EQ(scene->visit.selected, 2);
}

// While the cursor is in the grid, the bar's highlighted button keeps its
// white label but loses its lit window.
TEST_F(RoomList, WhileBrowsingTheBarLightsTheLabelNotTheWindow) {
  testsupport::setDrawing(true);
  answer({0});
  const auto whiteInLabel = [] {
    for (int y = 20; y < 40; ++y) {
      for (int x = 50; x < 130; ++x) {
        const testsupport::Rgba p = readGlPixel(x, y);
        if (p.r > 220 && p.g > 220 && p.b > 220) return true;
      }
    }
    return false;
  };
  frame(*ctx, *scene);
  EXPECT_TRUE(whiteInLabel());
  EXPECT_LT(readGlPixel(45, 30).b, 40) << "the window is lit on the bar";
  frame(*ctx, *scene, {ButtonDown});
  ASSERT_EQ(scene->visit.browsing, 1);
  frame(*ctx, *scene);
  EXPECT_TRUE(whiteInLabel()) << "the highlighted label went dim while browsing";
  EXPECT_GT(readGlPixel(45, 30).b, 60) << "the window is still lit while browsing";
}

TEST_F(RoomList, ConfirmOnARoomJoinsItAsGuest) {
  answer({0, 1});
  copyField(scene->entries[1].room.hostAddress, "192.0.2.7");
  scene->entries[1].room.port = 7001;
  frame(*ctx, *scene, {ButtonDown});
  frame(*ctx, *scene, {ButtonRight});
  frame(*ctx, *scene, {ButtonConfirm});
  EXPECT_EQ(ctx->sceneId, kSceneRoomLobby);
  EXPECT_EQ(link->mode(), net::Guest);
  EXPECT_STREQ(ctx->currentRoom.hostAddress.data(), "192.0.2.7");
  EXPECT_EQ(ctx->currentRoom.port, 7001);
}

TEST_F(RoomList, ConfirmOnCreateHostsARoom) {
  frame(*ctx, *scene, {ButtonRight});
  frame(*ctx, *scene, {ButtonConfirm});
  EXPECT_EQ(ctx->sceneId, kSceneRoomLobby);
  EXPECT_EQ(link->mode(), net::Host);
}

TEST_F(RoomList, RefreshShowsTheRoomsThatAnswered) {
  nettest::RawSocket listener = nettest::RawSocket::listenOn(kPort);
  ASSERT_TRUE(listener.valid());
  RoomRecord offered;
  copyField(offered.hostAddress, "elsewhere");
  copyField(offered.roomName, "Sunny");
  copyField(offered.comment, "come in");
  offered.currentPlayers = 2;
  offered.maxPlayers = 6;
  offered.port = kPort;
  std::thread room([&] {
    nettest::RawSocket client = listener.accept();
    client.take(3, [] { SDL_Delay(1); });
    const auto bytes = net::toBytes(offered);
    client.send(nettest::Bytes(bytes.begin(), bytes.end()));
  });
  // Takes the connection and never answers.
  const nettest::RawSocket silent = nettest::RawSocket::listenOn(kSilentPort);
  copyField(scene->entries[0].room.hostAddress, "127.0.0.1");
  scene->entries[0].room.port = kClosedPort;  // nobody listens here
  copyField(scene->entries[2].room.hostAddress, "127.0.0.1");
  scene->entries[2].room.port = kPort;
  copyField(scene->entries[3].room.hostAddress, "127.0.0.1");
  scene->entries[3].room.port = kSilentPort;
  frame(*ctx, *scene, {ButtonConfirm});
  ASSERT_TRUE(scene->refreshing());
  // Frames go on while the rooms are asked, taking no input; the refresh
  // ends by itself.
  frame(*ctx, *scene, {ButtonRight});
  EXPECT_EQ(scene->visit.button, RoomListScene::ButtonRefresh);
  for (int i = 0; i < 600 && scene->refreshing(); ++i) {
    frame(*ctx, *scene);
    SDL_Delay(5);
  }
  ASSERT_FALSE(scene->refreshing()) << "the refresh did not end within 600 frames";
  room.join();
  EXPECT_EQ(scene->entries[0].unanswered, 1);
  EXPECT_EQ(scene->entries[3].unanswered, 1);
  EXPECT_EQ(scene->entries[1].unanswered, 1);  // no host: never queried
  ASSERT_EQ(scene->entries[2].unanswered, 0);
  EXPECT_STREQ(scene->entries[2].room.hostAddress.data(), "127.0.0.1");
  EXPECT_STREQ(scene->entries[2].room.roomName.data(), "Sunny");
  EXPECT_EQ(scene->entries[2].room.currentPlayers, 2);
  EXPECT_GT(scene->entries[2].nameLabel.pixelWidth(), 0);
  EXPECT_GT(scene->entries[2].countLabel.pixelWidth(), 0);
  EXPECT_EQ(widgets::state().dialogMessage, nullptr);
  frame(*ctx, *scene, {ButtonDown});
  EXPECT_EQ(scene->visit.selected, 2);
}

// The entry the cursor lands on after a refresh may hold another room (or
// the same room with a new comment): the comment shown is the one that
// entry holds now, not the one rendered for it before.
TEST_F(RoomList, AfterARefreshTheCommentShownIsTheHighlightedRoomsOwn) {
  testsupport::setDrawing(true);
  answer({0});
  copyField(scene->entries[0].room.comment, "a comment long enough to cross the whole help panel");
  frame(*ctx, *scene, {ButtonDown});
  frame(*ctx, *scene);
  ASSERT_EQ(scene->lastCommentIndex, 0);
  ASSERT_TRUE(longTextInHelpPanel()) << "the long comment is not shown";
  frame(*ctx, *scene, {ButtonUp});
  ASSERT_EQ(scene->visit.browsing, 0);

  nettest::RawSocket listener = nettest::RawSocket::listenOn(kCommentPort);
  ASSERT_TRUE(listener.valid());
  RoomRecord offered;
  copyField(offered.roomName, "Short");
  copyField(offered.comment, "hi");
  offered.currentPlayers = 1;
  offered.maxPlayers = 6;
  offered.port = kCommentPort;
  std::thread room([&] {
    nettest::RawSocket client = listener.accept();
    client.take(3, [] { SDL_Delay(1); });
    const auto bytes = net::toBytes(offered);
    client.send(nettest::Bytes(bytes.begin(), bytes.end()));
  });
  copyField(scene->entries[0].room.hostAddress, "127.0.0.1");
  scene->entries[0].room.port = kCommentPort;
  frame(*ctx, *scene, {ButtonConfirm});
  ASSERT_TRUE(scene->refreshing());
  for (int i = 0; i < 600 && scene->refreshing(); ++i) {
    frame(*ctx, *scene);
    SDL_Delay(5);
  }
  room.join();
  ASSERT_FALSE(scene->refreshing()) << "the refresh did not end within 600 frames";
  ASSERT_EQ(scene->entries[0].unanswered, 0);
  ASSERT_STREQ(scene->entries[0].room.comment.data(), "hi");

  frame(*ctx, *scene, {ButtonDown});
  ASSERT_EQ(scene->visit.selected, 0);
  frame(*ctx, *scene);
  EXPECT_FALSE(longTextInHelpPanel()) << "the comment of the room before the refresh is shown";
  testsupport::saveGlScreenshot("room-list-comment-after-refresh");
}

}  // namespace
