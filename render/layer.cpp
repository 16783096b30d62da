// ScreenLayer: glCopyTexSubImage2D from the back buffer into a texture (of
// power-of-two size where GL needs it), drawn back as one unblended,
// untinted quad whose texels fall one to one on the screen's pixels.
#include "render/layer.h"

#include <GL/gl.h>

#include <utility>

#include "render/draw_list.h"
#include "render/image.h"
#include "render/video.h"

namespace render {
namespace {

bool layersEnabled = true;

}  // namespace

ScreenLayer::~ScreenLayer() {
  release();
}

ScreenLayer::ScreenLayer(ScreenLayer&& other) noexcept {
  *this = std::move(other);
}

ScreenLayer& ScreenLayer::operator=(ScreenLayer&& other) noexcept {
  if (this == &other) return *this;
  release();
  texture_ = std::exchange(other.texture_, 0);
  generation_ = other.generation_;
  key_ = other.key_;
  holding_ = std::exchange(other.holding_, false);
  width_ = other.width_;
  height_ = other.height_;
  textureWidth_ = other.textureWidth_;
  textureHeight_ = other.textureHeight_;
  return *this;
}

void ScreenLayer::release() {
  // A texture of a context that is gone (or of an earlier one) is not ours
  // to delete any more.
  if (texture_ != 0 && video().glContextLive && generation_ == video().glGeneration) {
    drawlist::flush();
    const GLuint name = texture_;
    glDeleteTextures(1, &name);
    drawlist::textureChanged(name);
  }
  texture_ = 0;
  holding_ = false;
  width_ = height_ = textureWidth_ = textureHeight_ = 0;
}

bool ScreenLayer::holds(uint32_t key) const {
  return layersEnabled && holding_ && key_ == key && generation_ == video().glGeneration &&
         glMode();
}

bool ScreenLayer::capture(int x, int y, int w, int h, uint32_t key) {
  return reserve(w, h, key) && captureInto(x, y, w, h, 0, 0);
}

bool ScreenLayer::reserve(int w, int h, uint32_t key) {
  holding_ = false;
  const VideoState& v = video();
  if (!layersEnabled || !v.drawEnabled || !glMode() || w <= 0 || h <= 0) return false;
  drawlist::flush();
  const bool anySize = anySizeTextures();
  const int potW = anySize ? w : nextPowerOfTwo(w);
  const int potH = anySize ? h : nextPowerOfTwo(h);
  if (texture_ == 0 || generation_ != v.glGeneration || potW != textureWidth_ ||
      potH != textureHeight_) {
    release();
    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0) return false;
    texture_ = name;
    generation_ = v.glGeneration;
    textureWidth_ = potW;
    textureHeight_ = potH;
    glBindTexture(GL_TEXTURE_2D, texture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, potW, potH, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    drawlist::textureChanged(name);
  }
  width_ = w;
  height_ = h;
  key_ = key;
  holding_ = true;
  return true;
}

bool ScreenLayer::captureInto(int x, int y, int w, int h, int toX, int toY) {
  const VideoState& v = video();
  const bool fits = w > 0 && h > 0 && x >= 0 && y >= 0 && x + w <= v.screenWidth &&
                    y + h <= v.screenHeight && toX >= 0 && toY >= 0 && toX + w <= width_ &&
                    toY + h <= height_;
  if (!holding_ || !layersEnabled || !v.drawEnabled || !glMode() || !fits ||
      generation_ != v.glGeneration) {
    holding_ = false;
    return false;
  }
  // It reads what the frame shows so far: all of it drawn first.
  drawlist::flush();
  glBindTexture(GL_TEXTURE_2D, texture_);
  // GL counts rows from the bottom, of the screen and of the texture alike:
  // picture row p is texture row height - 1 - p.
  glCopyTexSubImage2D(GL_TEXTURE_2D, 0, toX, height_ - toY - h, x, v.screenHeight - y - h, w, h);
  drawlist::textureChanged(texture_);
  return true;
}

void ScreenLayer::draw(int x, int y, int srcX, int srcY, int w, int h) const {
  if (!holds(key_) || !video().drawEnabled) return;
  // Picture row p lies in texture row height - 1 - p; with the texels'
  // centres on the pixels' centres nearest sampling copies them exactly.
  const float u0 = static_cast<float>(srcX) / textureWidth_;
  const float u1 = static_cast<float>(srcX + w) / textureWidth_;
  const float vTop = static_cast<float>(height_ - srcY) / textureHeight_;
  const float vBottom = static_cast<float>(height_ - srcY - h) / textureHeight_;
  const int envMode = drawlist::currentTexEnv();
  drawlist::texEnv(GL_REPLACE);
  drawlist::blending(false);
  drawlist::bindTexture(texture_);
  drawlist::begin(GL_TRIANGLE_STRIP);
  drawlist::texCoord(u0, vTop);
  drawlist::vertex(x, y);
  drawlist::texCoord(u1, vTop);
  drawlist::vertex(x + w, y);
  drawlist::texCoord(u0, vBottom);
  drawlist::vertex(x, y + h);
  drawlist::texCoord(u1, vBottom);
  drawlist::vertex(x + w, y + h);
  drawlist::end();
  drawlist::blending(true);
  drawlist::texEnv(envMode);
}

namespace testing {

void setScreenLayers(bool enabled) {
  layersEnabled = enabled;
}

}  // namespace testing
}  // namespace render
