// What the operating system provides: the fonts folder, code-page conversion
// and the console's character set, the display, and the input method. One
// implementation per platform; scenes and the game logic never include a
// system header for these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace platform {

// Full path of the system font fileName, or an empty string when there is
// none. Where the exact file is missing a platform may offer its closest
// Japanese gothic font instead.
std::string fontFilePath(const char* fileName);

// Converts sourceLength bytes (no terminator needed) between Shift-JIS (code
// page 932) and UTF-8. Writes at most destinationSize bytes, without a
// terminator, and returns the full converted length (which may exceed
// destinationSize; pass a null destination to measure). Bytes that are not
// valid in the source encoding become '?'. Returns -1 when the conversion is
// not available at all.
long convertCodePage(const char* source, size_t sourceLength, char* destination,
                     size_t destinationSize, bool toUtf8);

// The character set of the user's locale as the C library names it
// ("UTF-8", "SHIFT_JIS", "ANSI_X3.4-1968" for the C locale), or an empty
// string when the locale the user named is not installed.
std::string localeCharset();
// Shift-JIS text in the given character set, for a console: unchanged when
// the set is Shift-JIS, UTF-8 when the name is empty or names plain ASCII
// (the C locale holds no Japanese) or is unknown, converted otherwise.
std::string consoleText(const char* shiftJis, const std::string& charset);
// Writes Shift-JIS text to a console stream in the character set of the
// user's locale. Text in files, on the wire and in pictures stays Shift-JIS.
void writeConsole(std::FILE* stream, const char* shiftJis);

// Picks SDL's video driver before SDL starts: the game draws through OpenGL,
// which on this platform only the X11 driver gives, so SDL's fall-back to a
// text-terminal driver (which takes over the terminal) is ruled out. A driver
// the user chose through SDL's own SDL_VIDEODRIVER stays.
void chooseVideoDriver();
// One line that tells the user what to do when SDL could not bring up
// video: on this platform, that there is no display to open the window on.
const char* noDisplayAdvice();
// Whether a GL window may be asked for without a depth buffer. A scaled
// window takes none where it may: the scenes draw into a frame of their own,
// and a software rasteriser copies that frame into the window far more
// cheaply when the window has none.
bool glWindowWithoutDepthBuffer();
// Shows a rectangle of the current GL window's back buffer (x and y from the
// window's bottom-left corner, as GL counts) in the window, without a swap:
// the back buffer keeps its pixels. False, and nothing shown, where the
// window system offers no such copy; the caller then swaps as usual.
bool glPresentRegion(int x, int y, int width, int height);
// Whether the current GL context draws on the CPU (a software rasteriser).
// Its scaled picture is then cheaper magnified by the CPU code below than by
// the rasteriser's general texture path: that path samples each texel
// alone, and it writes the window's buffer in the same memory the X server
// reads anyway.
bool glDrawsOnCpu();
// A picture made on the CPU for the current GL window, shown without GL:
// pictureImage gives width x height pixels of 32 bits (blue, green, red and
// one unused byte in memory, rows from the top, `stride` pixels apart),
// kept from one call to the next; nullptr where the window system cannot
// take such a picture. putPicture shows them at (left, top) from the
// window's top-left corner, and with `bars` paints the rest of a window of
// windowWidth x windowHeight black; false when that failed (the caller then
// draws with GL). The pixels may be written again once pictureImage returns
// them: it waits until the window system has read the last ones.
struct PictureImage {
  uint32_t* pixels = nullptr;
  int stride = 0;
};
PictureImage pictureImage(int width, int height);
bool putPicture(int left, int top, int windowWidth, int windowHeight, bool bars);
// Forgets the picture's image (before the display connection may close, and
// when the window changes).
void releasePicture();
// Reads width x height pixels of what the current GL window shows, from
// (x, y) of its top-left corner, in the picture's pixel format; false where
// it cannot. For tests that check the shown picture.
bool readShownPicture(int x, int y, int width, int height, uint32_t* out);
// Whether a space-separated list of extension names (GL's, GLX's) holds
// name as a whole word.
inline bool listsExtension(const char* list, const char* name) {
  if (list == nullptr) return false;
  const size_t length = std::strlen(name);
  for (const char* at = std::strstr(list, name); at != nullptr; at = std::strstr(at + 1, name)) {
    const bool starts = at == list || at[-1] == ' ';
    const bool ends = at[length] == '\0' || at[length] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

// How the C library's heap serves a program whose large blocks (pictures,
// the frame, the GL driver's textures and buffers) come and go: each block
// of 128 KiB or more gets pages of its own, given back to the system when it
// is freed, instead of a place in the heap that would stay resident after
// it. Small blocks freed at the top of the heap are kept for reuse up to a
// few MiB, so that what the driver takes and gives back every frame is not
// returned and faulted in again each time. Call once at start-up, before
// other threads run. Nothing on platforms whose heap needs no such setting.
void settleHeap();
// Gives the pages of free heap memory back to the system: for a moment just
// after much was freed or is no longer needed (a scene was left).
void releaseFreeMemory();

}  // namespace platform

// Input-method calls of the SDL build the program was designed for. On
// platforms without them they do nothing and report success.
int SDL_SetIMValues(int item, ...);
int IMM_Init();
const char* IMM_GetCompStr();

namespace platform {

// Replaces the file at path with contents so that a crash, a full disk or a
// folder that cannot be written leaves either the old file or the new one
// whole, never a part: the text goes to a file beside it (path + ".new"),
// is forced to the disk, and only then takes the old file's name (whose new
// entry in the folder is forced to the disk too). A file that another
// program (a virus scanner, an indexer) holds for a moment is waited for,
// about a second at most. Returns false when anything failed; the old file
// is then untouched and the file beside it removed.
bool replaceFile(const char* path, const std::string& contents);

namespace testing {
// Makes the next replaceFile stop writing after this many bytes, as a full
// disk would (negative: no limit, the default).
void failWritesAfter(long bytes);
}  // namespace testing

}  // namespace platform
