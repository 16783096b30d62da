// The frame's drawing kept as a list and drawn once the frame is done, only
// where it differs from the frame before. Where GL draws on the CPU every
// shaded pixel costs, and most of a menu's picture (its panels, labels and
// the backdrop under them) is the same from one frame to the next: only the
// pixels under primitives that moved or changed are drawn again; the rest is
// what the frame before showed. The pixels are those that drawing the whole
// list would give.
//
// The drawing primitives (draw.cpp, the screen layers) make their GL calls
// through the functions below. While the list is kept (keeping()) they are
// recorded; otherwise they go to GL at once. Anyone else who uses GL while a
// frame is being drawn (a texture made, changed or deleted, the framebuffer
// read) calls flush() first, which draws what was recorded in full.
#pragma once

#include <cstdint>

namespace render::drawlist {

// The program asks for the list once; it is kept in GL modes whose driver
// draws on the CPU. Off by default (tests that read the framebuffer with GL
// calls of their own see every primitive drawn at once).
void enable(bool on);
// Whether primitives are recorded now rather than drawn.
bool keeping();

// The calls of a primitive, as GL's immediate mode takes them: colour and
// texture coordinate are current values that each vertex takes.
void begin(uint32_t mode);
void texCoord(float u, float v);
void colour(float red, float green, float blue, float alpha);
void vertex(double x, double y);
void end();
// The state primitives are drawn with.
void bindTexture(uint32_t name);
void blending(bool on);
void blendFunc(uint32_t source, uint32_t destination);
void texEnv(int mode);
// GL_TEXTURE_ENV_MODE as the next primitive will be drawn with it.
int currentTexEnv();

// Draws what was recorded of this frame in full, now.
void flush();
// The frame's drawing is done: what was recorded is drawn where the frame
// differs from the one before (in full when there is none to compare with),
// and what it shows is kept for the next.
void finishFrame();
// After the frame was presented (see draw_list.cpp).
void afterPresent();
// The frame was drawn but its present skipped (a late pass).
void presentSkipped();
// A texture's pixels changed (or the name now names another texture):
// primitives drawing it differ from those of the frame before.
void textureChanged(uint32_t name);
// The mode or the context changes: the frame before is of no use any more.
void forget();

namespace testing {
// Frames drawn only where they changed, since the program started.
int framesDrawnInPart();
}  // namespace testing

}  // namespace render::drawlist
