// The frame magnified by the CPU: every frame pixel a scale x scale square,
// the frame's bottom row on the picture's top, nothing written beside the
// picture, and the streamed and plain stores giving the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "render/magnify.h"

namespace {

constexpr uint32_t kUntouched = 0x5a5a5a5a;

// A frame whose every pixel differs from its neighbours in all four bytes.
std::vector<uint32_t> patternFrame(int width, int height) {
  std::vector<uint32_t> frame(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = 0x9e3779b1u * static_cast<uint32_t>(i + 1);
  return frame;
}

// A picture of `rows` rows of `stride` pixels starting on 16 bytes (plus
// `shift` pixels), filled with kUntouched; pixels() is where it starts.
struct Picture {
  std::vector<uint32_t> store;
  size_t start = 0;
  Picture(int stride, int rows, int shift)
      : store(static_cast<size_t>(stride) * rows + 4 + shift, kUntouched) {
    while (reinterpret_cast<uintptr_t>(store.data() + start) % 16 != 0) ++start;
    start += static_cast<size_t>(shift);
  }
  uint32_t* pixels() { return store.data() + start; }
  uint32_t at(int x, int y, int stride) const {
    return store[start + static_cast<size_t>(y) * stride + x];
  }
};

// The first pixel of the picture that is not what magnifying the frame
// must make of it, as "(x, y) got G, want W"; empty when there is none.
std::string firstWrongPixel(const Picture& picture, int stride, int rows,
                            const std::vector<uint32_t>& frame, int width, int height, int scale) {
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < stride; ++x) {
      const bool inside = x < width * scale && y < height * scale;
      const uint32_t want =
          inside ? frame[static_cast<size_t>(height - 1 - y / scale) * width + x / scale]
                 : kUntouched;
      const uint32_t got = picture.at(x, y, stride);
      if (got != want) {
        return "(" + std::to_string(x) + ", " + std::to_string(y) + ") got " + std::to_string(got) +
               ", want " + std::to_string(want);
      }
    }
  }
  return "";
}

// Widths of a whole number of SSE2 stores and with one to three pixels
// left over, strides with and without room beside the picture, rows that
// start on 16 bytes and rows that do not: each way and scale writes exactly
// the squares.
TEST(Magnify, EveryFramePixelBecomesAScaleBySquare) {
  const int sizes[][2] = {{8, 3}, {5, 4}, {7, 1}, {1, 2}, {646, 5}};
  for (const auto& size : sizes) {
    const int width = size[0], height = size[1];
    const std::vector<uint32_t> frame = patternFrame(width, height);
    for (int scale = 1; scale <= 3; ++scale) {
      for (const int extra : {0, 4, 3}) {
        for (const int shift : {0, 1}) {
          for (const render::RowStores stores :
               {render::RowStores::Streamed, render::RowStores::Plain}) {
            const int stride = width * scale + extra;
            const int rows = height * scale + 1;  // one row below the picture
            Picture picture(stride, rows, shift);
            render::magnify(frame.data(), width, height, scale, picture.pixels(), stride, stores);
            EXPECT_EQ(firstWrongPixel(picture, stride, rows, frame, width, height, scale), "")
                << width << " x " << height << " at scale " << scale << ", stride " << stride
                << ", shifted " << shift << (stores == render::RowStores::Plain ? ", plain" : "");
          }
        }
      }
    }
  }
}

// The full frame doubled into a picture as the window system's image holds
// it (rows on 16 bytes, so that the streamed stores are used where there
// are any): the same bytes either way.
TEST(Magnify, StreamedAndPlainStoresGiveTheSameBytes) {
  const int width = 640, height = 480, stride = 1280;
  const std::vector<uint32_t> frame = patternFrame(width, height);
  Picture streamed(stride, height * 2, 0);
  Picture plain(stride, height * 2, 0);
  render::magnify(frame.data(), width, height, 2, streamed.pixels(), stride,
                  render::RowStores::Streamed);
  render::magnify(frame.data(), width, height, 2, plain.pixels(), stride, render::RowStores::Plain);
  const size_t count = static_cast<size_t>(stride) * height * 2;
  EXPECT_TRUE(std::equal(streamed.pixels(), streamed.pixels() + count, plain.pixels()));
  EXPECT_EQ(firstWrongPixel(streamed, stride, height * 2, frame, width, height, 2), "");
}

}  // namespace
