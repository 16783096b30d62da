#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif
#include <GL/gl.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "render/video.h"

namespace testsupport {
namespace {

#ifndef _WIN32
// SDL_Quit unloads the GL driver, and what the driver keeps until exit would
// then be reported by the leak checker from an unknown module that no
// suppression can name. Keeping the loaded driver mapped leaves those
// allocations attributed to it.
int pinGlDriver(dl_phdr_info* info, size_t, void*) {
  const char* name = info->dlpi_name;
  if (name != nullptr && std::strstr(name, "_dri.so") != nullptr) {
    dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
  return 0;
}
#endif

}  // namespace

bool openGlWindow(uint16_t windowWidth, uint16_t windowHeight) {
  if (SDL_Init(SDL_INIT_VIDEO) < 0) return false;
  render::setFrameRate(60);
  const bool opened = render::setVideoMode(640, 480, 32, 0x1003, windowWidth, windowHeight);
#ifndef _WIN32
  // The leak checker runs in the Linux builds only.
  if (opened) dl_iterate_phdr(pinGlDriver, nullptr);
#endif
  return opened;
}

bool openSoftwareScreen() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_VIDEO) < 0) return false;
  render::setFrameRate(60);
  return render::setVideoMode(640, 480, 32, 0x1000);
}

void closeVideo() {
  render::videoShutdown();
  SDL_Quit();
}

void clearGl(float r, float g, float b) {
  glClearColor(r, g, b, 1);
  glClear(GL_COLOR_BUFFER_BIT);
}

std::vector<uint8_t> readGlRect(int x, int y, int w, int h) {
  glFinish();
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

Rgba readGlPixel(int x, int y) {
  glFinish();
  uint8_t p[4] = {0, 0, 0, 0};
  glReadPixels(x, 479 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
  return {p[0], p[1], p[2], p[3]};
}

Rgba readSurfacePixel(SDL_Surface* surface, int x, int y) {
  SDL_LockSurface(surface);
  const auto* row = static_cast<const uint8_t*>(surface->pixels) + y * surface->pitch;
  uint32_t value = 0;
  std::memcpy(&value, row + x * 4, 4);
  SDL_UnlockSurface(surface);
  uint8_t r, g, b, a;
  SDL_GetRGBA(value, surface->format, &r, &g, &b, &a);
  return {r, g, b, a};
}

std::string scratchDir(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vellora-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

std::string saveGlScreenshot(const std::string& name) {
  // Under the build folder however the test is started, never in the work
  // tree it runs from.
  const std::filesystem::path dir = VELLORA_TEST_ARTIFACTS;
  std::filesystem::create_directories(dir);
  const std::string path = (dir / (name + ".bmp")).string();
  glFinish();
  std::vector<uint8_t> pixels(640 * 480 * 4);
  glReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  SDL_Surface* shot =
      SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0);
  for (int y = 0; y < 480; ++y) {
    std::memcpy(static_cast<uint8_t*>(shot->pixels) + y * shot->pitch,
                pixels.data() + (479 - y) * 640 * 4, 640 * 4);
  }
  SDL_SaveBMP(shot, path.c_str());
  SDL_FreeSurface(shot);
  return path;
}

}  // namespace testsupport
