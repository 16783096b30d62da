// The display on Linux: an X server, reached through SDL's X11 driver.
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/shm.h>

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

bool glDrawsOnCpu() {
  const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  if (renderer == nullptr) return false;
  for (const char* name : {"llvmpipe", "softpipe", "Software Rasterizer"}) {
    if (std::strstr(renderer, name) != nullptr) return true;
  }
  return false;
}

namespace {

// The picture's image: shared memory the X server reads the pixels from,
// made for one display connection, window and size. `pending`: a put was
// sent that the server may not have carried out yet.
struct SharedPicture {
  Display* display = nullptr;
  Drawable window = 0;
  XImage* image = nullptr;
  XShmSegmentInfo segment{};
  GC gc = nullptr;
  bool pending = false;
};
SharedPicture picture;

// X errors of the requests `send` makes (an attach the server cannot
// share this process's memory for, as a remote server; a read of a window
// partly off the screen) are noted instead of ending the program, as
// Xlib's default handler would. True when none came.
bool xErrorSeen = false;
int noteXError(Display*, XErrorEvent*) {
  xErrorSeen = true;
  return 0;
}

template <typename Send>
bool withoutXErrors(Display* display, Send send) {
  XSync(display, False);
  xErrorSeen = false;
  XErrorHandler previous = XSetErrorHandler(noteXError);
  const bool sent = send();
  XSync(display, False);
  XSetErrorHandler(previous);
  return sent && !xErrorSeen;
}

// The window's pixels must be 32 bits with red, green and blue in the bytes
// the picture writes them to.
bool takesPictureFormat(const XImage& image) {
  return image.bits_per_pixel == 32 && image.byte_order == LSBFirst && image.red_mask == 0xff0000 &&
         image.green_mask == 0xff00 && image.blue_mask == 0xff;
}

// Makes the image for the current GL window; false (nothing held) where the
// server or the window cannot take it.
bool makePicture(Display* display, Drawable window, int width, int height) {
  int major = 0, minor = 0;
  Bool pixmaps = False;
  if (!XShmQueryVersion(display, &major, &minor, &pixmaps)) return false;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0) return false;
  // The image refers to the segment's record for as long as it lives: the
  // record is the one kept in `picture`.
  XShmSegmentInfo& segment = picture.segment;
  segment = XShmSegmentInfo{};
  XImage* image = XShmCreateImage(
      display, attributes.visual, static_cast<unsigned>(attributes.depth), ZPixmap, nullptr,
      &segment, static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (image == nullptr) return false;
  bool made = false;
  if (takesPictureFormat(*image)) {
    segment.shmid =
        shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * height, IPC_CREAT | 0600);
    if (segment.shmid >= 0) {
      void* address = shmat(segment.shmid, nullptr, 0);
      segment.shmaddr = image->data = static_cast<char*>(address);
      segment.readOnly = True;
      made = address != reinterpret_cast<void*>(-1) &&
             withoutXErrors(display, [&] { return XShmAttach(display, &segment) != 0; });
      // Marked for removal at once: it goes when both sides let go of it,
      // whichever way this process ends.
      shmctl(segment.shmid, IPC_RMID, nullptr);
      if (!made && address != reinterpret_cast<void*>(-1)) shmdt(address);
    }
  }
  if (!made) {
    image->data = nullptr;
    XDestroyImage(image);
    segment = XShmSegmentInfo{};
    return false;
  }
  picture.display = display;
  picture.window = window;
  picture.image = image;
  picture.gc = XCreateGC(display, window, 0, nullptr);
  XSetForeground(display, picture.gc, 0);
  return true;
}

}  // namespace

PictureImage pictureImage(int width, int height) {
  Display* display = glXGetCurrentDisplay();
  const GLXDrawable window = glXGetCurrentDrawable();
  if (display == nullptr || window == 0 || width <= 0 || height <= 0) return {};
  if (picture.image != nullptr &&
      (picture.display != display || picture.window != window || picture.image->width != width ||
       picture.image->height != height)) {
    releasePicture();
  }
  if (picture.image == nullptr && !makePicture(display, window, width, height)) return {};
  // The server reads the pixels while it carries out the put: they are
  // written again only once it has.
  if (picture.pending) {
    XSync(display, False);
    picture.pending = false;
  }
  return {reinterpret_cast<uint32_t*>(picture.image->data), picture.image->bytes_per_line / 4};
}

bool putPicture(int left, int top, int windowWidth, int windowHeight, bool bars) {
  if (picture.image == nullptr || picture.display != glXGetCurrentDisplay()) return false;
  Display* display = picture.display;
  // The bars: the whole window black, the picture over it at once.
  if (bars) {
    XFillRectangle(display, picture.window, picture.gc, 0, 0, static_cast<unsigned>(windowWidth),
                   static_cast<unsigned>(windowHeight));
  }
  XShmPutImage(display, picture.window, picture.gc, picture.image, 0, 0, left, top,
               static_cast<unsigned>(picture.image->width),
               static_cast<unsigned>(picture.image->height), False);
  XFlush(display);
  picture.pending = true;
  return true;
}

void releasePicture() {
  if (picture.image == nullptr) return;
  XShmDetach(picture.display, &picture.segment);
  XFreeGC(picture.display, picture.gc);
  XSync(picture.display, False);
  shmdt(picture.segment.shmaddr);
  picture.image->data = nullptr;
  XDestroyImage(picture.image);
  picture = SharedPicture{};
}

bool readShownPicture(int x, int y, int width, int height, uint32_t* out) {
  Display* display = glXGetCurrentDisplay();
  const GLXDrawable window = glXGetCurrentDrawable();
  if (display == nullptr || window == 0) return false;
  XImage* image = nullptr;
  withoutXErrors(display, [&] {
    image = XGetImage(display, window, x, y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), AllPlanes, ZPixmap);
    return image != nullptr;
  });
  if (image == nullptr) return false;
  const bool usable = takesPictureFormat(*image);
  for (int row = 0; usable && row < height; ++row) {
    std::memcpy(out + static_cast<size_t>(row) * width,
                image->data + static_cast<size_t>(row) * image->bytes_per_line,
                static_cast<size_t>(width) * 4);
  }
  XDestroyImage(image);
  return usable;
}

}  // namespace platform
