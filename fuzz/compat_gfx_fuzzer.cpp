// The installed SDL_gfx and the companion draw the same boxes, circles,
// discs and ellipses on two copies of one surface, and zoom the same
// surface: surface format, size, contents and clip rectangle, coordinates,
// radii, colours and zoom factors all come from the input. Any difference in
// the return value or a pixel stops the run, and so does a pixel the
// companion changes outside the clip rectangle. Surfaces are at most 64 x 64
// and zoomed ones at most 512 pixels a side.
#include <SDL.h>
#include <SDL_gfxPrimitives.h>
#include <SDL_rotozoom.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "fuzz/differential.h"
#include "tests/compat/compat_api.h"

namespace {

struct Format {
  int bits;
  Uint32 r, g, b, a;
};
const Format kFormats[] = {{8, 0, 0, 0, 0},
                           {15, 0x7C00, 0x03E0, 0x001F, 0},
                           {16, 0xF800, 0x07E0, 0x001F, 0},
                           {16, 0x001F, 0x07E0, 0xF800, 0},
                           {16, 0x0F00, 0x00F0, 0x000F, 0xF000},
                           {24, 0xFF0000, 0x00FF00, 0x0000FF, 0},
                           {24, 0x0000FF, 0x00FF00, 0xFF0000, 0},
                           {32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000},
                           {32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
                           {32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0},
                           {32, 0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF}};
constexpr int kFormatCount = sizeof kFormats / sizeof kFormats[0];
constexpr int kMaxSide = 64;
constexpr double kMaxZoomedSide = 512;

// A surface of the input's format and size, filled from a seed, with a
// palette of its own for 8 bits.
SDL_Surface* makeSurface(InputBytes& in) {
  const Format& f = kFormats[in.byte() % kFormatCount];
  const int w = 1 + in.byte() % kMaxSide;
  const int h = 1 + in.byte() % kMaxSide;
  SDL_Surface* const s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, f.bits, f.r, f.g, f.b, f.a);
  require(s != nullptr, "SDL_CreateRGBSurface");
  Uint32 seed = in.byte() * 2654435761u + 1;
  const auto next = [&seed] {
    seed = seed * 1103515245 + 12345;
    return static_cast<Uint8>(seed >> 16);
  };
  for (int y = 0; y < h; ++y) {
    Uint8* const row = static_cast<Uint8*>(s->pixels) + y * s->pitch;
    for (int i = 0; i < s->pitch; ++i) row[i] = next();
  }
  if (s->format->palette != nullptr) {
    SDL_Color colours[256];
    for (SDL_Color& c : colours) c = {next(), next(), next(), 0};
    SDL_SetColors(s, colours, 0, 256);
  }
  return s;
}

SDL_Surface* copyOf(const SDL_Surface* s) {
  const SDL_PixelFormat* f = s->format;
  SDL_Surface* const c = SDL_CreateRGBSurface(SDL_SWSURFACE, s->w, s->h, f->BitsPerPixel, f->Rmask,
                                              f->Gmask, f->Bmask, f->Amask);
  require(c != nullptr && c->pitch == s->pitch, "copy");
  std::memcpy(c->pixels, s->pixels, static_cast<size_t>(s->pitch) * s->h);
  if (f->palette != nullptr) SDL_SetColors(c, f->palette->colors, 0, f->palette->ncolors);
  SDL_SetClipRect(c, &s->clip_rect);
  return c;
}

// A copy of a palette surface turned left to right and/or upside down.
SDL_Surface* mirror(const SDL_Surface* s, bool acrossX, bool acrossY) {
  SDL_Surface* const m = copyOf(s);
  for (int y = 0; y < s->h; ++y) {
    const Uint8* const from =
        static_cast<const Uint8*>(s->pixels) + (acrossY ? s->h - 1 - y : y) * s->pitch;
    Uint8* const to = static_cast<Uint8*>(m->pixels) + y * m->pitch;
    for (int x = 0; x < s->w; ++x) to[x] = from[acrossX ? s->w - 1 - x : x];
  }
  return m;
}

// Mostly near the surface; now and then anywhere in 16 bits.
Sint16 coordinate(InputBytes& in) {
  const uint8_t b = in.byte();
  if ((b & 0x80) == 0) return static_cast<Sint16>((b & 0x7F) - 32);
  return in.s16();
}

Sint16 radius(InputBytes& in) {
  const uint8_t b = in.byte();
  if ((b & 0xC0) != 0xC0) return static_cast<Sint16>(b & 0x7F);
  return in.s16();
}

double zoomFactor(InputBytes& in) {
  const uint8_t b = in.byte();
  switch (b) {
    case 0:
      return std::numeric_limits<double>::quiet_NaN();
    case 1:
      return std::numeric_limits<double>::infinity();
    case 2:
      return -std::numeric_limits<double>::infinity();
    case 3:
      return 1e12;
    case 4:
      return 0.0004;
    default:
      return static_cast<int8_t>(b) / 16.0 + in.byte() / 4096.0;
  }
}

bool zoomTooLarge(double zoom, int side) {
  return std::isfinite(zoom) && std::fabs(zoom) * side > kMaxZoomedSide && std::fabs(zoom) < 1e9;
}

// No pixel outside the clip rectangle changed from the original.
void requireInsideClip(const SDL_Surface* before, const SDL_Surface* after) {
  const SDL_Rect& c = before->clip_rect;
  const int bytes = before->format->BytesPerPixel;
  for (int y = 0; y < before->h; ++y) {
    const Uint8* const a = static_cast<const Uint8*>(before->pixels) + y * before->pitch;
    const Uint8* const b = static_cast<const Uint8*>(after->pixels) + y * after->pitch;
    const bool rowInside = y >= c.y && y < c.y + c.h;
    for (int x = 0; x < before->w; ++x) {
      if (rowInside && x >= c.x && x < c.x + c.w) continue;
      requireWith(std::memcmp(a + x * bytes, b + x * bytes, bytes) == 0, "drawn outside the clip");
    }
    require(std::memcmp(a + before->w * bytes, b + before->w * bytes,
                        before->pitch - before->w * bytes) == 0,
            "drawn into the row padding");
  }
}

void draw(InputBytes& in, SDL_Surface* real, SDL_Surface* ours) {
  const uint8_t op = in.byte() % 4;
  const Sint16 x = coordinate(in), y = coordinate(in);
  const Sint16 a = op == 0 ? coordinate(in) : radius(in);
  const Sint16 b = op == 0 ? coordinate(in) : radius(in);
  const Uint8 r = in.byte(), g = in.byte(), bl = in.byte();
  // Opaque and nearly opaque colours are common in the game: weight them.
  const uint8_t alphaByte = in.byte();
  const Uint8 alpha = alphaByte < 64 ? 255 : alphaByte;
  std::snprintf(failureContext, sizeof failureContext,
                "operation %d at %d,%d with %d,%d in %d,%d,%d,%d on %dx%d, %d bits %x %x %x %x, "
                "clip %d,%d %dx%d",
                op, x, y, a, b, r, g, bl, alpha, real->w, real->h, real->format->BitsPerPixel,
                real->format->Rmask, real->format->Gmask, real->format->Bmask, real->format->Amask,
                real->clip_rect.x, real->clip_rect.y, real->clip_rect.w, real->clip_rect.h);
  int realResult = 0, ourResult = 0;
  switch (op) {
    case 0:
      realResult = boxRGBA(real, x, y, a, b, r, g, bl, alpha);
      ourResult = compat_boxRGBA(ours, x, y, a, b, r, g, bl, alpha);
      break;
    case 1:
      realResult = circleRGBA(real, x, y, a, r, g, bl, alpha);
      ourResult = compat_circleRGBA(ours, x, y, a, r, g, bl, alpha);
      break;
    case 2:
      realResult = filledCircleRGBA(real, x, y, a, r, g, bl, alpha);
      ourResult = compat_filledCircleRGBA(ours, x, y, a, r, g, bl, alpha);
      break;
    default:
      realResult = filledEllipseRGBA(real, x, y, a, b, r, g, bl, alpha);
      ourResult = compat_filledEllipseRGBA(ours, x, y, a, b, r, g, bl, alpha);
      break;
  }
  if (realResult != ourResult) std::fprintf(stderr, "%d against %d\n", realResult, ourResult);
  requireWith(realResult == ourResult, "return value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputBytes in(data, size);
  SDL_Surface* const original = makeSurface(in);
  if ((in.byte() & 1) != 0) {
    SDL_Rect clip = {coordinate(in), coordinate(in), in.byte(), in.byte()};
    SDL_SetClipRect(original, &clip);
  }
  if ((in.byte() & 3) == 0) {
    const double zoomX = zoomFactor(in);
    const double zoomY = zoomFactor(in);
    const int smooth = in.byte() & 1;
    if (!zoomTooLarge(zoomX, original->w) && !zoomTooLarge(zoomY, original->h)) {
      std::snprintf(failureContext, sizeof failureContext,
                    "zoom of %dx%d, %d bits, by %g x %g, smooth %d", original->w, original->h,
                    original->format->BitsPerPixel, zoomX, zoomY, smooth);
      SDL_Surface* ours = compat_zoomSurface(original, zoomX, zoomY, smooth);
      SDL_Surface* real = nullptr;
      if (original->format->BitsPerPixel == 8 && (zoomX < 0 || zoomY < 0)) {
        // SDL_gfx's palette zoom steps its pointer backwards in unsigned
        // arithmetic for a negative factor and crashes on 64-bit systems:
        // it zooms the mirrored picture instead.
        SDL_Surface* const mirrored = mirror(original, zoomX < 0, zoomY < 0);
        real =
            zoomSurface(mirrored, zoomX < 0 ? -zoomX : zoomX, zoomY < 0 ? -zoomY : zoomY, smooth);
        SDL_FreeSurface(mirrored);
      } else {
        real = zoomSurface(original, zoomX, zoomY, smooth);
      }
      requireSameSurface(real, ours, "zoomSurface");
    }
    SDL_FreeSurface(original);
    return 0;
  }
  SDL_Surface* const real = copyOf(original);
  SDL_Surface* const ours = copyOf(original);
  for (int i = 0; i < 4 && in.left() > 0; ++i) {
    draw(in, real, ours);
    const test::SurfaceDifference d = test::compareSurfaces(real, ours);
    if (d.differing != 0) std::fprintf(stderr, "%d pixels differ\n", d.differing);
    requireWith(d.format.empty() && d.differing == 0, "drawing");
  }
  requireInsideClip(original, ours);
  SDL_FreeSurface(original);
  SDL_FreeSurface(real);
  SDL_FreeSurface(ours);
  return 0;
}
