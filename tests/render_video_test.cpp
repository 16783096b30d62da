// Frame pacing driven tick by tick through a fake clock, and the two back
// ends of setVideoMode.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <vector>

#include "render/draw.h"
#include "render/video.h"
#include "support/test_support.h"

namespace {

using render::kFrameSkip;
using render::kOpenGl;

// The fake clock: SDL_Delay advances it and records how long it waited.
uint32_t fakeNow = 0;
std::vector<uint32_t> delays;
uint32_t fakeTicks() {
  return fakeNow;
}
void fakeDelay(uint32_t ms) {
  delays.push_back(ms);
  fakeNow += ms;
}

class Pacing : public ::testing::Test {
 protected:
  void SetUp() override {
    render::testing::mutableVideo() = render::VideoState{};
    render::testing::setClock(fakeTicks, fakeDelay);
    fakeNow = 1000;
    delays.clear();
  }
  void TearDown() override {
    render::testing::resetClock();
    render::testing::mutableVideo() = render::VideoState{};
  }
  static void useFlags(uint32_t flags) { render::testing::mutableVideo().videoFlags = flags; }
  // One main-loop pass: the work takes workMs, then paceFrame.
  static bool pass(uint32_t workMs) {
    fakeNow += workMs;
    return render::paceFrame();
  }
};

TEST_F(Pacing, FrameRateGivesExactPeriodAndBiasedDelay) {
  render::setFrameRate(60);
  EXPECT_FLOAT_EQ(render::video().frameTimeMs, 1000.0f / 60);
  EXPECT_EQ(render::video().frameDelayMs, 17u);
  render::setFrameRate(30);
  EXPECT_FLOAT_EQ(render::video().frameTimeMs, 1000.0f / 30);
  EXPECT_EQ(render::video().frameDelayMs, 33u);
}

TEST_F(Pacing, WaitsOnlyForTheRestOfTheSlotAndNeverOnTheFirstCall) {
  render::setFrameRate(60);
  useFlags(0);
  pass(0);
  EXPECT_TRUE(delays.empty());
  pass(10);
  pass(17);
  pass(25);
  ASSERT_EQ(delays.size(), 1u);
  EXPECT_EQ(delays[0], 7u);

  render::setFrameRate(30);
  pass(3);
  ASSERT_EQ(delays.size(), 2u);
  EXPECT_EQ(delays[1], 30u);
}

TEST_F(Pacing, LateFramesAccumulateLagAndSkip) {
  render::setFrameRate(60);
  useFlags(kFrameSkip);
  EXPECT_TRUE(pass(0));
  EXPECT_TRUE(pass(30));
  EXPECT_EQ(render::video().lagMs, 13u);
  // 26 ms holds a whole period: this call presents nothing and the next
  // frame is not drawn; the lag drops by 16.67 ms, truncated.
  EXPECT_FALSE(pass(30));
  EXPECT_FALSE(render::video().drawEnabled);
  EXPECT_EQ(render::video().lagMs, 9u);
  // The skipped pass neither waits nor counts lateness.
  EXPECT_TRUE(pass(30));
  EXPECT_EQ(render::video().lagMs, 9u);
  EXPECT_TRUE(delays.empty());
}

TEST_F(Pacing, WithoutFrameSkipLateFramesAreDrawn) {
  render::setFrameRate(60);
  useFlags(0);
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(pass(i == 0 ? 0 : 50));
  EXPECT_EQ(render::video().lagMs, 0u);
}

TEST_F(Pacing, MeasuringWindowCountsFromTwo) {
  render::setFrameRate(60);
  useFlags(0);
  // 58 passes, the last exactly 1000 ms after the first; 1000 / 57 ms apart
  // is longer than the 17 ms slot, so no wait shifts the clock.
  pass(0);
  const uint32_t start = fakeNow;
  for (int i = 1; i < 58; ++i) {
    const uint32_t due = start + static_cast<uint32_t>(i * 1000 / 57);
    pass(due - fakeNow);
  }
  EXPECT_EQ(fakeNow - start, 1000u);
  EXPECT_EQ(render::measuredFps(), 6000);
  EXPECT_EQ(render::video().fpsFrameCount, 2);
  EXPECT_EQ(render::video().fpsWindowStart, fakeNow);
}

TEST_F(Pacing, AbsurdRatesSaturateInsteadOfWrapping) {
  render::setFrameRate(60);
  useFlags(0);
  render::testing::mutableVideo().fpsFrameCount = 60000;
  pass(0);
  pass(1000);
  EXPECT_EQ(render::measuredFps(), 65535);
}

// Real SDL: the dummy driver has a software screen but no OpenGL.
TEST(VideoMode, SoftwareScreenAndRefusedGlMode) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  render::setDrawColor(0.1f, 0.2f, 0.3f, 0.4f);
  render::setDrawScale(2, 3, 0);
  ASSERT_TRUE(render::setVideoMode(640, 480, 32, kFrameSkip));
  EXPECT_NE(render::video().screenSurface, nullptr);
  EXPECT_FALSE(render::glMode());
  EXPECT_EQ(render::video().videoDepth, 32);
  // The draw state is back at its start values.
  EXPECT_FLOAT_EQ(render::drawState().color[0], 1);
  EXPECT_FLOAT_EQ(render::drawState().scaleY, 1);
  EXPECT_EQ(render::drawState().centered, 1);

  // No GL on this driver: reported, and nothing is left to draw on.
  EXPECT_FALSE(render::setVideoMode(640, 480, 32, kOpenGl | kFrameSkip));
  EXPECT_EQ(render::video().screenSurface, nullptr);
  EXPECT_FALSE(render::video().glContextLive);
  EXPECT_FALSE(render::glMode());
  render::paceFrame();  // presents nothing, must not crash
  testsupport::closeVideo();
}

}  // namespace
