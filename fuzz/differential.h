// What the differential harnesses share: reading the fuzzer's bytes, and
// the check that the installed library and its companion gave the same
// result (both surfaces or neither, the same format and pixels, the same
// error text).
#pragma once

#include <SDL.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/require.h"
#include "tests/support/surface_compare.h"

// What the harness is doing, printed when a check fails.
inline char failureContext[256];

inline void requireWith(bool holds, const char* what) {
  if (!holds) std::fprintf(stderr, "while: %s\n", failureContext);
  require(holds, what);
}

// Takes values from the front of the input; past its end every value is 0.
class InputBytes {
 public:
  InputBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
  int16_t s16() { return static_cast<int16_t>(u16()); }
  // The bytes not taken yet.
  const uint8_t* rest() const { return data_ + at_; }
  size_t left() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Both null or both equal in format and every pixel, each surface freed.
inline void requireSameSurface(SDL_Surface* real, SDL_Surface* ours, const char* what) {
  const test::SurfaceDifference d = test::compareSurfaces(real, ours);
  if (!d.format.empty() || d.differing != 0) {
    std::fprintf(stderr, "%s: %s, %d pixels differ\n", what, d.format.c_str(), d.differing);
  }
  requireWith(d.format.empty() && d.differing == 0, what);
  if (real != nullptr) SDL_FreeSurface(real);
  if (ours != nullptr) SDL_FreeSurface(ours);
}

inline void requireSameError(const std::string& real, const std::string& ours, const char* what) {
  if (real != ours)
    std::fprintf(stderr, "%s: \"%s\" against \"%s\"\n", what, real.c_str(), ours.c_str());
  requireWith(real == ours, what);
}
