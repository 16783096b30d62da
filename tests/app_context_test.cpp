// The game context after the program's own start-up, and its room settings.
#include <SDL.h>
#include <SDL_ttf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "render/video.h"
#include "support/game_fixture.h"
#include "support/test_support.h"
#include "text/sjis_strings.h"

using namespace app;

namespace {

TEST(ContextStartUp, DisplaySettingsAndSharedResources) {
  GameContext& ctx = testsupport::startedContext();
  EXPECT_EQ(ctx.displayFlags, 0x1003u);
  EXPECT_EQ(ctx.frameRate, 60);
  EXPECT_EQ(ctx.colorDepth, 32);
  EXPECT_EQ(render::video().frameDelayMs, 17u);
  EXPECT_TRUE(render::glMode());
  EXPECT_NE(ctx.mouseCursor, nullptr);
  for (SDL_Joystick* joystick : ctx.joysticks) EXPECT_EQ(joystick, nullptr);
  for (TTF_Font* font : ctx.fonts) EXPECT_NE(font, nullptr);
  EXPECT_EQ(TTF_GetFontStyle(ctx.fonts[4]), TTF_STYLE_BOLD);
  EXPECT_EQ(TTF_GetFontStyle(ctx.fonts[1]), TTF_STYLE_NORMAL);
  EXPECT_NE(ctx.frameImages[0].texture, 0u);
  EXPECT_NE(sharedFrameImages[1].texture, 0u);
  EXPECT_EQ(ctx.barImage.width, 640);
  EXPECT_EQ(ctx.barImage.height, 25);
  EXPECT_GT(ctx.yesLabel.width, 0);
  for (const GfxImage& plate : ctx.modeLabels) {
    EXPECT_EQ(plate.height, 240);
    EXPECT_GT(plate.width, 640);
  }
}

TEST(ContextStartUp, RoomProfileAndCharacterDefaults) {
  // The tests run from the repository root, which has no RoomConfig.txt.
  GameContext& ctx = testsupport::startedContext();
  EXPECT_STREQ(ctx.hostRoom.roomName.data(), sjis::kDefaultRoomName);
  EXPECT_STREQ(ctx.hostRoom.comment.data(), sjis::kDefaultComment);
  EXPECT_EQ(ctx.hostRoom.port, 6247);
  EXPECT_EQ(ctx.hostRoom.maxPlayers, 6);
  EXPECT_EQ(ctx.hostRoom.currentPlayers, 0);
  EXPECT_STREQ(ctx.profile.name.data(), "482P");
  for (int slot = 0; slot < kCharacterSlots; ++slot) {
    EXPECT_EQ(ctx.characterAvailable[slot], slot == 0 || slot == 10 ? 1 : 0) << slot;
  }
  EXPECT_EQ(ctx.characterStats[0], (std::array<uint16_t, 4>{550, 430, 480, 600}));
  EXPECT_EQ(ctx.characterStats[10], (std::array<uint16_t, 4>{1000, 1000, 1000, 1000}));
  EXPECT_EQ(ctx.gameAvailable, 0);
}

TEST(ContextRoomConfig, SettingsReplaceTheDefaults) {
  const std::string dir = testsupport::scratchDir("context-config");
  std::ofstream(dir + "/RoomConfig.txt") << "PName = Abc\nport=7000#old 6247\nname=My Room\n";
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  GameContext ctx;
  ctx.setRoomDefaults();
  const bool read = ctx.readRoomConfig();
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_TRUE(read);
  EXPECT_STREQ(ctx.profile.name.data(), "AbcP");
  EXPECT_EQ(ctx.hostRoom.port, 7000);
  EXPECT_STREQ(ctx.hostRoom.roomName.data(), "MyRoom");
  EXPECT_STREQ(ctx.hostRoom.comment.data(), sjis::kDefaultComment);
}

TEST(ContextScenes, ChangeSceneRaisesTheEntryFlag) {
  GameContext ctx;
  ctx.changeScene(kSceneRoomList);
  EXPECT_EQ(ctx.sceneId, kSceneRoomList);
  EXPECT_EQ(ctx.entryPending, 1);
}

// Full screen chosen on the options screen (applyWindowMode, which a start
// in full screen from Options.txt goes through too) hides the mouse cursor;
// back in a window the game's own arrow shows again.
TEST(ContextWindowModes, FullScreenHidesTheCursorAndAWindowShowsTheArrow) {
  GameContext& ctx = testsupport::startedContext();
  ASSERT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  ASSERT_EQ(SDL_GetCursor(), ctx.mouseCursor);
  ASSERT_EQ(ctx.applyWindowMode(WindowMode::Fullscreen), WindowMode::Fullscreen);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  ASSERT_EQ(ctx.applyWindowMode(WindowMode::Scale1), WindowMode::Scale1);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  EXPECT_EQ(SDL_GetCursor(), ctx.mouseCursor);
}

}  // namespace
