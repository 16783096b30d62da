// Where the scenes draw a GL mode's frame, and the window's picture composed
// from it by GL. In a window larger than the frame (or one without a depth
// buffer) the scenes draw into a texture of the frame's own, through a
// framebuffer object where GL has them, instead of into the window; the
// window's picture is that frame frameScale times larger at (frameLeft,
// frameTop), black bars around it. The GL names are the current context's
// and stay inside frame_target.cpp; frame_present.h decides how the picture
// is shown.
#pragma once

#include <cstdint>

namespace render {

// For the GL mode just set (contextNew: in a new context, the old one's
// names gone with it): makes, keeps or gives up the frame's own target and
// binds where the scenes draw.
void prepareFrameTarget(bool contextNew);
// Whether the scenes draw apart from the window: the window's picture is
// then made from the frame when it is presented.
bool frameApart();
// Whether they draw into a framebuffer object, never into the window.
bool frameInFramebuffer();
// Whether the scaled frame leaves part of the window uncovered.
bool windowHasBars();
// Draws the window's picture into the window's back buffer: the frame
// frameScale times larger with nearest-neighbour sampling (every window
// pixel takes exactly one frame pixel), unblended, untinted, and with
// `bars` black bars where it does not cover the window. Leaves the window
// bound with its viewport and projection.
void composeWindow(bool bars);
// Back to drawing the frame: its framebuffer object (when there is one),
// viewport and projection, as the scenes expect them.
void backToFrame();
// Reads the frame's rows [row, row + count) (counted from the bottom; each
// screenWidth pixels) as 32-bit pixels of the window's byte order: blue,
// green, red, alpha.
void readFrameRows(int row, int count, uint32_t* pixels);
// Reads a rectangle of the window's back buffer (GL's coordinates,
// bottom-up) as RGBA bytes, once GL has drawn everything asked of it.
void readBackBuffer(int x, int y, int w, int h, uint8_t* rgba);
// The context goes: its names are forgotten, not deleted.
void forgetFrameTarget();

}  // namespace render
