// Shared helpers of the unit tests: bringing up a real window (GL under the
// virtual display, or the software back end on SDL's dummy driver) and
// reading pixels back.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
// The POSIX environment calls the tests use, on the Windows C library (which
// SDL's DLL shares): an empty value removes the variable there.
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace testsupport {

struct Rgba {
  uint8_t r, g, b, a;
};

// SDL video (and nothing else) with a 640 x 480 frame in GL mode, as the
// program opens it, in a window of its size or of the size given. Returns
// false when no display is available.
bool openGlWindow(uint16_t windowWidth = 0, uint16_t windowHeight = 0);
// SDL video on the dummy driver with a software screen surface.
bool openSoftwareScreen();
void closeVideo();

// Clears the GL back buffer (tests only; the program never clears).
void clearGl(float r, float g, float b);
// A pixel of the GL back buffer in window coordinates (origin top-left).
Rgba readGlPixel(int x, int y);
// RGBA bytes of a rectangle of the GL back buffer in GL's own window
// coordinates (origin bottom-left), rows bottom first.
std::vector<uint8_t> readGlRect(int x, int y, int w, int h);
// A pixel of a 32-bit surface, as red, green, blue, alpha.
Rgba readSurfacePixel(SDL_Surface* surface, int x, int y);
// Saves the GL back buffer as a BMP in the build folder's artifacts/.
// Returns the path written.
std::string saveGlScreenshot(const std::string& name);
// A folder for a test's scratch files, created empty.
std::string scratchDir(const std::string& name);

}  // namespace testsupport
