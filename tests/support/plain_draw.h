// The drawing as it is defined, done the plain immediate-mode way (blending
// on, one glBegin/glEnd per quad and per circle column), and whole-frame
// readback: the reference that the primitives' cheaper ways are compared
// with, pixel for pixel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace render {
struct GfxImage;
}

namespace testsupport {

using Frame = std::vector<uint8_t>;  // RGBA rows, bottom row first

// The whole 640 x 480 back buffer.
Frame readFrame();
// Where two frames first differ ("x,y: got r g b / want r g b", window
// coordinates), or "" when their colours are equal.
std::string firstDifference(const Frame& got, const Frame& want);
// Covers the screen with a fixed pattern in which neighbouring pixels
// differ, so that any change of blend or any pixel too many or too few shows.
void paintBackground();
// A quad of (x, y, w, h) in the current draw colour.
void plainRect(int x, int y, int w, int h);
// The source rectangle (srcX, srcY, srcW, srcH) of image as one textured
// quad, placed by the draw scale and centring, in the draw colour.
void plainImage(int x, int y, const render::GfxImage& image, int srcX, int srcY, int srcW,
                int srcH);
// One GL_LINES segment per column from cx - r to cx + r - 1, from cy - h to
// cy + h with h = sqrt(r^2 - i^2), both ends truncated.
void plainCircle(int cx, int cy, int r);

}  // namespace testsupport
