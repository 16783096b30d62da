// The display on Linux: an X server, reached through SDL's X11 driver.
#include <GL/glx.h>
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

namespace {

using CopySubBufferFn = void (*)(Display*, GLXDrawable, int, int, int, int);

}  // namespace

// Through GLX_MESA_copy_sub_buffer, looked up once per display connection.
bool glPresentRegion(int x, int y, int width, int height) {
  static Display* checked = nullptr;
  static CopySubBufferFn copy = nullptr;
  Display* display = glXGetCurrentDisplay();
  const GLXDrawable drawable = glXGetCurrentDrawable();
  if (display == nullptr || drawable == 0) return false;
  if (display != checked) {
    checked = display;
    copy = nullptr;
    const char* extensions = glXQueryExtensionsString(display, DefaultScreen(display));
    if (listsExtension(extensions, "GLX_MESA_copy_sub_buffer")) {
      copy = reinterpret_cast<CopySubBufferFn>(
          glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXCopySubBufferMESA")));
    }
  }
  if (copy == nullptr) return false;
  copy(display, drawable, x, y, width, height);
  return true;
}

}  // namespace platform
