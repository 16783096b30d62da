// Character select driven frame by frame with buttons set by hand.
#include <gtest/gtest.h>

#include "scenes/character_select_scene.h"
#include "scenes/widgets.h"
#include "support/game_fixture.h"
#include "support/test_support.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::frame;
using testsupport::frames;
using testsupport::framesUntil;

class CharacterSelect : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ctx = &testsupport::startedContext();
    scene = new CharacterSelectScene(*ctx);
  }
  void SetUp() override {
    testsupport::setDrawing(false);
    widgets::state() = widgets::WidgetState{};
    setDefaultBindings(ctx->bindings.data());
  }
  void start(PlayMode mode) {
    ctx->playMode = mode;
    ctx->sceneId = kSceneCharacterSelect;
    ctx->entryPending = 0;
    scene->enter();
  }
  // Runs the banner sweep and the opening until the icon row takes input.
  void openRow() {
    framesUntil(*ctx, *scene, "the banner sweep", [] { return scene->visit.bannerDone != 0; });
    ASSERT_EQ(scene->visit.bannerDone, 1);
    framesUntil(*ctx, *scene, "the icon row", [] { return scene->visit.turnProgress >= 1; });
    ASSERT_GE(scene->visit.panelProgress, 2);
  }
  // Confirms the highlighted character for the participant whose turn it
  // is: Confirm opens the dialog, Left picks "yes", Confirm answers.
  void choose(int player) {
    frame(*ctx, *scene, {ButtonConfirm}, player);
    ASSERT_EQ(scene->visit.confirmOpen, 1);
    frame(*ctx, *scene, {ButtonLeft}, player);
    frame(*ctx, *scene, {ButtonConfirm}, player);
    ASSERT_EQ(scene->visit.confirmOpen, 0);
  }
  void waitForTurn(int turn) {
    framesUntil(*ctx, *scene, "the next participant's turn",
                [turn] { return scene->visit.turn == turn && scene->visit.turnProgress >= 1; });
  }

  static GameContext* ctx;
  static CharacterSelectScene* scene;
};
GameContext* CharacterSelect::ctx = nullptr;
CharacterSelectScene* CharacterSelect::scene = nullptr;

TEST_F(CharacterSelect, IconRowSkipsSlotsThatAreNotOffered) {
  start(PlayMode::NetBattle);
  openRow();
  frame(*ctx, *scene, {ButtonRight});
  EXPECT_EQ(scene->visit.selCursor, 10);
  frame(*ctx, *scene, {ButtonRight});
  EXPECT_EQ(scene->visit.selCursor, 10);
  frame(*ctx, *scene, {ButtonLeft});
  EXPECT_EQ(scene->visit.selCursor, 0);
  frame(*ctx, *scene, {ButtonLeft});
  EXPECT_EQ(scene->visit.selCursor, 0);
}

TEST_F(CharacterSelect, InputIsIgnoredDuringTheSweepAndTheOpening) {
  start(PlayMode::NetBattle);
  frame(*ctx, *scene, {ButtonRight});
  frame(*ctx, *scene, {ButtonConfirm});
  EXPECT_EQ(scene->visit.selCursor, 0);
  EXPECT_EQ(scene->visit.confirmOpen, 0);
  framesUntil(*ctx, *scene, "the banner sweep", [] { return scene->visit.bannerDone != 0; });
  frames(*ctx, *scene, 30);  // panelProgress 1.5
  frame(*ctx, *scene, {ButtonRight});
  EXPECT_EQ(scene->visit.selCursor, 0);
}

TEST_F(CharacterSelect, DialogStartsOnNoAndTheSameParticipantChoosesAgain) {
  start(PlayMode::NetBattle);
  openRow();
  frame(*ctx, *scene, {ButtonConfirm});
  EXPECT_EQ(scene->visit.confirmOpen, 1);
  EXPECT_EQ(widgets::state().dialogChoice, 0);
  frame(*ctx, *scene, {ButtonRight});  // in the dialog: no effect on the row
  EXPECT_EQ(scene->visit.selCursor, 0);
  frame(*ctx, *scene, {ButtonConfirm});
  EXPECT_EQ(scene->visit.confirmOpen, 0);
  EXPECT_LT(scene->visit.turnProgress, 1.1f);
  frame(*ctx, *scene, {ButtonRight});
  EXPECT_EQ(scene->visit.selCursor, 10);
}

TEST_F(CharacterSelect, NetBattleCopiesTheChoiceIntoTheProfile) {
  copyField(ctx->profile.name, "Tester");
  ctx->profile.stats = {1, 2, 3, 4};
  start(PlayMode::NetBattle);
  EXPECT_EQ(scene->visit.playerCount, 1);
  EXPECT_STREQ(ctx->players[0].name.data(), "Tester");
  EXPECT_EQ(ctx->players[0].present, 1);
  openRow();
  frame(*ctx, *scene, {ButtonRight});
  choose(0);
  // Input is ignored once the choice is confirmed.
  frame(*ctx, *scene, {ButtonLeft});
  EXPECT_EQ(scene->visit.selCursor, 10);
  framesUntil(*ctx, *scene, "the next scene", [] { return ctx->sceneId != kSceneCharacterSelect; });
  EXPECT_EQ(ctx->sceneId, kSceneRoomList);
  EXPECT_EQ(ctx->profile.stats, (std::array<uint16_t, 4>{1000, 1000, 1000, 1000}));
  EXPECT_STREQ(ctx->profile.name.data(), "Tester");
}

TEST_F(CharacterSelect, FreeBattleHasSixTurnsWithComputerPlayersOnPlayerZerosKeys) {
  ctx->hostRoom.maxPlayers = 6;
  start(PlayMode::FreeBattle);
  EXPECT_EQ(scene->visit.playerCount, 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(ctx->players[i].present, 1);
    EXPECT_EQ(ctx->players[i].isCpu, i == 0 ? 0 : 1);
  }
  openRow();
  choose(0);  // Sorane for the human player
  for (int turn = 1; turn < 6; ++turn) {
    waitForTurn(turn);
    ASSERT_EQ(scene->visit.turn, turn);
    // The computer player's buttons are player 0's.
    EXPECT_EQ(ctx->binding(turn, ButtonConfirm).key, SDLK_z);
    if (turn % 2 == 1) frame(*ctx, *scene, {ButtonRight});
    choose(0);
  }
  framesUntil(*ctx, *scene, "the next scene", [] { return ctx->sceneId != kSceneCharacterSelect; });
  EXPECT_EQ(ctx->sceneId, kSceneRoomLobby);
  EXPECT_EQ(ctx->players[0].stats[0], 550);
  EXPECT_EQ(ctx->players[1].stats[0], 1000);
  EXPECT_EQ(ctx->players[2].stats[0], 1000);  // the cursor stays where it was
}

TEST_F(CharacterSelect, BarsGlideFivePointsPerFrame) {
  start(PlayMode::NetBattle);
  openRow();
  frames(*ctx, *scene, 120);
  EXPECT_EQ(scene->visit.shownStats[0], 550);
  // The panel is drawn before the row reads the press, so the bars start
  // toward the new character on the next frame.
  frame(*ctx, *scene, {ButtonRight});
  EXPECT_EQ(scene->visit.shownStats[0], 550);
  frame(*ctx, *scene);
  EXPECT_EQ(scene->visit.shownStats[0], 555);
  frames(*ctx, *scene, 88);
  EXPECT_EQ(scene->visit.shownStats[0], 995);
  frame(*ctx, *scene);
  EXPECT_EQ(scene->visit.shownStats[0], 1000);
}

TEST_F(CharacterSelect, DrawnSceneWithTheDialogOpen) {
  testsupport::setDrawing(true);
  start(PlayMode::FreeBattle);
  openRow();
  frames(*ctx, *scene, 40);
  frame(*ctx, *scene, {ButtonConfirm});
  frames(*ctx, *scene, 10);
  testsupport::saveGlScreenshot("character-select-dialog");
  // The icon row's first window (highlighted) at x 15..71, y 360..436.
  const testsupport::Rgba icon = testsupport::readGlPixel(18, 430);
  EXPECT_GT(icon.g, 150);
}

}  // namespace
