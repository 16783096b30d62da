// Frames drawn from the kept list, only where they differ from the frame
// before, must be the frames drawn primitive by primitive. The real scenes
// run as the program runs them, each frame presented: the title (which
// changes almost everywhere, so it is drawn whole), then character select
// (calm: drawn where it changed), the list kept across the change of scene;
// every frame is compared whole.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/platform.h"
#include "render/draw_list.h"
#include "render/video.h"
#include "scenes/character_select_scene.h"
#include "scenes/title_scene.h"
#include "scenes/widgets.h"
#include "support/frames.h"
#include "support/game_fixture.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::firstDifference;
using testsupport::Frame;

constexpr int kTitleFrames = 40;
constexpr int kSelectFrames = 60;

std::vector<Frame> runScenes(GameContext& ctx, bool keepList) {
  render::drawlist::enable(keepList);
  widgets::state() = widgets::WidgetState{};
  std::vector<Frame> frames;
  const auto step = [&](Scene& scene) {
    testsupport::frame(ctx, scene);
    render::paceFrame();
    frames.push_back(testsupport::readFrame());
    // Every frame drawn, however late this one was (a skipped frame would
    // make the two runs' frames differ).
    testsupport::setDrawing(true);
  };
  auto title = std::make_unique<TitleScene>(ctx);
  title->enter();
  for (int i = 0; i < kTitleFrames; ++i) step(*title);
  auto select = std::make_unique<CharacterSelectScene>(ctx);
  select->enter();
  // Its mode banner, which sweeps across the whole screen, nearly gone:
  // most of the frames after it are calm.
  widgets::state().bannerScroll = 1 << 20;
  widgets::state().bannerAlpha = 0.1f;
  for (int i = 0; i < kSelectFrames; ++i) step(*select);
  render::drawlist::enable(false);
  return frames;
}

TEST(DrawList, FramesDrawnWhereTheyChangedAreTheFramesDrawnWhole) {
  GameContext& ctx = testsupport::startedContext();
  testsupport::setDrawing(true);
  const std::vector<Frame> whole = runScenes(ctx, false);
  const int partBefore = render::drawlist::testing::framesDrawnInPart();
  const std::vector<Frame> kept = runScenes(ctx, true);
  // Kept only where GL draws on the CPU (not on Windows, nor on a graphics
  // card); the frames must be equal everywhere.
  if (platform::glDrawsOnCpu()) {
    EXPECT_GT(render::drawlist::testing::framesDrawnInPart() - partBefore, kSelectFrames / 3);
  }
  ASSERT_EQ(kept.size(), whole.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    ASSERT_EQ(firstDifference(kept[i], whole[i]), "") << "frame " << i;
  }
}

}  // namespace
