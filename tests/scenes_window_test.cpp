// Windows (a sheet's rim drawn as one batch, the sheets' fully transparent
// texels left out, the interior filled before the second rim): for sizes
// from below the minimum to wider than the screen, places across the edges
// and several colours, the pixels are those of the picture kept for them
// (tests/pictures/windows.png, see PictureFile to remake it), and the draw
// colour ends as it was.
#include <gtest/gtest.h>

#include <string>

#include "render/draw.h"
#include "scenes/widgets.h"
#include "support/frames.h"
#include "support/game_fixture.h"
#include "support/test_support.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::readFrame;

TEST(Window, WindowsShowTheirPictures) {
  GameContext& ctx = testsupport::startedContext();
  testsupport::setDrawing(true);
  testsupport::PictureFile pictures("windows");
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
      // A plain ground, so that the picture stays small; any blend shows on it.
      testsupport::clearGl(0.25f, 0.5f, 0.75f);
      widgets::drawWindow(ctx, b[0], b[1], b[2], b[3], f[0], f[1], f[2], f[3]);
      const std::string what = "window " + std::to_string(b[0]) + "," + std::to_string(b[1]) + " " +
                               std::to_string(b[2]) + "x" + std::to_string(b[3]) + " case " +
                               std::to_string(k);
      EXPECT_EQ(pictures.next(readFrame()), "") << what;
      const render::DrawState& got = render::drawState();
      for (int i = 0; i < 4; ++i) EXPECT_EQ(got.color[i], c[i]) << what;
    }
    ++index;
  }
}

}  // namespace
