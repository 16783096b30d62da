#include "app/cursor.h"

#include <SDL.h>

#include <cstdio>

namespace app {

const char* const kArrowCursor[kCursorLines] = {
    "    32    32        3            1",
    "X c #000000",
    ". c #ffffff",
    "  c None",
    "X                               ",
    "XX                              ",
    "X.X                             ",
    "X..X                            ",
    "X...X                           ",
    "X....X                          ",
    "X.....X                         ",
    "X......X                        ",
    "X.......X                       ",
    "X........X                      ",
    "X.........X                     ",
    "X.......XXXX                    ",
    "X......X                        ",
    "X..XX..X                        ",
    "X.X  X..X                       ",
    "XX   X..X                       ",
    "X     X..X                      ",
    "      X..X                      ",
    "       X..X                     ",
    "       X..X                     ",
    "        XXX                     ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "0,0",
};

namespace {
constexpr int kFirstRow = 4;  // after the header and the three colour lines
constexpr int kSide = 32;
}  // namespace

CursorBitmaps cursorBitmaps(const char* const* lines) {
  CursorBitmaps bitmaps;
  int i = -1;
  for (int row = 0; row < kSide; ++row) {
    const char* text = lines[kFirstRow + row];
    bool ended = false;  // a short row reads as spaces, never past its end
    for (int col = 0; col < kSide; ++col) {
      if (col % 8 == 0) {
        ++i;
        bitmaps.data[i] = 0;
        bitmaps.mask[i] = 0;
      } else {
        bitmaps.data[i] = static_cast<uint8_t>(bitmaps.data[i] << 1);
        bitmaps.mask[i] = static_cast<uint8_t>(bitmaps.mask[i] << 1);
      }
      const char pixel = ended ? ' ' : text[col];
      if (pixel == '\0') ended = true;
      if (pixel == 'X') {
        bitmaps.data[i] |= 1;
        bitmaps.mask[i] |= 1;
      } else if (pixel == '.') {
        bitmaps.mask[i] |= 1;
      }
    }
  }
  std::sscanf(lines[kFirstRow + kSide], "%d,%d", &bitmaps.hotX, &bitmaps.hotY);
  return bitmaps;
}

SDL_Cursor* buildCursor(const char* const* lines) {
  CursorBitmaps bitmaps = cursorBitmaps(lines);
  return SDL_CreateCursor(bitmaps.data.data(), bitmaps.mask.data(), kSide, kSide, bitmaps.hotX,
                          bitmaps.hotY);
}

}  // namespace app
