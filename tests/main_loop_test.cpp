// The frame loop's scene dispatch and event pump, with scenes that only
// record what was called, on SDL's dummy video driver.
#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main/main_loop.h"
#include "support/test_support.h"

using namespace app;
using namespace program;

namespace {

std::vector<std::string> calls;

class RecordingScene : public Scene {
 public:
  RecordingScene(std::string sceneName, GameContext& context)
      : name(std::move(sceneName)), ctx(context) {}
  void enter() override {
    calls.push_back(name + ".enter");
    if (switchOnEnter >= 0) ctx.changeScene(static_cast<SceneId>(switchOnEnter));
  }
  void update() override {
    calls.push_back(name + ".update");
    if (switchOnUpdate >= 0) ctx.changeScene(static_cast<SceneId>(switchOnUpdate));
    switchOnUpdate = -1;
  }
  int switchOnEnter = -1;
  int switchOnUpdate = -1;

 private:
  std::string name;
  GameContext& ctx;
};

class MainLoopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(testsupport::openSoftwareScreen()); }
  static void TearDownTestSuite() { testsupport::closeVideo(); }
  void SetUp() override {
    calls.clear();
    loop.setScene(1, &title);
    loop.setScene(2, &second);
    context.changeScene(1);
    SDL_Event drained;
    while (SDL_PollEvent(&drained) == 1) {
    }
  }
  static void pushKey(SDLKey key) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
  }

  GameContext context;
  MainLoop loop{context};
  RecordingScene title{"title", context};
  RecordingScene second{"second", context};
};

TEST_F(MainLoopTest, FirstPassEntersThenUpdatesTheTitle) {
  EXPECT_TRUE(loop.runPass());
  EXPECT_EQ(calls, (std::vector<std::string>{"title.enter", "title.update"}));
  EXPECT_EQ(context.entryPending, 0);
  EXPECT_TRUE(loop.runPass());
  EXPECT_EQ(calls.back(), "title.update");
  EXPECT_EQ(calls.size(), 3u);
}

TEST_F(MainLoopTest, SwitchInUpdateEntersTheNewSceneOnTheNextPass) {
  title.switchOnUpdate = 2;
  loop.runPass();
  loop.runPass();
  EXPECT_EQ(calls, (std::vector<std::string>{"title.enter", "title.update", "second.enter",
                                             "second.update"}));
}

TEST_F(MainLoopTest, SwitchToZeroEndsAfterOneMorePresentWithoutUpdate) {
  title.switchOnUpdate = 0;
  EXPECT_TRUE(loop.runPass());
  EXPECT_FALSE(loop.runPass());
  EXPECT_EQ(calls, (std::vector<std::string>{"title.enter", "title.update"}));
  EXPECT_EQ(loop.runMainLoop(), 0);
}

TEST_F(MainLoopTest, SwitchToTheSameSceneRunsItsEnterAgain) {
  title.switchOnUpdate = 1;
  loop.runPass();
  loop.runPass();
  EXPECT_EQ(calls, (std::vector<std::string>{"title.enter", "title.update", "title.enter",
                                             "title.update"}));
}

TEST_F(MainLoopTest, SwitchInsideEnterSkipsTheNewScenesEnter) {
  title.switchOnEnter = 2;
  loop.runPass();
  EXPECT_EQ(calls, (std::vector<std::string>{"title.enter", "second.update"}));
  EXPECT_EQ(context.entryPending, 0);
  EXPECT_EQ(context.sceneId, 2);
}

TEST_F(MainLoopTest, UnknownSceneRunsNothingUntilEscape) {
  context.changeScene(9);
  EXPECT_TRUE(loop.runPass());
  EXPECT_TRUE(loop.runPass());
  EXPECT_TRUE(calls.empty());
  pushKey(SDLK_ESCAPE);
  EXPECT_FALSE(loop.runPass());
}

TEST_F(MainLoopTest, EscapeEndsThePassAfterItsUpdate) {
  pushKey(SDLK_a);
  pushKey(SDLK_ESCAPE);
  pushKey(SDLK_b);  // events after the quitting one stay queued
  EXPECT_FALSE(loop.runPass());
  EXPECT_EQ(calls, (std::vector<std::string>{"title.enter", "title.update"}));
  SDL_Event left;
  ASSERT_EQ(SDL_PollEvent(&left), 1);
  EXPECT_EQ(left.key.keysym.sym, SDLK_b);
}

TEST_F(MainLoopTest, ClosingTheWindowEndsTheLoopWithZero) {
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  EXPECT_EQ(loop.runMainLoop(), 0);
  EXPECT_EQ(calls.size(), 2u);
}

}  // namespace
