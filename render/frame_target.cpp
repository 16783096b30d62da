#include "render/frame_target.h"

#include "render/draw_list.h"
#include "render/gl_calls.h"
#include "render/image.h"
#include "render/video.h"

namespace render {
namespace {

// While the scenes draw apart from the window: the texture that holds the
// frame (textureWidth x textureHeight, the frame in its bottom-left corner)
// and the framebuffer object the scenes draw into, whose colour it is, with
// its depth buffer (buffer 0 where GL has no framebuffer objects: the frame
// is then drawn in the window and copied into the texture). All 0 while the
// scenes draw straight into the window. Names of the current context,
// dropped without deleting when it goes.
struct FrameTarget {
  GLuint texture = 0;
  GLuint buffer = 0;
  GLuint depthBuffer = 0;
  int textureWidth = 0;
  int textureHeight = 0;
};
FrameTarget target;

// The fragment program that draws the frame into the window: the texel, as
// it is. Fixed-function texturing gives the same pixels, but divides every
// texture coordinate by q, which costs a software rasteriser a division a
// pixel and keeps llvmpipe's linear path (a rectangle, a texture and target
// in its byte order, no depth buffer) out of reach. name 0 where the driver
// has no GL_ARB_fragment_program or refused it (fixed function then). Made
// once per context, the first time the window's picture is drawn in it.
constexpr char kCopyProgram[] =
    "!!ARBfp1.0\n"
    "TEX result.color, fragment.texcoord[0], texture[0], 2D;\n"
    "END\n";
struct CopyProgram {
  GLuint name = 0;
  uint32_t generation = 0;  // the context it was made in
};
CopyProgram copyProgram;

GLuint copyProgramOfContext() {
  if (copyProgram.generation == video().glGeneration) return copyProgram.name;
  copyProgram = CopyProgram{0, video().glGeneration};
  const gl::FragmentProgramCalls& calls = gl::fragmentProgramCalls();
  if (!calls.complete()) return 0;
  while (glGetError() != GL_NO_ERROR) {
  }
  GLuint name = 0;
  calls.gen(1, &name);
  calls.bind(gl::kFragmentProgram, name);
  calls.load(gl::kFragmentProgram, gl::kProgramFormatAscii,
             static_cast<GLsizei>(sizeof kCopyProgram - 1), kCopyProgram);
  if (glGetError() == GL_NO_ERROR && name != 0) copyProgram.name = name;
  return copyProgram.name;
}

bool scaled() {
  const VideoState& v = video();
  return glMode() && (v.windowWidth != v.screenWidth || v.windowHeight != v.screenHeight);
}

// Drawing goes to the frame's framebuffer object while there is one, else
// to the window.
void bindFrameTarget() {
  if (target.buffer != 0) gl::framebufferCalls().bind(gl::kFramebufferTarget, target.buffer);
}

void bindWindow() {
  if (target.buffer != 0) gl::framebufferCalls().bind(gl::kFramebufferTarget, 0);
}

void releaseFrameTarget() {
  const gl::FramebufferCalls& calls = gl::framebufferCalls();
  if (target.buffer != 0) {
    calls.bind(gl::kFramebufferTarget, 0);
    calls.remove(1, &target.buffer);
  }
  if (target.depthBuffer != 0) calls.removeRenderbuffer(1, &target.depthBuffer);
  if (target.texture != 0) glDeleteTextures(1, &target.texture);
  target = FrameTarget{};
}

// The frame's texture: the frame's exact size where GL takes any size, else
// the powers of two it fits in (the frame then in its bottom-left corner).
// Nearest sampling, clamped at the edges. Its bytes in the window's order
// (blue, green, red, alpha), so that the copy into the window is a copy of
// bytes to a software rasteriser. The alpha channel is never shown (no blend
// factor reads the destination's alpha).
void makeFrameTexture() {
  const VideoState& v = video();
  const bool anySize = anySizeTextures();
  const int width = anySize ? v.screenWidth : nextPowerOfTwo(v.screenWidth);
  const int height = anySize ? v.screenHeight : nextPowerOfTwo(v.screenHeight);
  glGenTextures(1, &target.texture);
  glBindTexture(GL_TEXTURE_2D, target.texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, gl::kClampToEdge);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, gl::kClampToEdge);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, gl::kBgra, GL_UNSIGNED_BYTE, nullptr);
  glBindTexture(GL_TEXTURE_2D, 0);
  target.textureWidth = width;
  target.textureHeight = height;
}

// The framebuffer object of the frame: its colour is the frame's texture,
// and it has a depth buffer, never tested, as the 640 x 480 window has one:
// llvmpipe fills rectangles by a cheaper path of its own (of other rounding
// when blended) in targets without one, and the scenes must come out in the
// frame exactly as in that window. Left at 0 when GL refuses it.
void makeFrameBuffer() {
  const gl::FramebufferCalls& calls = gl::framebufferCalls();
  if (!calls.complete()) return;
  GLuint depth = 0;
  calls.genRenderbuffer(1, &depth);
  calls.bindRenderbuffer(gl::kRenderbufferTarget, depth);
  calls.storeRenderbuffer(gl::kRenderbufferTarget, gl::kDepthComponent16, target.textureWidth,
                          target.textureHeight);
  calls.bindRenderbuffer(gl::kRenderbufferTarget, 0);
  GLuint name = 0;
  calls.gen(1, &name);
  calls.bind(gl::kFramebufferTarget, name);
  calls.attach(gl::kFramebufferTarget, gl::kColorAttachment0, GL_TEXTURE_2D, target.texture, 0);
  calls.attachRenderbuffer(gl::kFramebufferTarget, gl::kDepthAttachment, gl::kRenderbufferTarget,
                           depth);
  if (name != 0 && depth != 0 && calls.check(gl::kFramebufferTarget) == gl::kFramebufferComplete) {
    target.buffer = name;
    target.depthBuffer = depth;
    return;
  }
  calls.bind(gl::kFramebufferTarget, 0);
  if (name != 0) calls.remove(1, &name);
  if (depth != 0) calls.removeRenderbuffer(1, &depth);
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

// A projection of window pixels: origin top-left, y down.
void pixelProjection(int width, int height) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, width, height, 0, 0, 1);
  glMatrixMode(GL_MODELVIEW);
}

void quad(int left, int top, int right, int bottom) {
  glVertex2i(left, top);
  glVertex2i(left, bottom);
  glVertex2i(right, bottom);
  glVertex2i(right, top);
}

// The bars around the picture (left, top, right, bottom), drawn as black
// rectangles rather than cleared: only the bars' pixels are written, not
// the whole window's (the frame covers the rest).
void drawBars(int left, int top, int right, int bottom) {
  const int width = video().windowWidth;
  const int height = video().windowHeight;
  glBindTexture(GL_TEXTURE_2D, 0);
  glColor4f(0, 0, 0, 1);
  glBegin(GL_QUADS);
  if (top > 0) quad(0, 0, width, top);
  if (bottom < height) quad(0, bottom, width, height);
  if (left > 0) quad(0, top, left, bottom);
  if (right < width) quad(right, top, width, bottom);
  glEnd();
  glColor4f(1, 1, 1, 1);
}

// The frame's texture drawn over (left, top, right, bottom), every texel as
// it is: unblended, untinted.
void drawFrameTexture(int left, int top, int right, int bottom) {
  glBindTexture(GL_TEXTURE_2D, target.texture);
  GLint envMode = GL_MODULATE;
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  const GLuint program = copyProgramOfContext();
  if (program != 0) {
    gl::fragmentProgramCalls().bind(gl::kFragmentProgram, program);
    glEnable(gl::kFragmentProgram);
  }
  const float u = static_cast<float>(video().screenWidth) / target.textureWidth;
  const float v = static_cast<float>(video().screenHeight) / target.textureHeight;
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
  if (program != 0) glDisable(gl::kFragmentProgram);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, static_cast<GLfloat>(envMode));
  glBindTexture(GL_TEXTURE_2D, 0);
}

}  // namespace

// With the frame shown scaled, a framebuffer object whose colour is the
// frame's texture (the scenes draw into it as into a 640 x 480 window, and
// presenting draws it once, scaled, into the window); without framebuffer
// objects the frame is drawn in the window's bottom-left corner and copied
// into the texture when presented. Unscaled, the window itself, or the
// framebuffer object copied one to one where the window has no depth
// buffer.
void prepareFrameTarget(bool contextNew) {
  if (contextNew) target = FrameTarget{};
  const VideoState& v = video();
  if (!scaled() && windowHasDepthBuffer()) {
    releaseFrameTarget();
    return;
  }
  if (target.texture != 0 && target.textureWidth >= v.screenWidth &&
      target.textureHeight >= v.screenHeight) {
    bindFrameTarget();
    return;
  }
  releaseFrameTarget();
  makeFrameTexture();
  makeFrameBuffer();
  // Unscaled, a copy of the window into itself would change nothing.
  if (target.buffer == 0 && !scaled()) releaseFrameTarget();
  // The window's back buffer starts black; so does the frame.
  if (target.buffer != 0) glClear(GL_COLOR_BUFFER_BIT);
}

bool windowHasBars() {
  const VideoState& v = video();
  return v.windowWidth != v.screenWidth * v.frameScale ||
         v.windowHeight != v.screenHeight * v.frameScale;
}

bool frameApart() { return glMode() && target.texture != 0; }

bool frameInFramebuffer() { return target.buffer != 0; }

void composeWindow(bool bars) {
  drawlist::flush();
  const VideoState& v = video();
  if (target.buffer != 0) {
    bindWindow();
  } else {
    // The frame was drawn in the window's bottom-left corner.
    glBindTexture(GL_TEXTURE_2D, target.texture);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, v.screenWidth, v.screenHeight);
  }
  pixelProjection(v.windowWidth, v.windowHeight);
  glDisable(GL_BLEND);
  const int left = v.frameLeft;
  const int top = v.frameTop;
  const int right = left + v.screenWidth * v.frameScale;
  const int bottom = top + v.screenHeight * v.frameScale;
  if (bars) drawBars(left, top, right, bottom);
  drawFrameTexture(left, top, right, bottom);
  glEnable(GL_BLEND);
}

void backToFrame() {
  bindFrameTarget();
  pixelProjection(video().screenWidth, video().screenHeight);
}

void readFrameRows(int row, int count, uint32_t* pixels) {
  drawlist::flush();
  bindFrameTarget();
  glReadPixels(0, row, video().screenWidth, count, gl::kBgra, GL_UNSIGNED_BYTE, pixels);
}

void readBackBuffer(int x, int y, int w, int h, uint8_t* rgba) {
  drawlist::flush();
  glFinish();
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
}

void forgetFrameTarget() { target = FrameTarget{}; }

}  // namespace render
