// Video mode and frame pacing. Module state lives for the whole run; it is
// set by setFrameRate/setVideoMode at start-up and stepped by paceFrame once
// per main-loop pass.
#include "render/video.h"

#include <GL/gl.h>
#include <SDL.h>

#include "render/draw.h"

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

uint32_t sdlTicks() {
  return SDL_GetTicks();
}
void sdlDelay(uint32_t ms) {
  SDL_Delay(ms);
}

// SDL's clock, replaceable so that tests can drive the pacing tick by tick.
uint32_t (*ticksNow)() = sdlTicks;
void (*delayFor)(uint32_t) = sdlDelay;

void setUpGlState(uint16_t width, uint16_t height) {
  glPushAttrib(GL_ENABLE_BIT);  // never popped: this is the state for the whole run
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
  // whenever anything is drawn.
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
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
    SDL_GL_SwapBuffers();
  } else if (state.screenSurface != nullptr) {
    SDL_Flip(state.screenSurface);
  }
}

}  // namespace

const VideoState& video() {
  return state;
}

bool setVideoMode(uint16_t width, uint16_t height, uint8_t depth, uint32_t flags) {
  state.videoFlags = flags;
  state.videoDepth = depth;
  const bool gl = (flags & kOpenGl) != 0;
  if (gl) {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    // The colour depth doubles as the depth-buffer size.
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
    if ((flags & (kHwSurface | kAsyncBlit)) != 0) SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  }
  if (state.screenSurface != nullptr) SDL_FreeSurface(state.screenSurface);
  // Any previous GL context goes away with the old mode.
  state.glContextLive = false;
  state.screenSurface = SDL_SetVideoMode(width, height, depth, flags);
  // Without a screen or a context nothing can be drawn; the caller reports
  // and ends the program. The state is left with no screen and no context,
  // so every primitive draws nothing meanwhile.
  if (state.screenSurface == nullptr) return false;
  state.screenWidth = width;
  state.screenHeight = height;
  if (gl) {
    state.screenSurface = nullptr;
    state.glContextLive = true;
    ++state.glGeneration;
    setUpGlState(width, height);
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
  const bool frameSkip = (state.videoFlags & kFrameSkip) != 0;
  if (state.lastFrameTicks != 0) {
    // While a frame is skipped there is no wait and no lateness counted.
    if (state.drawEnabled) waitForSlot(frameSkip);
    if (frameSkip) decideSkip();
  }
  // Taken after the wait, so the next call measures only the pass's own work.
  state.lastFrameTicks = ticksNow();
  countFrame();
  if (state.drawEnabled) present();
  return state.drawEnabled;
}

uint16_t measuredFps() {
  return state.measuredFps100;
}

bool glMode() {
  return (state.videoFlags & kOpenGl) != 0 && state.glContextLive;
}

void videoShutdown() {
  state.glContextLive = false;
  state.screenSurface = nullptr;  // SDL_Quit frees the screen
}

namespace testing {

VideoState& mutableVideo() {
  return state;
}

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
