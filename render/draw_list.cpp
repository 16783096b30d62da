// The list, the comparison of two frames' lists, and the drawing of the
// parts of the picture that changed.
//
// A pixel that no differing primitive of either frame covers is covered by
// the same primitives, in the same order, with the same state, in both
// frames: it ends the same. So the frame is drawn only inside the boxes of
// the primitives that differ from their counterparts (the primitive at the
// same place in the frame before's list), each widened by a pixel and rounded
// out to cells of kCell pixels; there GL draws every primitive of the list
// that reaches the box, clipped to it by the scissor. Elsewhere the picture
// is the frame before's, still in the framebuffer object the scenes draw
// into, or in the window's back buffer where it is seen to outlive a swap
// (GL does not promise it; the software drivers keep it). Until then, and
// where it does not, frames are drawn whole.
#include "render/draw_list.h"

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/platform.h"
#include "render/frame_target.h"
#include "render/video.h"

namespace render::drawlist {
namespace {

constexpr int kCell = 16;
constexpr int kMaxCells = 128;  // a side of the grid; larger frames are drawn whole
// Past this share of the cells changed (percent), or this many boxes,
// drawing the frame whole costs less than drawing it box by box.
constexpr int kWholeAbovePercent = 70;
constexpr size_t kMaxBoxes = 48;
// Drawn with at most this many scissor boxes (see mergeBoxes).
constexpr size_t kScissorBoxes = 4;

// The state a primitive is drawn with. Only 32-bit fields, so that two are
// compared byte for byte.
struct State {
  uint32_t texture = 0;
  uint32_t textureStamp = 0;  // the texture's change count when recorded
  uint32_t blend = 1;
  uint32_t source = GL_SRC_ALPHA;
  uint32_t destination = GL_ONE_MINUS_SRC_ALPHA;
  int32_t env = GL_MODULATE;
};

// No padding either (8-byte fields first).
struct Vertex {
  double x;
  double y;
  float u;
  float v;
  float colour[4];
};

struct Box {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool meets(const Box& o) const {
    return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
  }
};

struct Command {
  State state;
  uint32_t mode = 0;
  uint32_t first = 0;  // into the list's vertices
  uint32_t count = 0;
  Box box;  // the pixels it may light, widened by a pixel
};

struct List {
  std::vector<Vertex> vertices;
  std::vector<Command> commands;
  void clear() {
    vertices.clear();
    commands.clear();
  }
};

struct Recorder {
  bool enabled = false;
  bool replaying = false;      // finishFrame or flush is drawing: calls go to GL
  uint32_t cpuGeneration = 0;  // the context cpuDrawing was read in
  bool cpuDrawing = false;
  List lists[2];
  int current = 0;
  bool previousValid = false;  // lists[1 - current] is the frame before
  bool drawnWhole = false;     // flushed during this frame
  size_t drawnUpTo = 0;        // commands of this frame already drawn
  bool open = false;
  Command openCommand;
  // What the next primitive is drawn with, while recording (GL's own state
  // is the last drawn primitive's until the list is drawn).
  bool stateKnown = false;
  State state;
  float colour[4] = {1, 1, 1, 1};
  float u = 0;
  float v = 0;
  std::vector<uint32_t> stamps;  // change count by texture name
  std::array<uint8_t, kMaxCells * kMaxCells> changed{};
  std::vector<Box> boxes;  // where this frame changed
  int partFrames = 0;      // frames drawn only where they changed
  // Whether the window's back buffer still holds the frame after it was
  // presented; learnt once per mode by marking a pixel of one frame.
  enum class Probe : uint8_t { Due, Marked, Kept, Lost } probe = Probe::Due;
  uint8_t probePixel[4] = {0, 0, 0, 0};  // what the marked pixel showed
};
// Never destroyed: screen layers and images of static storage let go of
// their textures (through flush and textureChanged) as the program ends,
// after this file's own statics would have been.
Recorder& rec = *new Recorder();

bool cpuDrawing() {
  const uint32_t generation = video().glGeneration;
  if (rec.cpuGeneration != generation) {
    rec.cpuGeneration = generation;
    rec.cpuDrawing = platform::glDrawsOnCpu();
  }
  return rec.cpuDrawing;
}

uint32_t stampOf(uint32_t name) { return name < rec.stamps.size() ? rec.stamps[name] : 0; }

// GL's current state, read when recording starts after anyone else used GL.
void learnState() {
  if (rec.stateKnown) return;
  GLint value = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
  rec.state.texture = static_cast<uint32_t>(value);
  rec.state.blend = glIsEnabled(GL_BLEND) == GL_TRUE ? 1 : 0;
  glGetIntegerv(GL_BLEND_SRC, &value);
  rec.state.source = static_cast<uint32_t>(value);
  glGetIntegerv(GL_BLEND_DST, &value);
  rec.state.destination = static_cast<uint32_t>(value);
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &value);
  rec.state.env = value;
  glGetFloatv(GL_CURRENT_COLOR, rec.colour);
  GLfloat coords[4] = {0, 0, 0, 1};
  glGetFloatv(GL_CURRENT_TEXTURE_COORDS, coords);
  rec.u = coords[0];
  rec.v = coords[1];
  rec.stateKnown = true;
}

// Sets GL's state to s where it differs from was (all of it when was is
// null).
void applyState(const State& s, const State* was) {
  if (was == nullptr || was->texture != s.texture) glBindTexture(GL_TEXTURE_2D, s.texture);
  if (was == nullptr || was->blend != s.blend) {
    if (s.blend != 0) {
      glEnable(GL_BLEND);
    } else {
      glDisable(GL_BLEND);
    }
  }
  if (was == nullptr || was->source != s.source || was->destination != s.destination) {
    glBlendFunc(s.source, s.destination);
  }
  if (was == nullptr || was->env != s.env) {
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, static_cast<GLfloat>(s.env));
  }
}

void scissor(const Box& b) {
  glScissor(b.left, video().screenHeight - b.bottom, b.right - b.left, b.bottom - b.top);
}

void emit(const List& list, const Command& c, float sent[4]) {
  glBegin(c.mode);
  for (uint32_t k = c.first; k < c.first + c.count; ++k) {
    const Vertex& p = list.vertices[k];
    if (std::memcmp(sent, p.colour, 4 * sizeof(float)) != 0) {
      std::memcpy(sent, p.colour, 4 * sizeof(float));
      glColor4f(p.colour[0], p.colour[1], p.colour[2], p.colour[3]);
    }
    glTexCoord2f(p.u, p.v);
    glVertex2d(p.x, p.y);
  }
  glEnd();
}

// Draws the commands [from, to) of the list: whole, or (boxes given) only
// inside those boxes, each command once for every box it reaches, clipped to
// it by the scissor. The boxes do not overlap, so every pixel still sees
// the commands in the list's order; going command by command keeps GL's
// state changes (which the software driver copies into the frame's data)
// as few as when the list is drawn whole. Then leaves GL in the state
// recording has reached.
void draw(const List& list, size_t from, size_t to, const std::vector<Box>* boxes) {
  const State* was = nullptr;
  float sent[4] = {-1, -1, -1, -1};
  if (boxes != nullptr) glEnable(GL_SCISSOR_TEST);
  for (size_t i = from; i < to; ++i) {
    const Command& c = list.commands[i];
    if (boxes == nullptr) {
      applyState(c.state, was);
      was = &c.state;
      emit(list, c, sent);
      continue;
    }
    for (const Box& b : *boxes) {
      if (!c.box.meets(b)) continue;
      applyState(c.state, was);
      was = &c.state;
      scissor(b);
      emit(list, c, sent);
    }
  }
  if (boxes != nullptr) glDisable(GL_SCISSOR_TEST);
  if (!rec.stateKnown) return;
  applyState(rec.state, was);
  glColor4f(rec.colour[0], rec.colour[1], rec.colour[2], rec.colour[3]);
  glTexCoord2f(rec.u, rec.v);
}

Box boxOf(const Vertex* p, uint32_t count) {
  double left = p[0].x;
  double right = p[0].x;
  double top = p[0].y;
  double bottom = p[0].y;
  for (uint32_t k = 1; k < count; ++k) {
    left = std::min(left, p[k].x);
    right = std::max(right, p[k].x);
    top = std::min(top, p[k].y);
    bottom = std::max(bottom, p[k].y);
  }
  // A pixel more each way: a line lights the column left of its x, a point
  // the pixel it falls in; kept within int for any coordinate.
  const auto clampInt = [](double d) { return static_cast<int>(std::clamp(d, -1e8, 1e8)); };
  return {clampInt(std::floor(left)) - 1, clampInt(std::floor(top)) - 1,
          clampInt(std::ceil(right)) + 2, clampInt(std::ceil(bottom)) + 2};
}

struct Grid {
  int columns;
  int rows;
};

Grid gridOf() {
  const VideoState& v = video();
  return {(v.screenWidth + kCell - 1) / kCell, (v.screenHeight + kCell - 1) / kCell};
}

void markBox(const Grid& g, const Box& b) {
  const int left = std::max(b.left, 0) / kCell;
  const int top = std::max(b.top, 0) / kCell;
  const int right = std::min((std::max(b.right, 0) + kCell - 1) / kCell, g.columns);
  const int bottom = std::min((std::max(b.bottom, 0) + kCell - 1) / kCell, g.rows);
  for (int r = top; r < bottom; ++r) {
    for (int c = left; c < right; ++c) rec.changed[r * kMaxCells + c] = 1;
  }
}

// Vertices a primitive of the mode takes when a command holds several.
uint32_t groupSize(uint32_t mode) {
  switch (mode) {
    case GL_TRIANGLES:
      return 6;  // an image batch's quads
    case GL_QUADS:
      return 4;
    case GL_LINES:
      return 2;
    case GL_POINTS:
      return 1;
    default:
      return 0;  // one primitive: the strip as a whole
  }
}

// Marks the cells where this frame's command a and the frame before's b
// (either may be missing) may light different pixels.
void markDifference(const Grid& g, const List& now, const Command* a, const List& before,
                    const Command* b) {
  if (a != nullptr && b != nullptr && std::memcmp(&a->state, &b->state, sizeof(State)) == 0 &&
      a->mode == b->mode && a->count == b->count) {
    const Vertex* pa = &now.vertices[a->first];
    const Vertex* pb = &before.vertices[b->first];
    if (std::memcmp(pa, pb, a->count * sizeof(Vertex)) == 0) return;
    const uint32_t n = groupSize(a->mode);
    if (n != 0 && a->count % n == 0) {
      for (uint32_t k = 0; k < a->count; k += n) {
        if (std::memcmp(pa + k, pb + k, n * sizeof(Vertex)) == 0) continue;
        markBox(g, boxOf(pa + k, n));
        markBox(g, boxOf(pb + k, n));
      }
      return;
    }
  }
  if (a != nullptr) markBox(g, a->box);
  if (b != nullptr) markBox(g, b->box);
}

// The cells equal to `value` as rectangles: runs along each row, each joined
// to a box of the row above with the same columns. False when there are too
// many.
bool boxesOf(const Grid& g, uint8_t value, std::vector<Box>& out) {
  out.clear();
  const VideoState& v = video();
  for (int r = 0; r < g.rows; ++r) {
    const int top = r * kCell;
    const int bottom = std::min(top + kCell, static_cast<int>(v.screenHeight));
    for (int c = 0; c < g.columns;) {
      if (rec.changed[r * kMaxCells + c] != value) {
        ++c;
        continue;
      }
      int end = c + 1;
      while (end < g.columns && rec.changed[r * kMaxCells + end] == value) ++end;
      const int left = c * kCell;
      const int right = std::min(end * kCell, static_cast<int>(v.screenWidth));
      c = end;
      bool joined = false;
      for (Box& above : out) {
        if (above.left == left && above.right == right && above.bottom == top) {
          above.bottom = bottom;
          joined = true;
          break;
        }
      }
      if (joined) continue;
      if (out.size() >= kMaxBoxes) return false;
      out.push_back({left, top, right, bottom});
    }
  }
  return true;
}

int64_t area(const Box& b) { return static_cast<int64_t>(b.right - b.left) * (b.bottom - b.top); }

Box unionOf(const Box& a, const Box& b) {
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

// What the software driver keeps for a frame until it is drawn grows with
// every change of the scissor, and drawing command by command changes it
// once for every box a command meets: with a dozen boxes, the program's
// peak memory rose by over 10 MiB. So the boxes are merged down to
// kScissorBoxes (four: 2-3 MiB over drawing whole frames, and about a
// fifth more time than a dozen boxes), each time the two whose bounding box
// adds the fewest pixels. A merged box takes in every box it now meets:
// boxes must not overlap, or a pixel would be drawn twice.
void mergeBoxes(std::vector<Box>& boxes) {
  while (boxes.size() > kScissorBoxes) {
    size_t first = 0;
    size_t second = 1;
    int64_t best = std::numeric_limits<int64_t>::max();
    for (size_t i = 0; i < boxes.size(); ++i) {
      for (size_t j = i + 1; j < boxes.size(); ++j) {
        const int64_t added = area(unionOf(boxes[i], boxes[j])) - area(boxes[i]) - area(boxes[j]);
        if (added < best) {
          best = added;
          first = i;
          second = j;
        }
      }
    }
    Box merged = unionOf(boxes[first], boxes[second]);
    boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(second));
    boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(first));
    for (bool grew = true; grew;) {
      grew = false;
      for (size_t i = 0; i < boxes.size(); ++i) {
        if (!boxes[i].meets(merged)) continue;
        merged = unionOf(merged, boxes[i]);
        boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(i));
        grew = true;
        break;
      }
    }
    boxes.push_back(merged);
  }
}

enum class Change { Small, TooMuch };

// Marks the cells where this frame may differ from the one before, and
// makes them boxes (rec.boxes) when few enough changed to be worth it.
Change findChanges(const List& now, const List& before) {
  const Grid g = gridOf();
  if (g.columns > kMaxCells || g.rows > kMaxCells) return Change::TooMuch;
  std::fill(rec.changed.begin(), rec.changed.end(), 0);
  const size_t n = std::max(now.commands.size(), before.commands.size());
  for (size_t i = 0; i < n; ++i) {
    const Command* a = i < now.commands.size() ? &now.commands[i] : nullptr;
    const Command* b = i < before.commands.size() ? &before.commands[i] : nullptr;
    markDifference(g, now, a, before, b);
  }
  int count = 0;
  for (int r = 0; r < g.rows; ++r) {
    for (int c = 0; c < g.columns; ++c) count += rec.changed[r * kMaxCells + c];
  }
  if (count * 100 > g.columns * g.rows * kWholeAbovePercent) return Change::TooMuch;
  if (!boxesOf(g, 1, rec.boxes)) return Change::TooMuch;
  mergeBoxes(rec.boxes);
  return Change::Small;
}

// Sets the window's bottom-left pixel to the colour (GL's clear colour
// and scissor as they were).
void setPixel(const uint8_t rgba[4]) {
  GLfloat clear[4] = {0, 0, 0, 0};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, 1, 1);
  glClearColor(rgba[0] / 255.0f, rgba[1] / 255.0f, rgba[2] / 255.0f, rgba[3] / 255.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(clear[0], clear[1], clear[2], clear[3]);
}

// Whether the window's back buffer outlives the swap is not promised by GL.
// One frame, drawn whole, is presented with its bottom-left pixel one step
// of blue off; afterPresent reads the pixel back (still marked: the buffer
// is kept) and puts the frame's own colour back.
std::array<uint8_t, 4> markedPixel() {
  std::array<uint8_t, 4> marked;
  std::memcpy(marked.data(), rec.probePixel, marked.size());
  marked[2] ^= 1;
  return marked;
}

void markProbePixel() {
  glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rec.probePixel);
  setPixel(markedPixel().data());
  rec.probe = Recorder::Probe::Marked;
}

}  // namespace

void enable(bool on) {
  if (rec.enabled == on) return;
  flush();
  rec.enabled = on;
  forget();
}

bool keeping() {
  // Scenes drawing apart without a framebuffer object draw into the window
  // and have it copied: that path is left as it is.
  return rec.enabled && !rec.replaying && glMode() && video().drawEnabled &&
         (frameInFramebuffer() || !frameApart()) && cpuDrawing();
}

void begin(uint32_t mode) {
  if (!keeping()) {
    glBegin(mode);
    return;
  }
  learnState();
  List& list = rec.lists[rec.current];
  rec.openCommand = Command{};
  rec.openCommand.state = rec.state;
  rec.openCommand.state.textureStamp = stampOf(rec.state.texture);
  rec.openCommand.mode = mode;
  rec.openCommand.first = static_cast<uint32_t>(list.vertices.size());
  rec.open = true;
}

void texCoord(float u, float v) {
  if (!keeping()) {
    glTexCoord2f(u, v);
    return;
  }
  learnState();
  rec.u = u;
  rec.v = v;
}

void colour(float red, float green, float blue, float alpha) {
  if (!keeping()) {
    glColor4f(red, green, blue, alpha);
    return;
  }
  learnState();
  rec.colour[0] = red;
  rec.colour[1] = green;
  rec.colour[2] = blue;
  rec.colour[3] = alpha;
}

void vertex(double x, double y) {
  if (!keeping() || !rec.open) {
    glVertex2d(x, y);
    return;
  }
  Vertex p{x, y, rec.u, rec.v, {rec.colour[0], rec.colour[1], rec.colour[2], rec.colour[3]}};
  rec.lists[rec.current].vertices.push_back(p);
}

void end() {
  if (!keeping() || !rec.open) {
    glEnd();
    return;
  }
  rec.open = false;
  List& list = rec.lists[rec.current];
  Command& c = rec.openCommand;
  c.count = static_cast<uint32_t>(list.vertices.size()) - c.first;
  if (c.count == 0) return;
  c.box = boxOf(&list.vertices[c.first], c.count);
  list.commands.push_back(c);
}

void bindTexture(uint32_t name) {
  if (!keeping()) {
    glBindTexture(GL_TEXTURE_2D, name);
    return;
  }
  learnState();
  rec.state.texture = name;
}

void blending(bool on) {
  if (!keeping()) {
    if (on) {
      glEnable(GL_BLEND);
    } else {
      glDisable(GL_BLEND);
    }
    return;
  }
  learnState();
  rec.state.blend = on ? 1 : 0;
}

void blendFunc(uint32_t source, uint32_t destination) {
  if (!keeping()) {
    glBlendFunc(source, destination);
    return;
  }
  learnState();
  rec.state.source = source;
  rec.state.destination = destination;
}

void texEnv(int mode) {
  if (!keeping()) {
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, static_cast<GLfloat>(mode));
    return;
  }
  learnState();
  rec.state.env = mode;
}

int currentTexEnv() {
  if (keeping()) {
    learnState();
    return rec.state.env;
  }
  GLint value = GL_MODULATE;
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &value);
  return value;
}

void flush() {
  if (rec.replaying || !rec.stateKnown) return;
  // Everything recorded is drawn, and GL left in the state recording has
  // reached (a blend function set since the last primitive included).
  List& list = rec.lists[rec.current];
  rec.replaying = true;
  draw(list, rec.drawnUpTo, list.commands.size(), nullptr);
  rec.replaying = false;
  if (rec.drawnUpTo < list.commands.size()) rec.drawnWhole = true;
  rec.drawnUpTo = list.commands.size();
  // Whoever flushes is about to use GL: what it leaves is read again.
  rec.stateKnown = false;
}

void finishFrame() {
  if (!keeping()) {
    // Nothing recorded (or the list not kept in this mode): the next kept
    // frame has nothing to compare with.
    rec.lists[rec.current].clear();
    rec.drawnUpTo = 0;
    rec.drawnWhole = false;
    rec.previousValid = false;
    return;
  }
  List& now = rec.lists[rec.current];
  const List& before = rec.lists[1 - rec.current];
  rec.replaying = true;
  if (rec.probe == Recorder::Probe::Marked) {
    // Neither presented nor skipped (the pass did not end the frame): the
    // probe is made again.
    presentSkipped();
  }
  // A framebuffer object keeps its picture; the window's back buffer is
  // known to once a frame was presented from it.
  const bool keepsPicture = frameInFramebuffer() || rec.probe == Recorder::Probe::Kept;
  if (keepsPicture && rec.previousValid && !rec.drawnWhole &&
      findChanges(now, before) == Change::Small) {
    // The frame before's picture stays around the boxes.
    draw(now, 0, now.commands.size(), &rec.boxes);
    ++rec.partFrames;
  } else {
    draw(now, rec.drawnUpTo, now.commands.size(), nullptr);
    if (!frameInFramebuffer() && rec.probe == Recorder::Probe::Due) markProbePixel();
  }
  rec.replaying = false;
  rec.current = 1 - rec.current;
  rec.lists[rec.current].clear();
  rec.previousValid = true;
  rec.drawnUpTo = 0;
  rec.drawnWhole = false;
  rec.stateKnown = false;
}

void afterPresent() {
  if (rec.probe != Recorder::Probe::Marked || !glMode()) return;
  uint8_t shown[4] = {0, 0, 0, 0};
  glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, shown);
  const bool kept = std::memcmp(shown, markedPixel().data(), 3) == 0;
  rec.probe = kept ? Recorder::Probe::Kept : Recorder::Probe::Lost;
  // The pixel shows what the frame drew there again.
  setPixel(rec.probePixel);
  // Compared with nothing: the next frame is drawn whole.
  rec.previousValid = false;
}

void presentSkipped() {
  if (rec.probe != Recorder::Probe::Marked || !glMode()) return;
  // The marked frame was not shown: its pixel is put back at once (the
  // back buffer may still be read, and the frame after it drawn over it)
  // and the probe made again on a frame that is presented.
  setPixel(rec.probePixel);
  rec.probe = Recorder::Probe::Due;
}

void textureChanged(uint32_t name) {
  if (name >= rec.stamps.size()) {
    // Names are small counts in practice; past this bound the frame before
    // is simply not compared with.
    if (name > (1u << 16)) {
      rec.previousValid = false;
      return;
    }
    rec.stamps.resize(name + 1, 0);
  }
  ++rec.stamps[name];
}

void forget() {
  rec.lists[0].clear();
  rec.lists[1].clear();
  rec.previousValid = false;
  rec.drawnUpTo = 0;
  rec.drawnWhole = false;
  rec.open = false;
  rec.stateKnown = false;
  rec.probe = Recorder::Probe::Due;
}

namespace testing {
int framesDrawnInPart() { return rec.partFrames; }
}  // namespace testing

}  // namespace render::drawlist
