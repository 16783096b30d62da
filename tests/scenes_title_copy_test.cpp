// The title keeps its fill and drifting bars as a copied picture: run frame
// by frame next to a title drawn the plain way, every frame must show the
// same pixels, through more than a whole period of the bars' drift and the
// menu opening.
#include <gtest/gtest.h>

#include "render/layer.h"
#include "scenes/title_scene.h"
#include "support/game_fixture.h"
#include "support/frames.h"
#include "support/test_support.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::firstDifference;
using testsupport::Frame;
using testsupport::readFrame;

void step(GameContext& ctx, TitleScene& scene, bool confirm) {
  if (confirm) {
    testsupport::frame(ctx, scene, {ButtonConfirm});
  } else {
    testsupport::frame(ctx, scene);
  }
}

TEST(TitleCopy, EveryFrameShowsThePlainPixels) {
  GameContext& ctx = testsupport::startedContext();
  testsupport::setDrawing(true);
  ctx.sceneId = kSceneTitle;
  TitleScene plain(ctx);
  TitleScene copied(ctx);
  plain.enter();
  copied.enter();
  for (int f = 0; f < 160; ++f) {
    const bool confirm = f == 21;  // the prompt has faded in
    render::testing::setScreenLayers(false);
    testsupport::paintBackground();
    step(ctx, plain, confirm);
    const Frame want = readFrame();
    render::testing::setScreenLayers(true);
    testsupport::paintBackground();
    step(ctx, copied, confirm);
    ASSERT_EQ(firstDifference(readFrame(), want), "") << "frame " << f;
    ASSERT_EQ(copied.visit.barScrollY, plain.visit.barScrollY);
  }
  EXPECT_EQ(copied.visit.phase, TitlePhase::MainMenu);
}

}  // namespace
