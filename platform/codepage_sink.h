// Where a code-page conversion writes, the same on every platform: bytes
// past the destination's capacity are counted, not written, so the caller
// learns the full length (convertCodePage's contract). Included by the
// platform's code-page files alone.
#pragma once

#include <cstddef>

namespace platform {

struct Sink {
  char* out;
  size_t capacity;
  size_t length = 0;
  void put(const char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i, ++length) {
      if (out != nullptr && length < capacity) out[length] = bytes[i];
    }
  }
};

}  // namespace platform
