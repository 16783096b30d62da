#include "support/frames.h"

#include <GL/gl.h>
#include <SDL.h>
#include <SDL_image.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#ifdef VELLORA_PNG_WRITER
#include <png.h>
#endif

namespace testsupport {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr size_t kRowBytes = kWidth * 4;

std::string rgb(const Frame& f, size_t i) {
  return std::to_string(f[i]) + " " + std::to_string(f[i + 1]) + " " + std::to_string(f[i + 2]);
}

std::string picturePath(const std::string& name) { return "tests/pictures/" + name + ".png"; }

// A 32-bit surface whose bytes are R, G, B, A in memory, as a Frame's are.
SDL_Surface* rgbaSurface(int w, int h) {
  return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0x000000FF, 0x0000FF00, 0x00FF0000,
                              0xFF000000);
}

// The picture's frames, top one first; false (with why) when it cannot be
// read or is not a stack of whole frames.
bool readPicture(const std::string& path, std::vector<Frame>& frames, std::string& problem) {
  SDL_Surface* const loaded = IMG_Load(path.c_str());
  if (loaded == nullptr) {
    problem = "cannot read " + path;
    return false;
  }
  SDL_Surface* const target = rgbaSurface(1, 1);
  SDL_Surface* const pixels = SDL_ConvertSurface(loaded, target->format, SDL_SWSURFACE);
  SDL_FreeSurface(target);
  SDL_FreeSurface(loaded);
  if (pixels == nullptr || pixels->w != kWidth || pixels->h % kHeight != 0) {
    problem = path + " is not a stack of 640 x 480 frames";
    if (pixels != nullptr) SDL_FreeSurface(pixels);
    return false;
  }
  for (int top = 0; top < pixels->h; top += kHeight) {
    Frame frame(kRowBytes * kHeight);
    for (int y = 0; y < kHeight; ++y) {
      const auto* row = static_cast<const uint8_t*>(pixels->pixels) + (top + y) * pixels->pitch;
      std::memcpy(&frame[(kHeight - 1 - y) * kRowBytes], row, kRowBytes);
    }
    frames.push_back(std::move(frame));
  }
  SDL_FreeSurface(pixels);
  return true;
}

void saveFrame(const Frame& frame, const std::string& name) {
  const std::filesystem::path dir = VELLORA_TEST_ARTIFACTS;
  std::filesystem::create_directories(dir);
  SDL_Surface* const shot = rgbaSurface(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    std::memcpy(static_cast<uint8_t*>(shot->pixels) + y * shot->pitch,
                &frame[(kHeight - 1 - y) * kRowBytes], kRowBytes);
  }
  SDL_SaveBMP(shot, (dir / (name + ".bmp")).string().c_str());
  SDL_FreeSurface(shot);
}

#ifdef VELLORA_PNG_WRITER
// The frames one below the other as an RGB PNG.
bool writePicture(const std::string& path, const std::vector<Frame>& frames) {
  FILE* const file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> row(kWidth * 3);
  bool written = false;
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, kWidth, static_cast<png_uint_32>(kHeight * frames.size()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    for (const Frame& frame : frames) {
      for (int y = kHeight - 1; y >= 0; --y) {
        for (int x = 0; x < kWidth; ++x) std::memcpy(&row[x * 3], &frame[y * kRowBytes + x * 4], 3);
        png_write_row(png, row.data());
      }
    }
    png_write_end(png, nullptr);
    written = true;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && written;
}
#else
bool writePicture(const std::string&, const std::vector<Frame>&) { return false; }
#endif

}  // namespace

Frame readFrame() {
  glFinish();
  Frame pixels(kRowBytes * kHeight);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

std::string firstDifference(const Frame& got, const Frame& want) {
  if (got.size() != want.size()) return "frames of different sizes";
  for (size_t i = 0; i < got.size(); i += 4) {
    if (got[i] == want[i] && got[i + 1] == want[i + 1] && got[i + 2] == want[i + 2]) continue;
    const int x = static_cast<int>(i / 4) % kWidth;
    const int y = kHeight - 1 - static_cast<int>(i / 4) / kWidth;
    return std::to_string(x) + "," + std::to_string(y) + ": got " + rgb(got, i) + " / want " +
           rgb(want, i);
  }
  return "";
}

void paintBackground() {
  static Frame pattern;
  if (pattern.empty()) {
    pattern.resize(kRowBytes * kHeight);
    uint32_t seed = 12345;
    for (uint8_t& byte : pattern) {
      seed = seed * 1103515245u + 12345u;
      byte = static_cast<uint8_t>(seed >> 16);
    }
  }
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glRasterPos2i(0, kHeight);  // the bottom-left corner, in window pixels with y down
  glDrawPixels(kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pattern.data());
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
}

PictureFile::PictureFile(std::string name) : name_(std::move(name)) {
  const char* const remake = std::getenv("VELLORA_REMAKE_PICTURES");
  remaking_ = remake != nullptr && std::strcmp(remake, "1") == 0;
  if (!remaking_) readPicture(picturePath(name_), frames_, problem_);
}

PictureFile::~PictureFile() {
  if (!remaking_) return;
  const std::string path = picturePath(name_);
  std::printf("%s %s (%zu frames)\n", writePicture(path, frames_) ? "wrote" : "COULD NOT WRITE",
              path.c_str(), frames_.size());
}

std::string PictureFile::next(const Frame& frame) {
  const size_t index = compared_++;
  if (remaking_) {
    frames_.push_back(frame);
    return "";
  }
  if (!problem_.empty()) return problem_;
  if (index >= frames_.size()) {
    return picturePath(name_) + " holds " + std::to_string(frames_.size()) + " frames, not " +
           std::to_string(index + 1);
  }
  const std::string difference = firstDifference(frame, frames_[index]);
  if (!difference.empty()) saveFrame(frame, name_ + "-" + std::to_string(index));
  return difference;
}

}  // namespace testsupport
