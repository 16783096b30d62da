// Images and power-of-two textures. In GL mode an image keeps only its
// texture; in the software back end only its surface.
#pragma once

#include <cstdint>
#include <vector>

struct SDL_Surface;

namespace render {

// Owns its surface and its texture; move-only.
struct GfxImage {
  SDL_Surface* surface = nullptr;
  uint32_t texture = 0;  // GL texture name, 0 = none
  float texExtentU = 0;  // image width / texture width
  float texExtentV = 0;  // image height / texture height
  uint16_t width = 0;    // pixel size, set when converted to a texture
  uint16_t height = 0;
  uint8_t stale = 0;  // re-upload the texture from surface on next draw
  // The texture is the picture's exact size where GL takes any size, not
  // the powers of two around it: for pictures drawn only at whole scales
  // (1 or 2), where both sample the same texels, and whose padding would
  // cost much memory. Other pictures keep power-of-two textures, whose
  // coordinates are exact binary fractions at any scale.
  bool exactSize = false;
  // For pictures at most kMaxMaskedSide pixels on each side, with a texture:
  // row y's bit x is set when pixel (x, y) is not fully transparent (what
  // drawing may leave out). Empty for other pictures.
  std::vector<uint64_t> visibleRows;

  GfxImage();
  ~GfxImage();
  GfxImage(const GfxImage&) = delete;
  GfxImage& operator=(const GfxImage&) = delete;
  GfxImage(GfxImage&& other) noexcept;
  GfxImage& operator=(GfxImage&& other) noexcept;

  // Pixel size whichever back end holds it (texture size in GL mode,
  // surface size otherwise).
  int pixelWidth() const;
  int pixelHeight() const;
  bool empty() const { return surface == nullptr && texture == 0; }
};

// A change of video mode may take the GL context with every texture (it
// always does on Windows; X11 keeps it). Before the change holdTextures
// reads every live image's texture back into a surface of its own; after it
// restoreTextures uploads them again when the context was lost (the old
// names are then dropped, never deleted) or simply drops the copies when it
// was kept. Pictures that keep their surface are uploaded from it; an image
// whose texture could not be read back is left empty, its old name given up.
void holdTextures();
void restoreTextures(bool contextLost);
// Live images, for checking that a mode change keeps every one.
int liveImageCount();

// Largest side of a picture whose visible pixels are kept in visibleRows.
inline constexpr int kMaxMaskedSide = 64;

// Loads path into image (printing the "Load Graphic File" lines; a missing
// file ends the process with status 1), or with a null path converts the
// surface the image already holds.
void loadImage(GfxImage& image, const char* path);
void releaseImage(GfxImage& image);
// A texture of the surface's picture; exactSize as GfxImage's.
uint32_t createTexture(SDL_Surface* surface, float extents[2], bool exactSize = false);
// Whether the current GL context takes textures of any size (GL 2.0 on, or
// the extension for it).
bool anySizeTextures();
SDL_Surface* padToPowerOfTwo(SDL_Surface* surface, int width, int height);
void uploadTexture(uint32_t texture, SDL_Surface* padded, int width, int height);
void refreshTexture(GfxImage& image);
int nextPowerOfTwo(int n);
// A blank surface in the renderer's pixel format (RGBA byte order).
SDL_Surface* createSurface(uint16_t width, uint16_t height, uint16_t flags);
uint32_t getPixel(SDL_Surface* surface, int x, int y);
void putPixel(SDL_Surface* surface, int x, int y, uint32_t value);
void paintThroughAlpha(SDL_Surface* target, SDL_Surface* pattern, bool stretch);
void spreadEdgeColour(SDL_Surface* surface, uint8_t red, uint8_t green, uint8_t blue,
                      uint8_t radius);

}  // namespace render
