// The backdrop keeps its unchanging part (fill, bands, large circle) as a
// copy of the screen: every frame, the first as well as the copied ones,
// must show the picture kept for its phase (tests/pictures/backdrop.png, see
// PictureFile to remake it), and leave the sticky draw state as the first
// one did.
#include <gtest/gtest.h>

#include "render/draw.h"
#include "render/video.h"
#include "scenes/widgets.h"
#include "support/frames.h"
#include "support/game_fixture.h"
#include "support/test_support.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::firstDifference;
using testsupport::Frame;
using testsupport::readFrame;

TEST(Backdrop, EveryFrameShowsThePictureOfItsPhase) {
  GameContext& ctx = testsupport::startedContext();
  testsupport::setDrawing(true);
  ASSERT_GT(ctx.barImage.pixelHeight(), 0);
  testsupport::PictureFile pictures("backdrop");
  for (const float phase : {0.0f, 0.5f, 3.0f, 1000.0f}) {
    // The very first call draws the layers and keeps the copy, every later
    // one puts the copy back.
    Frame first;
    render::DrawState firstState;
    for (int call = 0; call < 3; ++call) {
      widgets::state().backdropPhase = phase;
      testsupport::paintBackground();
      widgets::drawBackdrop(ctx);
      const Frame got = readFrame();
      EXPECT_FLOAT_EQ(widgets::state().backdropPhase, phase + 0.02f);
      if (call == 0) {
        EXPECT_EQ(pictures.next(got), "") << "phase " << phase;
        first = got;
        firstState = render::drawState();
        continue;
      }
      EXPECT_EQ(firstDifference(got, first), "") << "phase " << phase << " call " << call;
      const render::DrawState& state = render::drawState();
      for (int c = 0; c < 4; ++c) EXPECT_EQ(state.color[c], firstState.color[c]);
      EXPECT_EQ(state.scaleX, firstState.scaleX);
      EXPECT_EQ(state.scaleY, firstState.scaleY);
      EXPECT_EQ(state.centered, firstState.centered);
    }
  }
}

TEST(Backdrop, ASkippedFrameDrawsNothingAndKeepsNoCopy) {
  GameContext& ctx = testsupport::startedContext();
  testsupport::setDrawing(true);
  testsupport::clearGl(0, 0, 0);
  const Frame before = readFrame();
  testsupport::setDrawing(false);
  widgets::drawBackdrop(ctx);
  testsupport::setDrawing(true);
  EXPECT_EQ(firstDifference(readFrame(), before), "");
}

}  // namespace
