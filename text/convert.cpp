// Shift-JIS <-> UTF-8 for NUL-terminated strings, on top of the platform's
// code-page conversion.
#include <climits>
#include <cstring>

#include "platform/platform.h"
#include "text/text.h"

namespace text {

int convertText(const char* source, char* destination, int size, bool toUtf8) {
  if (source == nullptr || size < 0) return 0;
  // The terminator is converted too, as the Windows calls do with a length
  // of -1, so the measured length counts it.
  const size_t sourceLength = std::strlen(source) + 1;
  const long needed = platform::convertCodePage(source, sourceLength, nullptr, 0, toUtf8);
  if (needed < 0) return -1;
  if (needed == 0 || needed >= INT_MAX) return 0;
  if (size == 0) return static_cast<int>(needed) + 1;
  // Converting straight into the destination, bounded to size - 1 bytes,
  // cuts the text exactly as copying the whole result would, even inside a
  // multi-byte character, and never writes past the destination.
  const size_t room = static_cast<size_t>(size) - 1;
  platform::convertCodePage(source, sourceLength, destination, room, toUtf8);
  const size_t copied = static_cast<size_t>(needed) < room ? static_cast<size_t>(needed) : room;
  destination[copied] = '\0';
  return static_cast<int>(copied);
}

int shiftJisToUtf8(const char* source, char* destination, int size) {
  return convertText(source, destination, size, true);
}

int utf8ToShiftJis(const char* source, char* destination, int size) {
  return convertText(source, destination, size, false);
}

}  // namespace text
