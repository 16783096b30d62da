// Shift-JIS text of any bytes through the conversion and renderText's line
// layout: conversions stay inside their destinations and terminate them;
// lines are at most kMaxLines, each non-empty, without tabs or breaks, at
// most kMaxLineBytes long and cut at a whole UTF-8 character.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/require.h"
#include "tests/support/utf8_check.h"
#include "text/line_split.h"
#include "text/text.h"

namespace {

void checkLines(const char* text, bool utf8Valid) {
  text::TextLines lines;
  text::splitTextLines(text, lines);
  require(lines.count >= 0 && lines.count <= text::kMaxLines, "line count");
  for (int i = 0; i < lines.count; ++i) {
    const char* line = lines.lines[i].data();
    const size_t length = std::strlen(line);
    require(length == static_cast<size_t>(lines.lengths[i]), "line length");
    require(length > 0 && length <= text::kMaxLineBytes, "line size");
    require(std::strchr(line, '\t') == nullptr && std::strchr(line, '\n') == nullptr,
            "tab or break left in a line");
    require(!utf8Valid || validUtf8(line, length), "line cut inside a character");
  }
}

// Converts into a destination of size bytes with guard bytes after it.
void convertInto(const char* source, int size, bool toUtf8) {
  std::vector<char> out(static_cast<size_t>(size) + 16, '#');
  const int copied = text::convertText(source, out.data(), size, toUtf8);
  require(copied >= 0 && copied < size, "copied count");
  require(std::strlen(out.data()) <= static_cast<size_t>(copied), "terminator");
  for (size_t i = static_cast<size_t>(size); i < out.size(); ++i) {
    require(out[i] == '#', "written past the destination");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int small = data[0] % 64 + 1;
  const std::string source(reinterpret_cast<const char*>(data) + 1, size - 1);
  const char* text = source.c_str();  // up to its first NUL, as a field is read

  const int needed = text::shiftJisToUtf8(text, nullptr, 0);
  require(needed > 0, "measure");
  std::vector<char> utf8(static_cast<size_t>(needed), '\0');
  text::shiftJisToUtf8(text, utf8.data(), needed);
  require(std::strlen(utf8.data()) + 2 == static_cast<size_t>(needed), "whole conversion");
  require(validUtf8(utf8.data(), std::strlen(utf8.data())), "conversion is not UTF-8");
  checkLines(utf8.data(), true);

  convertInto(text, small, true);
  convertInto(text, small, false);
  checkLines(text, false);
  return 0;
}
