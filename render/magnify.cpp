#include "render/magnify.h"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace render {
namespace {

// Writes one frame row twice as wide into two picture rows, each pixel as a
// pair. Streamed stores need not fetch the picture's lines first, which a
// store into memory another core has just read would wait for.
void doubleRow(const uint32_t* from, int width, uint32_t* to, uint32_t* below, RowStores stores) {
  int x = 0;
#if defined(__SSE2__)
  const bool aligned =
      ((reinterpret_cast<uintptr_t>(to) | reinterpret_cast<uintptr_t>(below)) & 15) == 0;
  for (; stores == RowStores::Streamed && aligned && x + 4 <= width; x += 4) {
    const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
    const __m128i left = _mm_unpacklo_epi32(four, four);
    const __m128i right = _mm_unpackhi_epi32(four, four);
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + 2 * x), left);
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + 2 * x + 4), right);
    _mm_stream_si128(reinterpret_cast<__m128i*>(below + 2 * x), left);
    _mm_stream_si128(reinterpret_cast<__m128i*>(below + 2 * x + 4), right);
  }
#else
  (void)stores;
#endif
  for (; x < width; ++x) {
    const uint64_t pair = from[x] * 0x100000001ull;
    std::memcpy(to + 2 * x, &pair, sizeof pair);
    std::memcpy(below + 2 * x, &pair, sizeof pair);
  }
}

}  // namespace

void magnify(const uint32_t* frame, int width, int height, int scale, uint32_t* picture, int stride,
             RowStores stores) {
  const size_t rowBytes = sizeof(uint32_t) * static_cast<size_t>(width) * scale;
  for (int row = 0; row < height; ++row) {
    const uint32_t* from = frame + static_cast<size_t>(height - 1 - row) * width;
    uint32_t* to = picture + static_cast<size_t>(row) * scale * stride;
    if (scale == 2) {
      doubleRow(from, width, to, to + stride, stores);
    } else {
      for (int x = 0; x < width; ++x) {
        for (int k = 0; k < scale; ++k) to[x * scale + k] = from[x];
      }
      for (int k = 1; k < scale; ++k) {
        std::memcpy(to + static_cast<size_t>(k) * stride, to, rowBytes);
      }
    }
  }
#if defined(__SSE2__)
  // The streamed stores are complete before the picture is handed over.
  _mm_sfence();
#endif
}

}  // namespace render
