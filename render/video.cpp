// Video mode and frame pacing. Module state lives for the whole run; it is
// set by setFrameRate/setVideoMode at start-up and stepped by paceFrame once
// per main-loop pass.
#include "render/video.h"

#include <GL/gl.h>
#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/platform.h"
#include "render/draw.h"
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
  // The names of the context that went are not valid any more.
  state.frameTexture = 0;
  state.frameBuffer = 0;
  state.frameDepthBuffer = 0;
}

// Framebuffer objects (GL 3.0, GL_ARB_framebuffer_object, or the older
// GL_EXT_framebuffer_object with the same values and calls under an EXT
// suffix). <GL/gl.h> is GL 1.1 on Windows, so the values and the calls'
// types are spelled out here and the calls are looked up at run time.
constexpr GLenum kFramebufferTarget = 0x8D40;   // GL_FRAMEBUFFER
constexpr GLenum kRenderbufferTarget = 0x8D41;  // GL_RENDERBUFFER
constexpr GLenum kColorAttachment0 = 0x8CE0;
constexpr GLenum kDepthAttachment = 0x8D00;
constexpr GLenum kDepthComponent16 = 0x81A5;
constexpr GLenum kFramebufferComplete = 0x8CD5;
constexpr GLenum kBgra = 0x80E1;         // GL_BGRA (GL 1.2, GL_EXT_bgra)
constexpr GLenum kClampToEdge = 0x812F;  // GL_CLAMP_TO_EDGE (GL 1.2)
// GL_ARB_fragment_program.
constexpr GLenum kFragmentProgram = 0x8804;
constexpr GLenum kProgramFormatAscii = 0x8875;

#ifndef APIENTRY
#define APIENTRY
#endif
using GenFramebuffersFn = void(APIENTRY*)(GLsizei, GLuint*);
using DeleteFramebuffersFn = void(APIENTRY*)(GLsizei, const GLuint*);
using BindFramebufferFn = void(APIENTRY*)(GLenum, GLuint);
using FramebufferTexture2DFn = void(APIENTRY*)(GLenum, GLenum, GLenum, GLuint, GLint);
using CheckFramebufferStatusFn = GLenum(APIENTRY*)(GLenum);
using GenRenderbuffersFn = void(APIENTRY*)(GLsizei, GLuint*);
using DeleteRenderbuffersFn = void(APIENTRY*)(GLsizei, const GLuint*);
using BindRenderbufferFn = void(APIENTRY*)(GLenum, GLuint);
using RenderbufferStorageFn = void(APIENTRY*)(GLenum, GLenum, GLsizei, GLsizei);
using FramebufferRenderbufferFn = void(APIENTRY*)(GLenum, GLenum, GLenum, GLuint);
using GenProgramsFn = void(APIENTRY*)(GLsizei, GLuint*);
using BindProgramFn = void(APIENTRY*)(GLenum, GLuint);
using ProgramStringFn = void(APIENTRY*)(GLenum, GLenum, GLsizei, const void*);

struct FramebufferCalls {
  GenFramebuffersFn gen = nullptr;
  DeleteFramebuffersFn remove = nullptr;
  BindFramebufferFn bind = nullptr;
  FramebufferTexture2DFn attach = nullptr;
  CheckFramebufferStatusFn check = nullptr;
  GenRenderbuffersFn genRenderbuffer = nullptr;
  DeleteRenderbuffersFn removeRenderbuffer = nullptr;
  BindRenderbufferFn bindRenderbuffer = nullptr;
  RenderbufferStorageFn storeRenderbuffer = nullptr;
  FramebufferRenderbufferFn attachRenderbuffer = nullptr;
  bool complete() const {
    return gen != nullptr && remove != nullptr && bind != nullptr && attach != nullptr &&
           check != nullptr && genRenderbuffer != nullptr && removeRenderbuffer != nullptr &&
           bindRenderbuffer != nullptr && storeRenderbuffer != nullptr &&
           attachRenderbuffer != nullptr;
  }
};
FramebufferCalls framebuffers;
uint32_t framebufferCallsGeneration = 0;  // the context they were looked up in

bool hasExtension(const char* name) {
  return platform::listsExtension(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)), name);
}

int glMajorVersion() {
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  return version != nullptr && version[0] >= '1' && version[0] <= '9' ? version[0] - '0' : 1;
}

template <typename Fn>
Fn lookUp(const char* name, const char* suffix) {
  char full[64];
  std::snprintf(full, sizeof full, "%s%s", name, suffix);
  return reinterpret_cast<Fn>(SDL_GL_GetProcAddress(full));
}

// The framebuffer calls of the current context, or none (complete() false)
// where the driver has no framebuffer objects.
const FramebufferCalls& framebufferCalls() {
  if (framebufferCallsGeneration == state.glGeneration) return framebuffers;
  framebufferCallsGeneration = state.glGeneration;
  framebuffers = FramebufferCalls{};
  const char* suffix = nullptr;
  if (glMajorVersion() >= 3 || hasExtension("GL_ARB_framebuffer_object")) {
    suffix = "";
  } else if (hasExtension("GL_EXT_framebuffer_object")) {
    suffix = "EXT";
  }
  if (suffix == nullptr) return framebuffers;
  framebuffers.gen = lookUp<GenFramebuffersFn>("glGenFramebuffers", suffix);
  framebuffers.remove = lookUp<DeleteFramebuffersFn>("glDeleteFramebuffers", suffix);
  framebuffers.bind = lookUp<BindFramebufferFn>("glBindFramebuffer", suffix);
  framebuffers.attach = lookUp<FramebufferTexture2DFn>("glFramebufferTexture2D", suffix);
  framebuffers.check = lookUp<CheckFramebufferStatusFn>("glCheckFramebufferStatus", suffix);
  framebuffers.genRenderbuffer = lookUp<GenRenderbuffersFn>("glGenRenderbuffers", suffix);
  framebuffers.removeRenderbuffer = lookUp<DeleteRenderbuffersFn>("glDeleteRenderbuffers", suffix);
  framebuffers.bindRenderbuffer = lookUp<BindRenderbufferFn>("glBindRenderbuffer", suffix);
  framebuffers.storeRenderbuffer = lookUp<RenderbufferStorageFn>("glRenderbufferStorage", suffix);
  framebuffers.attachRenderbuffer =
      lookUp<FramebufferRenderbufferFn>("glFramebufferRenderbuffer", suffix);
  return framebuffers;
}

// The fragment program that draws the frame into the window: the texel, as
// it is. Fixed-function texturing gives the same pixels, but divides every
// texture coordinate by q, which costs a software rasteriser a division a
// pixel and keeps llvmpipe's linear path (a rectangle, a texture and target
// in its byte order, no depth buffer) out of reach. 0 where the driver has no
// GL_ARB_fragment_program (fixed function then).
const char kCopyProgram[] =
    "!!ARBfp1.0\n"
    "TEX result.color, fragment.texcoord[0], texture[0], 2D;\n"
    "END\n";
struct CopyProgram {
  GLuint name = 0;
  BindProgramFn bind = nullptr;
  uint32_t generation = 0;  // the context it was made in
};
CopyProgram copyProgram;

const CopyProgram& copyProgramOfContext() {
  if (copyProgram.generation == state.glGeneration) return copyProgram;
  copyProgram = CopyProgram{};
  copyProgram.generation = state.glGeneration;
  if (!hasExtension("GL_ARB_fragment_program")) return copyProgram;
  const auto gen = reinterpret_cast<GenProgramsFn>(SDL_GL_GetProcAddress("glGenProgramsARB"));
  const auto bind = reinterpret_cast<BindProgramFn>(SDL_GL_GetProcAddress("glBindProgramARB"));
  const auto load = reinterpret_cast<ProgramStringFn>(SDL_GL_GetProcAddress("glProgramStringARB"));
  if (gen == nullptr || bind == nullptr || load == nullptr) return copyProgram;
  while (glGetError() != GL_NO_ERROR) {
  }
  GLuint name = 0;
  gen(1, &name);
  bind(kFragmentProgram, name);
  load(kFragmentProgram, kProgramFormatAscii, static_cast<GLsizei>(sizeof kCopyProgram - 1),
       kCopyProgram);
  // A program the driver refused is left unused.
  if (glGetError() == GL_NO_ERROR && name != 0) {
    copyProgram.name = name;
    copyProgram.bind = bind;
  }
  return copyProgram;
}

// Texture sides need not be powers of two from GL 2.0 on.
bool anySizeTextures() {
  return glMajorVersion() >= 2 || hasExtension("GL_ARB_texture_non_power_of_two");
}

bool scaled() {
  return glMode() &&
         (state.windowWidth != state.screenWidth || state.windowHeight != state.screenHeight);
}

// True while the scenes draw somewhere else than straight into the window:
// the window's picture is then made from the frame when it is presented.
bool frameApart() { return glMode() && state.frameTexture != 0; }

// Drawing goes to the frame's framebuffer object while there is one, else
// to the window.
void bindFrameTarget() {
  if (state.frameBuffer != 0) framebufferCalls().bind(kFramebufferTarget, state.frameBuffer);
}

void bindWindow() {
  if (state.frameBuffer != 0) framebufferCalls().bind(kFramebufferTarget, 0);
}

void releaseFrameTarget() {
  const FramebufferCalls& calls = framebufferCalls();
  if (state.frameBuffer != 0) {
    calls.bind(kFramebufferTarget, 0);
    const GLuint name = state.frameBuffer;
    calls.remove(1, &name);
  }
  if (state.frameDepthBuffer != 0) {
    const GLuint name = state.frameDepthBuffer;
    calls.removeRenderbuffer(1, &name);
  }
  if (state.frameTexture != 0) {
    const GLuint name = state.frameTexture;
    glDeleteTextures(1, &name);
  }
  state.frameBuffer = 0;
  state.frameDepthBuffer = 0;
  state.frameTexture = 0;
  state.frameTextureWidth = state.frameTextureHeight = 0;
}

// The frame's texture: the frame's exact size where GL takes any size, else
// the powers of two it fits in (the frame then in its bottom-left corner).
// Nearest sampling, clamped at the edges. Its bytes in the window's order
// (blue, green, red, alpha), so that the copy into the window is a copy of
// bytes to a software rasteriser. The alpha channel is never shown (no blend
// factor reads the destination's alpha).
void makeFrameTexture() {
  const bool anySize = anySizeTextures();
  const int width = anySize ? state.screenWidth : nextPowerOfTwo(state.screenWidth);
  const int height = anySize ? state.screenHeight : nextPowerOfTwo(state.screenHeight);
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, kClampToEdge);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, kClampToEdge);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, kBgra, GL_UNSIGNED_BYTE, nullptr);
  glBindTexture(GL_TEXTURE_2D, 0);
  state.frameTexture = name;
  state.frameTextureWidth = static_cast<uint16_t>(width);
  state.frameTextureHeight = static_cast<uint16_t>(height);
}

// The framebuffer object of the frame: its colour is the frame's texture,
// and it has a depth buffer, never tested, as the 640 x 480 window has one:
// llvmpipe fills rectangles by a cheaper path of its own (of other rounding
// when blended) in targets without one, and the scenes must come out in the
// frame exactly as in that window. 0 when GL refuses it.
GLuint makeFrameBuffer() {
  const FramebufferCalls& calls = framebufferCalls();
  if (!calls.complete()) return 0;
  GLuint depth = 0;
  calls.genRenderbuffer(1, &depth);
  calls.bindRenderbuffer(kRenderbufferTarget, depth);
  calls.storeRenderbuffer(kRenderbufferTarget, kDepthComponent16, state.frameTextureWidth,
                          state.frameTextureHeight);
  calls.bindRenderbuffer(kRenderbufferTarget, 0);
  GLuint name = 0;
  calls.gen(1, &name);
  calls.bind(kFramebufferTarget, name);
  calls.attach(kFramebufferTarget, kColorAttachment0, GL_TEXTURE_2D, state.frameTexture, 0);
  calls.attachRenderbuffer(kFramebufferTarget, kDepthAttachment, kRenderbufferTarget, depth);
  if (name != 0 && depth != 0 && calls.check(kFramebufferTarget) == kFramebufferComplete) {
    state.frameDepthBuffer = depth;
    return name;
  }
  calls.bind(kFramebufferTarget, 0);
  if (name != 0) calls.remove(1, &name);
  if (depth != 0) calls.removeRenderbuffer(1, &depth);
  return 0;
}

// Whether the window's own framebuffer has a depth buffer. A window made for
// a scaled frame has none, and keeps none when SDL only resizes it (keeping
// the context) for the 640 x 480 window.
bool windowHasDepthBuffer() {
  bindWindow();
  GLint bits = 0;
  glGetIntegerv(GL_DEPTH_BITS, &bits);
  return bits > 0;
}

// Sets up where the scenes draw for the mode just set: with the frame shown
// scaled, a framebuffer object whose colour is the frame's texture (the
// scenes draw into it as into a 640 x 480 window, and presenting draws it
// once, scaled, into the window); without framebuffer objects the frame is
// drawn in the window's bottom-left corner and copied into the texture when
// presented. Unscaled, the window itself, or the framebuffer object copied
// one to one where the window has no depth buffer.
void prepareFrameTarget() {
  if (!scaled() && windowHasDepthBuffer()) {
    releaseFrameTarget();
    return;
  }
  if (state.frameTexture != 0 && state.frameTextureWidth >= state.screenWidth &&
      state.frameTextureHeight >= state.screenHeight) {
    bindFrameTarget();
    return;
  }
  releaseFrameTarget();
  makeFrameTexture();
  state.frameBuffer = makeFrameBuffer();
  // Unscaled, a copy of the window into itself would change nothing.
  if (state.frameBuffer == 0 && !scaled()) releaseFrameTarget();
  // The window's back buffer starts black; so does the frame.
  if (state.frameBuffer != 0) glClear(GL_COLOR_BUFFER_BIT);
}

void frameProjection() {
  glViewport(0, 0, state.screenWidth, state.screenHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, state.screenWidth, state.screenHeight, 0, 0, 1);
  glMatrixMode(GL_MODELVIEW);
}

// A window with bars shows each frame by copying the picture's rectangle out
// of the back buffer where the window system can (no swap, so the back
// buffer keeps what it holds): the bars are then drawn and shown once after
// a change of mode rather than every frame, which in full screen is about as
// many pixels again as the picture. presentByRegion: that way is in use;
// barsKept: the back buffer holds the bars; wholeWindowDue: the next
// presented frame shows the whole window (after a change of mode, and when
// the window system lost what the window showed).
bool presentByRegion = false;
bool barsKept = false;
bool wholeWindowDue = true;

// Where GL draws on the CPU, the window's picture is made from the frame by
// the program's own code and handed to the window system
// (platform::putPicture) instead of drawn by GL: the rasteriser's texture
// path samples every window pixel on its own, where a whole scale only
// repeats each frame pixel. presentOnCpu: that way is in use; frameCopy:
// the frame read back from its framebuffer object.
bool presentOnCpu = false;
std::vector<uint32_t> frameCopy;

// Whether the scaled frame leaves part of the window uncovered.
bool windowHasBars() {
  return state.windowWidth != state.screenWidth * state.frameScale ||
         state.windowHeight != state.screenHeight * state.frameScale;
}

void quad(int left, int top, int right, int bottom) {
  glVertex2i(left, top);
  glVertex2i(left, bottom);
  glVertex2i(right, bottom);
  glVertex2i(right, top);
}

// Draws the window's picture into the window's back buffer: the frame
// frameScale times larger with nearest-neighbour sampling (every window
// pixel takes exactly one frame pixel), unblended, untinted, with black bars
// where it does not cover the window. Leaves the window bound with its
// viewport and projection.
void drawWindowPicture() {
  if (state.frameBuffer != 0) {
    bindWindow();
  } else {
    // The frame was drawn in the window's bottom-left corner.
    glBindTexture(GL_TEXTURE_2D, state.frameTexture);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, state.screenWidth, state.screenHeight);
  }
  glViewport(0, 0, state.windowWidth, state.windowHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, state.windowWidth, state.windowHeight, 0, 0, 1);
  glMatrixMode(GL_MODELVIEW);
  glDisable(GL_BLEND);
  const int left = state.frameLeft;
  const int top = state.frameTop;
  const int right = left + state.screenWidth * state.frameScale;
  const int bottom = top + state.screenHeight * state.frameScale;
  const int width = state.windowWidth;
  const int height = state.windowHeight;
  // The bars, drawn as black rectangles rather than cleared: only the bars'
  // pixels are written, not the whole window's (the frame covers the rest).
  // Where the picture is presented without a swap the back buffer keeps
  // them, and they are drawn once after each change of mode.
  if (windowHasBars() && !barsKept) {
    glBindTexture(GL_TEXTURE_2D, 0);
    glColor4f(0, 0, 0, 1);
    glBegin(GL_QUADS);
    if (top > 0) quad(0, 0, width, top);
    if (bottom < height) quad(0, bottom, width, height);
    if (left > 0) quad(0, top, left, bottom);
    if (right < width) quad(right, top, width, bottom);
    glEnd();
    glColor4f(1, 1, 1, 1);
    barsKept = presentByRegion;
  }
  glBindTexture(GL_TEXTURE_2D, state.frameTexture);
  GLint envMode = GL_MODULATE;
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  const CopyProgram& program = copyProgramOfContext();
  if (program.name != 0) {
    program.bind(kFragmentProgram, program.name);
    glEnable(kFragmentProgram);
  }
  const float u = static_cast<float>(state.screenWidth) / state.frameTextureWidth;
  const float v = static_cast<float>(state.screenHeight) / state.frameTextureHeight;
  // Texture rows count from the bottom, as the frame's rows do in GL.
  glBegin(GL_QUADS);
  glTexCoord2f(0, v);
  glVertex2i(left, top);
  glTexCoord2f(0, 0);
  glVertex2i(left, bottom);
  glTexCoord2f(u, 0);
  glVertex2i(right, bottom);
  glTexCoord2f(u, v);
  glVertex2i(right, top);
  glEnd();
  if (program.name != 0) glDisable(kFragmentProgram);
  glEnable(GL_BLEND);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, static_cast<GLfloat>(envMode));
  glBindTexture(GL_TEXTURE_2D, 0);
}

// Back to drawing the frame: its framebuffer object (when there is one),
// viewport and projection, as the scenes expect them.
void backToFrame() {
  bindFrameTarget();
  frameProjection();
}

void composeScaled() {
  drawWindowPicture();
  backToFrame();
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

// Writes one frame row twice as wide into two picture rows, each pixel as a
// pair. With SSE2, four frame pixels at a time written past the
// processor's cache (the X server reads them, this process does not): the
// lines need not be fetched first, which a store into memory another core
// has just read would wait for.
void doubleRow(const uint32_t* from, int width, uint32_t* to, uint32_t* below) {
  int x = 0;
#if defined(__SSE2__)
  const bool aligned =
      ((reinterpret_cast<uintptr_t>(to) | reinterpret_cast<uintptr_t>(below)) & 15) == 0;
  for (; aligned && x + 4 <= width; x += 4) {
    const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
    const __m128i left = _mm_unpacklo_epi32(four, four);
    const __m128i right = _mm_unpackhi_epi32(four, four);
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + 2 * x), left);
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + 2 * x + 4), right);
    _mm_stream_si128(reinterpret_cast<__m128i*>(below + 2 * x), left);
    _mm_stream_si128(reinterpret_cast<__m128i*>(below + 2 * x + 4), right);
  }
#endif
  for (; x < width; ++x) {
    const uint64_t pair = from[x] * 0x100000001ull;
    std::memcpy(to + 2 * x, &pair, sizeof pair);
    std::memcpy(below + 2 * x, &pair, sizeof pair);
  }
}

// Writes the frame (rows from the bottom, as GL reads them) scale times
// larger into the picture (rows from the top, stride pixels apart): each
// frame pixel becomes a square of scale x scale, as nearest sampling at a
// whole scale makes it.
void magnify(const uint32_t* frame, int width, int height, int scale, uint32_t* picture,
             int stride) {
  const size_t rowBytes = sizeof(uint32_t) * static_cast<size_t>(width) * scale;
  for (int row = 0; row < height; ++row) {
    const uint32_t* from = frame + static_cast<size_t>(height - 1 - row) * width;
    uint32_t* to = picture + static_cast<size_t>(row) * scale * stride;
    if (scale == 2) {
      doubleRow(from, width, to, to + stride);
    } else {
      for (int x = 0; x < width; ++x) {
        for (int k = 0; k < scale; ++k) to[x * scale + k] = from[x];
      }
      for (int k = 1; k < scale; ++k) {
        std::memcpy(to + static_cast<size_t>(k) * stride, to, rowBytes);
      }
    }
  }
#if defined(__SSE2__)
  // The streamed stores are complete before the image is handed over.
  _mm_sfence();
#endif
}

// Shows the frame through platform::putPicture (the bars too when the
// whole window is due); false where that cannot be done (then never tried
// again in this mode).
bool presentPictureOnCpu() {
  const int scale = state.frameScale;
  const platform::PictureImage image =
      platform::pictureImage(state.screenWidth * scale, state.screenHeight * scale);
  if (image.pixels != nullptr) {
    frameCopy.resize(static_cast<size_t>(state.screenWidth) * state.screenHeight);
    bindFrameTarget();
    glReadPixels(0, 0, state.screenWidth, state.screenHeight, kBgra, GL_UNSIGNED_BYTE,
                 frameCopy.data());
    magnify(frameCopy.data(), state.screenWidth, state.screenHeight, scale, image.pixels,
            image.stride);
    if (platform::putPicture(state.frameLeft, state.frameTop, state.windowWidth, state.windowHeight,
                             wholeWindowDue && windowHasBars())) {
      wholeWindowDue = false;
      return true;
    }
  }
  // GL draws the picture from now on, as where the CPU does not draw.
  presentOnCpu = false;
  presentByRegion = windowHasBars();
  return false;
}

// Shows the composed picture by copying it out of the back buffer; false
// where that cannot be done (then never tried again in this mode).
bool presentRegion() {
  const int pictureWidth = state.screenWidth * state.frameScale;
  const int pictureHeight = state.screenHeight * state.frameScale;
  const bool whole = wholeWindowDue;
  // GL counts rows from the bottom of the window.
  const bool shown =
      whole ? platform::glPresentRegion(0, 0, state.windowWidth, state.windowHeight)
            : platform::glPresentRegion(state.frameLeft,
                                        state.windowHeight - state.frameTop - pictureHeight,
                                        pictureWidth, pictureHeight);
  if (shown) {
    wholeWindowDue = false;
  } else {
    presentByRegion = false;
    barsKept = false;
  }
  return shown;
}

void present() {
  if (glMode()) {
    if (frameApart()) {
      if (presentOnCpu && presentPictureOnCpu()) return;
      composeScaled();
      if (presentByRegion && presentRegion()) return;
    }
    SDL_GL_SwapBuffers();
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
  // Pixels of the old context's textures, in case the new mode loses it.
  holdTextures();
  platform::releasePicture();
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
    prepareFrameTarget();
    // Not when the scenes draw into the window itself (no framebuffer
    // object): they cover part of the bars every frame.
    presentOnCpu = state.frameBuffer != 0 && platform::glDrawsOnCpu();
    if (!presentOnCpu) std::vector<uint32_t>().swap(frameCopy);
    presentByRegion = !presentOnCpu && windowHasBars() && state.frameBuffer != 0;
    barsKept = false;
    wholeWindowDue = true;
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

uint16_t measuredFps() { return state.measuredFps100; }

void windowExposed() { wholeWindowDue = true; }

bool glMode() { return (state.videoFlags & kOpenGl) != 0 && state.glContextLive; }

void videoShutdown() {
  platform::releasePicture();
  presentOnCpu = false;
  std::vector<uint32_t>().swap(frameCopy);
  // The context goes with SDL_Quit, and its names with it.
  state.frameBuffer = 0;
  state.frameDepthBuffer = 0;
  state.frameTexture = 0;
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

std::vector<uint8_t> readWindow(int x, int y, int w, int h) {
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
  // A picture the program makes itself is read back from the window as the
  // X server shows it (rows from the top, blue first), after showing the
  // frame as it stands; all black where it cannot be (a window reaching
  // past the screen's edge).
  if (presentOnCpu && presentPictureOnCpu()) {
    std::vector<uint32_t> shown(static_cast<size_t>(w) * static_cast<size_t>(h));
    if (!platform::readShownPicture(x, state.windowHeight - y - h, w, h, shown.data())) {
      return pixels;
    }
    for (int row = 0; row < h; ++row) {
      for (int column = 0; column < w; ++column) {
        const uint32_t pixel = shown[static_cast<size_t>(h - 1 - row) * w + column];
        uint8_t* to = &pixels[(static_cast<size_t>(row) * w + column) * 4];
        to[0] = static_cast<uint8_t>(pixel >> 16);
        to[1] = static_cast<uint8_t>(pixel >> 8);
        to[2] = static_cast<uint8_t>(pixel);
        to[3] = 255;
      }
    }
    return pixels;
  }
  if (frameApart()) drawWindowPicture();
  glFinish();
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  if (frameApart()) backToFrame();
  return pixels;
}

}  // namespace testing
}  // namespace render
