// The installed SDL_image and the companion load the same bytes from memory;
// any difference in the result (surface or none, format, palette, colour
// key, pixels, error text) stops the run. The companion reads PNG and BMP
// and refuses the rest, which SDL_image may read (GIF, JPEG, PCX ...): for
// those only the refusal is checked. Pictures whose header asks for more
// than kMaxPixels are skipped, so every execution stays cheap, and so are
// BMP headers cut short (see worthComparing).
#include <SDL.h>
#include <SDL_image.h>

#include <cstring>
#include <string>

#include "fuzz/differential.h"
#include "tests/compat/compat_api.h"

namespace {

constexpr uint64_t kMaxPixels = 1 << 18;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t bigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
uint32_t littleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
}
uint64_t magnitude(int32_t v) { return v < 0 ? 0u - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

// Whether the libraries are to be compared on the picture: its header asks
// for at most kMaxPixels. A BMP file's header must be whole, with the four
// masks after it: SDL_image reads its fields with SDL_ReadLE32, which leaves
// a field it cannot read undefined.
bool worthComparing(const uint8_t* data, size_t size, bool png) {
  if (png) {
    // IHDR is the first chunk: length, type, width, height.
    if (size < 24) return true;
    return static_cast<uint64_t>(bigEndian32(data + 16)) * bigEndian32(data + 20) <= kMaxPixels;
  }
  if (size < 18) return false;
  const uint32_t headerSize = littleEndian32(data + 14);
  if (headerSize == 12) {  // OS/2 header: 16-bit sizes
    return size >= 14 + 12 + 16 &&
           static_cast<uint64_t>(data[18] | data[19] << 8) * (data[20] | data[21] << 8) <=
               kMaxPixels;
  }
  if (size < 14 + 40 + 16) return false;
  const auto width = static_cast<int32_t>(littleEndian32(data + 18));
  const auto height = static_cast<int32_t>(littleEndian32(data + 22));
  return magnitude(width) * magnitude(height) <= kMaxPixels;
}

SDL_Surface* loadWith(SDL_Surface* (*load)(SDL_RWops*, int), const uint8_t* data, size_t size,
                      std::string& error) {
  SDL_ClearError();
  SDL_Surface* const surface = load(SDL_RWFromConstMem(data, static_cast<int>(size)), 1);
  error = surface == nullptr ? SDL_GetError() : "";
  return surface;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool png = size >= 8 && std::memcmp(data, kPngSignature, 8) == 0;
  const bool bmp = size >= 2 && data[0] == 'B' && data[1] == 'M';
  std::string ourError;
  if (!png && !bmp) {
    SDL_Surface* const ours = loadWith(compat_IMG_Load_RW, data, size, ourError);
    require(ours == nullptr && ourError == "Unsupported image format", "not PNG or BMP");
    return 0;
  }
  if (!worthComparing(data, size, png)) return 0;
  std::string realError;
  SDL_Surface* const real = loadWith(IMG_Load_RW, data, size, realError);
  SDL_Surface* const ours = loadWith(compat_IMG_Load_RW, data, size, ourError);
  requireSameError(realError, ourError, "IMG_Load_RW error");
  requireSameSurface(real, ours, "IMG_Load_RW");
  return 0;
}
