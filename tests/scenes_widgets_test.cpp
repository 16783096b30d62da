// The shared widgets: window geometry read back from the screen, the heading
// and banner timings, and the dialog's handling of presses.
#include <gtest/gtest.h>

#include <cstdlib>

#include "render/draw.h"
#include "render/image.h"
#include "render/video.h"
#include "scenes/widgets.h"
#include "support/game_fixture.h"
#include "support/step_until.h"
#include "support/test_support.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::readGlPixel;
using testsupport::Rgba;

bool isBlack(Rgba p) { return p.r == 0 && p.g == 0 && p.b == 0; }

class Widgets : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = &testsupport::startedContext();
    testsupport::setDrawing(true);
    testsupport::clearGl(0, 0, 0);
    widgets::state() = widgets::WidgetState{};
    for (InputBinding& b : ctx->bindings) b.justPressed = 0;
  }
  GameContext* ctx = nullptr;
};

TEST_F(Widgets, WindowCoversExactlyItsRectangle) {
  render::setDrawColor(1, 0, 0, 1);
  widgets::drawWindow(*ctx, 100, 100, 153, 87, 0, 0, 1, 1);
  // Interior in the fill colour.
  const Rgba inside = readGlPixel(176, 143);
  EXPECT_EQ(inside.r, 255);
  EXPECT_EQ(inside.g, 0);
  // The rim reaches each edge, along the middle of each side ...
  EXPECT_FALSE(isBlack(readGlPixel(100, 143)));
  EXPECT_FALSE(isBlack(readGlPixel(252, 143)));
  EXPECT_FALSE(isBlack(readGlPixel(176, 100)));
  EXPECT_FALSE(isBlack(readGlPixel(176, 186)));
  // ... and nothing lies outside it.
  for (int y = 95; y < 192; ++y) {
    EXPECT_TRUE(isBlack(readGlPixel(99, y))) << y;
    EXPECT_TRUE(isBlack(readGlPixel(253, y))) << y;
  }
  for (int x = 95; x < 258; ++x) {
    EXPECT_TRUE(isBlack(readGlPixel(x, 99))) << x;
    EXPECT_TRUE(isBlack(readGlPixel(x, 187))) << x;
  }
  testsupport::saveGlScreenshot("widgets-window");
}

TEST_F(Widgets, StretchedEdgesHaveNoGapAtAnyWidth) {
  for (int pixels = 0; pixels <= 1000; ++pixels) {
    EXPECT_EQ(static_cast<int>(10 * widgets::stretchScale(pixels)), pixels) << pixels;
  }
}

TEST_F(Widgets, WindowUnderTwentyPixelsDrawsNothingAndTwentyOnlyCorners) {
  render::setDrawColor(1, 0, 0, 1);
  widgets::drawWindow(*ctx, 10, 10, 19, 60, 1, 1, 1, 1);
  widgets::drawWindow(*ctx, 10, 10, 60, 19, 1, 1, 1, 1);
  for (int y = 5; y < 75; y += 3) {
    for (int x = 5; x < 75; x += 3) ASSERT_TRUE(isBlack(readGlPixel(x, y))) << x << "," << y;
  }
  widgets::drawWindow(*ctx, 100, 10, 20, 20, 1, 1, 1, 1);
  EXPECT_FALSE(isBlack(readGlPixel(100, 15)));
  EXPECT_FALSE(isBlack(readGlPixel(119, 15)));
}

TEST_F(Widgets, WindowRestoresColourAndLeavesScaleOne) {
  render::setDrawColor(0.2f, 0.4f, 0.6f, 0.6f);
  render::setDrawScale(3, 3, 1);
  widgets::drawWindow(*ctx, 0, 0, 100, 100, 0, 0, 0, -1);
  const render::DrawState& s = render::drawState();
  EXPECT_FLOAT_EQ(s.color[0], 0.2f);
  EXPECT_FLOAT_EQ(s.color[3], 0.6f);
  EXPECT_FLOAT_EQ(s.scaleX, 1);
  EXPECT_FLOAT_EQ(s.scaleY, 1);
  EXPECT_EQ(s.centered, 0);
}

TEST_F(Widgets, FrameAlphaMinusOneIsEightyPercentOfTheCurrentAlpha) {
  // White frame at 0.8 x 0.5 = 0.4 over black, interior drawn elsewhere.
  render::setDrawColor(0, 0, 0, 0.5f);
  widgets::drawWindow(*ctx, 200, 200, 100, 100, 1, 1, 1, -1);
  const Rgba rim = readGlPixel(250, 200);
  EXPECT_NEAR(rim.r, 0.4 * 255, 3);
}

TEST_F(Widgets, PanelFrameIsBlackAtEightyPercentOfTheFillAlpha) {
  testsupport::clearGl(1, 1, 1);
  render::setDrawColor(1, 1, 1, 0.5f);
  widgets::drawPanel(*ctx, 200, 200, 100, 100);
  EXPECT_NEAR(readGlPixel(250, 200).r, 0.6 * 255, 3);  // white under black at 0.4
}

TEST_F(Widgets, ButtonTakesTheLookOfItsHighlight) {
  GfxImage label;  // a white 20 x 10 picture
  label.surface = render::createSurface(20, 10, 1);
  render::setDrawColor(1, 1, 1, 1);
  render::fillRectOn(label.surface, 0, 0, 20, 10);
  render::loadImage(label, nullptr);
  // Interiors x 110..170 and 310..370, y 110..130; labels at 130 and 330.
  widgets::drawButton(*ctx, 100, 100, 80, 40, label, 130, 115, false);
  widgets::drawButton(*ctx, 300, 100, 80, 40, label, 330, 115, true);
  const auto near = [](Rgba got, int r, int g, int b) {
    return std::abs(got.r - r) <= 2 && std::abs(got.g - g) <= 2 && std::abs(got.b - b) <= 2;
  };
  EXPECT_TRUE(near(readGlPixel(115, 120), 153, 230, 102));  // plain fill
  EXPECT_TRUE(near(readGlPixel(140, 120), 77, 128, 51));    // plain label
  EXPECT_TRUE(near(readGlPixel(315, 120), 128, 230, 0));    // highlighted fill
  EXPECT_TRUE(near(readGlPixel(340, 120), 255, 255, 255));  // highlighted label
  // The colour stays at the label's, for more pictures on the button.
  EXPECT_FLOAT_EQ(render::drawState().color[2], 1);
}

TEST_F(Widgets, HeadingOpensInSixtyOneCallsAndPlateShowsFromTheSixth) {
  text::HeadingLabels heading;
  int falses = 0;
  for (int call = 1; call <= 70; ++call) {
    testsupport::clearGl(0, 0, 0);
    const bool done = widgets::drawHeading(*ctx, false, heading);
    if (!done) ++falses;
    if (call == 5) {
      EXPECT_TRUE(isBlack(readGlPixel(170, 3)));
    }
    if (call == 6) {
      EXPECT_FALSE(isBlack(readGlPixel(170, 3)));
    }
  }
  EXPECT_EQ(falses, 61);
  bool closed = false;
  const int calls = testsupport::stepUntil(
      "the heading to close", [&] { return closed; },
      [&] { closed = widgets::drawHeading(*ctx, true, heading); });
  const int closing = calls - 1;  // the calls that still drew it
  EXPECT_GE(closing, 60);
  EXPECT_LE(closing, 62);
  EXPECT_LE(widgets::state().headingProgress, 0);
}

TEST_F(Widgets, BannerAdvancesByWidthOverTwoAndAHalfSeconds) {
  GfxImage& saved = ctx->modeLabels[0];
  GfxImage wide;
  wide.surface = render::createSurface(1500, 240, 1);
  render::loadImage(wide, nullptr);
  std::swap(saved, wide);
  testsupport::setDrawing(false);
  widgets::drawModeBanner(*ctx, PlayMode::Produce);
  EXPECT_EQ(widgets::state().bannerScroll, 10);
  bool done = false;
  const auto drawOnce = [&] {
    const int before = widgets::state().bannerScroll;
    done = widgets::drawModeBanner(*ctx, PlayMode::Produce);
    if (!done && before >= 1180) {
      EXPECT_EQ(widgets::state().bannerScroll, before);
    }
    EXPECT_LE(widgets::state().bannerScroll, 1180);
  };
  const int calls = 1 + testsupport::stepUntil(
                            "the banner to end", [&] { return done; }, drawOnce);
  // The fade starts on the call that passes the middle (the 76th, scroll
  // 760 > 750) and takes 51 calls.
  EXPECT_EQ(calls, 75 + 51);
  EXPECT_EQ(widgets::state().bannerScroll, 0);
  EXPECT_FLOAT_EQ(widgets::state().bannerAlpha, 1);
  std::swap(saved, wide);
}

TEST_F(Widgets, DialogIgnoresThePressThatOpenedIt) {
  GfxImage message;
  ctx->binding(0, ButtonConfirm).justPressed = 1;
  ctx->binding(0, ButtonLeft).justPressed = 1;
  EXPECT_EQ(widgets::runDialog(*ctx, 320, 240, 400, 150, &message, DialogKind::DialogYesNo, 0), 0);
  EXPECT_EQ(widgets::state().dialogChoice, 0);
  EXPECT_EQ(ctx->binding(0, ButtonConfirm).justPressed, 0);
}

TEST_F(Widgets, DialogAnswers) {
  GfxImage message;
  auto press = [&](Button b) {
    ctx->binding(0, b).justPressed = 1;
    const DialogResult r = widgets::runDialog(*ctx, 320, 240, 400, 150, &message, DialogKind::DialogYesNo, 0);
    ctx->binding(0, b).justPressed = 0;
    return r;
  };
  widgets::runDialog(*ctx, 320, 240, 400, 150, &message, DialogKind::DialogYesNo, 0);
  EXPECT_EQ(press(ButtonConfirm), kDialogNo);  // "no" starts highlighted
  EXPECT_EQ(press(ButtonLeft), kDialogPending);
  EXPECT_EQ(press(ButtonConfirm), kDialogYes);
  // The same message continues the dialog: same highlight.
  EXPECT_EQ(press(ButtonConfirm), kDialogYes);
  EXPECT_EQ(press(ButtonCancel), kDialogNo);  // cancel whatever is highlighted
  EXPECT_EQ(widgets::state().dialogChoice, 0);
  widgets::runDialog(*ctx, 0, 0, 0, 0, nullptr, DialogKind::DialogYesNo, 0);
  EXPECT_EQ(widgets::state().dialogMessage, nullptr);
  // Another player's buttons are not read.
  widgets::runDialog(*ctx, 320, 240, 400, 150, &message, DialogKind::DialogYesNo, 3);
  ctx->binding(0, ButtonCancel).justPressed = 1;
  EXPECT_EQ(widgets::runDialog(*ctx, 320, 240, 400, 150, &message, DialogKind::DialogYesNo, 3), 0);
}

TEST_F(Widgets, MessageDialogIsOpenOnItsEighthCallAndIgnoresButtons) {
  GfxImage message;
  for (int call = 1; call <= 10; ++call) {
    ctx->binding(0, ButtonCancel).justPressed = 1;
    ctx->binding(0, ButtonConfirm).justPressed = 1;
    const DialogResult r = widgets::runDialog(*ctx, 320, 240, 400, 150, &message, DialogKind::DialogMessage, 0);
    EXPECT_EQ(r, call >= 8 ? kDialogYes : kDialogPending) << call;
  }
}

TEST_F(Widgets, DialogBoxGrowsOutOfItsCentre) {
  GfxImage message;
  render::setDrawColor(1, 1, 1, 1);
  for (int call = 0; call < 8; ++call) {
    testsupport::clearGl(0, 0, 0);
    widgets::runDialog(*ctx, 320, 240, 400, 150, &message, DialogKind::DialogMessage, 0);
  }
  EXPECT_FALSE(isBlack(readGlPixel(320, 240)));
  EXPECT_FALSE(isBlack(readGlPixel(121, 240)));
  EXPECT_TRUE(isBlack(readGlPixel(119, 240)));
  EXPECT_TRUE(isBlack(readGlPixel(521, 240)));
  testsupport::saveGlScreenshot("widgets-dialog");
}

TEST_F(Widgets, BackdropCoversTheScreenAndAdvancesItsPhase) {
  widgets::drawBackdrop(*ctx);
  EXPECT_FLOAT_EQ(widgets::state().backdropPhase, 0.02f);
  for (int y = 0; y < 480; y += 40) {
    for (int x = 0; x < 640; x += 40) ASSERT_FALSE(isBlack(readGlPixel(x, y))) << x << "," << y;
  }
  testsupport::saveGlScreenshot("widgets-backdrop");
}

}  // namespace
