// IMG_Load for PNG files over libpng, with the surface SDL_image makes:
// 8-bit palette surfaces for palette and grey pictures, 24-bit RGB and
// 32-bit RGBA with the bytes in file order, a colour key for a single
// transparent palette entry or a tRNS colour. BMP files go to the reader in
// image_bmp.cpp.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "SDL_image.h"
#include "image_formats.h"

namespace {

constexpr size_t kSignatureBytes = 8;

// What the header says after the transformations are set up.
struct PngLayout {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colorType = 0;
  int channels = 0;
  int colourKey = -1;  // palette index or mapped colour; -1 for none
  png_color_16p transparent = nullptr;
};

void readFromRw(png_structp png, png_bytep data, png_size_t length) {
  SDL_RWops* const source = static_cast<SDL_RWops*>(png_get_io_ptr(png));
  if (SDL_RWread(source, data, 1, static_cast<int>(length)) != static_cast<int>(length)) {
    png_error(png, "Read Error");
  }
}

// libpng's messages are not printed; the failure is reported through SDL's
// error text once png_read_* gives up.
void quietWarning(png_structp, png_const_charp) {}

// One transparent palette entry becomes the colour key; any other mix of
// transparency turns the palette into RGBA, as SDL_image does.
void setTransparency(png_structp png, png_infop info, PngLayout& layout) {
  if (png_get_valid(png, info, PNG_INFO_tRNS) == 0) return;
  png_bytep alphas = nullptr;
  int count = 0;
  png_get_tRNS(png, info, &alphas, &count, &layout.transparent);
  if (layout.colorType != PNG_COLOR_TYPE_PALETTE) {
    layout.colourKey = 0;
    return;
  }
  int key = -1;
  int i = 0;
  for (; i < count; ++i) {
    if (alphas[i] == 0) {
      if (key >= 0) break;
      key = i;
    } else if (alphas[i] != 255) {
      break;
    }
  }
  if (i == count) {
    layout.colourKey = key;
  } else {
    png_set_expand(png);
  }
}

void setTransformations(png_structp png, png_infop info, PngLayout& layout) {
  png_get_IHDR(png, info, &layout.width, &layout.height, &layout.bitDepth, &layout.colorType,
               nullptr, nullptr, nullptr);
  png_set_strip_16(png);
  png_set_packing(png);
  if (layout.colorType == PNG_COLOR_TYPE_GRAY) png_set_expand(png);
  setTransparency(png, info, layout);
  if (layout.colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_read_update_info(png, info);
  png_get_IHDR(png, info, &layout.width, &layout.height, &layout.bitDepth, &layout.colorType,
               nullptr, nullptr, nullptr);
  layout.channels = png_get_channels(png, info);
}

SDL_Surface* createTarget(png_structp png, png_infop info, const PngLayout& layout) {
  Uint32 rmask = 0, gmask = 0, bmask = 0, amask = 0;
  if (layout.colorType != PNG_COLOR_TYPE_PALETTE) {
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
    rmask = 0x000000FF;
    gmask = 0x0000FF00;
    bmask = 0x00FF0000;
    amask = layout.channels == 4 ? 0xFF000000 : 0;
#else
    const int shift = layout.channels == 4 ? 0 : 8;
    rmask = 0xFF000000 >> shift;
    gmask = 0x00FF0000 >> shift;
    bmask = 0x0000FF00 >> shift;
    amask = 0x000000FF >> shift;
#endif
  }
  SDL_Surface* const surface = SDL_AllocSurface(
      SDL_SWSURFACE, static_cast<int>(layout.width), static_cast<int>(layout.height),
      layout.bitDepth * layout.channels, rmask, gmask, bmask, amask);
  if (surface == nullptr) return nullptr;
  if (layout.colourKey != -1) {
    Uint32 key = static_cast<Uint32>(layout.colourKey);
    if (layout.colorType != PNG_COLOR_TYPE_PALETTE) {
      key = SDL_MapRGB(surface->format, static_cast<Uint8>(layout.transparent->red),
                       static_cast<Uint8>(layout.transparent->green),
                       static_cast<Uint8>(layout.transparent->blue));
    }
    SDL_SetColorKey(surface, SDL_SRCCOLORKEY, key);
  }
  SDL_Palette* const palette = surface->format->palette;
  if (palette == nullptr) return surface;
  if (layout.colorType == PNG_COLOR_TYPE_GRAY) {
    palette->ncolors = 256;
    for (int i = 0; i < 256; ++i) {
      palette->colors[i].r = palette->colors[i].g = palette->colors[i].b = static_cast<Uint8>(i);
    }
    return surface;
  }
  png_colorp colours = nullptr;
  int count = 0;
  if (png_get_PLTE(png, info, &colours, &count) != 0 && count > 0) {
    palette->ncolors = count;
    for (int i = 0; i < count; ++i) {
      palette->colors[i].r = colours[i].red;
      palette->colors[i].g = colours[i].green;
      palette->colors[i].b = colours[i].blue;
    }
  }
  return surface;
}

// The rows go straight into the surface; libpng runs the interlace passes
// itself. What follows the image data is not read, as in SDL_image: a
// damaged chunk after it does not fail the picture. Every local the jump may cross is plain data or
// volatile.
SDL_Surface* decode(SDL_RWops* source) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, quietWarning);
  if (png == nullptr) {
    SDL_SetError("Couldn't allocate memory for PNG file or incompatible PNG dll");
    return nullptr;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    SDL_SetError("Couldn't create image information for PNG file");
    return nullptr;
  }
  SDL_Surface* volatile surface = nullptr;
  png_bytep* volatile rows = nullptr;
  PngLayout layout;
  if (setjmp(png_jmpbuf(png))) {
    SDL_SetError("Error reading the PNG file.");
    SDL_free(rows);
    if (surface != nullptr) SDL_FreeSurface(surface);
    png_destroy_read_struct(&png, &info, nullptr);
    return nullptr;
  }
  png_set_read_fn(png, source, readFromRw);
  png_read_info(png, info);
  setTransformations(png, info, layout);
  surface = createTarget(png, info, layout);
  if (surface == nullptr) {
    png_destroy_read_struct(&png, &info, nullptr);
    SDL_SetError("Out of memory");
    return nullptr;
  }
  rows = static_cast<png_bytep*>(SDL_malloc(sizeof(png_bytep) * layout.height));
  if (rows == nullptr) png_error(png, "Out of memory");
  for (png_uint_32 row = 0; row < layout.height; ++row) {
    rows[row] = static_cast<png_bytep>(surface->pixels) + row * surface->pitch;
  }
  png_read_image(png, rows);
  SDL_free(rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return surface;
}

bool isPng(SDL_RWops* source) {
  png_byte signature[kSignatureBytes];
  const int start = SDL_RWtell(source);
  const bool png = SDL_RWread(source, signature, 1, kSignatureBytes) == kSignatureBytes &&
                   png_sig_cmp(signature, 0, kSignatureBytes) == 0;
  SDL_RWseek(source, start, RW_SEEK_SET);
  return png;
}

bool isBmp(SDL_RWops* source) {
  char magic[2];
  const int start = SDL_RWtell(source);
  const bool bmp = SDL_RWread(source, magic, 1, 2) == 2 && magic[0] == 'B' && magic[1] == 'M';
  SDL_RWseek(source, start, RW_SEEK_SET);
  return bmp;
}

}  // namespace

extern "C" SDL_Surface* SDLCALL IMG_Load_RW(SDL_RWops* source, int freesrc) {
  if (source == nullptr) return nullptr;
  SDL_Surface* surface = nullptr;
  if (isPng(source)) {
    surface = decode(source);
  } else if (isBmp(source)) {
    surface = compat::loadBmp(source);
  } else {
    SDL_SetError("Unsupported image format");
  }
  if (freesrc != 0) SDL_RWclose(source);
  return surface;
}

extern "C" SDL_Surface* SDLCALL IMG_Load(const char* file) {
  SDL_RWops* const source = SDL_RWFromFile(file, "rb");
  if (source == nullptr) return nullptr;
  return IMG_Load_RW(source, 1);
}
