// Windows BMP files read as SDL_image 1.2.12 reads them (its reader differs
// from SDL's own): uncompressed 1, 4, 8, 15/16, 24 and 32 bits and RLE4 and
// RLE8, the Windows and the OS/2 header, bottom-up and top-down rows. 1- and
// 4-bit pictures become 8-bit surfaces with a palette of 256 entries, of
// which the file's are read; 32-bit pictures without masks of their own
// keep their fourth byte as alpha. Every write stays inside the surface's
// pixels.
#include <cstddef>
#include <cstring>

#include "SDL_image.h"
#include "image_formats.h"

namespace {

constexpr Uint32 kRgb = 0;
constexpr Uint32 kRle8 = 1;
constexpr Uint32 kRle4 = 2;

// Reads as SDL_ReadLE16/32 do, except that a short read gives 0.
Uint32 readLE32(SDL_RWops* src) {
  Uint8 b[4] = {0, 0, 0, 0};
  SDL_RWread(src, b, 1, 4);
  return static_cast<Uint32>(b[0]) | b[1] << 8 | b[2] << 16 | static_cast<Uint32>(b[3]) << 24;
}
Uint16 readLE16(SDL_RWops* src) {
  Uint8 b[2] = {0, 0};
  SDL_RWread(src, b, 1, 2);
  return static_cast<Uint16>(b[0] | b[1] << 8);
}
bool readByte(SDL_RWops* src, Uint8& byte) { return SDL_RWread(src, &byte, 1, 1) == 1; }

// A position in the stream as SDL_RWseek takes it: an int, wrapped.
int offsetFrom(int start, Uint32 offset) {
  return static_cast<int>(static_cast<Uint32>(start) + offset);
}

struct BmpHeader {
  Uint32 offBits = 0;
  Uint32 size = 0;
  Sint32 width = 0;
  Sint32 height = 0;
  int bitCount = 0;
  Uint32 compression = kRgb;
  bool topDown = false;
  int expand = 0;  // 1 or 4 for pictures widened to 8 bits a pixel
};

// Run-length data from the bottom row up: runs, escapes for the end of a
// line, of the picture, a move, and literal pixels. A pixel is stored only
// inside the surface; a run past a row's end goes on into the next row in
// memory (the one below it in the picture, written before).
// False when the data ends before the end-of-picture escape.
bool readRlePixels(SDL_Surface* surface, SDL_RWops* src, bool rle8) {
  const ptrdiff_t pitch = surface->pitch;
  const ptrdiff_t size = pitch * surface->h;
  Uint8* const pixels = static_cast<Uint8*>(surface->pixels);
  ptrdiff_t row = (static_cast<ptrdiff_t>(surface->h) - 1) * pitch;  // the row being written
  ptrdiff_t column = 0;
  const auto put = [&](Uint8 value) {
    const ptrdiff_t at = row + column++;
    if (at >= 0 && at < size) pixels[at] = value;
  };
  for (;;) {
    Uint8 count = 0;
    if (!readByte(src, count)) return false;
    if (count != 0) {
      Uint8 pixel = 0;
      if (!readByte(src, pixel)) return false;
      for (int i = 0; i < count; ++i) {
        put(rle8 ? pixel : static_cast<Uint8>((i & 1) == 0 ? pixel >> 4 : pixel & 0x0F));
      }
      continue;
    }
    Uint8 code = 0;
    if (!readByte(src, code)) return false;
    if (code == 0) {  // end of line
      column = 0;
      row -= pitch;
    } else if (code == 1) {  // end of picture
      return true;
    } else if (code == 2) {  // move right and up
      Uint8 step = 0;
      if (!readByte(src, step)) return false;
      column += step;
      if (!readByte(src, step)) return false;
      row -= step * pitch;
    } else {  // literal pixels, padded to a 16-bit boundary
      const int bytes = rle8 ? code : (code + 1) / 2;
      Uint8 pixel = 0;
      for (int i = 0; i < code; ++i) {
        if ((rle8 || (i & 1) == 0) && !readByte(src, pixel)) return false;
        put(rle8 ? pixel : static_cast<Uint8>((i & 1) == 0 ? pixel >> 4 : pixel & 0x0F));
      }
      Uint8 pad = 0;
      if ((bytes & 1) != 0 && !readByte(src, pad)) return false;
    }
  }
}

// Uncompressed rows, bottom-up unless the header says otherwise; each row
// is padded to 4 bytes in the file.
bool readRows(SDL_Surface* surface, SDL_RWops* src, const BmpHeader& header) {
  const int pitch = surface->pitch;
  int pad = 0;
  if (header.expand != 0) {
    const int bytes = header.expand == 1 ? (header.width + 7) >> 3 : (header.width + 1) >> 1;
    pad = bytes % 4 != 0 ? 4 - bytes % 4 : 0;
  } else {
    pad = pitch % 4 != 0 ? 4 - pitch % 4 : 0;
  }
  Uint8* const pixels = static_cast<Uint8*>(surface->pixels);
  for (int i = 0; i < surface->h; ++i) {
    Uint8* const bits =
        pixels + static_cast<ptrdiff_t>(header.topDown ? i : surface->h - 1 - i) * pitch;
    if (header.expand != 0) {
      const int perByte = 8 / header.expand;
      Uint8 pixel = 0;
      for (int x = 0; x < surface->w; ++x) {
        if (x % perByte == 0 && !readByte(src, pixel)) {
          SDL_SetError("Error reading from BMP");
          return false;
        }
        bits[x] = static_cast<Uint8>(pixel >> (8 - header.expand));
        pixel = static_cast<Uint8>(pixel << header.expand);
      }
    } else if (SDL_RWread(src, bits, 1, pitch) != pitch) {
      SDL_Error(SDL_EFREAD);
      return false;
    }
    for (int p = 0; p < pad; ++p) {
      Uint8 skipped = 0;
      readByte(src, skipped);
    }
  }
  return true;
}

SDL_Surface* readBmp(SDL_RWops* src, int start) {
  BmpHeader header;
  readLE16(src);  // "BM", checked by the caller
  readLE32(src);  // file size
  readLE32(src);  // reserved
  header.offBits = readLE32(src);
  header.size = readLE32(src);
  if (header.size == 12) {
    header.width = readLE16(src);
    header.height = readLE16(src);
    readLE16(src);  // planes
    header.bitCount = readLE16(src);
  } else {
    header.width = static_cast<Sint32>(readLE32(src));
    header.height = static_cast<Sint32>(readLE32(src));
    readLE16(src);  // planes
    header.bitCount = readLE16(src);
    header.compression = readLE32(src);
    for (int i = 0; i < 5; ++i) readLE32(src);  // image size, resolution, colours
  }
  if (header.width <= 0 || header.height == 0) {
    SDL_SetError("BMP file with bad dimensions (%dx%d)", header.width, header.height);
    return nullptr;
  }
  if (header.height < 0) {
    header.topDown = true;
    // Negated as a 32-bit register does: the lowest height stays negative,
    // and SDL then makes a surface without rows.
    header.height = static_cast<Sint32>(0u - static_cast<Uint32>(header.height));
  }
  if (header.bitCount == 1 || header.bitCount == 4) {
    header.expand = header.bitCount;
    header.bitCount = 8;
  } else if (header.bitCount > 0 && header.bitCount < 8) {
    SDL_SetError("%d-bpp BMP images are not supported", header.bitCount);
    return nullptr;
  }
  Uint32 rmask = 0, gmask = 0, bmask = 0, amask = 0;
  if (header.compression == kRgb && header.offBits == 14 + header.size) {
    if (header.bitCount == 15 || header.bitCount == 16) {
      rmask = 0x7C00;
      gmask = 0x03E0;
      bmask = 0x001F;
    } else if (header.bitCount == 24 || header.bitCount == 32) {
      rmask = 0x00FF0000;
      gmask = 0x0000FF00;
      bmask = 0x000000FF;
      if (header.bitCount == 32) amask = 0xFF000000;
    }
  } else if (header.bitCount == 15 || header.bitCount == 16 || header.bitCount == 32) {
    rmask = readLE32(src);
    gmask = readLE32(src);
    bmask = readLE32(src);
    if (header.bitCount == 32) amask = readLE32(src);
  }
  SDL_Surface* const surface = SDL_CreateRGBSurface(SDL_SWSURFACE, header.width, header.height,
                                                    header.bitCount, rmask, gmask, bmask, amask);
  if (surface == nullptr) return nullptr;
  SDL_Palette* const palette = surface->format->palette;
  // The palette follows the whole header, however long the header says it
  // is (the masks above are read right after its first 40 bytes).
  if (palette != nullptr && SDL_RWseek(src, offsetFrom(start, 14 + header.size), RW_SEEK_SET) < 0) {
    SDL_Error(SDL_EFSEEK);
    SDL_FreeSurface(surface);
    return nullptr;
  }
  if (palette != nullptr) {
    // Every entry the depth allows is read, whatever the header counts.
    const int colours = 1 << header.bitCount;
    for (int i = 0; i < colours && i < palette->ncolors; ++i) {
      SDL_RWread(src, &palette->colors[i].b, 1, 1);
      SDL_RWread(src, &palette->colors[i].g, 1, 1);
      SDL_RWread(src, &palette->colors[i].r, 1, 1);
      if (header.size == 12) {
        palette->colors[i].unused = 0;
      } else {
        SDL_RWread(src, &palette->colors[i].unused, 1, 1);
      }
    }
    palette->ncolors = colours;
  }
  bool read = false;
  if (SDL_RWseek(src, offsetFrom(start, header.offBits), RW_SEEK_SET) < 0) {
    SDL_Error(SDL_EFSEEK);
  } else if (header.compression == kRle4 || header.compression == kRle8) {
    read = readRlePixels(surface, src, header.compression == kRle8);
    if (!read) SDL_SetError("Error reading from BMP");
  } else {
    read = readRows(surface, src, header);
  }
  if (!read) {
    SDL_FreeSurface(surface);
    SDL_RWseek(src, start, RW_SEEK_SET);
    return nullptr;
  }
  return surface;
}

}  // namespace

namespace compat {

SDL_Surface* loadBmp(SDL_RWops* src) {
  const int start = SDL_RWtell(src);
  SDL_ClearError();
  return readBmp(src, start);
}

}  // namespace compat
