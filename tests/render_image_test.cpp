// Images, power-of-two textures and pixel access. The texture cases need the
// virtual display (GL under Xvfb); the rest run on plain surfaces.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <SDL.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "render/draw.h"
#include "render/image.h"
#include "render/video.h"
#include "support/test_support.h"

namespace {

using render::GfxImage;

// A 32-bit RGBA surface filled with one colour.
SDL_Surface* solidSurface(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  SDL_Surface* s = render::createSurface(static_cast<uint16_t>(w), static_cast<uint16_t>(h), 1);
  SDL_FillRect(s, nullptr, SDL_MapRGBA(s->format, r, g, b, a));
  return s;
}

std::vector<uint8_t> texturePixels(uint32_t texture, int* w, int* h) {
  glBindTexture(GL_TEXTURE_2D, texture);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, h);
  std::vector<uint8_t> pixels(static_cast<size_t>(*w) * *h * 4);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

TEST(NextPowerOfTwo, EdgeValues) {
  EXPECT_EQ(render::nextPowerOfTwo(-7), 1);
  EXPECT_EQ(render::nextPowerOfTwo(0), 1);
  EXPECT_EQ(render::nextPowerOfTwo(1), 1);
  EXPECT_EQ(render::nextPowerOfTwo(3), 4);
  EXPECT_EQ(render::nextPowerOfTwo(128), 128);
  EXPECT_EQ(render::nextPowerOfTwo(129), 256);
  EXPECT_EQ(render::nextPowerOfTwo(INT_MAX), 1 << 30);  // capped, no overflow
}

TEST(Pixels, EveryPixelSizeRoundTripsAndOutsideIsIgnored) {
  for (int depth : {8, 16, 24, 32}) {
    SDL_Surface* s = SDL_CreateRGBSurface(0, 4, 3, depth, 0, 0, 0, 0);
    ASSERT_NE(s, nullptr);
    const uint32_t mask = depth == 32 ? 0xFFFFFFFFu : (1u << depth) - 1;
    const uint32_t value = 0xA1B2C3D4u & mask;
    render::putPixel(s, 2, 1, value);
    EXPECT_EQ(render::getPixel(s, 2, 1), value) << depth;
    EXPECT_EQ(render::getPixel(s, 1, 1), 0u) << depth;
    render::putPixel(s, 4, 0, value);
    render::putPixel(s, 0, -1, value);
    EXPECT_EQ(render::getPixel(s, 4, 0), 0u);
    if (depth == 24) {  // low byte first
      const auto* p = static_cast<uint8_t*>(s->pixels) + s->pitch + 2 * 3;
      EXPECT_EQ(p[0], 0xD4);
      EXPECT_EQ(p[2], 0xB2);
    }
    SDL_FreeSurface(s);
  }
}

TEST(Surfaces, CreatedInRgbaByteOrderAtDepth32BeforeAnyMode) {
  SDL_Surface* s = solidSurface(3, 2, 10, 20, 30, 40);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->format->BitsPerPixel, 32);
  const auto* bytes = static_cast<uint8_t*>(s->pixels);
  EXPECT_EQ(bytes[0], 10);
  EXPECT_EQ(bytes[1], 20);
  EXPECT_EQ(bytes[2], 30);
  EXPECT_EQ(bytes[3], 40);
  SDL_FreeSurface(s);
}

TEST(LoadImageDeathTest, MissingFileEndsWithStatusOne) {
  GfxImage image;
  EXPECT_EXIT(
      {
        dup2(2, 1);  // the lines go to standard output; let the matcher see them
        render::loadImage(image, "Graphic/NoSuchFile.png");
      },
      ::testing::ExitedWithCode(1),
      "Load Graphic File\\[ Graphic/NoSuchFile\\.png \\]\\.\\.\\.Can't Load\\.");
}

// Writes a w x h picture for loadImage; SDL_image reads BMP as well as PNG.
std::string writePicture(const std::string& dir, const char* name, int w, int h) {
  SDL_Surface* s = solidSurface(w, h, 255, 0, 0, 255);
  const std::string path = dir + "/" + name;
  SDL_SaveBMP(s, path.c_str());
  SDL_FreeSurface(s);
  return path;
}

TEST(SoftwareBackEnd, LoadKeepsTheSurfaceAndLeavesSizeUnset) {
  const std::string dir = testsupport::scratchDir("image-soft");
  const std::string path = writePicture(dir, "a.bmp", 5, 3);
  ASSERT_TRUE(testsupport::openSoftwareScreen());
  {
    GfxImage image;
    ::testing::internal::CaptureStdout();
    render::loadImage(image, path.c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Load Graphic File[ " + path + " ]...Done.\n");
    ASSERT_NE(image.surface, nullptr);
    EXPECT_EQ(image.texture, 0u);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 0);
    EXPECT_EQ(image.pixelWidth(), 5);
    EXPECT_EQ(image.pixelHeight(), 3);

    GfxImage moved = std::move(image);
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(moved.pixelWidth(), 5);
  }
  testsupport::closeVideo();
  unsetenv("SDL_VIDEODRIVER");
}

class Textures : public ::testing::Test {
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
  }
  static bool glAvailable;
};
bool Textures::glAvailable = false;

TEST_F(Textures, PowerOfTwoSizesAndExtents) {
  struct Case {
    int w, h, potW, potH;
    float u, v;
  };
  for (const Case& c : {Case{100, 30, 128, 32, 0.78125f, 0.9375f}, Case{64, 64, 64, 64, 1, 1},
                        Case{1, 1, 1, 1, 1, 1}}) {
    GfxImage image;
    image.surface = solidSurface(c.w, c.h, 0, 0, 255, 255);
    render::loadImage(image, nullptr);
    ASSERT_NE(image.texture, 0u);
    EXPECT_EQ(image.surface, nullptr);
    EXPECT_EQ(image.width, c.w);
    EXPECT_EQ(image.height, c.h);
    EXPECT_FLOAT_EQ(image.texExtentU, c.u);
    EXPECT_FLOAT_EQ(image.texExtentV, c.v);
    int w = 0, h = 0;
    const std::vector<uint8_t> pixels = texturePixels(image.texture, &w, &h);
    EXPECT_EQ(w, c.potW);
    EXPECT_EQ(h, c.potH);
    // The image sits top-left; the padding is transparent black.
    EXPECT_EQ(pixels[2], 255);
    EXPECT_EQ(pixels[3], 255);
    if (c.potW > c.w) {
      EXPECT_EQ(pixels[c.w * 4 + 3], 0);
    }
  }
}

TEST_F(Textures, ReloadingDeletesTheOldTexture) {
  const std::string dir = testsupport::scratchDir("image-gl");
  const std::string first = writePicture(dir, "first.bmp", 8, 8);
  const std::string second = writePicture(dir, "second.bmp", 20, 10);
  GfxImage image;
  ::testing::internal::CaptureStdout();
  render::loadImage(image, first.c_str());
  const uint32_t old = image.texture;
  render::loadImage(image, second.c_str());
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(image.width, 20);
  EXPECT_EQ(image.height, 10);
  // Deleted before the new name is taken (a driver may hand it out again).
  EXPECT_TRUE(image.texture == old || glIsTexture(old) == GL_FALSE);
}

TEST_F(Textures, PerSurfaceAlphaOfTheSourceIsKeptAndNotApplied) {
  SDL_Surface* source = solidSurface(4, 4, 200, 100, 50, 77);
  SDL_SetAlpha(source, SDL_SRCALPHA | SDL_RLEACCEL, 128);
  const uint32_t flagsBefore = source->flags & (SDL_SRCALPHA | SDL_RLEACCELOK);
  float extents[2] = {0, 0};
  const uint32_t texture = render::createTexture(source, extents);
  ASSERT_NE(texture, 0u);
  int w = 0, h = 0;
  const std::vector<uint8_t> pixels = texturePixels(texture, &w, &h);
  EXPECT_EQ(pixels[0], 200);
  EXPECT_EQ(pixels[3], 77);  // the pixel's own alpha, not blended with 128
  EXPECT_EQ(source->flags & (SDL_SRCALPHA | SDL_RLEACCELOK), flagsBefore);
  EXPECT_EQ(source->format->alpha, 128);
  GLuint name = texture;
  glDeleteTextures(1, &name);
  SDL_FreeSurface(source);
}

TEST_F(Textures, NoHalfMadeTextureWhenThePaddedCopyCannotBeMade) {
  // 9000 pixels pad to 16384, wider than SDL 1.2 can make a surface.
  SDL_Surface* wide = solidSurface(9000, 1, 0, 255, 0, 255);
  ASSERT_NE(wide, nullptr);
  float extents[2] = {-1, -1};
  EXPECT_EQ(render::createTexture(wide, extents), 0u);
  EXPECT_FLOAT_EQ(extents[0], -1);

  // A refresh that fails keeps the texture's previous pixels.
  GfxImage image;
  image.surface = solidSurface(4, 4, 0, 0, 255, 255);
  render::loadImage(image, nullptr);
  const uint32_t texture = image.texture;
  image.surface = wide;
  image.stale = 1;
  render::refreshTexture(image);
  EXPECT_EQ(image.stale, 0);
  EXPECT_EQ(image.texture, texture);
  int w = 0, h = 0;
  const std::vector<uint8_t> pixels = texturePixels(image.texture, &w, &h);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(pixels[2], 255);
}

TEST_F(Textures, RefreshUploadsTheSurfaceAgain) {
  GfxImage image;
  image.surface = solidSurface(4, 4, 0, 0, 255, 255);
  render::loadImage(image, nullptr);
  image.surface = solidSurface(4, 4, 255, 0, 0, 255);
  image.stale = 1;
  render::refreshTexture(image);
  EXPECT_EQ(image.stale, 0);
  int w = 0, h = 0;
  const std::vector<uint8_t> pixels = texturePixels(image.texture, &w, &h);
  EXPECT_EQ(pixels[0], 255);
  EXPECT_EQ(pixels[2], 0);
}

TEST_F(Textures, ReleaseAfterTheContextIsGoneSkipsGl) {
  GfxImage image;
  image.surface = solidSurface(2, 2, 1, 2, 3, 255);
  render::loadImage(image, nullptr);
  ASSERT_NE(image.texture, 0u);
  render::videoShutdown();
  EXPECT_FALSE(render::video().glContextLive);
  render::releaseImage(image);
  EXPECT_TRUE(image.empty());
  EXPECT_EQ(image.width, 0);
  // Reopen for the cases that follow.
  SDL_Quit();
  glAvailable = testsupport::openGlWindow();
}

// A change of mode that loses the GL context, with one texture that cannot
// be read back (the texture is smaller than its image says): that image
// gives up its old name, which the new context may hand to another picture,
// and is left empty; the other pictures come back whole.
TEST_F(Textures, AnImageNotReadBackGivesUpItsNameWhenTheContextIsLost) {
  GfxImage kept;
  kept.surface = solidSurface(4, 4, 0, 0, 255, 255);
  render::loadImage(kept, nullptr);
  auto lost = std::make_unique<GfxImage>();
  lost->surface = solidSurface(4, 4, 255, 0, 0, 255);
  render::loadImage(*lost, nullptr);
  lost->width = 64;
  const uint32_t oldName = lost->texture;
  ASSERT_NE(oldName, 0u);

  render::holdTextures();
  testsupport::closeVideo();
  glAvailable = testsupport::openGlWindow();
  ASSERT_TRUE(glAvailable);
  EXPECT_EQ(lost->texture, 0u);
  EXPECT_TRUE(lost->empty());
  EXPECT_EQ(lost->pixelWidth(), 0);
  ASSERT_NE(kept.texture, 0u);

  // New pictures in the new context, enough to be handed the old name
  // where the driver hands names out again; dropping the emptied image must
  // take none of their textures.
  std::vector<GfxImage> fresh(16);
  for (GfxImage& image : fresh) {
    image.surface = solidSurface(2, 2, 0, 255, 0, 255);
    render::loadImage(image, nullptr);
    ASSERT_NE(image.texture, 0u);
  }
  lost.reset();
  for (const GfxImage& image : fresh) {
    EXPECT_EQ(glIsTexture(image.texture), GL_TRUE) << "texture " << image.texture << " was deleted";
  }
  int w = 0, h = 0;
  const std::vector<uint8_t> pixels = texturePixels(kept.texture, &w, &h);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(pixels[2], 255);
}

}  // namespace
