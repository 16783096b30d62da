// GfxImage, power-of-two textures and pixel access on surfaces.
#include "render/image.h"

#include <GL/gl.h>
#include <SDL.h>
#include <SDL_image.h>
#include <SDL_rotozoom.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "render/draw_list.h"
#include "render/video.h"

namespace render {
namespace {

// Byte masks of the renderer's pixel format: on a little-endian machine the
// bytes of a pixel lie in the order red, green, blue, alpha, which is what
// GL_RGBA with GL_UNSIGNED_BYTE reads.
constexpr uint32_t kRedMask = 0x000000FF;
constexpr uint32_t kGreenMask = 0x0000FF00;
constexpr uint32_t kBlueMask = 0x00FF0000;
constexpr uint32_t kAlphaMask = 0xFF000000;
constexpr int kDefaultDepth = 32;
// The most pixels paintThroughAlpha keeps the alpha of; larger targets are
// refused.
constexpr int kMaxPaintPixels = 100000;
constexpr int kLoadFailureStatus = 1;

SDL_Surface* createRgbaSurface(int width, int height, int depth, uint32_t flags) {
  return SDL_CreateRGBSurface(flags, width, height, depth, kRedMask, kGreenMask, kBlueMask,
                              kAlphaMask);
}

// Deletes a texture only while a GL context exists: some images are
// released after SDL_Quit, when GL may no longer be called.
void deleteTexture(uint32_t& texture) {
  if (texture != 0 && video().glContextLive) {
    drawlist::flush();
    const GLuint name = texture;
    glDeleteTextures(1, &name);
    drawlist::textureChanged(name);
  }
  texture = 0;
}

void freeSurface(SDL_Surface*& surface) {
  if (surface != nullptr) SDL_FreeSurface(surface);
  surface = nullptr;
}

// One side of the texture for a picture side of n pixels.
int textureSide(int n, bool exactSize) {
  return exactSize && anySizeTextures() ? n : nextPowerOfTwo(n);
}

// Copies source's alpha channel as it is (rather than blending with it) by
// switching per-surface alpha off for the blit and restoring it afterwards.
void copyKeepingAlpha(SDL_Surface* source, SDL_Rect* sourceRect, SDL_Surface* target) {
  const uint32_t savedFlags = source->flags & (SDL_SRCALPHA | SDL_RLEACCELOK);
  const uint8_t savedAlpha = source->format->alpha;
  const bool blending = (savedFlags & SDL_SRCALPHA) != 0;
  if (blending) SDL_SetAlpha(source, 0, 0);
  SDL_Rect at = {0, 0, 0, 0};
  SDL_UpperBlit(source, sourceRect, target, &at);
  if (blending) SDL_SetAlpha(source, savedFlags, savedAlpha);
}

bool isRgba32(const SDL_Surface* surface) {
  return surface != nullptr && surface->format->BytesPerPixel == 4;
}

uint8_t* pixelAddress(SDL_Surface* surface, int x, int y) {
  return static_cast<uint8_t*>(surface->pixels) + y * surface->pitch +
         x * surface->format->BytesPerPixel;
}

bool insideSurface(const SDL_Surface* surface, int x, int y) {
  return surface != nullptr && surface->pixels != nullptr && x >= 0 && y >= 0 && x < surface->w &&
         y < surface->h;
}

uint8_t alphaOf(const SDL_Surface* surface, uint32_t pixel) {
  return static_cast<uint8_t>((pixel & surface->format->Amask) >> surface->format->Ashift);
}

// Text is rendered white, with its shape in the alpha channel. Modulated by
// the draw colour, a texel that is white or wholly transparent gives exactly
// what an alpha-only texel gives (colour x 1, alpha x its alpha), so such a
// picture is kept as an alpha texture, a quarter of the memory. Returns false
// (nothing uploaded) for any other picture.
bool uploadAsAlpha(SDL_Surface* padded, int width, int height) {
  const auto* pixels = static_cast<const uint8_t*>(padded->pixels);
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = pixels + 4 * i;  // red, green, blue, alpha
    if (p[3] != 0 && (p[0] != 255 || p[1] != 255 || p[2] != 255)) return false;
  }
  std::vector<uint8_t> alpha(count);
  for (size_t i = 0; i < count; ++i) alpha[i] = pixels[4 * i + 3];
  GLint alignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, width, height, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
               alpha.data());
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
  return true;
}

// Records which pixels of a small picture are not fully transparent, from
// the surface its texture is made of. Anything else keeps no record.
void noteVisiblePixels(GfxImage& image) {
  image.visibleRows.clear();
  SDL_Surface* const surface = image.surface;
  // The texture's alpha is the surface's own only for a surface with an
  // alpha channel in the texture's byte order and no colour key.
  if (image.texture == 0 || !isRgba32(surface) || surface->format->Amask != kAlphaMask ||
      (surface->flags & SDL_SRCCOLORKEY) != 0 || surface->w > kMaxMaskedSide ||
      surface->h > kMaxMaskedSide) {
    return;
  }
  image.visibleRows.assign(static_cast<size_t>(surface->h), 0);
  SDL_LockSurface(surface);
  for (int y = 0; y < surface->h; ++y) {
    for (int x = 0; x < surface->w; ++x) {
      if (alphaOf(surface, getPixel(surface, x, y)) != 0) image.visibleRows[y] |= uint64_t{1} << x;
    }
  }
  SDL_UnlockSurface(surface);
}

// Every GfxImage alive, so that a change of video mode reaches them all.
// Function-local so that images made before main (sharedFrameImages) find it
// built.
std::vector<GfxImage*>& liveImages() {
  static std::vector<GfxImage*> images;
  return images;
}

void forget(GfxImage* image) {
  auto& images = liveImages();
  for (size_t i = 0; i < images.size(); ++i) {
    if (images[i] == image) {
      images[i] = images.back();
      images.pop_back();
      return;
    }
  }
}

// Pixels read back while a mode change is under way: (image, copy of the
// texture's picture at the image's size).
std::vector<std::pair<GfxImage*, SDL_Surface*>> heldPixels;

bool isHeld(const GfxImage* image) {
  for (const auto& held : heldPixels) {
    if (held.first == image) return true;
  }
  return false;
}

// The texture's picture as an RGBA surface of the image's size; alpha
// textures (white text) come back white with their alpha.
SDL_Surface* readTexture(const GfxImage& image) {
  GLint potW = 0, potH = 0, format = 0;
  glBindTexture(GL_TEXTURE_2D, image.texture);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &potW);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &potH);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
  if (potW < image.width || potH < image.height || image.width == 0 || image.height == 0)
    return nullptr;
  std::vector<uint8_t> pixels(static_cast<size_t>(potW) * static_cast<size_t>(potH) * 4);
  GLint alignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  const bool alphaOnly = format == GL_ALPHA || format == GL_ALPHA8;
  glGetTexImage(GL_TEXTURE_2D, 0, alphaOnly ? GL_ALPHA : GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
  SDL_Surface* const out = createRgbaSurface(image.width, image.height, kDefaultDepth, 0);
  if (out == nullptr) return nullptr;
  for (int y = 0; y < image.height; ++y) {
    auto* row = static_cast<uint8_t*>(out->pixels) + y * out->pitch;
    for (int x = 0; x < image.width; ++x) {
      const size_t at = static_cast<size_t>(y) * potW + x;
      if (alphaOnly) {
        row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = 255;
        row[4 * x + 3] = pixels[at];
      } else {
        std::memcpy(row + 4 * x, &pixels[4 * at], 4);
      }
    }
  }
  return out;
}

// Gives the image a new texture of its surface's pixels, with the surface's
// size and the rows it shows.
void textureFromSurface(GfxImage& image) {
  float extents[2] = {image.texExtentU, image.texExtentV};
  image.texture = createTexture(image.surface, extents, image.exactSize);
  image.texExtentU = extents[0];
  image.texExtentV = extents[1];
  image.width = static_cast<uint16_t>(image.surface->w);
  image.height = static_cast<uint16_t>(image.surface->h);
  noteVisiblePixels(image);
}

}  // namespace

GfxImage::GfxImage() { liveImages().push_back(this); }

GfxImage::~GfxImage() {
  forget(this);
  freeSurface(surface);
  deleteTexture(texture);
}

GfxImage::GfxImage(GfxImage&& other) noexcept
    : surface(std::exchange(other.surface, nullptr)),
      texture(std::exchange(other.texture, 0)),
      texExtentU(other.texExtentU),
      texExtentV(other.texExtentV),
      width(other.width),
      height(other.height),
      stale(other.stale),
      exactSize(other.exactSize),
      visibleRows(std::move(other.visibleRows)) {
  liveImages().push_back(this);
}

GfxImage& GfxImage::operator=(GfxImage&& other) noexcept {
  if (this == &other) return *this;
  freeSurface(surface);
  deleteTexture(texture);
  surface = std::exchange(other.surface, nullptr);
  texture = std::exchange(other.texture, 0);
  texExtentU = other.texExtentU;
  texExtentV = other.texExtentV;
  width = other.width;
  height = other.height;
  stale = other.stale;
  exactSize = other.exactSize;
  visibleRows = std::move(other.visibleRows);
  return *this;
}

int GfxImage::pixelWidth() const {
  if (texture != 0) return width;
  return surface != nullptr ? surface->w : 0;
}

int GfxImage::pixelHeight() const {
  if (texture != 0) return height;
  return surface != nullptr ? surface->h : 0;
}

void loadImage(GfxImage& image, const char* path) {
  if (path != nullptr) {
    std::printf("Load Graphic File[ %s ]...", path);
    SDL_Surface* const loaded = IMG_Load(path);
    if (loaded == nullptr) {
      std::printf("Can't Load.\n");
      std::fflush(stdout);
      std::exit(kLoadFailureStatus);
    }
    std::printf("Done.\n");
    freeSurface(image.surface);
    image.surface = loaded;
  }
  // The software back end keeps the surface and leaves size and extents.
  if (image.surface == nullptr || !glMode()) return;
  deleteTexture(image.texture);
  textureFromSurface(image);
  freeSurface(image.surface);
}

void releaseImage(GfxImage& image) {
  freeSurface(image.surface);
  deleteTexture(image.texture);
  image.visibleRows.clear();
  image.width = 0;
  image.height = 0;
}

uint32_t createTexture(SDL_Surface* surface, float extents[2], bool exactSize) {
  if (surface == nullptr || surface->w <= 0 || surface->h <= 0) return 0;
  const int potWidth = textureSide(surface->w, exactSize);
  const int potHeight = textureSide(surface->h, exactSize);
  // The padded copy is made before a texture name is taken: when it cannot
  // be made there is no texture at all (0, extents untouched) rather than a
  // name without pixels; the image then draws as a plain quad.
  SDL_Surface* const padded = padToPowerOfTwo(surface, potWidth, potHeight);
  if (padded == nullptr) return 0;
  extents[0] = static_cast<float>(surface->w) / static_cast<float>(potWidth);
  extents[1] = static_cast<float>(surface->h) / static_cast<float>(potHeight);
  GLuint name = 0;
  glGenTextures(1, &name);
  uploadTexture(name, padded, potWidth, potHeight);
  return name;
}

SDL_Surface* padToPowerOfTwo(SDL_Surface* surface, int width, int height) {
  if (surface == nullptr) return nullptr;
  // Always 32 bits: this is the staging copy that GL reads as RGBA bytes,
  // whatever depth the screen runs at.
  SDL_Surface* const out = createRgbaSurface(width, height, kDefaultDepth, SDL_HWSURFACE);
  if (out == nullptr) return nullptr;
  SDL_Rect whole = {0, 0, static_cast<Uint16>(surface->w), static_cast<Uint16>(surface->h)};
  copyKeepingAlpha(surface, &whole, out);
  return out;
}

void uploadTexture(uint32_t texture, SDL_Surface* padded, int width, int height) {
  if (padded == nullptr) return;
  // GL reads width x height tightly packed RGBA bytes from the pixels.
  const bool layoutFits =
      isRgba32(padded) && padded->w == width && padded->h == height && padded->pitch == width * 4;
  if (layoutFits) {
    // Primitives recorded before are drawn with the texture as it was.
    drawlist::flush();
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    if (!uploadAsAlpha(padded, width, height)) {
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                   padded->pixels);
    }
    drawlist::textureChanged(texture);
  }
  SDL_FreeSurface(padded);
}

void refreshTexture(GfxImage& image) {
  image.stale = 0;
  if (image.surface == nullptr) return;
  if (image.texture == 0) {
    textureFromSurface(image);
    return;
  }
  const int potWidth = textureSide(image.surface->w, image.exactSize);
  const int potHeight = textureSide(image.surface->h, image.exactSize);
  // When the padded copy cannot be made the texture keeps its previous
  // pixels; the flag is still cleared so the failure is not retried (and
  // allocated for) every frame.
  uploadTexture(image.texture, padToPowerOfTwo(image.surface, potWidth, potHeight), potWidth,
                potHeight);
  noteVisiblePixels(image);
}

void holdTextures() {
  if (!heldPixels.empty() || !glMode()) return;
  drawlist::flush();
  for (GfxImage* image : liveImages()) {
    if (image->texture == 0 || image->surface != nullptr) continue;
    if (SDL_Surface* copy = readTexture(*image)) heldPixels.emplace_back(image, copy);
  }
}

void restoreTextures(bool contextLost) {
  if (contextLost && glMode()) {
    for (GfxImage* image : liveImages()) {
      if (image->texture == 0) continue;
      // The old context's name means nothing in the new one, where it may
      // soon name another picture's texture: never kept, never deleted.
      image->texture = 0;
      if (image->surface != nullptr) {
        refreshTexture(*image);
      } else if (!isHeld(image)) {
        // Its pixels could not be read back: the picture is gone, and the
        // image is empty as after releaseImage.
        image->visibleRows.clear();
        image->width = 0;
        image->height = 0;
      }
    }
    for (auto& [image, copy] : heldPixels) {
      // The new context may take other sizes than the old one did.
      float extents[2] = {image->texExtentU, image->texExtentV};
      image->texture = createTexture(copy, extents, image->exactSize);
      image->texExtentU = extents[0];
      image->texExtentV = extents[1];
    }
  }
  for (auto& held : heldPixels) SDL_FreeSurface(held.second);
  heldPixels.clear();
}

bool anySizeTextures() {
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  if (version != nullptr && version[0] >= '2' && version[0] <= '9') return true;
  const auto* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  return extensions != nullptr &&
         std::strstr(extensions, "GL_ARB_texture_non_power_of_two") != nullptr;
}

int liveImageCount() { return static_cast<int>(liveImages().size()); }

int nextPowerOfTwo(int n) {
  constexpr int kLargest = 1 << 30;
  int power = 1;
  while (power < n && power < kLargest) power <<= 1;
  return power;
}

SDL_Surface* createSurface(uint16_t width, uint16_t height, uint16_t flags) {
  // Surfaces made before the video mode is set use the start-up depth.
  const int depth = video().videoDepth != 0 ? video().videoDepth : kDefaultDepth;
  return createRgbaSurface(width, height, depth, flags);
}

uint32_t getPixel(SDL_Surface* surface, int x, int y) {
  if (!insideSurface(surface, x, y)) return 0;
  const uint8_t* const p = pixelAddress(surface, x, y);
  switch (surface->format->BytesPerPixel) {
    case 1:
      return *p;
    case 2: {
      uint16_t value = 0;
      std::memcpy(&value, p, sizeof value);
      return value;
    }
    case 3:  // stored low byte first
      return p[0] | (p[1] << 8) | (p[2] << 16);
    case 4: {
      uint32_t value = 0;
      std::memcpy(&value, p, sizeof value);
      return value;
    }
    default:
      return 0;
  }
}

void putPixel(SDL_Surface* surface, int x, int y, uint32_t value) {
  if (!insideSurface(surface, x, y)) return;
  uint8_t* const p = pixelAddress(surface, x, y);
  switch (surface->format->BytesPerPixel) {
    case 1:
      *p = static_cast<uint8_t>(value);
      break;
    case 2: {
      const uint16_t narrow = static_cast<uint16_t>(value);
      std::memcpy(p, &narrow, sizeof narrow);
      break;
    }
    case 3:
      p[0] = static_cast<uint8_t>(value);
      p[1] = static_cast<uint8_t>(value >> 8);
      p[2] = static_cast<uint8_t>(value >> 16);
      break;
    case 4:
      std::memcpy(p, &value, sizeof value);
      break;
    default:
      break;
  }
}

void paintThroughAlpha(SDL_Surface* target, SDL_Surface* pattern, bool stretch) {
  if (!isRgba32(target) || pattern == nullptr) return;
  const int pixels = target->w * target->h;
  if (pixels > kMaxPaintPixels) return;
  std::vector<uint8_t> savedAlpha(static_cast<size_t>(pixels));
  SDL_LockSurface(target);
  for (int y = 0; y < target->h; ++y) {
    for (int x = 0; x < target->w; ++x) {
      savedAlpha[y * target->w + x] = alphaOf(target, getPixel(target, x, y));
    }
  }
  SDL_UnlockSurface(target);
  SDL_Rect at = {0, 0, 0, 0};
  if (stretch && pattern->w > 0 && pattern->h > 0) {
    SDL_Surface* const zoomed =
        zoomSurface(pattern, static_cast<double>(target->w) / pattern->w,
                    static_cast<double>(target->h) / pattern->h, SMOOTHING_ON);
    if (zoomed != nullptr) {
      SDL_UpperBlit(zoomed, nullptr, target, &at);
      SDL_FreeSurface(zoomed);
    }
  } else {
    SDL_UpperBlit(pattern, nullptr, target, &at);
  }
  const uint32_t amask = target->format->Amask;
  const uint8_t ashift = target->format->Ashift;
  SDL_LockSurface(target);
  for (int y = 0; y < target->h; ++y) {
    for (int x = 0; x < target->w; ++x) {
      const uint32_t colour = getPixel(target, x, y) & ~amask;
      putPixel(target, x, y, colour | (uint32_t{savedAlpha[y * target->w + x]} << ashift));
    }
  }
  SDL_UnlockSurface(target);
}

void spreadEdgeColour(SDL_Surface* surface, uint8_t red, uint8_t green, uint8_t blue,
                      uint8_t radius) {
  if (!isRgba32(surface)) return;
  const SDL_PixelFormat* const format = surface->format;
  const uint32_t colour = SDL_MapRGB(surface->format, red, green, blue) & ~format->Amask;
  SDL_LockSurface(surface);
  for (int y = 0; y < surface->h; ++y) {
    for (int x = 0; x < surface->w; ++x) {
      const uint8_t alpha = alphaOf(surface, getPixel(surface, x, y));
      if (alpha == 0 || alpha == 255) continue;
      // Only the colour bytes change, so the edge test above is unaffected.
      for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
          if (!insideSurface(surface, x + dx, y + dy)) continue;
          const uint32_t kept = getPixel(surface, x + dx, y + dy) & format->Amask;
          putPixel(surface, x + dx, y + dy, kept | colour);
        }
      }
    }
  }
  SDL_UnlockSurface(surface);
}

}  // namespace render
