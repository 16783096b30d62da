// Fonts, Shift-JIS conversion and text rendered into images. All visible text
// is rendered once into a GfxImage and drawn like any other picture.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "render/image.h"
#include "text/line_split.h"

// SDL_ttf's font handle. Only text/ and the context's start-up and shut-down
// call SDL_ttf; everybody else passes fonts along.
struct _TTF_Font;
typedef struct _TTF_Font TTF_Font;

namespace text {

using render::GfxImage;

// The heading of a scene: the title and subtitle images (the first image is
// carried but never drawn).
struct HeadingLabels {
  GfxImage unused;
  GfxImage title;
  GfxImage subtitle;
};

// Opens fileName from the system's fonts folder; null when it cannot be found
// or opened.
TTF_Font* openFont(const char* fileName, int pointSize);

// Converts a NUL-terminated string between Shift-JIS and UTF-8. size 0 asks
// for the needed size plus one and writes nothing. Otherwise writes at most
// size - 1 bytes and a terminator and returns the bytes copied (a text that
// fits returns its length + 1). 0 on failure, -1 when memory runs out.
int convertText(const char* source, char* destination, int size, bool toUtf8);
int shiftJisToUtf8(const char* source, char* destination, int size);
int utf8ToShiftJis(const char* source, char* destination, int size);

enum class FontStyle : uint8_t { Normal, Bold };

// Renders text (Shift-JIS when isShiftJis) into image, one line per "\n",
// in the given style; the font keeps the style it had before. A null font
// or a text without any non-empty line leaves image unchanged.
void renderText(const char* text, GfxImage& image, TTF_Font* font, SDL_Color color, bool isShiftJis,
                FontStyle style = FontStyle::Normal);
// Gives a 32-bit surface a vertical alpha fade and converts it to a texture.
// Refuses (returns false, image untouched) a surface that is not 32-bit,
// under 2 rows or of 65536 bytes or more.
bool makeFadeBand(GfxImage& image);
// A white plate 640 pixels wider than the word, 240 high, with the word cut
// out 320 pixels from its left edge. Its texture is the plate's exact size
// (GfxImage::exactSize): draw it at scale 1 or 2 only.
void makeKnockoutLabel(const char* text, GfxImage& image, TTF_Font* font, SDL_Color color);
// Renders title in titleFont and subtitle in subtitleFont, both bold.
void renderHeading(HeadingLabels& heading, const char* title, const char* subtitle,
                   TTF_Font* titleFont, TTF_Font* subtitleFont, SDL_Color color);
// The frame-rate readout at the bottom-right corner; once per main-loop pass.
void drawFpsOverlay();
// Formats a measured rate (frames per second times 100) as the readout shows
// it, e.g. 5987 -> "59.87FPS". buffer must hold kFpsTextSize bytes.
inline constexpr int kFpsTextSize = 16;
void formatFps(uint16_t value, char* buffer);

}  // namespace text
