// IMG_Load: the installed SDL_image and the companion give the same surface
// for every picture the game ships and for the PNG kinds it does not.
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "compat/compat_api.h"
#include "support/surface_compare.h"

namespace {

void expectSameLoad(const std::string& path) {
  SDL_Surface* const real = IMG_Load(path.c_str());
  SDL_Surface* const ours = compat_IMG_Load(path.c_str());
  const test::SurfaceDifference d = test::compareSurfaces(real, ours);
  EXPECT_EQ(d.format, "") << path;
  EXPECT_EQ(d.differing, 0) << path;
  std::printf("%s: %d differing pixels\n", path.c_str(), d.differing);
  if (real != nullptr) SDL_FreeSurface(real);
  if (ours != nullptr) SDL_FreeSurface(ours);
}

struct PngKind {
  const char* name;
  int colorType;
  int bitDepth;
  int transparentEntries;  // palette: tRNS entries; others: 1 for a tRNS colour
  bool partialAlpha;       // palette: one entry half transparent
  bool interlaced;
};

// A 13 x 7 picture of the kind with a pattern that uses every sample value
// the depth allows.
std::string writePng(const PngKind& kind) {
  const std::string path = testing::TempDir() + "/cmp_" + kind.name + ".png";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  const int w = 13, h = 7;
  png_set_IHDR(png, info, w, h, kind.bitDepth, kind.colorType,
               kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  const int levels = 1 << (kind.bitDepth < 8 ? kind.bitDepth : 8);
  std::vector<png_color> palette(kind.colorType == PNG_COLOR_TYPE_PALETTE ? levels : 0);
  for (size_t i = 0; i < palette.size(); ++i) {
    palette[i] = {static_cast<png_byte>(i * 37), static_cast<png_byte>(255 - i * 11),
                  static_cast<png_byte>(i * 5)};
  }
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  std::vector<png_byte> alphas(kind.transparentEntries, 255);
  if (!alphas.empty()) alphas[1 % alphas.size()] = 0;
  if (kind.partialAlpha) alphas[0] = 128;
  png_color_16 colour = {0, 3, 3, 3, 3};
  if (kind.transparentEntries > 0) {
    png_set_tRNS(png, info, alphas.data(),
                 kind.colorType == PNG_COLOR_TYPE_PALETTE ? kind.transparentEntries : 0, &colour);
  }
  png_write_info(png, info);
  const int channels = png_get_channels(png, info);
  const int rowBytes = (w * channels * kind.bitDepth + 7) / 8;
  std::vector<png_byte> row(rowBytes);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < h; ++y) {
      for (int i = 0; i < rowBytes; ++i) row[i] = static_cast<png_byte>((i * 29 + y * 71) % 256);
      if (kind.bitDepth <= 8 && kind.colorType == PNG_COLOR_TYPE_PALETTE && levels == 256) {
        for (int i = 0; i < rowBytes; ++i) row[i] %= levels;
      }
      if (y == 0) std::fill(row.begin(), row.end(), 3);  // meets the tRNS colour and entry 3
      png_write_row(png, row.data());
    }
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
  return path;
}

TEST(CompatImage, EveryShippedPictureLoadsTheSame) {
  for (const char* name : {"BGFrame", "BackFrame0", "BackFrame1", "Circle", "Icon_Kumoda",
                           "Icon_Sorane", "Top_Kumoda", "Top_Sorane"}) {
    expectSameLoad(std::string("Graphic/") + name + ".png");
  }
}

TEST(CompatImage, OtherPngKindsLoadTheSame) {
  const PngKind kinds[] = {
      {"rgb", PNG_COLOR_TYPE_RGB, 8, 0, false, false},
      {"rgb_trns", PNG_COLOR_TYPE_RGB, 8, 1, false, false},
      {"rgba16", PNG_COLOR_TYPE_RGBA, 16, 0, false, false},
      {"rgba_interlaced", PNG_COLOR_TYPE_RGBA, 8, 0, false, true},
      {"palette8", PNG_COLOR_TYPE_PALETTE, 8, 0, false, false},
      {"palette4_key", PNG_COLOR_TYPE_PALETTE, 4, 4, false, false},
      {"palette2_alpha", PNG_COLOR_TYPE_PALETTE, 2, 3, true, false},
      {"grey8", PNG_COLOR_TYPE_GRAY, 8, 0, false, false},
      {"grey1", PNG_COLOR_TYPE_GRAY, 1, 0, false, false},
      {"grey16", PNG_COLOR_TYPE_GRAY, 16, 0, false, false},
      {"grey_trns", PNG_COLOR_TYPE_GRAY, 8, 1, false, false},
      {"grey_alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, 0, false, false},
  };
  for (const PngKind& kind : kinds) expectSameLoad(writePng(kind));
}

// The differential fuzzer's seeds: PNGs of every colour type and depth,
// BMPs of 1 to 32 bits, RLE, the OS/2 header, and the inputs on which the
// two once differed (bad dimensions, unsupported depths, the palette after
// a long header, a damaged chunk after the image data). Same result, same
// surface, same error text.
TEST(CompatImage, FuzzSeedsLoadTheSame) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator("fuzz/corpus/compat_image")) {
    const std::string path = entry.path().string();
    SDL_SetError("none");
    SDL_Surface* const real = IMG_Load(path.c_str());
    const std::string realError = real == nullptr ? SDL_GetError() : "";
    SDL_SetError("none");
    SDL_Surface* const ours = compat_IMG_Load(path.c_str());
    const std::string ourError = ours == nullptr ? SDL_GetError() : "";
    const test::SurfaceDifference d = test::compareSurfaces(real, ours);
    EXPECT_EQ(d.format, "") << path;
    EXPECT_EQ(d.differing, 0) << path;
    EXPECT_EQ(ourError, realError) << path;
    if (real != nullptr) SDL_FreeSurface(real);
    if (ours != nullptr) SDL_FreeSurface(ours);
    ++files;
  }
  EXPECT_GT(files, 40);
}

TEST(CompatImage, BadFilesFailWithAMessage) {
  const std::string truncated = testing::TempDir() + "/cmp_truncated.png";
  {
    const std::string whole = writePng({"whole", PNG_COLOR_TYPE_RGBA, 8, 0, false, false});
    std::FILE* in = std::fopen(whole.c_str(), "rb");
    std::vector<char> bytes(60);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), in), bytes.size());
    std::fclose(in);
    std::FILE* out = std::fopen(truncated.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  for (const std::string& path :
       {std::string("Graphic/NoSuchPicture.png"), truncated, std::string("CMakeLists.txt")}) {
    SDL_SetError("none");
    EXPECT_EQ(IMG_Load(path.c_str()), nullptr) << path;
    const std::string expected = SDL_GetError();
    SDL_SetError("none");
    EXPECT_EQ(compat_IMG_Load(path.c_str()), nullptr) << path;
    EXPECT_EQ(SDL_GetError(), expected) << path;
  }
}

}  // namespace
