// The window's mode and the main loop's rhythm: setVideoMode opens the
// window (the frame's size, the window's, the frame's scale and place in it,
// the GL context), paceFrame waits for the frame's slot and presents the
// frame (frame_present.h says how a GL frame reaches the window). One set of
// module state for the whole program.
#pragma once

#include <cstdint>

struct SDL_Surface;

namespace render {

// Bits of the video flag word that are the program's own; the rest are SDL
// 1.2 video flags. The whole word goes to SDL_SetVideoMode unchanged.
inline constexpr uint32_t kHwSurface = 0x0001;        // SDL_HWSURFACE
inline constexpr uint32_t kOpenGl = 0x0002;           // SDL_OPENGL
inline constexpr uint32_t kAsyncBlit = 0x0004;        // SDL_ASYNCBLIT
inline constexpr uint32_t kHalfRate = 0x0100;         // 30 fps instead of 60
inline constexpr uint32_t kLowDepth = 0x0200;         // 16 bpp instead of 32
inline constexpr uint32_t kFrameSkip = 0x1000;        // skip frames to catch up
inline constexpr uint32_t kFullscreen = 0x80000000u;  // SDL_FULLSCREEN

struct VideoState {
  uint32_t videoFlags = 0;
  uint8_t videoDepth = 0;
  SDL_Surface* screenSurface = nullptr;  // null in GL mode
  uint8_t targetFrameRate = 0;
  float frameTimeMs = 0;      // exact frame period
  uint32_t frameDelayMs = 0;  // whole-millisecond period used for waiting
  bool drawEnabled = true;    // false while the current frame is skipped
  uint32_t lastFrameTicks = 0;
  uint32_t lagMs = 0;
  uint32_t fpsWindowStart = 0;
  uint16_t fpsFrameCount = 2;
  uint16_t measuredFps100 = 0;  // 5987 = 59.87 frames per second
  bool glContextLive = false;   // a GL context exists and may be called
  uint16_t screenWidth = 0;     // size of the mode last set, in pixels
  uint16_t screenHeight = 0;
  // Counts the GL contexts made: GL names kept from an earlier context are
  // not valid in the current one.
  uint32_t glGeneration = 0;
  // The window the frame is shown in, in window pixels: the frame is drawn
  // at screenWidth x screenHeight in the window's bottom-left corner, then
  // shown frameScale times larger, nearest-neighbour, with its top-left
  // corner at (frameLeft, frameTop) and black around it.
  uint16_t windowWidth = 0;
  uint16_t windowHeight = 0;
  uint8_t frameScale = 1;
  uint16_t frameLeft = 0;
  uint16_t frameTop = 0;
  // The desktop's size as SDL saw it before the first mode was set.
  uint16_t desktopWidth = 0;
  uint16_t desktopHeight = 0;
};

const VideoState& video();

// Opens the window's surface. Returns false when SDL could not set the mode;
// the caller decides how to end.
// The scenes draw in width x height; a window of windowWidth x windowHeight
// (0: the frame's size) shows the frame at the largest whole scale that fits,
// centred (GL mode only; the software back end always opens width x height).
// Textures of GfxImages survive a change of mode (see image.h). Where SDL
// only resizes the window it keeps the GL context and the window's buffers
// as they were made: the window is made for the picture it first shows (a
// scaled one has no depth buffer), and a later change of size still shows
// every picture the same, at a higher cost.
bool setVideoMode(uint16_t width, uint16_t height, uint8_t depth, uint32_t flags,
                  uint16_t windowWidth = 0, uint16_t windowHeight = 0);
// Records desktopWidth and desktopHeight as SDL sees them before the first
// mode is set (setVideoMode does it too); later calls change nothing.
void noteDesktopSize();
// The scale and placement that fit a frame into a window: the largest whole
// scale (at least 1), centred.
struct FramePlacement {
  int scale, left, top;
};
FramePlacement placeFrame(int frameW, int frameH, int windowW, int windowH);
// A point of the window (a mouse position) in frame pixels; points on the
// bars are clamped to the frame's edge.
void windowToFrame(int& x, int& y);
void setFrameRate(uint8_t fps);
// Waits for the frame slot, decides whether the coming frame is skipped and
// presents the picture. Returns drawEnabled.
bool paceFrame();
uint16_t measuredFps();
// The window system lost what the window showed (SDL_VIDEOEXPOSE): the next
// presented frame shows the whole window again.
void windowExposed();
// True when drawing goes through OpenGL (no software screen surface).
bool glMode();
// Called before SDL_Quit: the GL context is about to go away, so owners of
// textures must not call into GL any more.
void videoShutdown();

namespace testing {
// Test access to the module state and the clock, so that the pacing
// arithmetic can be driven tick by tick.
VideoState& mutableVideo();
void setClock(uint32_t (*ticks)(), void (*delay)(uint32_t));
void resetClock();
}  // namespace testing

}  // namespace render
