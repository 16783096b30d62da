#include "support/surface_compare.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace test {
namespace {

std::string describe(const SDL_Surface* s) {
  const SDL_PixelFormat* f = s->format;
  char text[256];
  std::snprintf(text, sizeof text,
                "%dx%d pitch %d bpp %d masks %08x %08x %08x %08x flags %08x key %08x alpha %d "
                "palette %d",
                s->w, s->h, s->pitch, f->BitsPerPixel, f->Rmask, f->Gmask, f->Bmask, f->Amask,
                s->flags, f->colorkey, f->alpha, f->palette != nullptr ? f->palette->ncolors : -1);
  return text;
}

const Uint8* pixelBytes(const SDL_Surface* s, int x, int y) {
  return static_cast<const Uint8*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
}

// The pixel's first four bytes (SDL's formats have at most four, a loader
// may make wider ones).
Uint32 pixelAt(const SDL_Surface* s, int x, int y) {
  Uint32 value = 0;
  std::memcpy(&value, pixelBytes(s, x, y),
              s->format->BytesPerPixel < 4 ? s->format->BytesPerPixel : 4);
  return value;
}

int channelDifference(Uint32 a, Uint32 b, Uint32 mask, Uint8 shift) {
  return std::abs(static_cast<int>((a & mask) >> shift) - static_cast<int>((b & mask) >> shift));
}

}  // namespace

SurfaceDifference compareSurfaces(SDL_Surface* expected, SDL_Surface* actual) {
  SurfaceDifference d;
  if (expected == nullptr || actual == nullptr) {
    if (expected != actual) d.format = expected == nullptr ? "expected null" : "unexpected null";
    return d;
  }
  const std::string want = describe(expected);
  const std::string got = describe(actual);
  if (want != got) {
    d.format = "expected " + want + ", got " + got;
    return d;
  }
  const SDL_Palette* pe = expected->format->palette;
  if (pe != nullptr &&
      std::memcmp(pe->colors, actual->format->palette->colors, sizeof(SDL_Color) * pe->ncolors)) {
    d.format = "palettes differ";
  }
  const SDL_PixelFormat* f = expected->format;
  if (f->BitsPerPixel < 8 || expected->w * f->BytesPerPixel > expected->pitch) {
    // Several pixels a byte, or a depth SDL cannot lay out (a loader asked
    // for one): the rows' bytes are compared, each a "pixel".
    int rowBytes = (expected->w * f->BitsPerPixel + 7) / 8;
    if (rowBytes > expected->pitch) rowBytes = expected->pitch;
    for (int y = 0; y < expected->h; ++y) {
      const Uint8* a = static_cast<const Uint8*>(expected->pixels) + y * expected->pitch;
      const Uint8* b = static_cast<const Uint8*>(actual->pixels) + y * actual->pitch;
      for (int i = 0; i < rowBytes; ++i) d.differing += a[i] != b[i] ? 1 : 0;
    }
    return d;
  }
  long alphaSum = 0;
  for (int y = 0; y < expected->h; ++y) {
    for (int x = 0; x < expected->w; ++x) {
      const Uint32 a = pixelAt(expected, x, y);
      const Uint32 b = pixelAt(actual, x, y);
      if (std::memcmp(pixelBytes(expected, x, y), pixelBytes(actual, x, y), f->BytesPerPixel) ==
          0) {
        continue;
      }
      ++d.differing;
      const int alpha = f->Amask != 0 ? channelDifference(a, b, f->Amask, f->Ashift) : 0;
      alphaSum += alpha;
      if (alpha > d.maxAlpha) d.maxAlpha = alpha;
      for (const auto& [mask, shift] :
           {std::pair{f->Rmask, f->Rshift}, {f->Gmask, f->Gshift}, {f->Bmask, f->Bshift}}) {
        const int c = mask != 0 ? channelDifference(a, b, mask, shift) : (a != b ? 255 : 0);
        if (c > d.maxColour) d.maxColour = c;
      }
    }
  }
  const int pixels = expected->w * expected->h;
  d.meanAlpha = pixels > 0 ? static_cast<double>(alphaSum) / pixels : 0;
  return d;
}

}  // namespace test
