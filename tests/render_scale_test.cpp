// The frame shown larger: every scene's 640 x 480 picture, doubled pixel for
// pixel in a 1280 x 960 window and centred on black in a window it does not
// fill; the pictures the scenes hold survive the changes of mode.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "render/draw.h"
#include "render/frame_present.h"
#include "render/image.h"
#include "render/video.h"
#include "scenes/character_select_scene.h"
#include "scenes/options_scene.h"
#include "scenes/title_scene.h"
#include "support/game_fixture.h"
#include "support/frames.h"
#include "support/test_support.h"

using namespace app;
using namespace scenes;

namespace {

using testsupport::readGlRect;

// Compares the window's picture with the frame: window pixel (x, y) must be
// frame pixel ((x - left) / scale, (y - top) / scale) inside the frame and
// black outside. Coordinates are GL's, bottom-up. Returns the mismatches.
long mismatches(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& window, int scale,
                int left, int top) {
  const render::VideoState& v = render::video();
  const int ww = v.windowWidth, wh = v.windowHeight;
  const int bottom = wh - top - 480 * scale;  // frame's lowest row, bottom-up
  long bad = 0;
  for (int y = 0; y < wh; ++y) {
    for (int x = 0; x < ww; ++x) {
      const uint8_t* got = &window[(static_cast<size_t>(y) * ww + x) * 4];
      const int fx = x - left, fy = y - bottom;
      const bool inside = fx >= 0 && fy >= 0 && fx < 640 * scale && fy < 480 * scale;
      uint8_t black[3] = {0, 0, 0};
      const uint8_t* want =
          inside ? &frame[(static_cast<size_t>(fy / scale) * 640 + fx / scale) * 4] : black;
      if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2]) ++bad;
    }
  }
  return bad;
}

// Enters the scene and runs frames as the main loop does after a change of
// mode: pictures are presented (GL then sees the window's new size) before
// the frames that count.
void settle(GameContext& ctx, Scene& scene) {
  scene.enter();
  // The X server resizes the window in its own time; GL draws into the new
  // size once it has and a picture was presented. Settled when the window's
  // top-right pixel of the frame shows the frame's top-right pixel, once the
  // scene has drawn a frame (a new frame is black, as a window pixel GL
  // cannot reach reads).
  bool drawn = false;
  testsupport::stepUntil(
      "the window's new size",
      [&] {
        if (!drawn) return false;
        const render::VideoState& v = render::video();
        const std::vector<uint8_t> corner = readGlRect(639, 479, 1, 1);
        const int x = v.frameLeft + 640 * v.frameScale - 1;
        const int y = v.windowHeight - v.frameTop - 1;
        // Colours only: the frame's alpha is not shown.
        const std::vector<uint8_t> shown = render::testing::readWindow(x, y, 1, 1);
        return std::equal(shown.begin(), shown.begin() + 3, corner.begin());
      },
      [&] {
        render::paceFrame();
        SDL_PumpEvents();
        SDL_Delay(10);
        testsupport::setDrawing(true);
        testsupport::frames(ctx, scene, 1);
        drawn = true;
      },
      500);
  testsupport::setDrawing(true);
}

// Draws a few frames of the scene at 1x picture size, then checks the shown
// window against the frame.
long checkScene(GameContext& ctx, Scene& scene) {
  settle(ctx, scene);
  testsupport::frames(ctx, scene, 70);
  const std::vector<uint8_t> frame = readGlRect(0, 0, 640, 480);
  const render::VideoState& v = render::video();
  const std::vector<uint8_t> window =
      render::testing::readWindow(0, 0, v.windowWidth, v.windowHeight);
  return mismatches(frame, window, v.frameScale, v.frameLeft, v.frameTop);
}

// checkScene with the presentation the mode chose, then with each next best
// as the window system refuses one after the other, down to a GL swap of
// the picture GL composes. Each refusal must lead to a lesser way.
void checkEveryPresentation(GameContext& ctx, Scene& scene) {
  for (;;) {
    const render::Presentation way = render::presentation();
    EXPECT_EQ(checkScene(ctx, scene), 0) << "presented by way " << static_cast<int>(way);
    if (way == render::Presentation::Swap) return;
    render::testing::refusePresentation();
    EXPECT_LT(static_cast<int>(render::presentation()), static_cast<int>(way));
  }
}

// Blended fills, circles and pictures in several alphas and blend modes over
// a busy background, the same every time; returns the frame.
testsupport::Frame drawBusyFrame(GameContext& ctx) {
  testsupport::paintBackground();
  const float alphas[] = {1.0f, 0.8f, 0.5f, 0.3f, 0.07f};
  for (int i = 0; i < 30; ++i) {
    render::setBlendMode(static_cast<uint8_t>(i % 3));
    render::setDrawColor(0.1f * static_cast<float>(i % 10), 0.7f, 1.0f - 0.03f * i, alphas[i % 5]);
    render::fillRect(13 * i - 20, 7 * i, 200 - 3 * i, 90 + 5 * i);
    render::fillCircle(40 + 21 * i, 300 + (i % 5) * 30, 3 + 3 * i);
    render::setDrawScale(1 + 0.1f * static_cast<float>(i % 4), 1, static_cast<uint8_t>(i % 2));
    render::drawImage(600 - 20 * i, 15 * i, ctx.frameImages[static_cast<size_t>(i % 2)]);
  }
  render::setBlendMode(0);
  render::resetDrawState();
  return testsupport::readFrame();
}

TEST(FrameScale, PlacementIsTheLargestWholeScaleCentred) {
  const render::FramePlacement fullHd = render::placeFrame(640, 480, 1920, 1080);
  EXPECT_EQ(fullHd.scale, 2);
  EXPECT_EQ(fullHd.left, 320);
  EXPECT_EQ(fullHd.top, 60);
  const render::FramePlacement exact = render::placeFrame(640, 480, 1920, 1440);
  EXPECT_EQ(exact.scale, 3);
  EXPECT_EQ(exact.left + exact.top, 0);
  EXPECT_EQ(render::placeFrame(640, 480, 800, 600).scale, 1);
}

// Runs first, on the context as the program starts it.
TEST(FrameScale, TexturesComeBackWholeWhenTheContextIsLost) {
  GameContext& ctx = testsupport::startedContext();
  testsupport::setDrawing(true);
  auto title = std::make_unique<TitleScene>(ctx);
  settle(ctx, *title);
  testsupport::frames(ctx, *title, 30);
  const std::vector<uint8_t> before = readGlRect(0, 0, 640, 480);
  // As on Windows: the old context's pictures are read back, the context
  // goes, a new one comes; every texture must be uploaded again.
  render::holdTextures();
  testsupport::closeVideo();
  ASSERT_TRUE(testsupport::openGlWindow());
  settle(ctx, *title);
  testsupport::frames(ctx, *title, 30);
  const std::vector<uint8_t> after = readGlRect(0, 0, 640, 480);
  EXPECT_TRUE(after == before) << "the title looks different";
}

TEST(FrameScale, EveryScenePictureDoubledAndCentred) {
  GameContext& ctx = testsupport::startedContext();
  testsupport::setDrawing(true);
  auto title = std::make_unique<TitleScene>(ctx);
  auto characters = std::make_unique<CharacterSelectScene>(ctx);
  auto options = std::make_unique<OptionsScene>(ctx);
  const int images = render::liveImageCount();
  // The frame of a scaled window must be drawn exactly as the 640 x 480
  // window is (a software rasteriser may round blended fills otherwise in
  // a target of another kind), in a window made for it as the program
  // starts with one and in windows that SDL only resized.
  const testsupport::Frame atOneX = drawBusyFrame(ctx);

  render::holdTextures();
  testsupport::closeVideo();
  ASSERT_TRUE(testsupport::openGlWindow(1280, 960));
  EXPECT_EQ(render::video().frameScale, 2);
  EXPECT_EQ(render::liveImageCount(), images);
  EXPECT_NE(ctx.frameImages[0].texture, 0u);
  const uint32_t frameTexture = ctx.frameImages[0].texture;
  const uint32_t generation = render::video().glGeneration;
  EXPECT_EQ(testsupport::firstDifference(drawBusyFrame(ctx), atOneX), "");
  for (Scene* scene : {static_cast<Scene*>(characters.get()), static_cast<Scene*>(options.get())}) {
    EXPECT_EQ(checkScene(ctx, *scene), 0) << typeid(*scene).name();
  }
  checkEveryPresentation(ctx, *title);
  // A window the doubled frame does not fit: the frame at 1x, centred, bars.
  ASSERT_TRUE(render::setVideoMode(640, 480, 32, 0x1003, 800, 600));
  EXPECT_EQ(render::video().frameLeft, 80);
  EXPECT_EQ(render::video().frameTop, 60);
  checkEveryPresentation(ctx, *title);

  // Back at 640 x 480 the frame fills the window again; the textures in
  // use are those the scenes had (the context was kept) or uploaded anew.
  ASSERT_TRUE(render::setVideoMode(640, 480, 32, 0x1003));
  EXPECT_EQ(render::video().windowWidth, 640);
  if (render::video().glGeneration == generation) {
    EXPECT_EQ(ctx.frameImages[0].texture, frameTexture);
  }
  EXPECT_NE(ctx.frameImages[0].texture, 0u);
  EXPECT_EQ(testsupport::firstDifference(drawBusyFrame(ctx), atOneX), "");
  EXPECT_EQ(checkScene(ctx, *title), 0);
}

TEST(FrameScale, MousePositionMapsBackToTheFrame) {
  render::VideoState& v = render::testing::mutableVideo();
  const render::VideoState saved = v;
  v.frameScale = 2;
  v.frameLeft = 320;
  v.frameTop = 60;
  int x = 320 + 2 * 100 + 1, y = 60 + 2 * 50;
  render::windowToFrame(x, y);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 50);
  x = 5, y = 1079;  // on the bars: the nearest edge
  render::windowToFrame(x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 479);
  v = saved;
}

}  // namespace
