// Shift-JIS conversion and the fonts folder.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "text/sjis_strings.h"
#include "text/text.h"

namespace {

TEST(SjisStrings, DefaultRoomNameIsStoredAsShiftJisBytes) {
  const std::string bytes = sjis::kDefaultRoomName;
  EXPECT_EQ(bytes, std::string("\x34\x38\x32\x83\x76\x83\x8D"));
}

TEST(ConvertText, ShiftJisToUtf8ReturnsLengthPlusTerminator) {
  std::array<char, 64> out{};
  const int copied = text::shiftJisToUtf8(sjis::kDefaultRoomName, out.data(), out.size());
  EXPECT_STREQ(out.data(), u8"482プロ");
  EXPECT_EQ(copied, static_cast<int>(std::strlen(u8"482プロ")) + 1);
}

TEST(ConvertText, SizeZeroMeasuresAndWritesNothing) {
  char untouched = 'x';
  const int needed = text::shiftJisToUtf8(sjis::kDefaultRoomName, &untouched, 0);
  // UTF-8 length (3 + 3 + 3 = 9) plus terminator, plus one.
  EXPECT_EQ(needed, 11);
  EXPECT_EQ(untouched, 'x');
}

TEST(ConvertText, CutsAtSizeMinusOneAndTerminates) {
  std::array<char, 8> out;
  out.fill('#');
  const int copied = text::convertText("abcdefgh", out.data(), 4, true);
  EXPECT_EQ(copied, 3);
  EXPECT_STREQ(out.data(), "abc");
  EXPECT_EQ(out[4], '#');  // nothing past the destination size
}

TEST(ConvertText, CutInsideMultiByteCharacterStaysInBounds) {
  std::array<char, 16> out;
  out.fill('#');
  // "482" then the first byte of the UTF-8 form of プ.
  const int copied = text::shiftJisToUtf8(sjis::kDefaultRoomName, out.data(), 5);
  EXPECT_EQ(copied, 4);
  EXPECT_EQ(out[4], '\0');
  EXPECT_EQ(out[5], '#');
}

TEST(ConvertText, RoundTripsThroughUtf8) {
  std::array<char, 256> utf8{};
  std::array<char, 256> back{};
  text::shiftJisToUtf8(sjis::kHelpCreateRoom, utf8.data(), utf8.size());
  text::utf8ToShiftJis(utf8.data(), back.data(), back.size());
  EXPECT_STREQ(back.data(), sjis::kHelpCreateRoom);
}

// Names arrive from files and other copies of the program; broken bytes must
// convert to something bounded, never overrun.
TEST(ConvertTextBadInput, BrokenShiftJisConvertsSafely) {
  const char* cases[] = {
      "abc\x83",  // lone lead byte at the end
      "\x83\x20"
      "abc",             // lead byte with an invalid trail byte
      "\xFF\xFE\xFD",    // bytes that are no characters at all
      "a\x01\x1B[31mb",  // control characters pass as they are
  };
  for (const char* source : cases) {
    std::array<char, 32> out;
    out.fill('#');
    const int copied = text::shiftJisToUtf8(source, out.data(), 16);
    EXPECT_GT(copied, 0) << source;
    EXPECT_LT(copied, 16) << source;
    EXPECT_EQ(out[16], '#') << source;
    EXPECT_EQ(std::strlen(out.data()) + 1, static_cast<size_t>(copied)) << source;
  }
}

TEST(ConvertTextBadInput, InvalidUtf8ConvertsSafely) {
  std::array<char, 8> out;
  out.fill('#');
  const int copied = text::utf8ToShiftJis("\xE3\x81", out.data(), 6);
  EXPECT_GT(copied, 0);
  EXPECT_EQ(out[6], '#');
}

TEST(ConvertTextBadInput, NullSourceOrNegativeSizeConvertsNothing) {
  char out[4] = "xy";
  EXPECT_EQ(text::convertText(nullptr, out, 4, true), 0);
  EXPECT_EQ(text::convertText("a", out, -1, true), 0);
  EXPECT_STREQ(out, "xy");
}

TEST(Fonts, GothicFontIsFoundAndOpens) {
  const std::string path = platform::fontFilePath("MSGOTHIC.TTC");
  ASSERT_FALSE(path.empty()) << "install fonts-ipafont-gothic";
  TTF_Font* font = text::openFont("MSGOTHIC.TTC", 18);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(TTF_GetFontStyle(font), TTF_STYLE_NORMAL);
  int w = 0, h = 0;
  EXPECT_EQ(TTF_SizeUTF8(font, u8"はい", &w, &h), 0);
  EXPECT_GT(w, 0);
  TTF_CloseFont(font);
}

TEST(InputMethod, CallsSucceedAndDoNothing) {
  EXPECT_EQ(SDL_SetIMValues(1, 1, 0), 0);
  EXPECT_NE(IMM_Init(), 0);
  EXPECT_STREQ(IMM_GetCompStr(), "");
}

}  // namespace
