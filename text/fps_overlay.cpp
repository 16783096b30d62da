// The frame-rate readout drawn at the bottom-right corner of every frame.
#include <SDL.h>
#include <SDL_ttf.h>

#include <array>
#include <cstdio>

#include "render/draw.h"
#include "render/image.h"
#include "render/video.h"
#include "text/text.h"

namespace text {
namespace {

constexpr int kReadoutPointSize = 24;
constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 480;
constexpr char kReadoutFont[] = "MSGOTHIC.TTC";

// Private to the readout. The font is opened on the first call and never
// closed; the image lives until program exit (after SDL_Quit, which is why
// GfxImage skips GL when the context is gone). lastShown starts at 0, so
// nothing is shown before the first one-second measurement.
struct Readout {
  TTF_Font* font = nullptr;
  bool fontOpened = false;
  uint16_t lastShown = 0;
  std::array<char, kFpsTextSize> buffer{};
  GfxImage image;
};
Readout readout;

// Re-rendered only when the value changes (at most once a second). Without
// a font (none installed) the readout simply stays empty.
void renderReadout(uint16_t value) {
  formatFps(value, readout.buffer.data());
  if (readout.font == nullptr) return;
  const SDL_Color white = {255, 255, 255, 0};
  SDL_Surface* const rendered = TTF_RenderUTF8_Blended(readout.font, readout.buffer.data(), white);
  if (rendered == nullptr) return;
  if (readout.image.surface != nullptr) SDL_FreeSurface(readout.image.surface);
  readout.image.surface = rendered;
  render::loadImage(readout.image, nullptr);
}

}  // namespace

// "59.87FPS": the value in hundredths with two decimals, the whole part
// right-aligned in two places (" 6.00FPS"). Values of 100 frames per second
// and more simply grow to the left ("123.45FPS"); under one frame per second
// the whole part is 0 (" 0.05FPS").
void formatFps(uint16_t value, char* buffer) {
  std::snprintf(buffer, kFpsTextSize, "%2u.%02uFPS", static_cast<unsigned>(value / 100),
                static_cast<unsigned>(value % 100));
}

void drawFpsOverlay() {
  if (!readout.fontOpened) {
    readout.font = openFont(kReadoutFont, kReadoutPointSize);
    readout.fontOpened = true;
  }
  const uint16_t value = render::measuredFps();
  if (value != readout.lastShown) {
    readout.lastShown = value;
    renderReadout(value);
  }
  // No texture: the software back end, or nothing measured yet.
  if (readout.image.texture == 0) return;
  // Black, unscaled, bottom-right corner on the window's corner. This state
  // stays in force for whatever draws next.
  render::setDrawScale(1, 1, 0);
  render::setDrawColor(0, 0, 0, 1);
  render::drawImage(kWindowWidth - readout.image.width, kWindowHeight - readout.image.height,
                    &readout.image, 0, 0, readout.image.width, readout.image.height);
}

}  // namespace text
