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

}  // namespace platform
