// Whether bytes are well-formed UTF-8 sequences (lead and continuation bytes
// only; no check for overlong forms). Shared by the text tests and the
// Shift-JIS fuzz harness.
#pragma once

#include <cstddef>

inline bool validUtf8(const char* text, size_t length) {
  size_t i = 0;
  while (i < length) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t width = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    if (width == 0 || i + width > length) return false;
    for (size_t k = 1; k < width; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += width;
  }
  return true;
}
