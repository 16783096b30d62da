#include "render/frame_present.h"

#include <SDL.h>

#include <algorithm>

#include "platform/platform.h"
#include "render/frame_target.h"
#include "render/magnify.h"
#include "render/video.h"

namespace render {
namespace {

// Rows of the frame read back at a time for the CPU's picture.
constexpr int kBandRows = 48;

// How frames are presented in the current mode; set by prepareFrame, and
// through usePresentation only.
struct Presenter {
  Presentation way = Presentation::Swap;
  bool barsKept = false;        // Region: the back buffer holds the bars
  bool wholeWindowDue = true;   // after a change of mode or an expose
  std::vector<uint32_t> frame;  // CpuPicture: a band of the frame read back, else empty
};
Presenter presenter;

// Draws the window's picture into the back buffer, with the bars unless it
// kept them.
void compose() {
  const bool bars = windowHasBars() && !presenter.barsKept;
  composeWindow(bars);
  if (bars) presenter.barsKept = presenter.way == Presentation::Region;
}

// The one place the presentation changes.
void usePresentation(Presentation way) {
  presenter.way = way;
  presenter.barsKept = false;
  if (way != Presentation::CpuPicture) std::vector<uint32_t>().swap(presenter.frame);
}

// The best way the mode allows, from `best` down: the CPU's picture where GL
// draws on the CPU and the scenes draw into a framebuffer object (drawn in
// the window itself, they cover part of the bars every frame); a region
// where the picture leaves bars; else a swap.
Presentation bestPresentation(Presentation best) {
  if (!frameInFramebuffer()) return Presentation::Swap;
  if (best == Presentation::CpuPicture && platform::glDrawsOnCpu()) {
    return Presentation::CpuPicture;
  }
  if (best != Presentation::Swap && windowHasBars()) return Presentation::Region;
  return Presentation::Swap;
}

// Passes on whether the way in use showed the frame; a way the window
// system refused is given up for the next best until the mode changes.
bool shownElseFallBack(bool shown) {
  if (!shown) {
    usePresentation(presenter.way == Presentation::CpuPicture
                        ? bestPresentation(Presentation::Region)
                        : Presentation::Swap);
  }
  return shown;
}

// Shows the frame through platform::putPicture (the bars too when the
// whole window is due); false where that cannot be done.
bool presentPictureOnCpu() {
  const VideoState& v = video();
  const int scale = v.frameScale;
  const platform::PictureImage image =
      platform::pictureImage(v.screenWidth * scale, v.screenHeight * scale);
  if (image.pixels == nullptr) return false;
  // Read and magnified a band of rows at a time: a whole frame's copy would
  // add its megabyte to the program's peak memory.
  const int band = std::min<int>(kBandRows, v.screenHeight);
  presenter.frame.resize(static_cast<size_t>(v.screenWidth) * band);
  for (int row = 0; row < v.screenHeight; row += band) {
    const int rows = std::min(band, v.screenHeight - row);
    readFrameRows(row, rows, presenter.frame.data());
    // Rows are counted from the bottom in the frame, from the top in the
    // picture.
    uint32_t* top =
        image.pixels + static_cast<size_t>(v.screenHeight - row - rows) * scale * image.stride;
    magnify(presenter.frame.data(), v.screenWidth, rows, scale, top, image.stride);
  }
  if (!platform::putPicture(v.frameLeft, v.frameTop, v.windowWidth, v.windowHeight,
                            presenter.wholeWindowDue && windowHasBars())) {
    return false;
  }
  presenter.wholeWindowDue = false;
  return true;
}

// Shows the composed picture by copying it out of the back buffer (GL
// counts its rows from the bottom of the window); false where that cannot
// be done.
bool presentRegion() {
  const VideoState& v = video();
  const int width = v.screenWidth * v.frameScale;
  const int height = v.screenHeight * v.frameScale;
  const bool shown = presenter.wholeWindowDue
                         ? platform::glPresentRegion(0, 0, v.windowWidth, v.windowHeight)
                         : platform::glPresentRegion(
                               v.frameLeft, v.windowHeight - v.frameTop - height, width, height);
  if (shown) presenter.wholeWindowDue = false;
  return shown;
}

}  // namespace

void beforeModeChange() { platform::releasePicture(); }

void prepareFrame(bool contextNew) {
  prepareFrameTarget(contextNew);
  usePresentation(bestPresentation(Presentation::CpuPicture));
  presenter.wholeWindowDue = true;
}

void presentFrame() {
  // A way refused falls back to the next, tried at once.
  if (frameApart()) {
    if (presenter.way == Presentation::CpuPicture && shownElseFallBack(presentPictureOnCpu())) {
      return;
    }
    compose();
    backToFrame();
    if (presenter.way == Presentation::Region && shownElseFallBack(presentRegion())) return;
  }
  SDL_GL_SwapBuffers();
}

Presentation presentation() { return presenter.way; }

void showWholeWindowNext() { presenter.wholeWindowDue = true; }

void forgetFrame() {
  platform::releasePicture();
  presenter = Presenter{};
  forgetFrameTarget();
}

namespace testing {
namespace {

// What the window system shows of the rectangle (GL's coordinates) as RGBA
// bytes, rows from the bottom; all black where it cannot be read (a window
// reaching past the screen's edge).
void readShownRgba(int x, int y, int w, int h, std::vector<uint8_t>& pixels) {
  std::vector<uint32_t> shown(static_cast<size_t>(w) * static_cast<size_t>(h));
  if (!platform::readShownPicture(x, video().windowHeight - y - h, w, h, shown.data())) return;
  for (int row = 0; row < h; ++row) {
    for (int column = 0; column < w; ++column) {
      // Rows from the top, blue first.
      const uint32_t pixel = shown[static_cast<size_t>(h - 1 - row) * w + column];
      uint8_t* to = &pixels[(static_cast<size_t>(row) * w + column) * 4];
      to[0] = static_cast<uint8_t>(pixel >> 16);
      to[1] = static_cast<uint8_t>(pixel >> 8);
      to[2] = static_cast<uint8_t>(pixel);
      to[3] = 255;
    }
  }
}

}  // namespace

std::vector<uint8_t> readWindow(int x, int y, int w, int h) {
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
  // A picture the program makes itself is read back from the window after
  // showing the frame as it stands.
  if (presenter.way == Presentation::CpuPicture && shownElseFallBack(presentPictureOnCpu())) {
    readShownRgba(x, y, w, h, pixels);
    return pixels;
  }
  if (frameApart()) compose();
  readBackBuffer(x, y, w, h, pixels.data());
  if (frameApart()) backToFrame();
  return pixels;
}

void refusePresentation() { shownElseFallBack(false); }

}  // namespace testing
}  // namespace render
