// The cheaper ways the GL primitives draw must light exactly the pixels
// they are defined to light, blended as GL blends. A filled circle is one
// vertical GL line per column (from (cx + i, cy - h) to (cx + i, cy + h),
// h = sqrt(r^2 - i^2), both ends truncated toward zero, for i from -r to
// r - 1; such a line lights column cx + i - 1, rows top to bottom - 1); a
// rectangle its pixels; an opaque fill replaces them, an invisible one leaves
// them. Each case draws over a busy background and compares the whole frame
// read back with that background where nothing is covered and with the
// same colour filled over the whole screen where it is. A picture with its
// transparent margins left out draws as the same picture drawn whole. The
// screen layer must put back exactly what it captured.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "render/draw.h"
#include "render/image.h"
#include "render/layer.h"
#include "render/video.h"
#include "support/frames.h"
#include "support/test_support.h"

namespace {

using testsupport::firstDifference;
using testsupport::Frame;
using testsupport::paintBackground;
using testsupport::readFrame;

// The background where nothing is covered, the same background filled with
// the draw colour where something is: rows [top, bottom) of column x (window
// coordinates, y down) as rows(x, top, bottom) gives them.
template <typename Rows>
Frame expectedFill(Rows rows) {
  paintBackground();
  Frame want = readFrame();
  render::fillRect(0, 0, 640, 480);
  const Frame filled = readFrame();
  for (int x = 0; x < 640; ++x) {
    int top = 0;
    int bottom = 0;
    rows(x, top, bottom);
    for (int y = std::max(top, 0); y < std::min(bottom, 480); ++y) {
      const size_t i = (static_cast<size_t>(479 - y) * 640 + x) * 4;
      std::copy(&filled[i], &filled[i + 4], &want[i]);
    }
  }
  return want;
}

class FastPaths : public ::testing::Test {
 protected:
  // The window stays open until the process ends: the GL driver keeps a few
  // allocations until then, and they are only recognised as the driver's
  // (and not reported as leaks) while it is still loaded.
  static void SetUpTestSuite() { ASSERT_TRUE(testsupport::openGlWindow()); }
  void SetUp() override {
    render::resetDrawState();
    render::testing::mutableVideo().drawEnabled = true;
  }

  // Draws `reference` and `fast` over the background; the frames must be
  // equal.
  template <typename Reference, typename Fast>
  void expectSamePixels(Reference reference, Fast fast, const std::string& what) {
    paintBackground();
    reference();
    const Frame want = readFrame();
    paintBackground();
    fast();
    EXPECT_EQ(firstDifference(readFrame(), want), "") << what;
  }
};

constexpr float kAlphas[] = {0.8f, 0.5f, 1.0f, 1.5f, 0.0f, -0.2f};

TEST_F(FastPaths, FilledCircleLightsTheLinesPixels) {
  std::vector<int> radii;
  for (int r = -1; r <= 24; ++r) radii.push_back(r);
  for (int r : {50, 99, 100, 101, 150, 199, 200, 201, 250, 299, 300, 333}) radii.push_back(r);
  // Centres inside, near and beyond every edge.
  const int centres[][2] = {{320, 240}, {100, 200}, {160, 320}, {-20, -5}, {630, 470}, {0, 0}};
  int index = 0;
  for (const int r : radii) {
    for (const auto& c : centres) {
      const float alpha = kAlphas[index++ % 6];
      render::setDrawColor(0.7f, 1.0f, 0.5f, alpha);
      const Frame want = expectedFill([&](int x, int& top, int& bottom) {
        const int i = x + 1 - c[0];
        if (i < -r || i >= r) return;
        const double h = std::sqrt(static_cast<double>(r) * r - static_cast<double>(i) * i);
        top = static_cast<int>(c[1] - h);
        bottom = static_cast<int>(c[1] + h);
      });
      paintBackground();
      render::fillCircle(c[0], c[1], r);
      EXPECT_EQ(firstDifference(readFrame(), want), "")
          << "r " << r << " at " << c[0] << "," << c[1] << " alpha " << alpha;
    }
  }
}

TEST_F(FastPaths, OpaqueAndInvisibleFillsLightTheBlendedPixels) {
  const int rects[][4] = {{0, 0, 640, 480}, {13, 7, 101, 55}, {-30, 400, 100, 200}, {5, 5, 1, 1}};
  for (const auto& q : rects) {
    for (const float alpha : kAlphas) {
      render::setDrawColor(0.3f, 0.6f, 0.1f, alpha);
      const Frame want = expectedFill([&](int x, int& top, int& bottom) {
        if (x < q[0] || x >= q[0] + q[2]) return;
        top = q[1];
        bottom = q[1] + q[3];
      });
      paintBackground();
      render::fillRect(q[0], q[1], q[2], q[3]);
      EXPECT_EQ(firstDifference(readFrame(), want), "")
          << "rect " << q[0] << "," << q[1] << " alpha " << alpha;
    }
  }
  // Whatever lay under them, an opaque fill leaves its colour (as GL stores
  // it) and an invisible one leaves the background.
  for (const float alpha : kAlphas) {
    render::setDrawColor(0.3f, 0.6f, 0.1f, alpha);
    paintBackground();
    const Frame ground = readFrame();
    render::fillRect(0, 0, 640, 480);
    const Frame got = readFrame();
    if (alpha <= 0) {
      EXPECT_EQ(firstDifference(got, ground), "") << alpha;
    }
    if (alpha < 1) continue;
    for (size_t i = 0; i < got.size(); i += 4) {
      ASSERT_LE(std::abs(got[i] - 76.5), 1) << alpha;
      ASSERT_LE(std::abs(got[i + 1] - 153.0), 1) << alpha;
      ASSERT_LE(std::abs(got[i + 2] - 25.5), 1) << alpha;
    }
  }
}

TEST_F(FastPaths, AnImageAtAlphaZeroChangesNothing) {
  render::GfxImage image;
  image.surface = render::createSurface(32, 16, 0);
  render::setDrawColor(0.2f, 0.9f, 0.4f, 1);
  render::fillRectOn(image.surface, 0, 0, 32, 16);
  render::loadImage(image, nullptr);
  for (const float alpha : {0.0f, -0.07f}) {
    render::setDrawColor(1, 1, 1, alpha);
    paintBackground();
    const Frame before = readFrame();
    render::setDrawScale(1.5f, 1.5f, 1);
    render::drawImage(100, 100, image);
    EXPECT_EQ(firstDifference(readFrame(), before), "") << alpha;
  }
}

// A white picture with its shape in the alpha channel, as text renders,
// with fully transparent texels of any colour along its left edge.
SDL_Surface* whitePicture() {
  SDL_Surface* surface = render::createSurface(37, 21, 0);
  SDL_LockSurface(surface);
  for (int y = 0; y < surface->h; ++y) {
    for (int x = 0; x < surface->w; ++x) {
      const uint8_t a = static_cast<uint8_t>((x * 7 + y * 13) % 256);
      const uint32_t pixel = x == 0 ? SDL_MapRGBA(surface->format, 12, 34, 56, 0)
                                    : SDL_MapRGBA(surface->format, 255, 255, 255, a);
      render::putPixel(surface, x, y, pixel);
    }
  }
  SDL_UnlockSurface(surface);
  return surface;
}

GLint internalFormatOf(uint32_t texture) {
  GLint format = 0;
  glBindTexture(GL_TEXTURE_2D, texture);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
  return format;
}

TEST_F(FastPaths, WhitePicturesKeptAsAlphaDrawTheirPixels) {
  render::GfxImage picture;
  picture.surface = whitePicture();
  render::loadImage(picture, nullptr);
  EXPECT_EQ(internalFormatOf(picture.texture), GL_ALPHA);
  // The same texels as an RGBA texture, uploaded the plain way.
  render::GfxImage plain;
  SDL_Surface* padded = render::padToPowerOfTwo(whitePicture(), 64, 32);
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 64, 32, 0, GL_RGBA, GL_UNSIGNED_BYTE, padded->pixels);
  SDL_FreeSurface(padded);
  plain.texture = name;
  plain.texExtentU = picture.texExtentU;
  plain.texExtentV = picture.texExtentV;
  plain.width = picture.width;
  plain.height = picture.height;
  const float colours[][4] = {
      {1, 1, 1, 1}, {0, 0, 0, 1}, {0.3f, 0.5f, 0.2f, 0.6f}, {1, 0.2f, 0.7f, 0.35f}};
  const float scales[][2] = {{1, 0}, {1.5f, 1}, {0.7f, 0}, {2.3f, 0}};
  for (const auto& c : colours) {
    for (const auto& scale : scales) {
      render::setDrawColor(c[0], c[1], c[2], c[3]);
      render::setDrawScale(scale[0], scale[0], static_cast<uint8_t>(scale[1]));
      expectSamePixels([&] { render::drawImage(101, 57, plain); },
                       [&] { render::drawImage(101, 57, picture); },
                       "colour " + std::to_string(c[1]) + " scale " + std::to_string(scale[0]));
    }
  }
}

TEST_F(FastPaths, TransparentMarginsLeftOutChangeNoPixel) {
  // A 40 x 30 picture, visible only in a ring and a dot, with wholly
  // transparent rows and columns around and between them.
  render::GfxImage picture;
  picture.surface = render::createSurface(40, 30, 0);
  SDL_Surface* s = picture.surface;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      const int dx = x - 20;
      const int dy = y - 15;
      const bool ring = dx * dx + dy * dy >= 49 && dx * dx + dy * dy <= 100;
      const bool dot = x == 3 && y == 27;
      const uint8_t a = ring ? static_cast<uint8_t>(60 + 7 * x) : dot ? 255 : 0;
      render::putPixel(s, x, y, SDL_MapRGBA(s->format, 255, 255, 255, a));
    }
  }
  // The same texels drawn whole: without the record of its visible pixels
  // nothing is left out.
  render::GfxImage whole;
  whole.surface = render::createSurface(40, 30, 0);
  SDL_SetAlpha(picture.surface, 0, 0);
  SDL_BlitSurface(picture.surface, nullptr, whole.surface, nullptr);
  render::loadImage(whole, nullptr);
  whole.visibleRows.clear();
  render::loadImage(picture, nullptr);
  ASSERT_EQ(picture.visibleRows.size(), 30u);
  const int sources[][4] = {{0, 0, 40, 30}, {10, 0, 10, 10}, {0, 10, 10, 10}, {0, 20, 10, 10},
                            {30, 0, 10, 5}, {5, 5, 31, 21},  {0, 0, 1, 1},    {2, 26, 3, 3}};
  const float scales[][3] = {{1, 1, 0},       {7.3f, 1, 0}, {1, 4.1f, 0},
                             {2.5f, 0.5f, 0}, {1, 1, 1},    {1.5f, 1, 1}};
  render::setDrawColor(0.3f, 0.8f, 0.6f, 0.7f);
  for (const auto& src : sources) {
    for (const auto& sc : scales) {
      render::setDrawScale(sc[0], sc[1], static_cast<uint8_t>(sc[2]));
      expectSamePixels([&] { render::drawImage(97, 61, &whole, src[0], src[1], src[2], src[3]); },
                       [&] { render::drawImage(97, 61, &picture, src[0], src[1], src[2], src[3]); },
                       "source " + std::to_string(src[0]) + "," + std::to_string(src[1]) + " " +
                           std::to_string(src[2]) + "x" + std::to_string(src[3]) + " scale " +
                           std::to_string(sc[0]) + "," + std::to_string(sc[1]));
    }
  }
}

TEST_F(FastPaths, PicturesWithColourStayRgba) {
  render::GfxImage picture;
  picture.surface = whitePicture();
  render::putPixel(picture.surface, 5, 5, SDL_MapRGBA(picture.surface->format, 255, 254, 255, 1));
  render::loadImage(picture, nullptr);
  EXPECT_EQ(internalFormatOf(picture.texture), GL_RGBA);
}

// A picture whose texture is its exact size samples the same texels as its
// power-of-two texture at scales 1 and 2, whole or in part, also after its
// pixels were read back and uploaded again for a new context.
TEST_F(FastPaths, ExactSizeTexturesDrawThePaddedPixelsAtWholeScales) {
  for (const bool white : {true, false}) {
    SDL_Surface* const source = whitePicture();
    if (!white) render::putPixel(source, 9, 4, SDL_MapRGBA(source->format, 200, 30, 90, 250));
    render::GfxImage padded;
    render::GfxImage exact;
    exact.exactSize = true;
    padded.surface = source;
    exact.surface = render::createSurface(37, 21, 0);
    SDL_SetAlpha(source, 0, 0);
    SDL_BlitSurface(source, nullptr, exact.surface, nullptr);
    render::loadImage(padded, nullptr);
    render::loadImage(exact, nullptr);
    for (const bool restored : {false, true}) {
      GLint width = 0;
      glBindTexture(GL_TEXTURE_2D, exact.texture);
      glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
      EXPECT_EQ(width, 37) << restored;
      const int sources[][4] = {{0, 0, 37, 21}, {5, 3, 20, 11}, {36, 20, 1, 1}};
      const float scales[][2] = {{1, 0}, {2, 0}, {2, 1}};
      render::setDrawColor(0.3f, 0.8f, 0.6f, 0.7f);
      for (const auto& src : sources) {
        for (const auto& sc : scales) {
          render::setDrawScale(sc[0], sc[0], static_cast<uint8_t>(sc[1]));
          expectSamePixels(
              [&] { render::drawImage(97, 61, &padded, src[0], src[1], src[2], src[3]); },
              [&] { render::drawImage(97, 61, &exact, src[0], src[1], src[2], src[3]); },
              std::string(white ? "white" : "coloured") + (restored ? " restored" : "") +
                  " source " + std::to_string(src[0]) + " scale " + std::to_string(sc[0]));
        }
      }
      render::holdTextures();
      render::restoreTextures(true);
    }
  }
}

TEST_F(FastPaths, LayerPutsBackWhatItCaptured) {
  render::ScreenLayer layer;
  EXPECT_FALSE(layer.holds(7));
  paintBackground();
  const Frame shown = readFrame();
  ASSERT_TRUE(layer.capture(0, 0, 640, 480, 7));
  EXPECT_TRUE(layer.holds(7));
  EXPECT_FALSE(layer.holds(8));
  testsupport::clearGl(0, 0, 1);
  // Whatever texture environment is in force stays in force.
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  render::setDrawColor(0.5f, 0.5f, 0.5f, 0.5f);  // neither tints nor blends the copy
  layer.draw(0, 0);
  EXPECT_EQ(firstDifference(readFrame(), shown), "");
  GLint mode = 0;
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
  EXPECT_EQ(mode, GL_MODULATE);
}

TEST_F(FastPaths, LayerPartsLandOnTheirPixels) {
  // A band of 25 rows captured from the middle of the screen, put back at
  // other heights (partly above the top edge) and in part.
  paintBackground();
  const Frame source = readFrame();
  render::ScreenLayer band;
  ASSERT_TRUE(band.capture(0, 200, 640, 25, 1));
  testsupport::clearGl(0, 0, 0);
  band.draw(0, -7);
  band.draw(0, 300);
  band.draw(100, 400, 30, 5, 50, 10);
  const Frame got = readFrame();
  const auto at = [](const Frame& f, int x, int y) {
    const size_t i = ((479 - y) * 640 + x) * 4;
    return std::to_string(f[i]) + " " + std::to_string(f[i + 1]) + " " + std::to_string(f[i + 2]);
  };
  for (int x = 0; x < 640; x += 7) {
    for (int row = 7; row < 25; ++row) ASSERT_EQ(at(got, x, row - 7), at(source, x, 200 + row));
    for (int row = 0; row < 25; ++row) ASSERT_EQ(at(got, x, 300 + row), at(source, x, 200 + row));
  }
  for (int x = 0; x < 50; ++x) {
    for (int y = 0; y < 10; ++y) ASSERT_EQ(at(got, 100 + x, 400 + y), at(source, 30 + x, 205 + y));
  }
  EXPECT_EQ(at(got, 99, 405), "0 0 0");
  EXPECT_EQ(at(got, 150, 405), "0 0 0");
}

TEST_F(FastPaths, LayerRefusesWhatItCannotHold) {
  render::ScreenLayer layer;
  EXPECT_FALSE(layer.capture(-1, 0, 10, 10, 1));
  EXPECT_FALSE(layer.capture(0, 0, 641, 10, 1));
  EXPECT_FALSE(layer.capture(0, 0, 0, 10, 1));
  render::testing::mutableVideo().drawEnabled = false;  // nothing was drawn this frame
  EXPECT_FALSE(layer.capture(0, 0, 10, 10, 1));
  EXPECT_FALSE(layer.holds(1));
  render::testing::mutableVideo().drawEnabled = true;
  ASSERT_TRUE(layer.capture(0, 0, 10, 10, 1));
  // While a frame is skipped the copy draws nothing.
  testsupport::clearGl(0, 0, 0);
  const Frame before = readFrame();
  render::testing::mutableVideo().drawEnabled = false;
  layer.draw(100, 100);
  render::testing::mutableVideo().drawEnabled = true;
  EXPECT_EQ(firstDifference(readFrame(), before), "");
}

}  // namespace
