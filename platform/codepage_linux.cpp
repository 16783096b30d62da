// Code-page conversion on Linux through iconv, between code page 932
// (Shift-JIS as Windows writes it) and UTF-8.
#include <errno.h>
#include <iconv.h>

#include "platform/platform.h"

namespace platform {
namespace {

// Appends one byte to the output, counting every byte even past the end so
// the caller learns the full length.
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

}  // namespace

long convertCodePage(const char* source, size_t sourceLength, char* destination,
                     size_t destinationSize, bool toUtf8) {
  iconv_t cd = toUtf8 ? iconv_open("UTF-8", "CP932") : iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
  Sink sink{destination, destinationSize};
  char* in = const_cast<char*>(source);
  size_t inLeft = sourceLength;
  char chunk[64];
  while (inLeft > 0) {
    char* out = chunk;
    size_t outLeft = sizeof chunk;
    const size_t done = iconv(cd, &in, &inLeft, &out, &outLeft);
    sink.put(chunk, sizeof chunk - outLeft);
    if (done != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // An invalid or incomplete sequence: mark it and go on after its first
    // byte, so a broken name still shows what can be shown.
    sink.put("?", 1);
    ++in;
    --inLeft;
  }
  char* out = chunk;
  size_t outLeft = sizeof chunk;
  iconv(cd, nullptr, nullptr, &out, &outLeft);
  sink.put(chunk, sizeof chunk - outLeft);
  iconv_close(cd);
  return static_cast<long>(sink.length);
}

}  // namespace platform
