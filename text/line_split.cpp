#include "text/line_split.h"

#include <cstring>

namespace text {
namespace {

bool isUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Copies [begin, end) without its tabs into line. A line longer than
// kMaxLineBytes is cut at the last whole UTF-8 character that fits. Returns
// the length copied.
int copyLine(const char* begin, const char* end, TextLine& line) {
  int length = 0;
  const char* p = begin;
  for (; p != end; ++p) {
    if (*p == '\t') continue;
    if (length == kMaxLineBytes) break;
    line[length++] = *p;
  }
  while (p != end && *p == '\t') ++p;
  if (p != end && isUtf8Continuation(*p)) {
    // The cut fell inside a character: drop its leading bytes too.
    while (length > 0 && isUtf8Continuation(line[length - 1])) --length;
    if (length > 0) --length;
  }
  line[length] = '\0';
  return length;
}

}  // namespace

void splitTextLines(const char* utf8, TextLines& out) {
  out.count = 0;
  const char* start = utf8;
  while (*start != '\0' && out.count < kMaxLines) {
    const char* end = std::strchr(start, '\n');
    if (end == nullptr) end = start + std::strlen(start);
    const int length = copyLine(start, end, out.lines[out.count]);
    // SDL_ttf cannot render an empty string.
    if (length > 0) out.lengths[out.count++] = length;
    if (*end == '\0') break;
    start = end + 1;
  }
}

}  // namespace text
