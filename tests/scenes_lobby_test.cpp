// The room lobby and the game select over it, driven frame by frame with
// buttons set by hand; network peers are lobbies of the link's own tests,
// run on the same thread over loopback.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "internet/room_presence.h"
#include "render/draw.h"
#include "scenes/game_select_scene.h"
#include "scenes/room_lobby_scene.h"
#include "scenes/widgets.h"
#include "support/game_fixture.h"
#include "support/net_test_peers.h"
#include "support/test_support.h"
#include "text/sjis_strings.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::frame;
using testsupport::frames;
using testsupport::stepUntil;

constexpr uint16_t kPort = 23101;

class Lobby : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ctx = &testsupport::startedContext();
    link = new net::NetLink;
    scene = new RoomLobbyScene(*ctx, *link);
    gameSelect = new GameSelectScene(*ctx, *scene);
  }
  void SetUp() override {
    testsupport::setDrawing(false);
    widgets::state() = widgets::WidgetState{};
    setDefaultBindings(ctx->bindings.data());
    ctx->setRoomDefaults();
    ctx->hostRoom.port = kPort;
    ctx->playMode = PlayMode::NetBattle;
    ctx->sceneId = kSceneRoomLobby;
    ctx->entryPending = 0;
    link->setOwnSlot(0);
    for (PlayerRecord& p : ctx->players) p = PlayerRecord{};
    ctx->players[0] = nettest::player("Me", 900);
  }
  void TearDown() override { net::closeLobby(*link); }

  void enterAs(net::NetMode mode) {
    link->setMode(mode);
    scene->enter();
  }
  // One lobby frame with the peers' frames after it.
  void step(std::initializer_list<Button> pressed = {},
            std::initializer_list<nettest::Lobby*> peers = {}) {
    frame(*ctx, *scene, pressed);
    for (nettest::Lobby* peer : peers) peer->frame();
    SDL_Delay(1);
  }
  // Frames of the lobby and the peers until done() holds; see stepUntil.
  int stepsUntil(const char* what, const std::function<bool()>& done,
                 std::initializer_list<nettest::Lobby*> peers = {}) {
    return stepUntil(what, done, [&] { step({}, peers); });
  }
  void runUntilActive(std::initializer_list<nettest::Lobby*> peers = {}) {
    stepsUntil(
        "the lobby to open", [] { return scene->visit.state == LobbyState::Active; }, peers);
    ASSERT_EQ(scene->visit.state, LobbyState::Active);
  }

  static GameContext* ctx;
  static net::NetLink* link;
  static RoomLobbyScene* scene;
  static GameSelectScene* gameSelect;
};
GameContext* Lobby::ctx = nullptr;
net::NetLink* Lobby::link = nullptr;
RoomLobbyScene* Lobby::scene = nullptr;
GameSelectScene* Lobby::gameSelect = nullptr;

TEST_F(Lobby, FreeBattleNamesThePanelsAndEndsOnTheTitle) {
  ctx->playMode = PlayMode::FreeBattle;
  for (int i = 0; i < kPlayerSlots; ++i) {
    ctx->players[i].present = 1;
    ctx->players[i].isCpu = i == 0 ? 0 : 1;
  }
  enterAs(net::Offline);
  EXPECT_EQ(ctx->sceneId, kSceneRoomLobby);
  EXPECT_STREQ(ctx->players[0].name.data(), sjis::kPlayerLabel);
  for (int i = 1; i < kPlayerSlots; ++i) EXPECT_STREQ(ctx->players[i].name.data(), "CPU");
  const int opening = stepsUntil("the lobby to open", [] { return scene->visit.state != LobbyState::Opening; });
  EXPECT_GE(opening, 80);
  EXPECT_LE(opening, 82);
  // Free battle starts on "start": the room has no guests to count.
  EXPECT_EQ(scene->visit.button, 0);
  for (int i = 0; i < 5; ++i) step({ButtonRight});
  EXPECT_EQ(scene->visit.button, 3);
  step({ButtonConfirm});
  EXPECT_EQ(scene->visit.state, LobbyState::Leaving);
  const int leaving = stepsUntil("the title", [] { return ctx->sceneId != kSceneRoomLobby; });
  EXPECT_EQ(ctx->sceneId, kSceneTitle);
  EXPECT_GE(leaving, 58);
  EXPECT_LE(leaving, 64);
}

TEST_F(Lobby, InputIsReadOnlyOnceActive) {
  enterAs(net::Host);
  for (int i = 0; i < 70; ++i) step({ButtonRight, ButtonConfirm});
  EXPECT_EQ(scene->visit.state, LobbyState::Opening);
  EXPECT_EQ(scene->visit.button, 1);  // moved by the alone-host rule only
}

TEST_F(Lobby, HostAloneCannotRestOnStart) {
  enterAs(net::Host);
  EXPECT_EQ(ctx->currentRoom.currentPlayers, 1);
  for (int i = 0; i < 58; ++i) step();
  EXPECT_EQ(scene->visit.button, 0);  // the bar is not shown yet
  // Progress reaches 3 in float steps of 0.05 only after 61 frames; the
  // bar is first shown on the frame after.
  for (int i = 0; i < 4; ++i) step();
  EXPECT_EQ(scene->visit.button, 1);
  runUntilActive();
  step({ButtonLeft});
  EXPECT_EQ(scene->visit.button, 1);
}

TEST_F(Lobby, HostWithAGuestShowsItAndCanRestOnStart) {
  enterAs(net::Host);
  nettest::Lobby guest;
  ASSERT_TRUE(guest.guest(kPort, "Guest"));
  runUntilActive({&guest});
  for (int i = 0; i < 20; ++i) step({}, {&guest});
  EXPECT_EQ(ctx->currentRoom.currentPlayers, 2);
  EXPECT_EQ(ctx->players[1].present, 1);
  EXPECT_STREQ(ctx->players[1].name.data(), "Guest");
  EXPECT_STREQ(guest.players[0].name.data(), "Me");
  step({ButtonLeft}, {&guest});
  EXPECT_EQ(scene->visit.button, 0);
  step({ButtonConfirm}, {&guest});  // "start" does nothing here
  EXPECT_EQ(scene->visit.state, LobbyState::Active);
  // The guest leaves: its panel empties and the count drops.
  net::closeLobby(guest.link);
  for (int i = 0; i < 20; ++i) step();
  EXPECT_EQ(ctx->players[1].present, 0);
  EXPECT_EQ(ctx->currentRoom.currentPlayers, 1);
  EXPECT_EQ(scene->visit.button, 1);
}

TEST_F(Lobby, GuestLearnsItsSlotAndFoldsUpWhenTheHostGoes) {
  nettest::Lobby host;
  ASSERT_TRUE(host.host(kPort, "Boss"));
  copyField(ctx->currentRoom.hostAddress, "127.0.0.1");
  ctx->currentRoom.port = kPort;
  ctx->currentRoom.maxPlayers = 6;
  ctx->currentRoom.ownerSlot = 0;
  enterAs(net::Guest);
  runUntilActive({&host});
  EXPECT_EQ(link->ownSlot(), 1);
  EXPECT_STREQ(ctx->players[0].name.data(), "Boss");
  EXPECT_STREQ(ctx->players[1].name.data(), "Me");
  EXPECT_STREQ(host.players[1].name.data(), "Me");
  // A guest may rest on its first button ("ready").
  EXPECT_EQ(scene->visit.button, 0);
  net::closeLobby(host.link);
  const int frames = stepsUntil("the room list", [] { return ctx->sceneId != kSceneRoomLobby; });
  EXPECT_EQ(ctx->sceneId, kSceneRoomList);
  EXPECT_LE(frames, 70);
  EXPECT_FALSE(link->isOpen());
}

TEST_F(Lobby, HostThatCannotListenGoesBackToTheRoomList) {
  nettest::Lobby other;
  ASSERT_TRUE(other.host(kPort));  // the port is taken
  enterAs(net::Host);
  EXPECT_EQ(ctx->sceneId, kSceneRoomList);
  EXPECT_EQ(ctx->entryPending, 1);
}

TEST_F(Lobby, OwnRecordReturnsToSlotZeroWhenHosting) {
  link->setOwnSlot(3);
  ctx->players[3] = nettest::player("Again", 100);
  ctx->players[0] = nettest::player("Stale");
  enterAs(net::Host);
  EXPECT_STREQ(ctx->players[0].name.data(), "Again");
  EXPECT_EQ(link->ownSlot(), 0);
  EXPECT_EQ(ctx->currentRoom.ownerSlot, 0);
  for (int i = 1; i < kPlayerSlots; ++i) EXPECT_EQ(ctx->players[i].present, 0);
}

// The host is told where its room can be reached: one line in the lobby and
// one on the console once the state settles; the room's mapping ends with
// the room. Every line the state can give fits beside the panels.
TEST_F(Lobby, HostIsToldWhereItsRoomCanBeReached) {
  internet::RoomPresence presence;
  RoomLobbyScene hosting(*ctx, *link, &presence);
  ctx->hostReach.upnp = false;  // a test never asks the real network's router
  link->setMode(net::Host);
  hosting.enter();
  ::testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) frame(*ctx, hosting);
  const std::string console = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(console,
            "Room: reachable on this network only: upnp=off in RoomConfig.txt; forward TCP port " +
                std::to_string(kPort) + " to this machine\n");
  EXPECT_EQ(hosting.visit.shownReach.note, internet::ReachNote::UpnpOff);
  testsupport::framesUntil(*ctx, hosting, "the lobby to open",
                           [&] { return hosting.visit.state == LobbyState::Active; });
  for (int i = 0; i < 3; ++i) frame(*ctx, hosting, {ButtonRight});
  frame(*ctx, hosting, {ButtonConfirm});
  testsupport::framesUntil(*ctx, hosting, "the room list",
                           [&] { return ctx->sceneId == kSceneRoomList; });
  EXPECT_EQ(presence.reach().reach, internet::Reach::NotHosting);
  EXPECT_FALSE(presence.isOpen());

  internet::Reachability state;
  state.roomPort = 65535;
  state.port = 65535;
  copyField(state.address, "203.0.113.255");
  for (const internet::ReachNote note :
       {internet::ReachNote::RouterMapped, internet::ReachNote::RouterPrivate,
        internet::ReachNote::UpnpOff, internet::ReachNote::NoRouter, internet::ReachNote::NoAnswer,
        internet::ReachNote::BadAnswer, internet::ReachNote::NotConnected,
        internet::ReachNote::Refused}) {
    state.note = note;
    state.reach = note <= internet::ReachNote::ConfigAddress ? internet::Reach::Internet
                                                             : internet::Reach::LanOnly;
    GfxImage label;
    text::renderText(internet::reachLobbyLine(state).c_str(), label, ctx->fonts[0], ctx->textColor,
                     true);
    EXPECT_LE(label.pixelWidth(), 600) << static_cast<int>(note);
  }
}

TEST_F(Lobby, GameButtonOpensTheGameSelectOverTheRunningLobby) {
  enterAs(net::Host);
  runUntilActive();
  step({ButtonConfirm});  // on "game": the host is alone
  EXPECT_EQ(scene->visit.state, LobbyState::ToGameSelect);
  stepsUntil("the game select", [] { return ctx->sceneId != kSceneRoomLobby; });
  EXPECT_EQ(ctx->sceneId, kSceneGameSelect);
  EXPECT_EQ(scene->visit.state, LobbyState::Passive);
  gameSelect->enter();
  // A guest arriving now is still taken in by the lobby underneath.
  nettest::Lobby guest;
  ASSERT_TRUE(guest.guest(kPort, "Late"));
  for (int i = 0; i < 30; ++i) {
    frame(*ctx, *gameSelect, {ButtonConfirm, ButtonLeft});
    guest.frame();
    SDL_Delay(1);
  }
  EXPECT_STREQ(ctx->players[1].name.data(), "Late");
  EXPECT_EQ(guest.link.ownSlot(), 1);
  EXPECT_EQ(ctx->sceneId, kSceneGameSelect);  // no button of its own
  EXPECT_GT(gameSelect->visit.selectProgress, 1.4f);
}

TEST_F(Lobby, GuestInGameSelectReturnsToTheRoomListWhenTheHostGoes) {
  nettest::Lobby host;
  ASSERT_TRUE(host.host(kPort, "Boss"));
  copyField(ctx->currentRoom.hostAddress, "127.0.0.1");
  ctx->currentRoom.port = kPort;
  ctx->currentRoom.maxPlayers = 6;
  enterAs(net::Guest);
  runUntilActive({&host});
  step({ButtonRight}, {&host});
  step({ButtonConfirm}, {&host});
  stepsUntil("the game select", [] { return ctx->sceneId != kSceneRoomLobby; }, {&host});
  ASSERT_EQ(ctx->sceneId, kSceneGameSelect);
  gameSelect->enter();
  for (int i = 0; i < 70; ++i) frame(*ctx, *gameSelect);
  net::closeLobby(host.link);
  const int count = stepUntil(
      "the room list", [] { return ctx->sceneId != kSceneGameSelect; },
      [] {
        frame(*ctx, *gameSelect);
        SDL_Delay(1);
      });
  EXPECT_EQ(ctx->sceneId, kSceneRoomList);
  EXPECT_LE(count, 80);
}

TEST_F(Lobby, PanelIsTintedByTheStrictlyLargestStat) {
  testsupport::setDrawing(true);
  ctx->playMode = PlayMode::FreeBattle;
  for (int i = 0; i < kPlayerSlots; ++i) {
    ctx->players[i].present = 1;
    ctx->players[i].isCpu = i == 0 ? 0 : 1;
  }
  ctx->players[0].stats = {900, 100, 100, 0};  // vocal: red
  ctx->players[1].stats = {100, 900, 100, 0};  // dance: blue
  ctx->players[2].stats = {500, 500, 100, 0};  // tie: dark
  enterAs(net::Offline);
  for (int i = 0; i < 120; ++i) frame(*ctx, *scene);
  testsupport::saveGlScreenshot("lobby-free-battle");
  // Bottom-right inside each panel (x 20..320, y 170 + 85 i .. + 80),
  // away from the name label.
  const testsupport::Rgba red = testsupport::readGlPixel(300, 240);
  const testsupport::Rgba blue = testsupport::readGlPixel(300, 325);
  const testsupport::Rgba dark = testsupport::readGlPixel(300, 410);
  EXPECT_GT(red.r, blue.r);
  EXPECT_GT(blue.b, red.b);
  EXPECT_LT(dark.r, red.r);
  EXPECT_LT(dark.b, blue.b);
}

}  // namespace
