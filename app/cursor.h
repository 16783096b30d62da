// The program's own arrow cursor, kept as a small XPM-style text image.
#pragma once

#include <array>
#include <cstdint>

struct WMcursor;
struct SDL_Cursor;

namespace app {

inline constexpr int kCursorLines = 37;  // header, 3 colours, 32 rows, hot spot
extern const char* const kArrowCursor[kCursorLines];

struct CursorBitmaps {
  std::array<uint8_t, 128> data{};
  std::array<uint8_t, 128> mask{};
  int hotX = 0;
  int hotY = 0;
};

// Turns the 32 pixel rows and the hot-spot line into SDL's monochrome bitmaps:
// 'X' black (data 1, mask 1), '.' white (data 0, mask 1), anything else clear.
CursorBitmaps cursorBitmaps(const char* const* lines);
SDL_Cursor* buildCursor(const char* const* lines);

}  // namespace app
