// The title menu driven frame by frame with buttons set by hand.
#include <gtest/gtest.h>

#include "scenes/title_scene.h"
#include "scenes/widgets.h"
#include "support/game_fixture.h"
#include "support/test_support.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::frame;
using testsupport::frames;
using testsupport::framesUntil;

class Title : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ctx = &testsupport::startedContext();
    title = new TitleScene(*ctx);
  }
  void SetUp() override {
    testsupport::setDrawing(false);
    ctx->sceneId = kSceneTitle;
    ctx->entryPending = 0;
    title->enter();
  }
  // Runs frames until the phase is MainMenu and the panel is fully open.
  void openMenu() {
    frames(*ctx, *title, 20);
    frame(*ctx, *title, {ButtonConfirm});
    framesUntil(*ctx, *title, "the main menu", [] { return title->visit.phase == TitlePhase::MainMenu; });
    ASSERT_EQ(title->visit.phase, TitlePhase::MainMenu);
    frames(*ctx, *title, 60);
    ASSERT_GE(title->visit.menuAlpha, 1);
  }

  static GameContext* ctx;
  static TitleScene* title;
};
GameContext* Title::ctx = nullptr;
TitleScene* Title::title = nullptr;

TEST_F(Title, EnterResetsTheScene) {
  EXPECT_EQ(title->visit.phase, TitlePhase::PressStart);
  EXPECT_EQ(title->visit.menuClosing, 1);
  EXPECT_EQ(title->visit.bubbleRetract, 1);
  EXPECT_FLOAT_EQ(title->visit.barScrollY, -25);
  EXPECT_LT(title->visit.frameScrollX, -319);
  EXPECT_FLOAT_EQ(title->visit.framePulse, 1);
}

TEST_F(Title, PromptIgnoresConfirmWhileFadingInThenFadesOut) {
  frame(*ctx, *title, {ButtonConfirm});
  frames(*ctx, *title, 10);
  frame(*ctx, *title, {ButtonConfirm});
  EXPECT_EQ(title->visit.phase, TitlePhase::PressStart);
  frames(*ctx, *title, 12);
  EXPECT_GE(title->visit.startAlpha, 1);
  frames(*ctx, *title, 30);
  EXPECT_EQ(title->visit.phase, TitlePhase::PressStart);  // stays lit, no blinking, no timeout
  frame(*ctx, *title, {ButtonConfirm});
  EXPECT_EQ(title->visit.phase, TitlePhase::StartPressed);
  const int fade =
      framesUntil(*ctx, *title, "the fade out", [] { return title->visit.phase != TitlePhase::StartPressed; });
  EXPECT_EQ(title->visit.phase, TitlePhase::MainMenu);
  EXPECT_GE(fade, 20);
  EXPECT_LE(fade, 22);
}

TEST_F(Title, ConfirmOnTheFirstMenuFrameChoosesAtOnce) {
  frames(*ctx, *title, 20);
  frame(*ctx, *title, {ButtonConfirm});
  framesUntil(*ctx, *title, "the main menu", [] { return title->visit.phase != TitlePhase::StartPressed; });
  frame(*ctx, *title, {ButtonConfirm});
  EXPECT_EQ(title->visit.phase, TitlePhase::ProduceChosen);
}

TEST_F(Title, CursorStopsAtBothEnds) {
  openMenu();
  frame(*ctx, *title, {ButtonUp});
  EXPECT_EQ(title->visit.menuCursor, 0);
  for (int i = 0; i < 6; ++i) frame(*ctx, *title, {ButtonDown});
  EXPECT_EQ(title->visit.menuCursor, 4);
  frame(*ctx, *title, {ButtonUp});
  frame(*ctx, *title, {ButtonUp, ButtonDown});
  EXPECT_EQ(title->visit.menuCursor, 3);
}

TEST_F(Title, ConfirmWhileThePanelMovesIsIgnored) {
  frames(*ctx, *title, 20);
  frame(*ctx, *title, {ButtonConfirm});
  framesUntil(*ctx, *title, "the main menu", [] { return title->visit.phase != TitlePhase::StartPressed; });
  frame(*ctx, *title);  // first menu frame: the panel starts opening
  frames(*ctx, *title, 10);
  frame(*ctx, *title, {ButtonConfirm});
  EXPECT_EQ(title->visit.phase, TitlePhase::MainMenu);
}

TEST_F(Title, ProduceClosesAndReopensTheMenu) {
  openMenu();
  frame(*ctx, *title, {ButtonConfirm});
  EXPECT_EQ(title->visit.phase, TitlePhase::ProduceChosen);
  const int closing = framesUntil(*ctx, *title, "the menu to close",
                                  [] { return title->visit.phase != TitlePhase::ProduceChosen; });
  EXPECT_EQ(title->visit.phase, TitlePhase::MainMenu);
  EXPECT_EQ(ctx->playMode, PlayMode::Produce);
  EXPECT_GE(closing, 50);
  EXPECT_LE(closing, 54);
  frames(*ctx, *title, 60);
  EXPECT_GE(title->visit.menuAlpha, 1);
  EXPECT_EQ(title->visit.menuCursor, 0);
  EXPECT_EQ(ctx->sceneId, kSceneTitle);
}

TEST_F(Title, BattleModesFadeToWhiteIntoCharacterSelect) {
  for (int item : {1, 2}) {
    title->enter();
    ctx->sceneId = kSceneTitle;
    openMenu();
    for (int i = 0; i < item; ++i) frame(*ctx, *title, {ButtonDown});
    frame(*ctx, *title, {ButtonConfirm});
    const int count =
        framesUntil(*ctx, *title, "the next scene", [] { return ctx->sceneId != kSceneTitle; });
    EXPECT_EQ(ctx->sceneId, kSceneCharacterSelect);
    EXPECT_EQ(ctx->entryPending, 1);
    EXPECT_EQ(ctx->playMode, item == 1 ? PlayMode::FreeBattle : PlayMode::NetBattle);
    // 50 frames of closing, then 101 of fading.
    EXPECT_GE(count, 150);
    EXPECT_LE(count, 154);
  }
}

TEST_F(Title, QuitFadesToBlackAndEndsTheProgram) {
  openMenu();
  for (int i = 0; i < 4; ++i) frame(*ctx, *title, {ButtonDown});
  frame(*ctx, *title, {ButtonConfirm});
  framesUntil(*ctx, *title, "the end of the program", [] { return ctx->sceneId != kSceneTitle; });
  EXPECT_EQ(ctx->sceneId, kSceneQuit);
  EXPECT_EQ(title->visit.phase, TitlePhase::QuitChosen);
  EXPECT_GE(title->visit.screenFade, 2);
}

TEST_F(Title, BubbleFollowsItsGrowthAndRetractsOnChoice) {
  openMenu();
  frames(*ctx, *title, 100);
  EXPECT_FLOAT_EQ(title->visit.bubbleGrow, 1);
  EXPECT_GE(title->bubbleX, 160);
  EXPECT_GE(title->bubbleY, 320);
  const int x = title->bubbleX;
  frame(*ctx, *title, {ButtonConfirm});
  frames(*ctx, *title, 10);
  EXPECT_LT(title->bubbleX, x);
}

TEST_F(Title, DrawnMenuShowsThePanelAtTheRightEdge) {
  testsupport::setDrawing(true);
  openMenu();
  frames(*ctx, *title, 40);
  testsupport::saveGlScreenshot("title-menu");
  // The highlighted first item spans x 340..640 at y 130..180.
  const testsupport::Rgba item = testsupport::readGlPixel(620, 140);
  EXPECT_GT(item.g, 200);
  EXPECT_LT(item.b, 60);
}

}  // namespace
