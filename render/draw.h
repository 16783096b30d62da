// The sticky draw state and the drawing primitives. Coordinates are window
// pixels, origin top-left, y down. Every primitive that draws to the screen
// does nothing while the current frame is skipped.
#pragma once

#include <cstdint>

struct SDL_Surface;

namespace render {

struct GfxImage;

struct DrawState {
  float color[4] = {1, 1, 1, 1};  // red, green, blue, alpha, 0..1
  float scaleX = 1;
  float scaleY = 1;
  uint8_t centered = 1;  // 1 = scaled images grow about their centre
};

const DrawState& drawState();
// Back to the start values; setVideoMode calls it.
void resetDrawState();

void setDrawColor(float red, float green, float blue, float alpha);
void setDrawColorRGB(float red, float green, float blue);
void setDrawRed(float value);
void setDrawGreen(float value);
void setDrawBlue(float value);
void setDrawAlpha(float value);
void setDrawScale(float scaleX, float scaleY, uint8_t centered);
void setBlendMode(uint8_t mode);

void drawImage(int x, int y, GfxImage* image, int srcX, int srcY, int srcW, int srcH);
// The whole image with its top-left corner at (x, y).
void drawImage(int x, int y, GfxImage& image);
void fillRect(int x, int y, int w, int h);
void fillRectOn(SDL_Surface* surface, int x, int y, int w, int h);
void fillCircle(int cx, int cy, int r);
void drawCircle(int cx, int cy, int r);
void fillEllipse(int cx, int cy, int rx, int ry);
void drawNumber(uint16_t value, int x, int y, GfxImage* digits);

// While one lives, the drawImage calls of its image in GL mode are collected
// into one glBegin/glEnd (two triangles each, as the quad's strip would
// make them) instead of one each, which costs the GL driver far less. Any
// other primitive ends the collection first; the picture is the same as
// drawing each call on its own. Scoped: the collection ends with it.
class ImageBatch {
 public:
  explicit ImageBatch(GfxImage& image);
  ~ImageBatch();
  ImageBatch(const ImageBatch&) = delete;
  ImageBatch& operator=(const ImageBatch&) = delete;
};

}  // namespace render
