// How a GL mode's frame reaches the window, and the state that decides it.
// The scenes draw a frame of screenWidth x screenHeight (video.h); in a
// window of that size they draw straight into the window, which is swapped.
// Otherwise they draw apart (frame_target.h) and each presented frame shows
// the frame frameScale times larger at (frameLeft, frameTop), black bars
// around it. State of the current mode, set by setVideoMode through
// prepareFrame.
#pragma once

#include <cstdint>
#include <vector>

namespace render {

// How a frame of a GL mode is presented:
// - Swap: a GL swap of the window, into which a frame drawn apart is first
//   composed (scaled, with its bars).
// - Region: composed as for Swap, then only the picture's rectangle copied
//   out of the back buffer (platform::glPresentRegion): no swap, so the back
//   buffer keeps the bars, drawn once after each change of mode.
// - CpuPicture: where GL draws on the CPU, the frame read back, magnified by
//   the CPU (magnify.h) and put into the window by the window system
//   (platform::putPicture); no swap.
// In rising order of preference: the mode picks the best it allows, and a
// way the window system refuses is given up for the next one down until the
// mode changes.
enum class Presentation : uint8_t { Swap, Region, CpuPicture };

// Before the mode changes: lets go of the picture made for the old window.
void beforeModeChange();
// After a GL mode was set (contextNew: in a new context, the names of the
// old one gone with it): sets up where the scenes draw, binds it, and picks
// the presentation; the next frame shows the whole window.
void prepareFrame(bool contextNew);
// Presents the frame (GL mode only) and leaves the scenes' target bound.
void presentFrame();
// The way in use.
Presentation presentation();
// The next presented frame shows the whole window again (the window system
// lost what it showed).
void showWholeWindowNext();
// The GL context is about to go (SDL_Quit): its names are forgotten, not
// deleted, and the CPU's picture is let go.
void forgetFrame();

namespace testing {
// Draws the window's picture (the scaled frame and black bars) into the
// window's back buffer without presenting it, as the next paceFrame would,
// and reads the rectangle (x, y, w, h) of it (GL's coordinates, bottom-up)
// as RGBA bytes; drawing then goes on into the frame as before. With the
// CpuPicture presentation, the frame is presented and the rectangle read
// back from what the window system shows.
std::vector<uint8_t> readWindow(int x, int y, int w, int h);
// Gives up the presentation in use as if the window system had refused it:
// the next best is used until the mode changes.
void refusePresentation();
}  // namespace testing

}  // namespace render
