// SDL_gfx: the installed library and the companion draw the same pixels on
// the surface formats the game draws on, at its sizes, colours and alphas,
// clipped at the edges, and zoom by the same factors to the same surface.
#include <SDL_gfxPrimitives.h>
#include <SDL_rotozoom.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <limits>

#include "compat/compat_api.h"
#include "support/surface_compare.h"

namespace {

struct Format {
  const char* name;
  int bits;
  Uint32 r, g, b, a;
};

// The game's RGBA surfaces, the 32-bit screen, the 16-bit screen, and the
// other layouts a surface can have: alpha in the low byte, 16 bits with
// alpha, 24 bits, a palette.
const Format kFormats[] = {{"abgr32", 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000},
                           {"xrgb32", 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0},
                           {"rgb565", 16, 0xF800, 0x07E0, 0x001F, 0},
                           {"rgba32", 32, 0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF},
                           {"argb4444", 16, 0x0F00, 0x00F0, 0x000F, 0xF000},
                           {"rgb24", 24, 0xFF0000, 0x00FF00, 0x0000FF, 0},
                           {"bgr24", 24, 0x0000FF, 0x00FF00, 0xFF0000, 0},
                           {"palette8", 8, 0, 0, 0, 0}};

// A surface with a seeded pattern under the drawing, so blending shows.
SDL_Surface* patterned(const Format& f, int w, int h) {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, f.bits, f.r, f.g, f.b, f.a);
  Uint32 seed = 12345;
  for (int y = 0; y < h; ++y) {
    Uint8* row = static_cast<Uint8*>(s->pixels) + y * s->pitch;
    for (int i = 0; i < w * s->format->BytesPerPixel; ++i) {
      seed = seed * 1103515245 + 12345;
      row[i] = static_cast<Uint8>(seed >> 16);
    }
  }
  if (s->format->palette != nullptr) {
    SDL_Color colours[256];
    for (int i = 0; i < 256; ++i) {
      colours[i] = {static_cast<Uint8>(i * 7), static_cast<Uint8>(255 - i),
                    static_cast<Uint8>(i * 3), 0};
    }
    SDL_SetColors(s, colours, 0, 256);
  }
  return s;
}

using Draw = std::function<void(SDL_Surface*, bool ours)>;

// Draws on two identical surfaces and expects identical pixels.
void expectSameDrawing(const char* what, const Draw& draw) {
  for (const Format& f : kFormats) {
    SDL_Surface* const real = patterned(f, 320, 240);
    SDL_Surface* const ours = patterned(f, 320, 240);
    draw(real, false);
    draw(ours, true);
    const test::SurfaceDifference d = test::compareSurfaces(real, ours);
    EXPECT_EQ(d.format, "") << what << " on " << f.name;
    EXPECT_EQ(d.differing, 0) << what << " on " << f.name;
    std::printf("%s on %s: %d differing pixels\n", what, f.name, d.differing);
    SDL_FreeSurface(real);
    SDL_FreeSurface(ours);
  }
}

// Colours as the game sets them (white, the bar's green, black), opaque and
// translucent.
const Uint8 kColours[][4] = {{255, 255, 255, 255}, {102, 178, 102, 255}, {0, 0, 0, 128},
                             {255, 255, 255, 77},  {10, 200, 90, 1},     {200, 30, 250, 254}};

TEST(CompatGfx, BoxesBlendAndClipTheSame) {
  expectSameDrawing("boxes", [](SDL_Surface* s, bool ours) {
    const auto box = ours ? compat_boxRGBA : boxRGBA;
    for (const auto& c : kColours) {
      box(s, 0, 0, 319, 239, c[0], c[1], c[2], c[3]);
      box(s, 300, 10, 330, 30, c[0], c[1], c[2], c[3]);  // off the right edge
      box(s, 40, 250, -5, 200, c[0], c[1], c[2], c[3]);  // reversed, off two edges
      box(s, 17, 17, 17, 17, c[0], c[1], c[2], c[3]);    // one pixel
      box(s, 5, 100, 5, 140, c[0], c[1], c[2], c[3]);    // one column
    }
  });
}

TEST(CompatGfx, CirclesAndEllipsesBlendAndClipTheSame) {
  expectSameDrawing("circles", [](SDL_Surface* s, bool ours) {
    const auto circle = ours ? compat_circleRGBA : circleRGBA;
    const auto disc = ours ? compat_filledCircleRGBA : filledCircleRGBA;
    const auto ellipse = ours ? compat_filledEllipseRGBA : filledEllipseRGBA;
    for (const auto& c : kColours) {
      for (const int r : {0, 1, 2, 7, 40, 100, 200, 300}) {
        disc(s, 100, 200, static_cast<Sint16>(r), c[0], c[1], c[2], c[3]);
        circle(s, 160, 120, static_cast<Sint16>(r), c[0], c[1], c[2], c[3]);
        circle(s, 310, 5, static_cast<Sint16>(r), c[0], c[1], c[2], c[3]);
      }
      for (const auto& [rx, ry] : {std::pair{30, 10}, {10, 30}, {0, 12}, {12, 0}, {250, 90}}) {
        ellipse(s, 150, 100, static_cast<Sint16>(rx), static_cast<Sint16>(ry), c[0], c[1], c[2],
                c[3]);
      }
      // Edges past the 16-bit range, which SDL_gfx computes in: they wrap.
      ellipse(s, -3105, 20, 31293, 127, c[0], c[1], c[2], c[3]);
      disc(s, 30000, 100, 5000, c[0], c[1], c[2], c[3]);
      ellipse(s, 100, -30000, 0, 5000, c[0], c[1], c[2], c[3]);
      // An empty clip rectangle is checked before the radius.
      const SDL_Rect none = {0, 0, 0, 0};
      SDL_SetClipRect(s, &none);
      EXPECT_EQ(ellipse(s, 10, 10, -5, 3, c[0], c[1], c[2], c[3]), 0);
      EXPECT_EQ(circle(s, 10, 10, -5, c[0], c[1], c[2], c[3]), 0);
      SDL_SetClipRect(s, nullptr);
      EXPECT_EQ(disc(s, 10, 10, -5, c[0], c[1], c[2], c[3]), -1);
    }
  });
}

TEST(CompatGfx, ZoomsGiveTheSameSurface) {
  for (const Format& f : kFormats) {
    SDL_Surface* const source = patterned(f, 37, 23);
    for (const auto& [zx, zy] : {std::pair{2.0, 2.0},
                                 {1.5, 1.5},
                                 {0.5, 0.75},
                                 {1.13, 0.87},
                                 {3.3, 1.0},
                                 {-1.0, 1.0},
                                 {1.0, -2.5},
                                 {0.01, 0.01},
                                 {std::numeric_limits<double>::infinity(), 3.0}}) {
      // SDL_gfx crashes mirroring a palette picture (on 64-bit systems).
      if (f.bits == 8 && (zx < 0 || zy < 0)) continue;
      for (const int smooth : {0, 1}) {
        SDL_Surface* const real = zoomSurface(source, zx, zy, smooth);
        SDL_Surface* const ours = compat_zoomSurface(source, zx, zy, smooth);
        const test::SurfaceDifference d = test::compareSurfaces(real, ours);
        EXPECT_EQ(d.format, "") << f.name << " " << zx << " x " << zy;
        EXPECT_EQ(d.differing, 0) << f.name << " " << zx << " x " << zy << " smooth " << smooth;
        std::printf("zoom %s %g x %g smooth %d: %d differing pixels\n", f.name, zx, zy, smooth,
                    d.differing);
        SDL_FreeSurface(real);
        SDL_FreeSurface(ours);
      }
    }
    SDL_FreeSurface(source);
  }
  EXPECT_EQ(compat_zoomSurface(nullptr, 2, 2, 0), nullptr);
}

TEST(CompatNet, InitAndQuitBalance) {
  EXPECT_EQ(compat_SDLNet_Init(), 0);
  EXPECT_EQ(compat_SDLNet_Init(), 0);
  compat_SDLNet_Quit();
  compat_SDLNet_Quit();
  compat_SDLNet_Quit();  // one too many: ignored
}

}  // namespace
