// Windows draw each sheet's rim as one batch, leave out the sheets' fully
// transparent texels and fill the interior before the second rim: for any
// size, place and colours the pixels must be those of the seventeen
// primitives drawn one by one, whole, in the order the window is defined,
// and the draw state must end the same.
#include <gtest/gtest.h>

#include <string>

#include "render/draw.h"
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

void plainCell(GfxImage& sheet, int x, int y, int column, int row, float sx, float sy) {
  render::setDrawScale(sx, sy, 0);
  testsupport::plainImage(x, y, sheet, column * 10, row * 10, 10, 10);
}

// The window as defined: two passes of nine steps each.
void plainWindow(GameContext& ctx, int x, int y, int w, int h, float fr, float fg, float fb,
                 float fa) {
  const int iw = w - 20;
  const int ih = h - 20;
  if (iw < 0 || ih < 0) return;
  const render::DrawState c = render::drawState();
  if (fa == -1.0f) fa = c.color[3] * 0.8f;
  render::setDrawColor(fr, fg, fb, fa);
  const float sx = widgets::stretchScale(iw);
  const float sy = widgets::stretchScale(ih);
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) render::setDrawColor(c.color[0], c.color[1], c.color[2], c.color[3]);
    GfxImage& sheet = ctx.frameImages[pass];
    plainCell(sheet, x, y, 0, 0, 1, 1);
    plainCell(sheet, x + 10, y, 1, 0, sx, 1);
    plainCell(sheet, x + 10 + iw, y, 2, 0, 1, 1);
    plainCell(sheet, x, y + 10, 0, 1, 1, sy);
    if (pass == 1) {
      render::setDrawScale(1, 1, 0);
      testsupport::plainRect(x + 10, y + 10, iw, ih);
    }
    plainCell(sheet, x + 10 + iw, y + 10, 2, 1, 1, sy);
    plainCell(sheet, x, y + 10 + ih, 0, 2, 1, 1);
    plainCell(sheet, x + 10, y + 10 + ih, 1, 2, sx, 1);
    plainCell(sheet, x + 10 + iw, y + 10 + ih, 2, 2, 1, 1);
  }
}

TEST(WindowBatch, WindowsShowThePixelsOfTheirPrimitivesOneByOne) {
  GameContext& ctx = testsupport::startedContext();
  testsupport::setDrawing(true);
  // Sizes from below the minimum to wider than the screen, odd and even;
  // places inside, across the edges and partly off the screen.
  const int boxes[][4] = {{100, 100, 153, 87}, {45, -10, 250, 85},  {-50, 90, 740, 360},
                          {0, 160, 640, 270},  {20, 170, 300, 80},  {425, 155, 180, 25},
                          {310, 105, 300, 40}, {-275, 20, 275, 40}, {15, 360, 56, 76},
                          {400, 300, 20, 20},  {400, 300, 19, 40},  {7, 9, 21, 33},
                          {600, 440, 77, 91},  {-10, -10, 660, 80}, {320, 240, 1, 1}};
  const float colours[][4] = {{0, 0, 0, 0.5f}, {0.5f, 0.9f, 0.0f, 1.0f}, {0.3f, 0.6f, 0.1f, 0.6f},
                              {1, 1, 1, 0.1f}, {0.4f, 0.7f, 0.2f, 1.0f}, {0.7f, 0.4f, 0.4f, 0.0f}};
  const float frames[][4] = {{0, 0, 0, -1}, {1, 1, 1, 0.5f}, {0, 0, 0, 0.0f}, {0.2f, 0, 1, 1}};
  int index = 0;
  for (const auto& b : boxes) {
    for (int k = 0; k < 3; ++k) {
      const auto& c = colours[(index + k) % 6];
      const auto& f = frames[(index + 2 * k) % 4];
      render::setDrawScale(1.7f, 0.3f, 1);
      render::setDrawColor(c[0], c[1], c[2], c[3]);
      testsupport::paintBackground();
      plainWindow(ctx, b[0], b[1], b[2], b[3], f[0], f[1], f[2], f[3]);
      const Frame want = readFrame();
      const render::DrawState wantState = render::drawState();

      render::setDrawScale(1.7f, 0.3f, 1);
      render::setDrawColor(c[0], c[1], c[2], c[3]);
      testsupport::paintBackground();
      widgets::drawWindow(ctx, b[0], b[1], b[2], b[3], f[0], f[1], f[2], f[3]);
      const std::string what = "window " + std::to_string(b[0]) + "," + std::to_string(b[1]) + " " +
                               std::to_string(b[2]) + "x" + std::to_string(b[3]) + " case " +
                               std::to_string(k);
      EXPECT_EQ(firstDifference(readFrame(), want), "") << what;
      const render::DrawState& got = render::drawState();
      for (int i = 0; i < 4; ++i) EXPECT_EQ(got.color[i], wantState.color[i]) << what;
      EXPECT_EQ(got.scaleX, wantState.scaleX) << what;
      EXPECT_EQ(got.scaleY, wantState.scaleY) << what;
      EXPECT_EQ(got.centered, wantState.centered) << what;
    }
    ++index;
  }
}

}  // namespace
