// SDL_gfx's boxes, circles, ellipse and nearest-neighbour zoom, drawn with
// its pixel rules: opaque colours are stored as mapped, translucent ones
// blend each colour channel as d + (c - d) * a / 256 in 32-bit unsigned
// arithmetic on the channel's own bits (16 bits: the alpha channel too) and raise a 32-bit
// destination's alpha to d | isqrt(a * 255); 24-bit pixels blend byte by
// byte, palette pixels through the palette.
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "SDL_gfxPrimitives.h"
#include "SDL_rotozoom.h"

namespace {

// A colour mapped once for the surface, with its opacity.
struct Paint {
  Uint32 mapped;
  Uint8 alpha;
};

// One channel taken down to its own bits, blended in 32-bit unsigned
// arithmetic, and put back.
Uint32 blendChannel(Uint32 dc, Uint32 colour, Uint32 mask, Uint8 shift, Uint32 alpha) {
  const Uint32 d = (dc & mask) >> shift;
  const Uint32 c = (colour & mask) >> shift;
  return ((d + (((c - d) * alpha) >> 8)) << shift) & mask;
}

Uint32 blend(const SDL_PixelFormat* f, Uint32 dc, const Paint& paint) {
  Uint32 out = blendChannel(dc, paint.mapped, f->Rmask, f->Rshift, paint.alpha) |
               blendChannel(dc, paint.mapped, f->Gmask, f->Gshift, paint.alpha) |
               blendChannel(dc, paint.mapped, f->Bmask, f->Bshift, paint.alpha);
  if (f->Amask != 0 && f->BytesPerPixel == 2) {
    // 16-bit alpha blends as the colours do.
    out |= blendChannel(dc, paint.mapped, f->Amask, f->Ashift, paint.alpha);
  } else if (f->Amask != 0) {
    const Uint32 raised = ((dc & f->Amask) >> f->Ashift) |
                          static_cast<Uint32>(std::sqrt(static_cast<double>(paint.alpha) * 255));
    out |= (raised << f->Ashift) & f->Amask;
  }
  return out;
}

// A palette pixel blended through the palette: the destination's colour and
// the palette colour the paint maps to, mixed per channel as
// d + (s - d) * a / 256, then mapped back to the nearest entry.
Uint8 blendIndexed(const SDL_PixelFormat* f, Uint8 dc, const Paint& paint) {
  const SDL_Color d = f->palette->colors[dc];
  const SDL_Color s = f->palette->colors[paint.mapped & 0xFF];
  const auto mix = [&paint](int from, int to) {
    return static_cast<Uint8>(from + ((to - from) * paint.alpha >> 8));
  };
  return static_cast<Uint8>(
      SDL_MapRGB(const_cast<SDL_PixelFormat*>(f), mix(d.r, s.r), mix(d.g, s.g), mix(d.b, s.b)));
}

// A 24-bit pixel, byte by byte at each channel's byte (the alpha channel's
// byte too, which is byte 0 for formats without alpha).
void plot24(const SDL_PixelFormat* f, Uint8* p, const Paint& paint) {
  const int shifts[4] = {f->Rshift, f->Gshift, f->Bshift, f->Ashift};
  Uint8 blended[4];
  for (int i = 0; i < 4; ++i) {
    const auto s = static_cast<Uint8>(paint.mapped >> shifts[i]);
    const int d = p[shifts[i] / 8];
    blended[i] = paint.alpha == 255 ? s : static_cast<Uint8>(d + ((s - d) * paint.alpha >> 8));
  }
  for (int i = 0; i < 4; ++i) p[shifts[i] / 8] = blended[i];
}

// One pixel inside the clip rectangle; the caller has checked the bounds.
void plot(SDL_Surface* dst, int x, int y, const Paint& paint) {
  Uint8* const row = static_cast<Uint8*>(dst->pixels) + y * dst->pitch;
  switch (dst->format->BytesPerPixel) {
    case 1:
      row[x] = paint.alpha == 255 ? static_cast<Uint8>(paint.mapped)
                                  : blendIndexed(dst->format, row[x], paint);
      break;
    case 2: {
      Uint16* const p = reinterpret_cast<Uint16*>(row) + x;
      *p = static_cast<Uint16>(paint.alpha == 255 ? paint.mapped : blend(dst->format, *p, paint));
      break;
    }
    case 3:
      plot24(dst->format, row + x * 3, paint);
      break;
    default: {
      Uint32* const p = reinterpret_cast<Uint32*>(row) + x;
      *p = paint.alpha == 255 ? paint.mapped : blend(dst->format, *p, paint);
      break;
    }
  }
}

bool insideClip(const SDL_Surface* dst, int x, int y) {
  const SDL_Rect& c = dst->clip_rect;
  return x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h;
}

// SDL_gfx takes and computes coordinates in 16 bits: a point or span end
// past the 16-bit range wraps around, as it does there.
int wrap16(int v) { return static_cast<Sint16>(static_cast<Uint16>(v)); }

void pixel(SDL_Surface* dst, int x, int y, const Paint& paint) {
  x = wrap16(x);
  y = wrap16(y);
  if (insideClip(dst, x, y)) plot(dst, x, y, paint);
}

// Inclusive span from x1 to x2 on row y, clipped.
void hline(SDL_Surface* dst, int x1, int x2, int y, const Paint& paint) {
  const SDL_Rect& c = dst->clip_rect;
  x1 = wrap16(x1);
  x2 = wrap16(x2);
  y = wrap16(y);
  if (x1 > x2) std::swap(x1, x2);
  if (y < c.y || y >= c.y + c.h) return;
  if (x1 < c.x) x1 = c.x;
  if (x2 > c.x + c.w - 1) x2 = c.x + c.w - 1;
  for (int x = x1; x <= x2; ++x) plot(dst, x, y, paint);
}

// Inclusive span from y1 to y2 in column x, clipped.
void vline(SDL_Surface* dst, int x, int y1, int y2, const Paint& paint) {
  y1 = wrap16(y1);
  y2 = wrap16(y2);
  if (y1 > y2) std::swap(y1, y2);
  for (int y = y1; y <= y2; ++y) pixel(dst, x, y, paint);
}

// Whether the bounding box of a shape of radii rx, ry at x, y, its edges
// taken in 16 bits, reaches the clip rectangle; SDL_gfx draws nothing of a
// shape whose box does not.
bool boxReachesClip(const SDL_Surface* dst, int x, int y, int rx, int ry) {
  const SDL_Rect& c = dst->clip_rect;
  return wrap16(x + rx) >= c.x && wrap16(x - rx) <= c.x + c.w - 1 && wrap16(y + ry) >= c.y &&
         wrap16(y - ry) <= c.y + c.h - 1;
}

// The surface locked for the drawing's lifetime, or not drawable at all
// (no pixels, an empty clip, more than 4 bytes a pixel).
class Canvas {
 public:
  Canvas(SDL_Surface* dst, Uint8 r, Uint8 g, Uint8 b, Uint8 a) : dst_(dst) {
    if (dst == nullptr || dst->clip_rect.w == 0 || dst->clip_rect.h == 0) return;
    const int bytes = dst->format->BytesPerPixel;
    if (bytes < 1 || bytes > 4) return;
    if (SDL_MUSTLOCK(dst) && SDL_LockSurface(dst) < 0) return;
    locked_ = true;
    paint_ = Paint{SDL_MapRGBA(dst->format, r, g, b, a), a};
  }
  ~Canvas() {
    if (locked_ && SDL_MUSTLOCK(dst_)) SDL_UnlockSurface(dst_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  bool ready() const { return locked_; }
  SDL_Surface* surface() const { return dst_; }
  const Paint& paint() const { return paint_; }

 private:
  SDL_Surface* dst_;
  bool locked_ = false;
  Paint paint_{0, 0};
};

// The midpoint circle's state, stepped one column at a time through the
// octant where cx <= cy.
// Its decision terms are 16-bit as SDL_gfx's are: for a radius past 16383
// they wrap, and the circle drawn is the one that wrapping makes.
struct MidpointCircle {
  explicit MidpointCircle(int rad) : cy(rad), df(wrap16(1 - rad)), dSe(wrap16(-2 * rad + 5)) {}
  void step() {
    if (df < 0) {
      df = wrap16(df + dE);
      dE = wrap16(dE + 2);
      dSe = wrap16(dSe + 2);
    } else {
      df = wrap16(df + dSe);
      dE = wrap16(dE + 2);
      dSe = wrap16(dSe + 4);
      cy = wrap16(cy - 1);
    }
    cx = wrap16(cx + 1);
  }
  int cx = 0;
  int cy;
  int df;
  int dE = 3;
  int dSe;
};

// SDL_gfx's checks before a circle, in its order (an empty clip rectangle
// first). True when the circle is to be drawn; else false with the call's
// result (a circle of radius 0 is its centre pixel, drawn here).
bool circleDue(const Canvas& canvas, Sint16 x, Sint16 y, Sint16 rad, int& result) {
  SDL_Surface* const dst = canvas.surface();
  result = 0;
  if (!canvas.ready()) {
    if (dst == nullptr) result = -1;
    return false;
  }
  if (rad < 0) {
    result = -1;
    return false;
  }
  if (rad == 0) pixel(dst, x, y, canvas.paint());
  return rad > 0 && boxReachesClip(dst, x, y, rad, rad);
}

}  // namespace

extern "C" int boxRGBA(SDL_Surface* dst, Sint16 x1, Sint16 y1, Sint16 x2, Sint16 y2, Uint8 r,
                       Uint8 g, Uint8 b, Uint8 a) {
  Canvas canvas(dst, r, g, b, a);
  if (!canvas.ready()) return dst == nullptr ? -1 : 0;
  int top = y1 < y2 ? y1 : y2;
  int bottom = y1 < y2 ? y2 : y1;
  const SDL_Rect& c = dst->clip_rect;
  if (top < c.y) top = c.y;
  if (bottom > c.y + c.h - 1) bottom = c.y + c.h - 1;
  for (int y = top; y <= bottom; ++y) hline(dst, x1, x2, y, canvas.paint());
  return 0;
}

extern "C" int circleRGBA(SDL_Surface* dst, Sint16 x, Sint16 y, Sint16 rad, Uint8 r, Uint8 g,
                          Uint8 b, Uint8 a) {
  Canvas canvas(dst, r, g, b, a);
  int result = 0;
  if (!circleDue(canvas, x, y, rad, result)) return result;
  const Paint& p = canvas.paint();
  MidpointCircle m(rad);
  do {
    if (m.cx > 0) {
      pixel(dst, x - m.cx, y + m.cy, p);
      pixel(dst, x + m.cx, y + m.cy, p);
      pixel(dst, x - m.cx, y - m.cy, p);
      pixel(dst, x + m.cx, y - m.cy, p);
    } else {
      pixel(dst, x, y - m.cy, p);
      pixel(dst, x, y + m.cy, p);
    }
    if (m.cx > 0 && m.cx != m.cy) {
      pixel(dst, x - m.cy, y + m.cx, p);
      pixel(dst, x + m.cy, y + m.cx, p);
      pixel(dst, x - m.cy, y - m.cx, p);
      pixel(dst, x + m.cy, y - m.cx, p);
    } else if (m.cx == 0) {
      pixel(dst, x - m.cy, y, p);
      pixel(dst, x + m.cy, y, p);
    }
    m.step();
  } while (m.cx <= m.cy);
  return 0;
}

// Each row is drawn once: the spans at y +- cy when cy first takes a value,
// the spans at y +- cx when cx does.
extern "C" int filledCircleRGBA(SDL_Surface* dst, Sint16 x, Sint16 y, Sint16 rad, Uint8 r, Uint8 g,
                                Uint8 b, Uint8 a) {
  Canvas canvas(dst, r, g, b, a);
  int result = 0;
  if (!circleDue(canvas, x, y, rad, result)) return result;
  const Paint& p = canvas.paint();
  MidpointCircle m(rad);
  int drawnCy = -1;
  int drawnCx = -1;
  do {
    if (drawnCy != m.cy) {
      if (m.cy > 0) {
        hline(dst, x - m.cx, x + m.cx, y + m.cy, p);
        hline(dst, x - m.cx, x + m.cx, y - m.cy, p);
      } else {
        hline(dst, x - m.cx, x + m.cx, y, p);
      }
      drawnCy = m.cy;
    }
    if (drawnCx != m.cx) {
      if (m.cx != m.cy) {
        if (m.cx > 0) {
          hline(dst, x - m.cy, x + m.cy, y - m.cx, p);
          hline(dst, x - m.cy, x + m.cy, y + m.cx, p);
        } else {
          hline(dst, x - m.cy, x + m.cy, y, p);
        }
      }
      drawnCx = m.cx;
    }
    m.step();
  } while (m.cx <= m.cy);
  return 0;
}

namespace {

// Spans at y + row and y - row (once for row 0).
void mirroredSpans(SDL_Surface* dst, int x, int y, int half, int row, const Paint& p) {
  if (row > 0) {
    hline(dst, x - half, x + half, y + row, p);
    hline(dst, x - half, x + half, y - row, p);
  } else {
    hline(dst, x - half, x + half, y, p);
  }
}

}  // namespace

// Stepped in 1/64 pixel along the longer radius; the shorter one is scaled.
extern "C" int filledEllipseRGBA(SDL_Surface* dst, Sint16 x, Sint16 y, Sint16 rx, Sint16 ry,
                                 Uint8 r, Uint8 g, Uint8 b, Uint8 a) {
  // An empty clip rectangle is checked first, as SDL_gfx does.
  Canvas canvas(dst, r, g, b, a);
  if (!canvas.ready()) return dst == nullptr ? -1 : 0;
  if (rx < 0 || ry < 0) return -1;
  const Paint& p = canvas.paint();
  if (rx == 0) {
    vline(dst, x, y - ry, y + ry, p);
    return 0;
  }
  if (ry == 0) {
    hline(dst, x - rx, x + rx, y, p);
    return 0;
  }
  if (!boxReachesClip(dst, x, y, rx, ry)) return 0;
  const bool wide = rx > ry;
  const int major = wide ? rx : ry;
  const int minor = wide ? ry : rx;
  int seenOuter = 0xFFFF;
  int seenInner = 0xFFFF;
  int ix = 0;
  int iy = major * 64;
  int h = 0;
  int i = 0;
  do {
    h = (ix + 32) >> 6;
    i = (iy + 32) >> 6;
    const int j = h * minor / major;
    const int k = i * minor / major;
    if (wide) {
      if (seenOuter != k && seenInner != k) {
        mirroredSpans(dst, x, y, h, k, p);
        seenOuter = k;
      }
      if (seenInner != j && seenOuter != j && k != j) {
        mirroredSpans(dst, x, y, i, j, p);
        seenInner = j;
      }
    } else {
      if (seenOuter != i && seenInner != i) {
        mirroredSpans(dst, x, y, j, i, p);
        seenOuter = i;
      }
      if (seenInner != h && seenOuter != h && i != h) {
        mirroredSpans(dst, x, y, k, h, p);
        seenInner = h;
      }
    }
    ix = ix + iy / major;
    iy = iy - ix / major;
  } while (i > h);
  return 0;
}

namespace {

// Source offsets in 16.16 fixed point for each target column or row, as
// SDL_gfx accumulates them: entry n + 1 minus the fraction of entry n.
// Smoothing puts the first and last target pixels on the first and last
// source pixels and interpolates between.
std::vector<Uint32> zoomSteps(int source, int target, bool smooth) {
  double span = static_cast<double>(source) / target;
  if (smooth) span = target > 1 ? static_cast<double>(source - 1) / (target - 1) : 0;
  const auto step = static_cast<Uint32>(65536.0 * span);
  std::vector<Uint32> steps(static_cast<size_t>(target) + 1);
  Uint32 at = 0;
  for (Uint32& s : steps) {
    s = at;
    at = (at & 0xFFFF) + step;
  }
  return steps;
}

// The target size rounded to the nearest pixel, at least 1. A size that no
// int holds (an infinite or NaN factor, a huge one) is 1: SDL_gfx's
// conversion yields INT_MIN there, which its lower bound then raises.
int zoomedSize(int size, double zoom) {
  if (zoom < 0.001) zoom = 0.001;
  const double zoomed = std::floor(size * zoom + 0.5);
  if (!(zoomed >= 1 && zoomed <= static_cast<double>(std::numeric_limits<int>::max()))) return 1;
  return static_cast<int>(zoomed);
}

const Uint32* sourceRow(const SDL_Surface* src, int y) {
  return reinterpret_cast<const Uint32*>(static_cast<const Uint8*>(src->pixels) + y * src->pitch);
}

// Source position of a target pixel, walked as SDL_gfx walks it; a flip
// walks backwards from the far edge.
struct Walk {
  Walk(int size, bool backwards) : at(backwards ? size - 1 : 0), last(size - 1), flip(backwards) {}
  void advance(int by) { at += flip ? -by : by; }
  // The neighbour the interpolation takes, kept inside the source.
  int next() const {
    const int n = flip ? at - 1 : at + 1;
    return n < 0 ? 0 : (n > last ? last : n);
  }
  int at;
  int last;
  bool flip;
};

// Bilinear blend of four 32-bit pixels, byte by byte, with 16-bit
// fractions ex (across) and ey (down), as SDL_gfx rounds it.
Uint32 interpolate(Uint32 c00, Uint32 c01, Uint32 c10, Uint32 c11, int ex, int ey) {
  Uint32 out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int p00 = (c00 >> shift) & 0xFF, p01 = (c01 >> shift) & 0xFF;
    const int p10 = (c10 >> shift) & 0xFF, p11 = (c11 >> shift) & 0xFF;
    const int t1 = ((((p01 - p00) * ex) >> 16) + p00) & 0xFF;
    const int t2 = ((((p11 - p10) * ex) >> 16) + p10) & 0xFF;
    out |= static_cast<Uint32>(((((t2 - t1) * ey) >> 16) + t1) & 0xFF) << shift;
  }
  return out;
}

void zoomPixels(const SDL_Surface* src, SDL_Surface* dst, bool flipX, bool flipY, bool smooth) {
  const std::vector<Uint32> columns = zoomSteps(src->w, dst->w, smooth);
  const std::vector<Uint32> rows = zoomSteps(src->h, dst->h, smooth);
  Walk sy(src->h, flipY);
  for (int y = 0; y < dst->h; ++y) {
    const Uint32* const from = sourceRow(src, sy.at);
    const Uint32* const below = sourceRow(src, sy.next());
    Uint32* const to = reinterpret_cast<Uint32*>(static_cast<Uint8*>(dst->pixels) + y * dst->pitch);
    Walk sx(src->w, flipX);
    for (int x = 0; x < dst->w; ++x) {
      if (smooth) {
        to[x] =
            interpolate(from[sx.at], from[sx.next()], below[sx.at], below[sx.next()],
                        static_cast<int>(columns[x] & 0xFFFF), static_cast<int>(rows[y] & 0xFFFF));
      } else {
        to[x] = from[sx.at];
      }
      sx.advance(static_cast<int>(columns[x + 1] >> 16));
    }
    sy.advance(static_cast<int>(rows[y + 1] >> 16));
  }
}

// Source steps of the palette zoom: exact integer ones, so target pixel i
// takes source pixel floor(i * source / target).
std::vector<int> indexedSteps(int source, int target) {
  std::vector<int> steps(static_cast<size_t>(target));
  int remainder = 0;
  for (int& step : steps) {
    remainder += source;
    step = remainder / target;
    remainder %= target;
  }
  return steps;
}

// Palette pictures keep their bytes: nearest neighbour, smoothing ignored.
void zoomIndexed(const SDL_Surface* src, SDL_Surface* dst, bool flipX, bool flipY) {
  const std::vector<int> columns = indexedSteps(src->w, dst->w);
  const std::vector<int> rows = indexedSteps(src->h, dst->h);
  Walk sy(src->h, flipY);
  for (int y = 0; y < dst->h; ++y) {
    const Uint8* const from = static_cast<const Uint8*>(src->pixels) + sy.at * src->pitch;
    Uint8* const to = static_cast<Uint8*>(dst->pixels) + y * dst->pitch;
    Walk sx(src->w, flipX);
    for (int x = 0; x < dst->w; ++x) {
      to[x] = from[sx.at];
      sx.advance(columns[x]);
    }
    sy.advance(rows[y]);
  }
}

}  // namespace

// 8-bit sources give an 8-bit result with their palette and colour key;
// other sources than 32-bit are converted to 32-bit RGBA first.
extern "C" SDL_Surface* zoomSurface(SDL_Surface* src, double zoomx, double zoomy, int smooth) {
  if (src == nullptr) return nullptr;
  const bool flipX = zoomx < 0;
  const bool flipY = zoomy < 0;
  if (src->format->BitsPerPixel == 8) {
    SDL_Surface* const dst =
        SDL_CreateRGBSurface(SDL_SWSURFACE, zoomedSize(src->w, std::fabs(zoomx)),
                             zoomedSize(src->h, std::fabs(zoomy)), 8, 0, 0, 0, 0);
    if (dst == nullptr) return nullptr;
    const SDL_Palette* const from = src->format->palette;
    SDL_Palette* const to = dst->format->palette;
    for (int i = 0; i < from->ncolors && i < to->ncolors; ++i) to->colors[i] = from->colors[i];
    to->ncolors = from->ncolors;
    if (SDL_MUSTLOCK(src)) SDL_LockSurface(src);
    zoomIndexed(src, dst, flipX, flipY);
    if (SDL_MUSTLOCK(src)) SDL_UnlockSurface(src);
    SDL_SetColorKey(dst, SDL_SRCCOLORKEY | SDL_RLEACCEL, src->format->colorkey);
    return dst;
  }
  SDL_Surface* source = src;
  if (src->format->BitsPerPixel != 32) {
    source = SDL_CreateRGBSurface(SDL_SWSURFACE, src->w, src->h, 32, 0x000000FF, 0x0000FF00,
                                  0x00FF0000, 0xFF000000);
    if (source == nullptr) return nullptr;
    SDL_BlitSurface(src, nullptr, source, nullptr);
  }
  const SDL_PixelFormat* const f = source->format;
  SDL_Surface* const dst = SDL_CreateRGBSurface(
      SDL_SWSURFACE, zoomedSize(source->w, std::fabs(zoomx)),
      zoomedSize(source->h, std::fabs(zoomy)), 32, f->Rmask, f->Gmask, f->Bmask, f->Amask);
  if (dst != nullptr) {
    if (SDL_MUSTLOCK(source)) SDL_LockSurface(source);
    zoomPixels(source, dst, flipX, flipY, smooth != 0);
    if (SDL_MUSTLOCK(source)) SDL_UnlockSurface(source);
    SDL_SetAlpha(dst, SDL_SRCALPHA, 255);
  }
  if (source != src) SDL_FreeSurface(source);
  return dst;
}
