// The display on Windows: SDL's own default driver (windib) opens the window
// on the desktop; there is nothing to choose.
#include "platform/platform.h"

namespace platform {

void chooseVideoDriver() {}

const char* noDisplayAdvice() {
  return "The game's window could not be opened: check that the display driver supports "
         "OpenGL, and that the game is not started from a service or a remote session "
         "without a desktop.";
}

// SDL 1.2's Windows driver reads a null string (and the program crashes) when
// it sets up a GL window without one, as seen under Wine; the window keeps
// its depth buffer there, and the frame is scaled the same way.
bool glWindowWithoutDepthBuffer() { return false; }

// WGL has no copy of part of the back buffer to the window.
bool glPresentRegion(int, int, int, int) { return false; }

// Windows' GL drivers are the graphics card's: the picture is scaled there.
bool glDrawsOnCpu() { return false; }
PictureImage pictureImage(int, int) { return {}; }
bool putPicture(int, int, int, int, bool) { return false; }
void releasePicture() {}
bool readShownPicture(int, int, int, int, uint32_t*) { return false; }

}  // namespace platform
