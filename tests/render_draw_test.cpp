// Drawn pixels read back: the GL path under the virtual display, the surface
// path on SDL's dummy driver.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <vector>

#include "render/draw.h"
#include "render/image.h"
#include "render/video.h"
#include "support/test_support.h"

namespace {

using render::GfxImage;
using testsupport::readGlPixel;
using testsupport::Rgba;

// An image of w x h pixels of one colour, converted for the current back end.
void makeImage(GfxImage& image, int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  render::releaseImage(image);
  image.surface = render::createSurface(static_cast<uint16_t>(w), static_cast<uint16_t>(h), 1);
  SDL_FillRect(image.surface, nullptr, SDL_MapRGBA(image.surface->format, r, g, b, a));
  render::loadImage(image, nullptr);
}

bool litGl(int x, int y) {
  const Rgba p = readGlPixel(x, y);
  return p.r > 0 || p.g > 0 || p.b > 0;
}

class GlDraw : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    unsetenv("SDL_VIDEODRIVER");
    glAvailable = testsupport::openGlWindow();
  }
  static void TearDownTestSuite() {
    if (glAvailable) testsupport::closeVideo();
  }
  void SetUp() override {
    if (!glAvailable) GTEST_SKIP() << "no display for GL";
    testsupport::clearGl(0, 0, 0);
    render::setDrawColor(1, 1, 1, 1);
    render::setDrawScale(1, 1, 1);
    render::testing::mutableVideo().drawEnabled = true;
  }
  static bool glAvailable;
};
bool GlDraw::glAvailable = false;

TEST_F(GlDraw, GlModeHasNoScreenSurface) {
  EXPECT_EQ(render::video().screenSurface, nullptr);
  EXPECT_TRUE(render::video().glContextLive);
  EXPECT_TRUE(render::glMode());
}

TEST_F(GlDraw, CentredPlacementTruncatesHalves) {
  GfxImage image;
  // Odd width, scale 1: centre 12, half 2, so 10 to 14 and one pixel lost.
  makeImage(image, 5, 4, 255, 255, 255, 255);
  render::drawImage(10, 10, image);
  EXPECT_FALSE(litGl(9, 11));
  EXPECT_TRUE(litGl(10, 11));
  EXPECT_TRUE(litGl(13, 11));
  EXPECT_FALSE(litGl(14, 11));

  // 40 x 20 at scale 2 about its centre (120, 110): (80, 90) to (160, 130).
  makeImage(image, 40, 20, 255, 255, 255, 255);
  render::setDrawScale(2, 2, 1);
  render::drawImage(100, 100, image);
  EXPECT_TRUE(litGl(80, 90));
  EXPECT_TRUE(litGl(159, 129));
  EXPECT_FALSE(litGl(79, 100));
  EXPECT_FALSE(litGl(160, 100));
  EXPECT_FALSE(litGl(100, 89));
  EXPECT_FALSE(litGl(100, 130));
}

TEST_F(GlDraw, UncentredScaleGrowsFromTheTopLeftCorner) {
  GfxImage image;
  makeImage(image, 10, 4, 255, 255, 255, 255);
  render::setDrawScale(1.5f, 1, 0);
  render::drawImage(3, 200, image);  // 3 + 15 = 18
  EXPECT_FALSE(litGl(2, 201));
  EXPECT_TRUE(litGl(3, 201));
  EXPECT_TRUE(litGl(17, 201));
  EXPECT_FALSE(litGl(18, 201));
}

TEST_F(GlDraw, SourceRectangleSelectsPartOfTheImage) {
  GfxImage image;
  render::releaseImage(image);
  image.surface = render::createSurface(20, 10, 1);
  SDL_FillRect(image.surface, nullptr, SDL_MapRGBA(image.surface->format, 255, 0, 0, 255));
  SDL_Rect right = {10, 0, 10, 10};
  SDL_FillRect(image.surface, &right, SDL_MapRGBA(image.surface->format, 0, 0, 255, 255));
  render::loadImage(image, nullptr);
  render::drawImage(300, 300, &image, 10, 0, 10, 10);
  const Rgba inside = readGlPixel(305, 305);
  EXPECT_EQ(inside.b, 255);
  EXPECT_EQ(inside.r, 0);
  EXPECT_FALSE(litGl(310, 305));
}

TEST_F(GlDraw, ImagesAreTintedAndFadedByTheDrawColour) {
  GfxImage white;
  makeImage(white, 8, 8, 255, 255, 255, 255);
  testsupport::clearGl(0, 0, 1);
  render::setDrawColor(0, 0, 0, 1);
  render::drawImage(50, 50, white);
  const Rgba black = readGlPixel(53, 53);
  EXPECT_EQ(black.r, 0);
  EXPECT_EQ(black.b, 0);

  testsupport::clearGl(0, 0, 0);
  render::setDrawColor(1, 1, 1, 0.5f);
  render::drawImage(50, 50, white);
  const Rgba half = readGlPixel(53, 53);
  EXPECT_NEAR(half.g, 128, 2);

  // An image without a texture fills its quad in the draw colour.
  GfxImage none;
  render::setDrawColor(0, 1, 0, 1);
  render::drawImage(70, 70, &none, 0, 0, 4, 4);
  EXPECT_EQ(readGlPixel(71, 71).g, 255);
}

TEST_F(GlDraw, FillRectCoversItsSizeInTheDrawColour) {
  render::setDrawColor(1, 0, 0, 1);
  render::fillRect(20, 30, 6, 3);
  EXPECT_EQ(readGlPixel(20, 30).r, 255);
  EXPECT_EQ(readGlPixel(25, 32).r, 255);
  EXPECT_FALSE(litGl(26, 31));
  EXPECT_FALSE(litGl(22, 33));
}

// The heights of the lit columns around (cx, cy), left to right.
std::vector<int> columnHeights(int cx, int cy, int reach) {
  std::vector<int> heights;
  for (int x = cx - reach; x <= cx + reach; ++x) {
    int lit = 0;
    for (int y = cy - reach; y <= cy + reach; ++y) lit += litGl(x, y) ? 1 : 0;
    if (lit > 0) heights.push_back(lit);
  }
  return heights;
}

TEST_F(GlDraw, FillCircleDrawsOneLinePerColumn) {
  render::fillCircle(100, 100, 0);
  EXPECT_TRUE(columnHeights(100, 100, 3).empty());
  // r = 1: column cx - 1 is a segment of length 0, column cx spans cy - 1
  // to cy + 1.
  render::fillCircle(100, 100, 1);
  EXPECT_EQ(columnHeights(100, 100, 3), std::vector<int>({2}));
  // Half-heights sqrt(16 - i^2) with both ends truncated.
  render::fillCircle(200, 100, 4);
  EXPECT_EQ(columnHeights(200, 100, 6), std::vector<int>({5, 7, 7, 8, 7, 7, 5}));
}

TEST_F(GlDraw, NothingIsDrawnWhileTheFrameIsSkipped) {
  GfxImage image;
  makeImage(image, 8, 8, 255, 255, 255, 255);
  render::testing::mutableVideo().drawEnabled = false;
  render::drawImage(10, 10, image);
  render::fillRect(30, 10, 8, 8);
  render::fillCircle(60, 14, 4);
  // Off-screen surfaces are still painted.
  SDL_Surface* surface = render::createSurface(4, 4, 1);
  render::setDrawColor(1, 0, 0, 1);
  render::fillRectOn(surface, 0, 0, 3, 3);
  render::testing::mutableVideo().drawEnabled = true;
  EXPECT_FALSE(litGl(12, 12));
  EXPECT_FALSE(litGl(32, 12));
  EXPECT_FALSE(litGl(60, 14));
  EXPECT_EQ(testsupport::readSurfacePixel(surface, 3, 3).r, 255);
  SDL_FreeSurface(surface);
}

TEST_F(GlDraw, StaleImageIsUploadedAgainBeforeItIsDrawn) {
  GfxImage image;
  makeImage(image, 4, 4, 255, 0, 0, 255);
  image.surface = render::createSurface(4, 4, 1);
  SDL_FillRect(image.surface, nullptr, SDL_MapRGBA(image.surface->format, 0, 255, 0, 255));
  image.stale = 1;
  render::drawImage(400, 400, image);
  EXPECT_EQ(image.stale, 0);
  const Rgba p = readGlPixel(401, 401);
  EXPECT_EQ(p.g, 255);
  EXPECT_EQ(p.r, 0);
}

class SurfaceDraw : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(testsupport::openSoftwareScreen()); }
  static void TearDownTestSuite() {
    testsupport::closeVideo();
    unsetenv("SDL_VIDEODRIVER");
  }
  void SetUp() override {
    screen = render::video().screenSurface;
    ASSERT_NE(screen, nullptr);
    SDL_FillRect(screen, nullptr, 0);
    render::setDrawColor(1, 1, 1, 1);
    render::setDrawScale(1, 1, 1);
    render::testing::mutableVideo().drawEnabled = true;
  }
  bool lit(int x, int y) const {
    const Rgba p = testsupport::readSurfacePixel(screen, x, y);
    return p.r > 0 || p.g > 0 || p.b > 0;
  }
  SDL_Surface* screen = nullptr;
};

TEST_F(SurfaceDraw, FillRectOnHasInclusiveCornersAndTruncatedBytes) {
  SDL_Surface* bar = render::createSurface(640, 25, 1);
  render::setDrawColor(0.4f, 0.7f, 0.5f, 1.0f);
  render::fillRectOn(bar, 0, 0, 640, 25);
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{639, 24}, std::pair{320, 12}}) {
    const Rgba p = testsupport::readSurfacePixel(bar, x, y);
    EXPECT_EQ(p.r, 102);
    EXPECT_EQ(p.g, 178);
    EXPECT_EQ(p.b, 127);
    EXPECT_EQ(p.a, 255);
  }
  SDL_FreeSurface(bar);

  render::setDrawColor(1, 1, 1, 1);
  render::fillRect(10, 10, 4, 2);  // (10, 10) to (14, 12) inclusive
  EXPECT_TRUE(lit(14, 12));
  EXPECT_FALSE(lit(15, 12));
  EXPECT_FALSE(lit(14, 13));
}

TEST_F(SurfaceDraw, DrawImageBlitsAndScalesAboutTheCentre) {
  GfxImage image;
  makeImage(image, 4, 4, 0, 255, 0, 255);
  ASSERT_NE(image.surface, nullptr);
  render::setDrawColor(0, 0, 0, 1);  // not applied on this path
  render::drawImage(10, 10, image);
  EXPECT_EQ(testsupport::readSurfacePixel(screen, 10, 10).g, 255);
  EXPECT_EQ(testsupport::readSurfacePixel(screen, 13, 13).g, 255);
  EXPECT_FALSE(lit(14, 10));

  // 4 x 4 doubled to 8 x 8, moved back by 2: 98 to 105.
  render::setDrawScale(2, 2, 1);
  render::drawImage(100, 100, image);
  EXPECT_FALSE(lit(97, 101));
  EXPECT_TRUE(lit(98, 98));
  EXPECT_TRUE(lit(105, 105));
  EXPECT_FALSE(lit(106, 101));
}

TEST_F(SurfaceDraw, NothingToDrawOrNothingAllowed) {
  GfxImage empty;
  render::drawImage(10, 10, &empty, 0, 0, 4, 4);  // no surface: draws nothing
  render::drawImage(20, 20, nullptr, 0, 0, 4, 4);
  render::testing::mutableVideo().drawEnabled = false;
  render::fillRect(0, 0, 50, 50);
  render::fillCircle(30, 30, 5);
  render::testing::mutableVideo().drawEnabled = true;
  EXPECT_FALSE(lit(10, 10));
  EXPECT_FALSE(lit(30, 30));

  render::fillCircle(30, 30, 5);
  EXPECT_TRUE(lit(30, 30));
  EXPECT_FALSE(lit(30, 37));
}

}  // namespace
