// The cheaper ways the GL primitives draw must light exactly the pixels of
// the plain immediate-mode drawing they stand for. Each case draws the plain
// way and the primitive's way over the same busy background and compares the
// whole frame read back.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "render/draw.h"
#include "render/image.h"
#include "render/video.h"
#include "support/test_support.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

using Frame = std::vector<uint8_t>;

Frame readFrame() {
  glFinish();
  Frame pixels(kWidth * kHeight * 4);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

// Where two frames first differ, as "x,y: got r g b / want r g b" (window
// coordinates), or "" when they are equal.
std::string firstDifference(const Frame& got, const Frame& want) {
  for (size_t i = 0; i < got.size(); i += 4) {
    if (got[i] == want[i] && got[i + 1] == want[i + 1] && got[i + 2] == want[i + 2]) continue;
    const int x = static_cast<int>(i / 4) % kWidth;
    const int y = kHeight - 1 - static_cast<int>(i / 4) / kWidth;
    return std::to_string(x) + "," + std::to_string(y) + ": got " + std::to_string(got[i]) + " " +
           std::to_string(got[i + 1]) + " " + std::to_string(got[i + 2]) + " / want " +
           std::to_string(want[i]) + " " + std::to_string(want[i + 1]) + " " +
           std::to_string(want[i + 2]);
  }
  return "";
}

// A busy background: every pixel different, so that any blend or any extra
// or missing pixel shows.
void paintBackground() {
  static std::vector<uint8_t> pattern;
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
  glRasterPos2i(0, kHeight);  // the bottom-left corner in window pixels, y down
  glDrawPixels(kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pattern.data());
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
}

// The plain ways, as the drawing is defined: blending on, one glBegin/glEnd
// per quad and per circle column.
void plainColour() {
  const float* c = render::drawState().color;
  glColor4f(c[0], c[1], c[2], c[3]);
  glBindTexture(GL_TEXTURE_2D, 0);
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

class FastPaths : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(testsupport::openGlWindow()); }
  static void TearDownTestSuite() { testsupport::closeVideo(); }
  void SetUp() override {
    render::resetDrawState();
    render::testing::mutableVideo().drawEnabled = true;
  }

  // Draws `plain` and `fast` over the background; the frames must be equal.
  template <typename Plain, typename Fast>
  void expectSamePixels(Plain plain, Fast fast, const std::string& what) {
    paintBackground();
    plain();
    const Frame want = readFrame();
    paintBackground();
    fast();
    const Frame got = readFrame();
    EXPECT_EQ(firstDifference(got, want), "") << what;
  }
};

constexpr float kAlphas[] = {0.8f, 0.5f, 1.0f, 1.5f, 0.0f, -0.2f};

TEST_F(FastPaths, FilledCircleLightsTheLinesPixels) {
  std::vector<int> radii;
  for (int r = -1; r <= 24; ++r) radii.push_back(r);
  for (int r : {50, 99, 100, 101, 150, 199, 200, 201, 250, 299, 300, 333}) radii.push_back(r);
  // Centres inside, near and beyond every edge.
  const int centres[][2] = {{320, 240}, {100, 200}, {160, 320}, {-20, -5}, {630, 470}, {0, 0}};
  int index = 0;
  for (const int r : radii) {
    for (const auto& c : centres) {
      const float alpha = kAlphas[index++ % 6];
      render::setDrawColor(0.7f, 1.0f, 0.5f, alpha);
      expectSamePixels([&] { plainCircle(c[0], c[1], r); },
                       [&] { render::fillCircle(c[0], c[1], r); },
                       "r " + std::to_string(r) + " at " + std::to_string(c[0]) + "," +
                           std::to_string(c[1]) + " alpha " + std::to_string(alpha));
    }
  }
}

TEST_F(FastPaths, OpaqueAndInvisibleFillsLightTheBlendedPixels) {
  const int rects[][4] = {{0, 0, 640, 480}, {13, 7, 101, 55}, {-30, 400, 100, 200}, {5, 5, 1, 1}};
  for (const auto& q : rects) {
    for (const float alpha : kAlphas) {
      render::setDrawColor(0.3f, 0.6f, 0.1f, alpha);
      expectSamePixels([&] { plainRect(q[0], q[1], q[2], q[3]); },
                       [&] { render::fillRect(q[0], q[1], q[2], q[3]); },
                       "rect " + std::to_string(q[0]) + "," + std::to_string(q[1]) + " alpha " +
                           std::to_string(alpha));
    }
  }
}

TEST_F(FastPaths, AnImageAtAlphaZeroChangesNothing) {
  render::GfxImage image;
  image.surface = render::createSurface(32, 16, 0);
  render::setDrawColor(0.2f, 0.9f, 0.4f, 1);
  render::fillRectOn(image.surface, 0, 0, 32, 16);
  render::loadImage(image, nullptr);
  for (const float alpha : {0.0f, -0.07f}) {
    render::setDrawColor(1, 1, 1, alpha);
    paintBackground();
    const Frame before = readFrame();
    render::setDrawScale(1.5f, 1.5f, 1);
    render::drawImage(100, 100, image);
    EXPECT_EQ(firstDifference(readFrame(), before), "") << alpha;
  }
}

}  // namespace
