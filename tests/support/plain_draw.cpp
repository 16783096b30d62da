#include "support/plain_draw.h"

#include <GL/gl.h>

#include <cmath>

#include "render/draw.h"
#include "render/image.h"

namespace testsupport {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

void plainColour() {
  const float* c = render::drawState().color;
  glColor4f(c[0], c[1], c[2], c[3]);
  glBindTexture(GL_TEXTURE_2D, 0);
}

std::string rgb(const Frame& f, size_t i) {
  return std::to_string(f[i]) + " " + std::to_string(f[i + 1]) + " " + std::to_string(f[i + 2]);
}

}  // namespace

Frame readFrame() {
  glFinish();
  Frame pixels(kWidth * kHeight * 4);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

std::string firstDifference(const Frame& got, const Frame& want) {
  if (got.size() != want.size()) return "frames of different sizes";
  for (size_t i = 0; i < got.size(); i += 4) {
    if (got[i] == want[i] && got[i + 1] == want[i + 1] && got[i + 2] == want[i + 2]) continue;
    const int x = static_cast<int>(i / 4) % kWidth;
    const int y = kHeight - 1 - static_cast<int>(i / 4) / kWidth;
    return std::to_string(x) + "," + std::to_string(y) + ": got " + rgb(got, i) + " / want " +
           rgb(want, i);
  }
  return "";
}

void paintBackground() {
  static Frame pattern;
  if (pattern.empty()) {
    pattern.resize(kWidth * kHeight * 4);
    uint32_t seed = 12345;
    for (uint8_t& byte : pattern) {
      seed = seed * 1103515245u + 12345u;
      byte = static_cast<uint8_t>(seed >> 16);
    }
  }
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glRasterPos2i(0, kHeight);  // the bottom-left corner, in window pixels with y down
  glDrawPixels(kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pattern.data());
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
}

void plainRect(int x, int y, int w, int h) {
  plainColour();
  glBegin(GL_TRIANGLE_STRIP);
  glVertex2i(x, y);
  glVertex2i(x + w, y);
  glVertex2i(x, y + h);
  glVertex2i(x + w, y + h);
  glEnd();
}

void plainImage(int x, int y, const render::GfxImage& image, int srcX, int srcY, int srcW,
                int srcH) {
  const auto coord = [](float extent, int p, int size) {
    return size == 0 ? 0.0f : extent * static_cast<float>(p) / static_cast<float>(size);
  };
  const float u0 = coord(image.texExtentU, srcX, image.width);
  const float v0 = coord(image.texExtentV, srcY, image.height);
  const float u1 = u0 + coord(image.texExtentU, srcW, image.width);
  const float v1 = v0 + coord(image.texExtentV, srcH, image.height);
  const render::DrawState& s = render::drawState();
  const float scaledW = static_cast<float>(srcW) * s.scaleX;
  const float scaledH = static_cast<float>(srcH) * s.scaleY;
  int left = x;
  int top = y;
  int right = static_cast<int32_t>(static_cast<float>(x) + scaledW);
  int bottom = static_cast<int32_t>(static_cast<float>(y) + scaledH);
  if (s.centered == 1) {
    const uint16_t halfW = static_cast<uint16_t>(static_cast<int32_t>(scaledW / 2));
    const uint16_t halfH = static_cast<uint16_t>(static_cast<int32_t>(scaledH / 2));
    left = x + srcW / 2 - halfW;
    right = x + srcW / 2 + halfW;
    top = y + srcH / 2 - halfH;
    bottom = y + srcH / 2 + halfH;
  }
  glColor4f(s.color[0], s.color[1], s.color[2], s.color[3]);
  glBindTexture(GL_TEXTURE_2D, image.texture);
  glBegin(GL_TRIANGLE_STRIP);
  glTexCoord2f(u0, v0);
  glVertex2i(left, top);
  glTexCoord2f(u1, v0);
  glVertex2i(right, top);
  glTexCoord2f(u0, v1);
  glVertex2i(left, bottom);
  glTexCoord2f(u1, v1);
  glVertex2i(right, bottom);
  glEnd();
}

void plainCircle(int cx, int cy, int r) {
  for (int i = -r; i < r; ++i) {
    const double h = std::sqrt(static_cast<double>(r) * r - static_cast<double>(i) * i);
    plainColour();
    glBegin(GL_LINES);
    glVertex2i(cx + i, static_cast<int32_t>(cy - h));
    glVertex2i(cx + i, static_cast<int32_t>(cy + h));
    glEnd();
  }
}

}  // namespace testsupport
