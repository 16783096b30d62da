// The sticky draw state and the drawing primitives, each with an OpenGL path
// and an SDL surface path. The GL path is plain immediate mode and allocates
// nothing.
#include "render/draw.h"

#include <GL/gl.h>
#include <SDL.h>
#include <SDL_gfxPrimitives.h>
#include <SDL_rotozoom.h>
#ifdef DrawState
// MinGW's <GL/gl.h> brings in <windows.h>, whose DrawState macro would rename
// render::DrawState.
#undef DrawState
#endif

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "render/draw_list.h"
#include "render/image.h"
#include "render/video.h"

namespace render {
namespace {

constexpr uint8_t kBlendModeCount = 6;
constexpr int kDigitCells = 10;
constexpr int kDecimalBase = 10;
// The circle outline steps about one point per pixel of circumference; the
// two values of pi are the ones its pattern of points was tuned with.
constexpr double kStepPi = 3.1415;
constexpr double kRadiansPi = 3.14159;
// Widest filled circle drawn as rectangles; wider ones (never drawn by the
// game) take the one-line-per-column path.
constexpr int kMaxCircleColumns = 2048;

struct Corner {
  int32_t x = 0;
  int32_t y = 0;
};
struct TexCoord {
  float u = 0;
  float v = 0;
};

// Set once by setVideoMode (resetDrawState), then only by the setters: the
// state is sticky across primitives, scenes and frames. The quad corners
// and texture coordinates are those of the next quad, in the order
// top-left, top-right, bottom-left, bottom-right; a fill keeps the texture
// coordinates the last image draw left.
struct DrawModule {
  DrawState state;
  Corner corners[4];
  TexCoord texCoords[4];
  // Scratch rows of the circle being filled: column k (x = cx - r + k - 1)
  // covers rows [columnTop[k], columnBottom[k]).
  std::array<int32_t, kMaxCircleColumns> columnTop;
  std::array<int32_t, kMaxCircleColumns> columnBottom;
  // The image of the live ImageBatch, and whether its glBegin is open.
  GfxImage* batchImage = nullptr;
  bool batchOpen = false;
};
DrawModule draw;

void closeBatch() {
  if (!draw.batchOpen) return;
  drawlist::end();
  draw.batchOpen = false;
}

const GLenum kBlendFactors[kBlendModeCount][2] = {
    {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA},
    {GL_SRC_ALPHA, GL_ONE},
    {GL_ZERO, GL_SRC_COLOR},
    {GL_ONE_MINUS_DST_COLOR, GL_ZERO},
    {GL_ONE_MINUS_DST_COLOR, GL_ONE},
    {GL_ONE_MINUS_DST_COLOR, GL_ONE_MINUS_SRC_COLOR},
};

// c x 255 truncated toward zero (1.0 -> 255, 0.5 -> 127, 0.4 -> 102).
uint8_t colourByte(float c) {
  if (!(c > 0)) return 0;
  if (c >= 1) return 255;
  return static_cast<uint8_t>(c * 255);
}

struct ColourBytes {
  uint8_t r, g, b, a;
};
ColourBytes colourBytes() {
  const float* c = draw.state.color;
  return {colourByte(c[0]), colourByte(c[1]), colourByte(c[2]), colourByte(c[3])};
}

void applyColour() {
  const float* c = draw.state.color;
  drawlist::colour(c[0], c[1], c[2], c[3]);
}

// A fill of alpha 0 (or below, which GL clamps to 0) leaves every pixel as
// it was: source x 0 + destination x 1.
bool invisible() {
  return !(draw.state.color[3] > 0);
}

// A fill of alpha 1 (or above) replaces what it covers: source x 1 +
// destination x 0. Drawn with blending off it gives the same pixels, and the
// software rasteriser takes its much cheaper opaque path.
class OpaqueFill {
 public:
  OpaqueFill() : opaque_(draw.state.color[3] >= 1) {
    if (opaque_) drawlist::blending(false);
  }
  ~OpaqueFill() {
    if (opaque_) drawlist::blending(true);
  }
  OpaqueFill(const OpaqueFill&) = delete;
  OpaqueFill& operator=(const OpaqueFill&) = delete;

 private:
  bool opaque_;
};

void setCorners(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  draw.corners[0] = {left, top};
  draw.corners[1] = {right, top};
  draw.corners[2] = {left, bottom};
  draw.corners[3] = {right, bottom};
}

// One glBegin/glEnd per quad. With no image texture 0 is bound, so the quad
// is the plain draw colour.
void drawQuad(GfxImage* image) {
  closeBatch();
  if (image != nullptr) {
    if (image->stale != 0 && image->surface != nullptr) refreshTexture(*image);
    drawlist::bindTexture(image->texture);
  } else {
    drawlist::bindTexture(0);
  }
  drawlist::begin(GL_TRIANGLE_STRIP);
  for (int i = 0; i < 4; ++i) {
    drawlist::texCoord(draw.texCoords[i].u, draw.texCoords[i].v);
    drawlist::vertex(draw.corners[i].x, draw.corners[i].y);
  }
  drawlist::end();
}

// The quad as the two triangles its strip makes, (0, 1, 2) and (2, 1, 3),
// inside the batch's one glBegin/glEnd.
void addToBatch(GfxImage* image) {
  if (!draw.batchOpen) {
    if (image->stale != 0 && image->surface != nullptr) refreshTexture(*image);
    drawlist::bindTexture(image->texture);
    drawlist::begin(GL_TRIANGLES);
    draw.batchOpen = true;
  }
  applyColour();
  for (const int i : {0, 1, 2, 2, 1, 3}) {
    drawlist::texCoord(draw.texCoords[i].u, draw.texCoords[i].v);
    drawlist::vertex(draw.corners[i].x, draw.corners[i].y);
  }
}

// Texture coordinate of pixel position p along an axis of the image.
float texCoordOf(float extent, int p, int size) {
  if (size == 0) return 0;
  return extent * static_cast<float>(p) / static_cast<float>(size);
}

// Scaled images grow about the centre of their unscaled rectangle (halves
// truncated to 16 bits, centre by integer division, so odd widths lose a
// pixel) or, uncentred, from their top-left corner.
void placeQuad(int x, int y, int srcW, int srcH) {
  const float scaledW = static_cast<float>(srcW) * draw.state.scaleX;
  const float scaledH = static_cast<float>(srcH) * draw.state.scaleY;
  if (draw.state.centered == 1) {
    const uint16_t halfW = static_cast<uint16_t>(static_cast<int32_t>(scaledW / 2));
    const uint16_t halfH = static_cast<uint16_t>(static_cast<int32_t>(scaledH / 2));
    const int centreX = x + srcW / 2;
    const int centreY = y + srcH / 2;
    setCorners(centreX - halfW, centreY - halfH, centreX + halfW, centreY + halfH);
  } else {
    setCorners(x, y, static_cast<int32_t>(static_cast<float>(x) + scaledW),
               static_cast<int32_t>(static_cast<float>(y) + scaledH));
  }
}

// Narrows the source rectangle to the rows and columns that hold a pixel
// that is not fully transparent, along each axis drawn uncentred at scale
// exactly 1: there one texel row or column is one pixel row or column, and a
// transparent texel leaves its pixel as it was, so leaving it out changes no
// pixel. False when nothing in the rectangle is visible at all (then nothing
// need be drawn, at any scale).
bool trimToVisible(const GfxImage& image, int& x, int& y, int& srcX, int& srcY, int& srcW,
                   int& srcH) {
  const auto& rows = image.visibleRows;
  if (rows.empty() || srcW <= 0 || srcH <= 0 || srcX < 0 || srcY < 0 ||
      srcX + srcW > kMaxMaskedSide || srcY + srcH > static_cast<int>(rows.size())) {
    return true;
  }
  const uint64_t columns = (srcW == kMaxMaskedSide ? ~uint64_t{0} : ((uint64_t{1} << srcW) - 1))
                           << srcX;
  int firstRow = -1;
  int lastRow = -1;
  uint64_t used = 0;
  for (int row = srcY; row < srcY + srcH; ++row) {
    const uint64_t bits = rows[row] & columns;
    if (bits == 0) continue;
    if (firstRow < 0) firstRow = row;
    lastRow = row;
    used |= bits;
  }
  if (firstRow < 0) return false;
  if (draw.state.centered == 1) return true;
  if (draw.state.scaleY == 1.0f) {
    y += firstRow - srcY;
    srcY = firstRow;
    srcH = lastRow - firstRow + 1;
  }
  if (draw.state.scaleX == 1.0f) {
    const int firstColumn = __builtin_ctzll(used);
    const int lastColumn = 63 - __builtin_clzll(used);
    x += firstColumn - srcX;
    srcX = firstColumn;
    srcW = lastColumn - firstColumn + 1;
  }
  return true;
}

void drawImageGl(int x, int y, GfxImage* image, int srcX, int srcY, int srcW, int srcH) {
  if (!trimToVisible(*image, x, y, srcX, srcY, srcW, srcH)) return;
  const float uStart = texCoordOf(image->texExtentU, srcX, image->width);
  const float vStart = texCoordOf(image->texExtentV, srcY, image->height);
  const float uSpan = texCoordOf(image->texExtentU, srcW, image->width);
  const float vSpan = texCoordOf(image->texExtentV, srcH, image->height);
  placeQuad(x, y, srcW, srcH);
  draw.texCoords[0] = {uStart, vStart};
  draw.texCoords[1] = {uStart + uSpan, vStart};
  draw.texCoords[2] = {uStart, vStart + vSpan};
  draw.texCoords[3] = {uStart + uSpan, vStart + vSpan};
  if (image == draw.batchImage) {
    addToBatch(image);
    return;
  }
  applyColour();
  drawQuad(image);
}

// The software path blits the image as it is: only its own alpha blends,
// the draw colour is not applied.
void drawImageSurface(int x, int y, GfxImage* image, int srcX, int srcY, int srcW, int srcH) {
  SDL_Surface* const screen = video().screenSurface;
  if (image->surface == nullptr) return;
  if (x > screen->w || y > screen->h) return;
  SDL_Rect source = {static_cast<Sint16>(srcX), static_cast<Sint16>(srcY),
                     static_cast<Uint16>(srcW), static_cast<Uint16>(srcH)};
  SDL_Rect target = {static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
  if (draw.state.scaleX == 1 && draw.state.scaleY == 1) {
    SDL_UpperBlit(image->surface, &source, screen, &target);
    return;
  }
  if (srcW <= 0 || srcH <= 0) return;
  SDL_Surface* const part =
      createSurface(static_cast<uint16_t>(srcW), static_cast<uint16_t>(srcH), SDL_HWSURFACE);
  if (part == nullptr) return;
  // Copy the source rectangle with its alpha as it is, not blended.
  SDL_Surface* const from = image->surface;
  const uint32_t savedFlags = from->flags & (SDL_SRCALPHA | SDL_RLEACCELOK);
  const uint8_t savedAlpha = from->format->alpha;
  if ((savedFlags & SDL_SRCALPHA) != 0) SDL_SetAlpha(from, 0, 0);
  SDL_Rect origin = {0, 0, 0, 0};
  SDL_UpperBlit(from, &source, part, &origin);
  if ((savedFlags & SDL_SRCALPHA) != 0) SDL_SetAlpha(from, savedFlags, savedAlpha);
  SDL_Surface* const zoomed = zoomSurface(part, draw.state.scaleX, draw.state.scaleY, 0);
  if (zoomed != nullptr) {
    if (draw.state.centered == 1) {
      target.x = static_cast<Sint16>(target.x - (zoomed->w - srcW) / 2);
      target.y = static_cast<Sint16>(target.y - (zoomed->h - srcH) / 2);
    }
    SDL_UpperBlit(zoomed, nullptr, screen, &target);
    SDL_FreeSurface(zoomed);
  }
  SDL_FreeSurface(part);
}

// Screen primitives draw only while the frame is drawn, and only where there
// is something to draw on (a live GL context or a software screen).
bool screenDrawable() {
  const VideoState& v = video();
  return v.drawEnabled && (glMode() || v.screenSurface != nullptr);
}

void verticalSegment(int x, double top, double bottom) {
  drawlist::begin(GL_LINES);
  drawlist::vertex(x, static_cast<int32_t>(top));
  drawlist::vertex(x, static_cast<int32_t>(bottom));
  drawlist::end();
}

// The immediate-mode circle as it is defined: for each column offset i from
// -r to r - 1 one GL_LINES segment from (cx + i, cy - h) to (cx + i, cy + h),
// h = sqrt(r^2 - i^2), both ends truncated toward zero.
void fillCircleByColumns(int cx, int cy, int r) {
  for (int i = -r; i < r; ++i) {
    const double h = std::sqrt(static_cast<double>(r) * r - static_cast<double>(i) * i);
    verticalSegment(cx + i, cy - h, cy + h);
  }
}

void quad(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (left >= right || top >= bottom) return;
  drawlist::vertex(left, top);
  drawlist::vertex(right, top);
  drawlist::vertex(right, bottom);
  drawlist::vertex(left, bottom);
}

// The same pixels as fillCircleByColumns, as a few rectangles in one
// glBegin/glEnd. A vertical segment from (x, top) to (x, bottom) at whole
// coordinates lights column x - 1, rows top to bottom - 1, which is exactly
// the rectangle (x - 1, top) - (x, bottom). The columns' extents are nested
// (they grow toward the centre), so the circle is cut into a central
// rectangle over the columns within r / sqrt(2) of the centre, the caps
// above and below it as runs of columns of equal height, and the two sides as
// runs of rows of equal width. Thin pieces then stay short, which is what
// keeps the rasteriser cheap; no pixel is covered twice.
void fillCircleBySpans(int cx, int cy, int r) {
  const int n = 2 * r;
  auto& top = draw.columnTop;
  auto& bottom = draw.columnBottom;
  for (int k = 0; k < n; ++k) {
    const double i = k - r;
    const double h = std::sqrt(static_cast<double>(r) * r - i * i);
    top[k] = static_cast<int32_t>(cy - h);
    bottom[k] = static_cast<int32_t>(cy + h);
  }
  const auto left = [&](int k) { return cx - r + k - 1; };  // left edge of column k
  const int half = static_cast<int>(r / std::sqrt(2.0));
  int bandStart = r - half;
  int bandEnd = r + half;
  int32_t bandTop = INT32_MIN;
  int32_t bandBottom = INT32_MAX;
  for (int k = bandStart; k < bandEnd; ++k) {
    bandTop = std::max(bandTop, top[k]);
    bandBottom = std::min(bandBottom, bottom[k]);
  }
  // Too small for a central rectangle: the sides take every column.
  if (bandStart >= bandEnd || bandTop >= bandBottom) bandStart = bandEnd = r;

  drawlist::begin(GL_QUADS);
  if (bandStart < bandEnd) {
    quad(left(bandStart), bandTop, left(bandEnd), bandBottom);
    for (int k = bandStart; k < bandEnd;) {
      int end = k + 1;
      while (end < bandEnd && top[end] == top[k]) ++end;
      quad(left(k), top[k], left(end), bandTop);
      k = end;
    }
    for (int k = bandStart; k < bandEnd;) {
      int end = k + 1;
      while (end < bandEnd && bottom[end] == bottom[k]) ++end;
      quad(left(k), bandBottom, left(end), bottom[k]);
      k = end;
    }
  }
  // Left side, outermost column first: the rows that column k adds to the
  // columns outside it reach from it to the band.
  int32_t innerTop = top[0];
  int32_t innerBottom = top[0];
  for (int k = 0; k < bandStart; ++k) {
    quad(left(k), top[k], left(bandStart), innerTop);
    quad(left(k), innerBottom, left(bandStart), bottom[k]);
    innerTop = top[k];
    innerBottom = bottom[k];
  }
  innerTop = top[n - 1];
  innerBottom = top[n - 1];
  for (int k = n - 1; k >= bandEnd; --k) {
    quad(left(bandEnd), top[k], left(k + 1), innerTop);
    quad(left(bandEnd), innerBottom, left(k + 1), bottom[k]);
    innerTop = top[k];
    innerBottom = bottom[k];
  }
  drawlist::end();
}

}  // namespace

const DrawState& drawState() {
  return draw.state;
}

void resetDrawState() {
  draw.state = DrawState{};
}

void setDrawColor(float red, float green, float blue, float alpha) {
  draw.state.color[0] = red;
  draw.state.color[1] = green;
  draw.state.color[2] = blue;
  draw.state.color[3] = alpha;
}

void setDrawColorRGB(float red, float green, float blue) {
  setDrawColor(red, green, blue, draw.state.color[3]);
}

void setDrawRed(float value) {
  draw.state.color[0] = value;
}
void setDrawGreen(float value) {
  draw.state.color[1] = value;
}
void setDrawBlue(float value) {
  draw.state.color[2] = value;
}
void setDrawAlpha(float value) {
  draw.state.color[3] = value;
}

void setDrawScale(float scaleX, float scaleY, uint8_t centered) {
  draw.state.scaleX = scaleX;
  draw.state.scaleY = scaleY;
  draw.state.centered = centered;
}

void setBlendMode(uint8_t mode) {
  if (!glMode() || mode >= kBlendModeCount) return;
  closeBatch();
  drawlist::blendFunc(kBlendFactors[mode][0], kBlendFactors[mode][1]);
}

void drawImage(int x, int y, GfxImage* image, int srcX, int srcY, int srcW, int srcH) {
  if (image == nullptr || !screenDrawable()) return;
  if (glMode()) {
    // Alpha 0 multiplies every texel's alpha to 0: nothing would change.
    if (invisible()) return;
    drawImageGl(x, y, image, srcX, srcY, srcW, srcH);
  } else {
    drawImageSurface(x, y, image, srcX, srcY, srcW, srcH);
  }
}

void drawImage(int x, int y, GfxImage& image) {
  drawImage(x, y, &image, 0, 0, image.pixelWidth(), image.pixelHeight());
}

void fillRect(int x, int y, int w, int h) {
  if (!screenDrawable()) return;
  if (!glMode()) {
    fillRectOn(video().screenSurface, x, y, w, h);
    return;
  }
  if (invisible()) return;
  closeBatch();
  setCorners(x, y, x + w, y + h);
  applyColour();
  const OpaqueFill opaque;
  drawQuad(nullptr);
}

// Paints whatever the back end and whether or not the frame is skipped: it
// is how off-screen surfaces are prepared. Corners are inclusive, so the box
// covers (w + 1) x (h + 1) pixels.
void fillRectOn(SDL_Surface* surface, int x, int y, int w, int h) {
  if (surface == nullptr) return;
  const ColourBytes c = colourBytes();
  boxRGBA(surface, static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Sint16>(x + w),
          static_cast<Sint16>(y + h), c.r, c.g, c.b, c.a);
}

// The pixels of one vertical line per column from cx - r to cx + r - 1.
void fillCircle(int cx, int cy, int r) {
  if (!screenDrawable()) return;
  if (!glMode()) {
    const ColourBytes c = colourBytes();
    filledCircleRGBA(video().screenSurface, static_cast<Sint16>(cx), static_cast<Sint16>(cy),
                     static_cast<Sint16>(r), c.r, c.g, c.b, c.a);
    return;
  }
  if (r <= 0 || invisible()) return;
  closeBatch();
  applyColour();
  drawlist::bindTexture(0);
  const OpaqueFill opaque;
  if (2 * r <= kMaxCircleColumns) {
    fillCircleBySpans(cx, cy, r);
  } else {
    fillCircleByColumns(cx, cy, r);
  }
}

void drawCircle(int cx, int cy, int r) {
  if (!screenDrawable()) return;
  if (!glMode()) {
    const ColourBytes c = colourBytes();
    circleRGBA(video().screenSurface, static_cast<Sint16>(cx), static_cast<Sint16>(cy),
               static_cast<Sint16>(r), c.r, c.g, c.b, c.a);
    return;
  }
  // A radius of zero or less has no circumference to step along (and a
  // negative step would never end).
  if (r <= 0) return;
  closeBatch();
  applyColour();
  drawlist::bindTexture(0);
  const double step = 360.0 / (2 * r * kStepPi);
  for (double a = 0; a < 360; a += step) {
    const double radians = a * kRadiansPi / 180;
    drawlist::begin(GL_POINTS);
    drawlist::vertex(std::cos(radians) * r + cx, std::sin(radians) * r + cy);
    drawlist::end();
  }
}

void fillEllipse(int cx, int cy, int rx, int ry) {
  if (!screenDrawable()) return;
  if (!glMode()) {
    const ColourBytes c = colourBytes();
    filledEllipseRGBA(video().screenSurface, static_cast<Sint16>(cx), static_cast<Sint16>(cy),
                      static_cast<Sint16>(rx), static_cast<Sint16>(ry), c.r, c.g, c.b, c.a);
    return;
  }
  closeBatch();
  const double rx2 = static_cast<double>(rx) * rx;
  const double ry2 = static_cast<double>(ry) * ry;
  for (int i = -rx; i < rx; ++i) {
    const double h = std::sqrt((1 - static_cast<double>(i) * i / rx2) * ry2);
    applyColour();
    drawlist::bindTexture(0);
    verticalSegment(cx + i, cy - h, cy + h);
  }
}

// digits is a strip of ten equal cells, 0 to 9; the number is drawn right
// to left with its last digit at (x, y).
void drawNumber(uint16_t value, int x, int y, GfxImage* digits) {
  if (digits == nullptr) return;
  const uint8_t cellW = static_cast<uint8_t>(digits->pixelWidth() / kDigitCells);
  const int cellH = digits->pixelHeight();
  const int advance = static_cast<int>(cellW * draw.state.scaleX);
  int left = x;
  do {
    const int digit = value % kDecimalBase;
    drawImage(left, y, digits, digit * cellW, 0, cellW, cellH);
    left -= advance;
    value = static_cast<uint16_t>(value / kDecimalBase);
  } while (value != 0);
}

ImageBatch::ImageBatch(GfxImage& image) {
  closeBatch();
  draw.batchImage = &image;
}

ImageBatch::~ImageBatch() {
  closeBatch();
  draw.batchImage = nullptr;
}

}  // namespace render
