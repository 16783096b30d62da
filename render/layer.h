// A picture of a rectangle of the screen, taken from what was drawn there and
// put back later pixel for pixel: no blending, no tint, no scaling. A part
// of a frame that is drawn the same way every frame is drawn once, captured,
// and from then on copied, which costs the software rasteriser a fraction of
// drawing it again. GL mode only.
#pragma once

#include <cstdint>

namespace render {

// Owns its texture; move-only. Coordinates are window pixels, y down.
class ScreenLayer {
 public:
  ScreenLayer() = default;
  ~ScreenLayer();
  ScreenLayer(const ScreenLayer&) = delete;
  ScreenLayer& operator=(const ScreenLayer&) = delete;
  ScreenLayer(ScreenLayer&& other) noexcept;
  ScreenLayer& operator=(ScreenLayer&& other) noexcept;

  // True when the layer holds the picture captured for key in the current
  // GL context.
  bool holds(uint32_t key) const;
  // Copies what the current frame shows in the screen rectangle (x, y, w, h)
  // into the layer as the picture for key. Refuses (false, layer emptied)
  // while the frame is skipped, outside GL mode, for a rectangle not wholly
  // on the screen, or when no texture can be made.
  bool capture(int x, int y, int w, int h, uint32_t key);
  // A picture of w x h for key assembled from several pieces (it may be
  // larger than the screen): reserve it, then captureInto every part of it
  // before drawing. reserve refuses as capture does.
  bool reserve(int w, int h, uint32_t key);
  // Copies the screen rectangle (x, y, w, h) into the reserved picture with
  // its top-left corner at (toX, toY). Refuses (false, layer emptied) as
  // capture does, and for a piece that does not fit the picture.
  bool captureInto(int x, int y, int w, int h, int toX, int toY);
  // Puts the rectangle (srcX, srcY, w, h) of the picture back with its
  // top-left corner at (x, y); parts off the screen are cut. Draws nothing
  // while the frame is skipped or when the layer holds nothing. Leaves the
  // sticky draw state alone.
  void draw(int x, int y, int srcX, int srcY, int w, int h) const;
  void draw(int x, int y) const { draw(x, y, 0, 0, width_, height_); }
  void release();

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  uint32_t texture_ = 0;
  uint32_t generation_ = 0;  // the GL context the texture belongs to
  uint32_t key_ = 0;
  bool holding_ = false;
  int width_ = 0;
  int height_ = 0;
  int textureWidth_ = 0;
  int textureHeight_ = 0;
};

namespace testing {
// Off: layers hold nothing and capture nothing, so that everything is drawn
// the plain way (for comparing the two). On by default.
void setScreenLayers(bool enabled);
}  // namespace testing

}  // namespace render
