// Text rendered into images: multi-line text, the faded bar, the knock-out
// label and the scene heading.
#include <SDL.h>
#include <SDL_ttf.h>

#include <array>
#include <vector>

#include "render/image.h"
#include "text/text.h"

namespace text {
namespace {

constexpr uint32_t kKnockoutMargin = 640;  // extra width beside the word
constexpr int kKnockoutHeight = 240;
constexpr Sint16 kKnockoutWordX = 320;
constexpr Sint16 kKnockoutWordY = 60;
constexpr uint32_t kOpaqueWhite = 0xFFFFFF;  // colour bits of a white pixel
constexpr uint32_t kFadeBandMaxBytes = 65536;

// The rendered lines of one renderText call, freed when it ends.
struct RenderedLines {
  std::array<SDL_Surface*, kMaxLines> surfaces{};
  int count = 0;
  int widest = 0;
  int totalHeight = 0;

  RenderedLines() = default;
  RenderedLines(const RenderedLines&) = delete;
  RenderedLines& operator=(const RenderedLines&) = delete;
  ~RenderedLines() {
    for (int i = 0; i < count; ++i) {
      if (surfaces[i] != nullptr) SDL_FreeSurface(surfaces[i]);
    }
  }
  void add(SDL_Surface* surface) {
    surfaces[count++] = surface;
    if (surface->w > widest) widest = surface->w;
    totalHeight += surface->h;
  }
  // Hands the only line to the caller.
  SDL_Surface* takeSingle() {
    SDL_Surface* const only = surfaces[0];
    surfaces[0] = nullptr;
    return only;
  }
};

// Renders the lines of utf8 as splitTextLines lays them out.
void renderLines(const char* utf8, TTF_Font* font, SDL_Color color, RenderedLines& lines) {
  TextLines split;
  splitTextLines(utf8, split);
  for (int i = 0; i < split.count; ++i) {
    SDL_Surface* const rendered = TTF_RenderUTF8_Blended(font, split.lines[i].data(), color);
    if (rendered != nullptr) lines.add(rendered);
  }
}

// Stacks the lines left-aligned without spacing into one new surface; each
// line's alpha is copied, not blended. Null when it cannot be made.
SDL_Surface* stackLines(RenderedLines& lines) {
  SDL_Surface* const stacked = render::createSurface(
      static_cast<uint16_t>(lines.widest), static_cast<uint16_t>(lines.totalHeight), SDL_HWSURFACE);
  if (stacked == nullptr) return nullptr;
  int y = 0;
  for (int i = 0; i < lines.count; ++i) {
    SDL_Surface* const line = lines.surfaces[i];
    SDL_SetAlpha(line, 0, 0);
    SDL_Rect at = {0, static_cast<Sint16>(y), 0, 0};
    SDL_UpperBlit(line, nullptr, stacked, &at);
    y += line->h;
  }
  return stacked;
}

// Gives a font the style of one render and its own style back afterwards:
// the fonts are shared by every scene.
class StyleForRender {
 public:
  StyleForRender(TTF_Font* font, FontStyle style)
      : font_(font),
        own_(TTF_GetFontStyle(font)),
        wanted_(style == FontStyle::Bold ? TTF_STYLE_BOLD : TTF_STYLE_NORMAL) {
    if (wanted_ != own_) TTF_SetFontStyle(font_, wanted_);
  }
  ~StyleForRender() {
    if (wanted_ != own_) TTF_SetFontStyle(font_, own_);
  }
  StyleForRender(const StyleForRender&) = delete;
  StyleForRender& operator=(const StyleForRender&) = delete;

 private:
  TTF_Font* font_;
  int own_;
  int wanted_;
};

void replaceSurface(GfxImage& image, SDL_Surface* surface) {
  if (image.surface != nullptr) SDL_FreeSurface(image.surface);
  image.surface = surface;
}

}  // namespace

void renderText(const char* text, GfxImage& image, TTF_Font* font, SDL_Color color, bool isShiftJis,
                FontStyle style) {
  if (text == nullptr || font == nullptr) return;
  // Sized by asking the conversion first, so that no text is cut (half-width
  // katakana grows from one byte to three).
  std::vector<char> converted;
  const char* utf8 = text;
  if (isShiftJis) {
    const int needed = shiftJisToUtf8(text, nullptr, 0);
    if (needed <= 0) return;
    converted.assign(static_cast<size_t>(needed), '\0');
    shiftJisToUtf8(text, converted.data(), needed);
    utf8 = converted.data();
  }
  RenderedLines lines;
  {
    const StyleForRender styled(font, style);
    renderLines(utf8, font, color, lines);
  }
  if (lines.count == 0) return;
  SDL_Surface* const surface = lines.count == 1 ? lines.takeSingle() : stackLines(lines);
  if (surface == nullptr) return;
  replaceSurface(image, surface);
  render::loadImage(image, nullptr);
}

bool makeFadeBand(GfxImage& image) {
  SDL_Surface* const surface = image.surface;
  if (surface == nullptr) return false;
  const SDL_PixelFormat* const format = surface->format;
  // The walk writes byte 3 of every pixel and counts the bytes in 16 bits.
  const bool rgba = format->BytesPerPixel == 4 && format->Amask == 0xFF000000u;
  const uint32_t bytes = static_cast<uint32_t>(surface->w) * static_cast<uint32_t>(surface->h) * 4;
  if (!rgba || surface->h < 2 || bytes >= kFadeBandMaxBytes) return false;
  // Rises by step a row from 0 at the top, turns at 255 and falls again.
  const uint8_t step = static_cast<uint8_t>(255 / (surface->h / 2));
  int16_t alpha = 0;
  bool rising = true;
  SDL_LockSurface(surface);
  for (int y = 0; y < surface->h; ++y) {
    uint8_t* const row = static_cast<uint8_t*>(surface->pixels) + y * surface->pitch;
    for (int x = 0; x < surface->w; ++x) row[x * 4 + 3] = static_cast<uint8_t>(alpha);
    if (rising) {
      alpha = static_cast<int16_t>(alpha + step > 255 ? 255 : alpha + step);
    } else {
      alpha = static_cast<int16_t>(alpha - step < 0 ? 0 : alpha - step);
    }
    if (alpha <= 0 || alpha >= 255) rising = !rising;
  }
  SDL_UnlockSurface(surface);
  render::loadImage(image, nullptr);
  return true;
}

void makeKnockoutLabel(const char* text, GfxImage& image, TTF_Font* font, SDL_Color color) {
  if (text == nullptr || font == nullptr) return;
  SDL_Surface* const word = TTF_RenderUTF8_Blended(font, text, color);
  if (word == nullptr) return;
  SDL_Surface* const plate = render::createSurface(static_cast<uint16_t>(word->w + kKnockoutMargin),
                                                   kKnockoutHeight, SDL_HWSURFACE);
  if (plate == nullptr) {
    SDL_FreeSurface(word);
    return;
  }
  SDL_SetAlpha(word, 0, 0);
  SDL_Rect at = {kKnockoutWordX, kKnockoutWordY, 0, 0};
  SDL_UpperBlit(word, nullptr, plate, &at);
  SDL_FreeSurface(word);
  // White everywhere, with the alpha inverted: the transparent margins turn
  // opaque and the letters become holes.
  SDL_LockSurface(plate);
  for (int y = 0; y < plate->h; ++y) {
    for (int x = 0; x < plate->w; ++x) {
      const uint32_t a = render::getPixel(plate, x, y) >> 24;
      render::putPixel(plate, x, y, ((255 - a) << 24) + kOpaqueWhite);
    }
  }
  SDL_UnlockSurface(plate);
  replaceSurface(image, plate);
  // Padded to powers of two the plate would take about twice its memory.
  image.exactSize = true;
  render::loadImage(image, nullptr);
}

void renderHeading(HeadingLabels& heading, const char* title, const char* subtitle,
                   TTF_Font* titleFont, TTF_Font* subtitleFont, SDL_Color color) {
  renderText(title, heading.title, titleFont, color, true, FontStyle::Bold);
  renderText(subtitle, heading.subtitle, subtitleFont, color, true, FontStyle::Bold);
}

}  // namespace text
