// TrueType text over FreeType, laid out and drawn as SDL_ttf 2.0.11 does:
// whole-pixel glyph metrics from the hinted outline, the font's height for
// every line, coverage straight from FreeType's grey rendering, and bold as
// the coverage smeared right by a tenth of the em in pixels.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "SDL_ttf.h"

namespace {

// 26.6 fixed point to whole pixels.
int floorPixels(FT_Pos value) { return static_cast<int>((value & -64) / 64); }
int ceilPixels(FT_Pos value) { return static_cast<int>(((value + 63) & -64) / 64); }

constexpr Uint16 kByteOrderMark = 0xFEFF;
constexpr size_t kMaxCachedGlyphs = 1024;
constexpr Uint16 kSwappedByteOrderMark = 0xFFFE;

// One glyph as it is drawn: pixel metrics relative to the pen and the
// baseline, and its coverage (bold already applied).
struct Glyph {
  FT_UInt index = 0;
  int minX = 0;
  int maxX = 0;
  int yOffset = 0;  // rows from the line's top to the coverage's top
  int minY = 0;     // the lowest ink, in rows above the baseline (negative below)
  int advance = 0;
  int width = 0;  // coverage columns
  int rows = 0;
  int pitch = 0;
  std::vector<Uint8> coverage;
};

// The library's state: FreeType's handle and the balance of TTF_Init calls.
struct Library {
  FT_Library freetype = nullptr;
  int initCount = 0;
};
Library library;

}  // namespace

// A face at one size. The glyph cache holds the current style's glyphs and is
// emptied when the style changes.
struct _TTF_Font {
  FT_Face face = nullptr;
  int style = TTF_STYLE_NORMAL;
  int ascent = 0;
  int height = 0;
  int boldOverhang = 0;
  bool kerning = false;
  std::map<Uint32, Glyph> glyphs;
};

namespace {

// One row of FreeType's bitmap as coverage 0..255, as SDL_ttf 2.0.11 reads
// each pixel mode (embedded bitmap strikes come as 1, 2 or 4 bits a pixel):
// 1 bit gives 0 or 255; 2 bits give 169 when the pair's high bit is set and
// 0 otherwise (the library masks each pair with 0xA0); 4 bits give
// 256 * v / 15 - 1 for v > 0; 8 bits, and any other mode, are taken byte for
// byte. Packed modes expand whole source bytes, as the library does, so a
// row holds the pixels of every byte up to the bitmap's width. Writes at
// most `room` values.
void expandRow(const FT_Bitmap& bitmap, const Uint8* source, Uint8* out, int room) {
  const int width = static_cast<int>(bitmap.width);
  int bits = 8;
  if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) bits = 1;
  if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY2) bits = 2;
  if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY4) bits = 4;
  const int pitch = bitmap.pitch < 0 ? -bitmap.pitch : bitmap.pitch;
  if (bits == 8) {
    const int count = pitch < room ? pitch : room;
    std::memcpy(out, source, static_cast<size_t>(count));
    return;
  }
  const int perByte = 8 / bits;
  int bytes = (width + perByte - 1) / perByte;
  if (bytes > pitch) bytes = pitch;
  int at = 0;
  for (int i = 0; i < bytes && at < room; ++i) {
    const unsigned byte = source[i];
    for (int k = 0; k < perByte && at < room; ++k) {
      const unsigned level = (byte << (k * bits)) & 0xFF;
      Uint8 value = 0;
      if (bits == 1) {
        value = (level & 0x80) != 0 ? 255 : 0;
      } else if (bits == 2) {
        value = (level & 0x80) != 0 ? 169 : 0;
      } else if ((level >> 4) != 0) {
        value = static_cast<Uint8>(256 * (level >> 4) / 15 - 1);
      }
      out[at++] = value;
    }
  }
}

// Copies FreeType's bitmap as coverage and applies the bold smear: every row
// is widened by the overhang and each column adds its left neighbour,
// clamped, once per overhang pixel. Only the glyph's rows and its widened
// width are read and written.
void takeCoverage(const TTF_Font& font, const FT_Bitmap& bitmap, Glyph& glyph) {
  const int bump = (font.style & TTF_STYLE_BOLD) != 0 ? font.boldOverhang : 0;
  glyph.width = static_cast<int>(bitmap.width) + bump;
  glyph.pitch = glyph.width;
  glyph.rows = static_cast<int>(bitmap.rows);
  glyph.coverage.assign(static_cast<size_t>(glyph.pitch) * glyph.rows, 0);
  if (glyph.rows == 0 || bitmap.buffer == nullptr) return;
  const int pitch = bitmap.pitch;
  // A negative pitch lists the rows from the bottom up.
  const Uint8* const first =
      pitch < 0 ? bitmap.buffer + static_cast<ptrdiff_t>(-pitch) * (glyph.rows - 1) : bitmap.buffer;
  for (int row = 0; row < glyph.rows; ++row) {
    expandRow(bitmap, first + static_cast<ptrdiff_t>(row) * pitch,
              &glyph.coverage[static_cast<size_t>(row) * glyph.pitch], glyph.pitch);
  }
  if (bump == 0) return;
  for (int row = glyph.rows - 1; row >= 0; --row) {
    Uint8* const line = &glyph.coverage[static_cast<size_t>(row) * glyph.pitch];
    for (int pass = 0; pass < bump; ++pass) {
      for (int col = glyph.width - 1; col > 0; --col) {
        const int sum = line[col] + line[col - 1];
        line[col] = static_cast<Uint8>(sum > 255 ? 255 : sum);
      }
    }
  }
}

const Glyph* findGlyph(TTF_Font& font, Uint32 ch) {
  const auto cached = font.glyphs.find(ch);
  if (cached != font.glyphs.end()) return &cached->second;
  // Bounded: text of many different characters (names from other players)
  // starts the cache afresh rather than growing it for ever. A line holds
  // far fewer characters, so the glyphs of the line being drawn stay.
  if (font.glyphs.size() >= kMaxCachedGlyphs) font.glyphs.clear();
  FT_Face face = font.face;
  Glyph glyph;
  glyph.index = FT_Get_Char_Index(face, ch);
  if (FT_Load_Glyph(face, glyph.index, FT_LOAD_DEFAULT) != 0) {
    SDL_SetError("Couldn't load glyph");
    return nullptr;
  }
  const FT_Glyph_Metrics& metrics = face->glyph->metrics;
  glyph.minX = floorPixels(metrics.horiBearingX);
  glyph.maxX = glyph.minX + ceilPixels(metrics.width);
  glyph.yOffset = font.ascent - floorPixels(metrics.horiBearingY);
  glyph.minY = floorPixels(metrics.horiBearingY) - ceilPixels(metrics.height);
  glyph.advance = ceilPixels(metrics.horiAdvance);
  if ((font.style & TTF_STYLE_BOLD) != 0) glyph.maxX += font.boldOverhang;
  if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) {
    SDL_SetError("Couldn't render glyph");
    return nullptr;
  }
  takeCoverage(font, face->glyph->bitmap, glyph);
  return &font.glyphs.emplace(ch, std::move(glyph)).first->second;
}

// The text as SDL_ttf 2.0.11 sees it: UCS-2, each UTF-8 sequence decoded
// by its lead byte alone (continuation bytes are not checked, overlong forms
// are accepted), code points above U+FFFF cut to 16 bits, and a character
// that comes out as 0 ending the text. Bytes a sequence would take past the
// end count as 0 (the library reads past the terminator there).
std::vector<Uint16> toUcs2(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const size_t length = std::strlen(text);
  const auto byteAt = [&](size_t i) -> Uint32 { return i < length ? p[i] : 0; };
  std::vector<Uint16> out;
  for (size_t i = 0; i < length; ++i) {
    Uint32 ch = p[i];
    if (ch >= 0xF0) {
      ch = ((ch & 0x07) << 18) | ((byteAt(i + 1) & 0x3F) << 12) | ((byteAt(i + 2) & 0x3F) << 6) |
           (byteAt(i + 3) & 0x3F);
      i += 3;
    } else if (ch >= 0xE0) {
      ch = ((ch & 0x0F) << 12) | ((byteAt(i + 1) & 0x3F) << 6) | (byteAt(i + 2) & 0x3F);
      i += 2;
    } else if (ch >= 0xC0) {
      ch = ((ch & 0x1F) << 6) | (byteAt(i + 1) & 0x3F);
      i += 1;
    }
    const auto unit = static_cast<Uint16>(ch);
    if (unit == 0) break;
    out.push_back(unit);
  }
  return out;
}

// Walks the characters to draw: byte order marks are skipped; after a
// swapped one the bytes of every character are swapped, after a native one
// they are not.
class Characters {
 public:
  explicit Characters(const char* text) : units_(toUcs2(text)) {}
  bool next(Uint32& ch) {
    while (at_ < units_.size()) {
      Uint16 unit = units_[at_++];
      if (unit == kByteOrderMark || unit == kSwappedByteOrderMark) {
        swapped_ = unit == kSwappedByteOrderMark;
        continue;
      }
      if (swapped_) unit = static_cast<Uint16>((unit << 8) | (unit >> 8));
      ch = unit;
      return true;
    }
    return false;
  }

 private:
  std::vector<Uint16> units_;
  size_t at_ = 0;
  bool swapped_ = false;
};

int kerningBetween(const TTF_Font& font, FT_UInt previous, FT_UInt next) {
  if (!font.kerning || previous == 0 || next == 0) return 0;
  FT_Vector delta;
  FT_Get_Kerning(font.face, previous, next, FT_KERNING_DEFAULT, &delta);
  return static_cast<int>(delta.x >> 6);
}

struct LineSize {
  int width = 0;
  int height = 0;
};

// The size of the text's line: from the leftmost ink or pen position to the
// rightmost ink or advance, and the font's height or, when a glyph reaches
// lower, down to its lowest ink. False if a glyph cannot be loaded.
bool lineSize(TTF_Font& font, const char* text, LineSize& size) {
  Characters characters(text);
  int minX = 0, maxX = 0, x = 0, minY = 0;
  FT_UInt previous = 0;
  Uint32 ch = 0;
  while (characters.next(ch)) {
    const Glyph* const glyph = findGlyph(font, ch);
    if (glyph == nullptr) return false;
    x += kerningBetween(font, previous, glyph->index);
    if (x + glyph->minX < minX) minX = x + glyph->minX;
    if (glyph->minY < minY) minY = glyph->minY;
    if ((font.style & TTF_STYLE_BOLD) != 0) x += font.boldOverhang;
    const int right = x + (glyph->advance > glyph->maxX ? glyph->advance : glyph->maxX);
    if (right > maxX) maxX = right;
    x += glyph->advance;
    previous = glyph->index;
  }
  size.width = maxX - minX;
  size.height = font.ascent - minY > font.height ? font.ascent - minY : font.height;
  return true;
}

// Adds one glyph's coverage to the ARGB surface at pen position x; alpha is
// or-ed where glyphs overlap. A row is written as one run from its first
// pixel, as SDL_ttf writes it: a glyph reaching past the right edge goes on
// at the start of the next row, one reaching left of the left edge ends the
// row above. Nothing lands outside the surface's pixels.
void drawGlyph(SDL_Surface* surface, const Glyph& glyph, int x, Uint32 colour) {
  int columns = glyph.width;
  if (columns > glyph.maxX - glyph.minX) columns = glyph.maxX - glyph.minX;
  const ptrdiff_t stride = surface->pitch / 4;
  const ptrdiff_t end = stride * surface->h;
  Uint32* const pixels = static_cast<Uint32*>(surface->pixels);
  for (int row = 0; row < glyph.rows; ++row) {
    const int y = row + glyph.yOffset;
    if (y < 0 || y >= surface->h) continue;
    const Uint8* const source = &glyph.coverage[static_cast<size_t>(row) * glyph.pitch];
    const ptrdiff_t start = y * stride + x + glyph.minX;
    for (int col = 0; col < columns; ++col) {
      const ptrdiff_t at = start + col;
      if (at < 0) continue;
      if (at >= end) break;
      pixels[at] |= colour | (Uint32{source[col]} << 24);
    }
  }
}

}  // namespace

extern "C" int SDLCALL TTF_Init(void) {
  if (library.initCount == 0 && FT_Init_FreeType(&library.freetype) != 0) {
    SDL_SetError("Couldn't init FreeType engine");
    return -1;
  }
  ++library.initCount;
  return 0;
}

extern "C" int SDLCALL TTF_WasInit(void) { return library.initCount; }

extern "C" void SDLCALL TTF_Quit(void) {
  if (library.initCount == 0) return;
  if (--library.initCount == 0) {
    FT_Done_FreeType(library.freetype);
    library.freetype = nullptr;
  }
}

namespace {

// Prefers a Unicode character map, as SDL_ttf does.
void chooseCharmap(FT_Face face) {
  for (int i = 0; i < face->num_charmaps; ++i) {
    const FT_CharMap map = face->charmaps[i];
    if ((map->platform_id == 3 && (map->encoding_id == 1 || map->encoding_id == 0)) ||
        (map->platform_id == 2 && map->encoding_id == 1) || map->platform_id == 0) {
      FT_Set_Charmap(face, map);
      return;
    }
  }
}

}  // namespace

extern "C" TTF_Font* SDLCALL TTF_OpenFontIndex(const char* file, int ptsize, long index) {
  if (library.initCount == 0) {
    SDL_SetError("Library not initialized");
    return nullptr;
  }
  // Opened through SDL first for SDL_ttf's message about a missing file.
  SDL_RWops* const probe = SDL_RWFromFile(file, "rb");
  if (probe == nullptr) return nullptr;
  SDL_RWclose(probe);
  FT_Face face = nullptr;
  if (FT_New_Face(library.freetype, file, index, &face) != 0) {
    SDL_SetError("Couldn't load font file");
    return nullptr;
  }
  chooseCharmap(face);
  if (!FT_IS_SCALABLE(face) || FT_Set_Char_Size(face, 0, ptsize * 64, 0, 0) != 0) {
    FT_Done_Face(face);
    SDL_SetError("Couldn't set font size");
    return nullptr;
  }
  auto font = std::make_unique<TTF_Font>();
  font->face = face;
  const FT_Fixed scale = face->size->metrics.y_scale;
  font->ascent = ceilPixels(FT_MulFix(face->ascender, scale));
  const int descent = ceilPixels(FT_MulFix(face->descender, scale));
  font->height = font->ascent - descent + 1;
  font->boldOverhang = face->size->metrics.y_ppem / 10;
  font->kerning = FT_HAS_KERNING(face);
  return font.release();
}

extern "C" TTF_Font* SDLCALL TTF_OpenFont(const char* file, int ptsize) {
  return TTF_OpenFontIndex(file, ptsize, 0);
}

extern "C" void SDLCALL TTF_CloseFont(TTF_Font* font) {
  if (font == nullptr) return;
  FT_Done_Face(font->face);
  delete font;
}

extern "C" int SDLCALL TTF_GetFontStyle(const TTF_Font* font) { return font->style; }

extern "C" void SDLCALL TTF_SetFontStyle(TTF_Font* font, int style) {
  if (style == font->style) return;
  font->style = style;
  font->glyphs.clear();
}

extern "C" SDL_Surface* SDLCALL TTF_RenderUTF8_Blended(TTF_Font* font, const char* text,
                                                       SDL_Color fg) {
  if (font == nullptr || text == nullptr) {
    SDL_SetError("Passed a NULL pointer");
    return nullptr;
  }
  LineSize size;
  if (!lineSize(*font, text, size)) return nullptr;
  if (size.width == 0) {
    SDL_SetError("Text has zero width");
    return nullptr;
  }
  SDL_Surface* const surface = SDL_AllocSurface(SDL_SWSURFACE, size.width, size.height, 32,
                                                0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000);
  if (surface == nullptr) return nullptr;
  const Uint32 colour = (Uint32{fg.r} << 16) | (Uint32{fg.g} << 8) | fg.b;
  SDL_FillRect(surface, nullptr, colour);
  Characters characters(text);
  int x = 0;
  FT_UInt previous = 0;
  bool first = true;
  Uint32 ch = 0;
  while (characters.next(ch)) {
    const Glyph* const glyph = findGlyph(*font, ch);
    if (glyph == nullptr) {
      SDL_FreeSurface(surface);
      return nullptr;
    }
    x += kerningBetween(*font, previous, glyph->index);
    // A first glyph that reaches left of the pen starts the surface.
    if (first && glyph->minX < 0) x -= glyph->minX;
    first = false;
    drawGlyph(surface, *glyph, x, colour);
    x += glyph->advance;
    if ((font->style & TTF_STYLE_BOLD) != 0) x += font->boldOverhang;
    previous = glyph->index;
  }
  return surface;
}
