// The backdrop keeps its unchanging part (fill, bands, large circle) as a
// copy of the screen: every frame, the first as well as the copied ones, must
// show exactly the pixels of the backdrop drawn layer by layer.
#include <gtest/gtest.h>

#include <cmath>

#include "render/draw.h"
#include "render/video.h"
#include "scenes/widgets.h"
#include "support/game_fixture.h"
#include "support/plain_draw.h"
#include "support/test_support.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::firstDifference;
using testsupport::Frame;
using testsupport::readFrame;

// The backdrop as defined, every layer drawn every frame.
void plainBackdrop(GameContext& ctx, float& t) {
  render::setDrawColor(0.5f, 0.9f, 0.3f, 1.0f);
  testsupport::plainRect(0, 0, 640, 480);
  render::setDrawScale(1, 1, 0);
  for (int y = 0; y < 480; y += ctx.barImage.pixelHeight()) {
    render::setDrawColor(1, 1, 1, y / 480.0f + 0.1f);
    render::drawImage(0, y, ctx.barImage);
  }
  render::setDrawColor(0.7f, 1.0f, 0.5f, 0.8f);
  testsupport::plainCircle(100, 200, 200);
  render::setDrawColor(0.7f, 1.0f, 0.5f, 1.0f);
  testsupport::plainCircle(static_cast<int>(100 + 150 * std::cos(t)),
                           static_cast<int>(200 + 150 * std::sin(t)), 100);
  t += 0.02f;
  const int halfW = ctx.circleImage.pixelWidth() / 2;
  const int halfH = ctx.circleImage.pixelHeight() / 2;
  for (int i = 0; i < 8; ++i) {
    const float b = 0.7865f * i + t;
    const float d = 0.5f * std::cos(b) + 1;
    render::setDrawScale(d, d, 0);
    render::setDrawColor(0.7f, 1.0f, 0.5f, 0.5f * d);
    render::drawImage(static_cast<int>(280 * std::cos(b - 0.39325f) + 300 - halfW),
                      static_cast<int>(280 * std::sin(b) + 200 - halfH), ctx.circleImage);
  }
}

TEST(BackdropCopy, EveryFrameShowsTheLayeredPixels) {
  GameContext& ctx = testsupport::startedContext();
  testsupport::setDrawing(true);
  ASSERT_GT(ctx.barImage.pixelHeight(), 0);
  for (const float phase : {0.0f, 0.5f, 3.0f, 1000.0f}) {
    // The first call draws the layers and keeps the copy, the later ones
    // put the copy back.
    for (int call = 0; call < 3; ++call) {
      float t = phase;
      testsupport::paintBackground();
      plainBackdrop(ctx, t);
      const Frame want = readFrame();
      const render::DrawState wantState = render::drawState();

      widgets::state().backdropPhase = phase;
      testsupport::paintBackground();
      widgets::drawBackdrop(ctx);
      EXPECT_EQ(firstDifference(readFrame(), want), "") << "phase " << phase << " call " << call;
      EXPECT_FLOAT_EQ(widgets::state().backdropPhase, t);
      // The sticky draw state ends as the layered drawing leaves it.
      for (int c = 0; c < 4; ++c) EXPECT_EQ(render::drawState().color[c], wantState.color[c]);
      EXPECT_EQ(render::drawState().scaleX, wantState.scaleX);
      EXPECT_EQ(render::drawState().centered, wantState.centered);
    }
  }
}

TEST(BackdropCopy, ASkippedFrameDrawsNothingAndKeepsNoCopy) {
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
