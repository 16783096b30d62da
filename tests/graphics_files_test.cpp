// The committed pictures under Graphic/ (made by tools/make_graphics.py):
// they load, and they have the properties the drawing code relies on.
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct SurfaceFree {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceFree>;

constexpr int kCell = 10;  // frame sheets are read as 3 x 3 cells of this size

struct Rgba {
  uint8_t r, g, b, a;
  bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

// Loads a picture; fails the test unless it is a 32-bit image with alpha,
// the only layout pixelAt reads.
Surface loadRgba(const std::string& path) {
  Surface s(IMG_Load(path.c_str()));
  EXPECT_NE(s, nullptr) << path << ": " << IMG_GetError();
  if (s && (s->format->BytesPerPixel != 4 || s->format->Amask == 0)) {
    ADD_FAILURE() << path << " has no 32-bit alpha layout";
    s.reset();
  }
  return s;
}

// Surfaces loaded from files need no locking in SDL 1.2 (not RLE-encoded).
Rgba pixelAt(SDL_Surface* s, int x, int y) {
  uint32_t value = 0;
  std::memcpy(&value, static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * 4, 4);
  Rgba p{};
  SDL_GetRGBA(value, s->format, &p.r, &p.g, &p.b, &p.a);
  return p;
}

uint8_t alphaAt(SDL_Surface* s, int x, int y) {
  return pixelAt(s, x, y).a;
}

bool samePixel(SDL_Surface* s, int x0, int y0, int x1, int y1) {
  return pixelAt(s, x0, y0) == pixelAt(s, x1, y1);
}

TEST(GraphicsFiles, EveryPictureLoadsWithAlpha) {
  for (const char* name : {"BackFrame0", "BackFrame1", "Circle", "BGFrame", "Top_Sorane",
                           "Icon_Sorane", "Top_Kumoda", "Icon_Kumoda"}) {
    EXPECT_NE(loadRgba(std::string("Graphic/") + name + ".png"), nullptr) << name;
  }
}

// Edge cells are stretched with nearest sampling, so the top and bottom edge
// cells must not change along x, nor the side cells along y.
TEST(GraphicsFiles, FrameSheetEdgeCellsAreUniformAlongTheirStretch) {
  for (const char* path : {"Graphic/BackFrame0.png", "Graphic/BackFrame1.png"}) {
    const Surface s = loadRgba(path);
    ASSERT_NE(s, nullptr);
    ASSERT_GE(s->w, 3 * kCell);
    ASSERT_GE(s->h, 3 * kCell);
    for (int along = 1; along < kCell; ++along) {
      for (int across = 0; across < kCell; ++across) {
        EXPECT_TRUE(samePixel(s.get(), kCell, across, kCell + along, across)) << path;
        EXPECT_TRUE(
            samePixel(s.get(), kCell, 2 * kCell + across, kCell + along, 2 * kCell + across))
            << path;
        EXPECT_TRUE(samePixel(s.get(), across, kCell, across, kCell + along)) << path;
        EXPECT_TRUE(
            samePixel(s.get(), 2 * kCell + across, kCell, 2 * kCell + across, kCell + along))
            << path;
      }
    }
  }
}

// The rim sheet reaches the outer edge, so a window covers its whole
// rectangle; the body sheet is opaque where it meets the filled interior.
TEST(GraphicsFiles, FrameRimIsOpaqueOutsideAndBodyOpaqueInside) {
  const Surface rim = loadRgba("Graphic/BackFrame0.png");
  const Surface body = loadRgba("Graphic/BackFrame1.png");
  ASSERT_NE(rim, nullptr);
  ASSERT_NE(body, nullptr);
  const int last = 3 * kCell - 1;
  for (int i = kCell; i < 2 * kCell; ++i) {
    EXPECT_EQ(alphaAt(rim.get(), i, 0), 255) << i;
    EXPECT_EQ(alphaAt(rim.get(), i, last), 255) << i;
    EXPECT_EQ(alphaAt(rim.get(), 0, i), 255) << i;
    EXPECT_EQ(alphaAt(rim.get(), last, i), 255) << i;
  }
  const std::array<std::array<int, 2>, 8> inner = {{{kCell, kCell - 1},
                                                    {kCell, 2 * kCell},
                                                    {kCell - 1, kCell},
                                                    {2 * kCell, kCell},
                                                    {kCell - 1, kCell - 1},
                                                    {2 * kCell, kCell - 1},
                                                    {kCell - 1, 2 * kCell},
                                                    {2 * kCell, 2 * kCell}}};
  for (const auto& p : inner)
    EXPECT_EQ(alphaAt(body.get(), p[0], p[1]), 255) << p[0] << "," << p[1];
}

// Three copies of the strip are laid side by side.
TEST(GraphicsFiles, TitleStripIsWideEnoughAndTiles) {
  const Surface s = loadRgba("Graphic/BGFrame.png");
  ASSERT_NE(s, nullptr);
  EXPECT_GE(s->w, 320);
  for (int y = 0; y < s->h; ++y)
    EXPECT_EQ(alphaAt(s.get(), 0, y), alphaAt(s.get(), s->w - 1, y)) << y;
}

TEST(GraphicsFiles, CharacterPicturesHaveTransparentCorners) {
  for (const char* path : {"Graphic/Top_Sorane.png", "Graphic/Icon_Sorane.png",
                           "Graphic/Top_Kumoda.png", "Graphic/Icon_Kumoda.png"}) {
    const Surface s = loadRgba(path);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(alphaAt(s.get(), 0, 0), 0) << path;
    EXPECT_EQ(alphaAt(s.get(), s->w - 1, 0), 0) << path;
    EXPECT_EQ(alphaAt(s.get(), 0, s->h - 1), 0) << path;
    EXPECT_EQ(alphaAt(s.get(), s->w - 1, s->h - 1), 0) << path;
  }
}

}  // namespace
