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
uint64_t magnitude(int32_t v) {
  return v < 0 ? 0u - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

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

SDL_Surface* loadWith(SDL_Surface* (*load)(SDL_RWops*, int), SDL_RWops* source,
                      std::string& error) {
  SDL_ClearError();
  SDL_Surface* const surface = load(source, 1);
  error = surface == nullptr ? SDL_GetError() : "";
  return surface;
}

SDL_Surface* loadPng(SDL_RWops* source, int) {
  SDL_Surface* const surface = IMG_LoadPNG_RW(source);
  SDL_RWclose(source);
  return surface;
}

// The input for SDL_image's PNG reader, which does not check its reads: at
// the end of the data it would go on with whatever its buffer last held
// (and can loop for ever on a chunk read again and again). Here a read past
// the end gets zeros, which libpng refuses at once, and is noted: what the
// library makes of such a file is not defined, so it is not compared.
struct PaddedInput {
  const uint8_t* data;
  int size;
  bool pad;  // zeros past the end (for SDL_image), or a short read (for the companion)
  int at = 0;
  bool ranPastEnd = false;
};

int paddedSeek(SDL_RWops* rw, int offset, int whence) {
  auto* in = static_cast<PaddedInput*>(rw->hidden.unknown.data1);
  int to = whence == RW_SEEK_SET   ? offset
           : whence == RW_SEEK_CUR ? in->at + offset
                                   : in->size + offset;
  if (to < 0) to = 0;
  if (to > in->size) to = in->size;
  in->at = to;
  return to;
}

int paddedRead(SDL_RWops* rw, void* out, int size, int count) {
  auto* in = static_cast<PaddedInput*>(rw->hidden.unknown.data1);
  const long wanted = static_cast<long>(size) * count;
  const long available = in->size - in->at;
  const long copied = wanted < available ? wanted : available;
  std::memcpy(out, in->data + in->at, static_cast<size_t>(copied));
  in->at += static_cast<int>(copied);
  if (copied < wanted) {
    in->ranPastEnd = true;
    if (in->pad) {
      std::memset(static_cast<uint8_t*>(out) + copied, 0, static_cast<size_t>(wanted - copied));
    }
  }
  return size > 0 ? static_cast<int>(copied / size) : 0;
}

int paddedWrite(SDL_RWops*, const void*, int, int) { return 0; }
int paddedClose(SDL_RWops* rw) {
  SDL_FreeRW(rw);
  return 0;
}

SDL_RWops* paddedSource(PaddedInput& input) {
  SDL_RWops* const rw = SDL_AllocRW();
  require(rw != nullptr, "SDL_AllocRW");
  rw->seek = paddedSeek;
  rw->read = paddedRead;
  rw->write = paddedWrite;
  rw->close = paddedClose;
  rw->hidden.unknown.data1 = &input;
  return rw;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool png = size >= 8 && std::memcmp(data, kPngSignature, 8) == 0;
  const bool bmp = size >= 2 && data[0] == 'B' && data[1] == 'M';
  const int length = static_cast<int>(size);
  std::string ourError;
  if (!png && !bmp) {
    SDL_Surface* const ours =
        loadWith(compat_IMG_Load_RW, SDL_RWFromConstMem(data, length), ourError);
    require(ours == nullptr && ourError == "Unsupported image format", "not PNG or BMP");
    return 0;
  }
  if (!worthComparing(data, size, png)) return 0;
  std::string realError;
  // The companion reads first: when libpng asks it for more than there is,
  // SDL_image would be asked for the same and run past the end, and its
  // result is not compared (nor waited for: a huge chunk length makes it
  // read gigabytes of padding). The companion must then fail.
  PaddedInput ourInput{data, length, false};
  SDL_Surface* const ours = loadWith(compat_IMG_Load_RW, paddedSource(ourInput), ourError);
  if (ourInput.ranPastEnd && png) {
    if (ours != nullptr) SDL_FreeSurface(ours);
    std::snprintf(failureContext, sizeof failureContext, "ours: %s", ourError.c_str());
    requireWith(ours == nullptr && ourError == "Error reading the PNG file.", "PNG cut short");
    return 0;
  }
  // IMG_Load_RW hands a file with either signature to the reader called
  // here; the PNG one is called directly, so the reads it makes are the
  // only ones of its input.
  PaddedInput realInput{data, length, true};
  SDL_Surface* const real =
      png ? loadWith(loadPng, paddedSource(realInput), realError)
          : loadWith(IMG_Load_RW, SDL_RWFromConstMem(data, length), realError);
  if (realInput.ranPastEnd) {
    if (real != nullptr) SDL_FreeSurface(real);
    if (ours != nullptr) SDL_FreeSurface(ours);
    return 0;
  }
  requireSameError(realError, ourError, "IMG_Load_RW error");
  requireSameSurface(real, ours, "IMG_Load_RW");
  return 0;
}
