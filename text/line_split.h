// The line layout of renderText apart from any font: where a text breaks into
// lines, which lines are dropped, and where an over-long line is cut. Pure
// byte work on UTF-8, so it can be checked on any input.
#pragma once

#include <array>

namespace text {

// Limits of one renderText call.
inline constexpr int kMaxLines = 10;
inline constexpr int kMaxLineBytes = 255;

using TextLine = std::array<char, kMaxLineBytes + 1>;

// The lines of one text, each NUL-terminated, non-empty and free of tabs.
struct TextLines {
  std::array<TextLine, kMaxLines> lines{};
  std::array<int, kMaxLines> lengths{};
  int count = 0;
};

// Splits the NUL-terminated utf8 at every "\n". Tabs are removed; a line
// empty after that is dropped (it takes no vertical space); lines after the
// kMaxLines-th are dropped; a line longer than kMaxLineBytes is cut at the
// last whole UTF-8 character that fits. Reads utf8 up to its terminator only.
void splitTextLines(const char* utf8, TextLines& out);

}  // namespace text
