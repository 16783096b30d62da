// The display on Linux: an X server, reached through SDL's X11 driver.
#include <stdlib.h>

#include "platform/platform.h"

namespace platform {

void chooseVideoDriver() {
  // Does not overwrite: the variable is SDL's, and the user's choice wins.
  setenv("SDL_VIDEODRIVER", "x11", 0);
}

const char* noDisplayAdvice() {
  return "No X display to open the game's window on: set DISPLAY to a running X server, "
         "or start the game with ./run.sh, which starts a virtual display.";
}

bool glWindowWithoutDepthBuffer() { return true; }

}  // namespace platform
