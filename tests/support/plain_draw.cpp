#include "support/plain_draw.h"

#include <GL/gl.h>

#include <cmath>

#include "render/draw.h"

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
