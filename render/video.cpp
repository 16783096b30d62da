// The window's mode and the main loop's rhythm. Module state lives for the
// whole run; it is set by setFrameRate/setVideoMode at start-up and stepped
// by paceFrame once per main-loop pass.
#include "render/video.h"

#include <GL/gl.h>
#include <SDL.h>

#include <cstdint>

#include "platform/platform.h"
#include "render/draw.h"
#include "render/draw_list.h"
#include "render/frame_present.h"
#include "render/image.h"

namespace render {
namespace {

// The waiting period is the exact period plus this bias, truncated: 17 ms
// at 60 frames per second, 33 ms at 30.
constexpr float kDelayBiasMs = 0.34f;
constexpr uint32_t kFpsWindowMs = 1000;
constexpr uint16_t kFpsCountStart = 2;

// Zero at program start (fpsFrameCount 2, drawEnabled true); never reset as
// a whole: setFrameRate and setVideoMode set their parts, paceFrame steps the
// rest.
VideoState state;

uint32_t sdlTicks() { return SDL_GetTicks(); }
void sdlDelay(uint32_t ms) { SDL_Delay(ms); }

// A one-texel texture made in each new GL context: after a change of mode
// it still being a texture tells that the context (and every texture in it)
// was kept.
GLuint contextSentinel = 0;

bool contextKept() { return contextSentinel != 0 && glIsTexture(contextSentinel) == GL_TRUE; }

void makeSentinel() {
  const uint8_t texel[4] = {0, 0, 0, 0};
  glGenTextures(1, &contextSentinel);
  glBindTexture(GL_TEXTURE_2D, contextSentinel);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
  glBindTexture(GL_TEXTURE_2D, 0);
}

// SDL's clock, replaceable so that tests can drive the pacing tick by tick.
uint32_t (*ticksNow)() = sdlTicks;
void (*delayFor)(uint32_t) = sdlDelay;

void setUpGlState(uint16_t width, uint16_t height, bool newContext) {
  // Never popped: this is the state for the whole run (pushed once per
  // context, so that a kept context's stack does not grow).
  if (newContext) glPushAttrib(GL_ENABLE_BIT);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glViewport(0, 0, width, height);
  // Window pixels: origin top-left, y down.
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, width, height, 0, 0, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // Every texture upload switches to GL_MODULATE, which is then in force
  // whenever anything is drawn. A kept context keeps it: its textures are
  // not uploaded again.
  if (newContext) glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
  glClearColor(0, 0, 0, 0);
}

// Waits for the frame slot and adds any overrun to the lag.
void waitForSlot(bool frameSkip) {
  // The GL driver may defer drawing until the picture is presented; handing
  // it the frame now lets it draw while this thread waits, so the swap that
  // ends the wait presents a finished picture at once instead of drawing it
  // then (which would delay each frame by its own drawing time).
  if (glMode()) glFlush();
  const uint32_t elapsed = ticksNow() - state.lastFrameTicks;
  const int32_t slack = static_cast<int32_t>(state.frameDelayMs - elapsed);
  if (state.frameDelayMs > elapsed) delayFor(state.frameDelayMs - elapsed);
  if (frameSkip && slack < 0) state.lagMs += static_cast<uint32_t>(-static_cast<int64_t>(slack));
}

// Skips the coming frame while the lag holds a whole frame period.
void decideSkip() {
  if (state.frameTimeMs <= static_cast<float>(state.lagMs)) {
    state.lagMs = static_cast<uint32_t>(static_cast<float>(state.lagMs) - state.frameTimeMs);
    state.drawEnabled = false;
  } else {
    state.drawEnabled = true;
  }
}

void countFrame() {
  if (state.fpsWindowStart == 0) state.fpsWindowStart = state.lastFrameTicks;
  ++state.fpsFrameCount;
  const uint32_t span = state.lastFrameTicks - state.fpsWindowStart;
  if (span < kFpsWindowMs) return;
  const double rate = state.fpsFrameCount / (span / 1000.0) * 100;
  // Clamped so that an absurd rate cannot overflow the 16-bit readout.
  state.measuredFps100 = rate >= 65535.0 ? 65535 : static_cast<uint16_t>(rate);
  state.fpsWindowStart = state.lastFrameTicks;
  state.fpsFrameCount = kFpsCountStart;
}

void present() {
  if (glMode()) {
    presentFrame();
  } else if (state.screenSurface != nullptr) {
    SDL_Flip(state.screenSurface);
  }
}

}  // namespace

const VideoState& video() { return state; }

FramePlacement placeFrame(int frameW, int frameH, int windowW, int windowH) {
  int scale = 1;
  while (frameW * (scale + 1) <= windowW && frameH * (scale + 1) <= windowH) ++scale;
  const int left = windowW > frameW * scale ? (windowW - frameW * scale) / 2 : 0;
  const int top = windowH > frameH * scale ? (windowH - frameH * scale) / 2 : 0;
  return {scale, left, top};
}

void windowToFrame(int& x, int& y) {
  const int scale = state.frameScale > 0 ? state.frameScale : 1;
  const int fx = (x - state.frameLeft) / scale;
  const int fy = (y - state.frameTop) / scale;
  x = x < state.frameLeft ? 0 : (fx >= state.screenWidth ? state.screenWidth - 1 : fx);
  y = y < state.frameTop ? 0 : (fy >= state.screenHeight ? state.screenHeight - 1 : fy);
}

void noteDesktopSize() {
  if (state.desktopWidth != 0) return;
  if (const SDL_VideoInfo* info = SDL_GetVideoInfo()) {
    state.desktopWidth = static_cast<uint16_t>(info->current_w);
    state.desktopHeight = static_cast<uint16_t>(info->current_h);
  }
}

bool setVideoMode(uint16_t width, uint16_t height, uint8_t depth, uint32_t flags,
                  uint16_t windowWidth, uint16_t windowHeight) {
  noteDesktopSize();
  const bool gl = (flags & kOpenGl) != 0;
  if (!gl || windowWidth < width || windowHeight < height) {
    windowWidth = width;
    windowHeight = height;
  }
  // What was drawn so far goes to the old mode, which nothing kept of
  // outlives.
  drawlist::flush();
  drawlist::forget();
  // Pixels of the old context's textures, in case the new mode loses it.
  holdTextures();
  beforeModeChange();
  state.videoFlags = flags;
  state.videoDepth = depth;
  if (gl) {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    // The colour depth doubles as the depth-buffer size. (The depth buffer
    // also keeps llvmpipe off its linear rasteriser, which rounds blended
    // fills differently: without it the pictures would change by one step
    // here and there.) A window larger than the frame has none where the
    // platform allows it: the scenes draw into a frame of their own that has
    // one, and the window takes one unblended copy of it a frame, exact and
    // much cheaper on that path.
    const bool scaledWindow = windowWidth != width || windowHeight != height;
    const bool noDepth = scaledWindow && platform::glWindowWithoutDepthBuffer();
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, noDepth ? 0 : depth);
    if ((flags & (kHwSurface | kAsyncBlit)) != 0) SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  }
  if (state.screenSurface != nullptr) SDL_FreeSurface(state.screenSurface);
  // Any previous GL context goes away with the old mode.
  state.glContextLive = false;
  state.screenSurface = SDL_SetVideoMode(windowWidth, windowHeight, depth, flags);
  // Without a screen or a context nothing can be drawn; the caller reports
  // and ends the program. The state is left with no screen and no context,
  // so every primitive draws nothing meanwhile.
  if (state.screenSurface == nullptr) return false;
  state.screenWidth = width;
  state.screenHeight = height;
  state.windowWidth = windowWidth;
  state.windowHeight = windowHeight;
  const FramePlacement placement = placeFrame(width, height, windowWidth, windowHeight);
  state.frameScale = static_cast<uint8_t>(placement.scale);
  state.frameLeft = static_cast<uint16_t>(placement.left);
  state.frameTop = static_cast<uint16_t>(placement.top);
  if (gl) {
    state.screenSurface = nullptr;
    state.glContextLive = true;
    const bool kept = contextKept();
    if (!kept) {
      ++state.glGeneration;
      makeSentinel();
    }
    setUpGlState(width, height, !kept);
    prepareFrame(!kept);
    restoreTextures(!kept);
  } else {
    restoreTextures(true);
  }
  resetDrawState();
  return true;
}

void setFrameRate(uint8_t fps) {
  state.targetFrameRate = fps;
  state.frameTimeMs = 1000.0f / fps;
  state.frameDelayMs = static_cast<uint32_t>(state.frameTimeMs + kDelayBiasMs);
}

bool paceFrame() {
  // The frame's drawing is done: GL draws it while the pass waits.
  const bool drawn = state.drawEnabled;
  if (drawn) drawlist::finishFrame();
  const bool frameSkip = (state.videoFlags & kFrameSkip) != 0;
  if (state.lastFrameTicks != 0) {
    // While a frame is skipped there is no wait and no lateness counted.
    if (state.drawEnabled) waitForSlot(frameSkip);
    if (frameSkip) decideSkip();
  }
  // Taken after the wait, so the next call measures only the pass's own work.
  state.lastFrameTicks = ticksNow();
  countFrame();
  if (state.drawEnabled) {
    present();
    drawlist::afterPresent();
  } else if (drawn) {
    drawlist::presentSkipped();
  }
  return state.drawEnabled;
}

uint16_t measuredFps() { return state.measuredFps100; }

void windowExposed() { showWholeWindowNext(); }

bool glMode() { return (state.videoFlags & kOpenGl) != 0 && state.glContextLive; }

void videoShutdown() {
  // The context goes with SDL_Quit, and its names with it.
  forgetFrame();
  state.glContextLive = false;
  state.screenSurface = nullptr;  // SDL_Quit frees the screen
}

namespace testing {

VideoState& mutableVideo() { return state; }

void setClock(uint32_t (*ticks)(), void (*delay)(uint32_t)) {
  ticksNow = ticks;
  delayFor = delay;
}

void resetClock() {
  ticksNow = sdlTicks;
  delayFor = sdlDelay;
}

}  // namespace testing
}  // namespace render
