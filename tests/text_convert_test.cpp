// Shift-JIS conversion and the fonts folder.
#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "net/wire.h"

#include "platform/platform.h"
#include "support/utf8_check.h"
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

// Text fields arrive from other copies of the program and from the room
// files: whatever their bytes, a field read off the wire is terminated inside
// itself, and its conversion stays inside the destination.
TEST(ConvertTextBadInput, FieldsFromTheWireConvertWithinBounds) {
  const std::vector<std::string> fills = {
      std::string(1, '\x83'),       // lead bytes only: pairs, then a lone one at the end
      std::string("\x81\x7F"),      // an invalid trail byte after every lead
      std::string("\x01\x1B\t\n"),  // control characters, tabs and breaks
      std::string("\xFD\xFE\xFF"),  // no characters at all
      std::string("\xB1"),          // half-width katakana: one byte becomes three
  };
  for (const std::string& fill : fills) {
    net::PlayerBytes bytes{};
    for (size_t i = 0; i < net::kPlayerNameWidth; ++i) {
      bytes[net::kPlayerNameOffset + i] = static_cast<uint8_t>(fill[i % fill.size()]);
    }
    PlayerRecord record;
    net::readPlayerRecord(bytes, record);
    ASSERT_EQ(std::strlen(record.name.data()), net::kPlayerNameWidth - 1);
    const int needed = text::shiftJisToUtf8(record.name.data(), nullptr, 0);
    ASSERT_GT(needed, 0);
    std::vector<char> out(static_cast<size_t>(needed) + 8, '#');
    const int copied = text::shiftJisToUtf8(record.name.data(), out.data(), needed);
    EXPECT_EQ(copied, needed - 1);
    EXPECT_EQ(std::strlen(out.data()) + 1, static_cast<size_t>(copied));
    EXPECT_EQ(out[static_cast<size_t>(needed)], '#');
  }
}

// The room list's count label is built from two bytes of the host's answer.
TEST(ConvertTextBadInput, EveryCountLabelConverts) {
  for (int count = 0; count < 256; ++count) {
    const char label[4] = {static_cast<char>(count + '0'), '/', static_cast<char>(count + '0'),
                           '\0'};
    std::array<char, 16> out;
    out.fill('#');
    const int copied = text::shiftJisToUtf8(label, out.data(), 12);
    EXPECT_LT(copied, 12) << count;
    EXPECT_EQ(out[12], '#') << count;
  }
}

std::vector<std::string> split(const std::string& utf8) {
  text::TextLines lines;
  text::splitTextLines(utf8.c_str(), lines);
  std::vector<std::string> out;
  for (int i = 0; i < lines.count; ++i) {
    EXPECT_EQ(std::strlen(lines.lines[i].data()), static_cast<size_t>(lines.lengths[i]));
    out.emplace_back(lines.lines[i].data());
  }
  return out;
}

std::string times(int count, const std::string& piece) {
  std::string out;
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

TEST(LineSplit, BreaksTabsAndEmptyLines) {
  using Lines = std::vector<std::string>;
  const struct {
    std::string text;
    Lines lines;
  } cases[] = {
      {"Hello\n\nWorld", {"Hello", "World"}},
      {"\tA\t\tB\n", {"AB"}},
      {"\n\t\n\t\t", {}},
      {"", {}},
      {"a\r\nb", {"a\r", "b"}},  // only line feeds break lines
      {times(12, "line\n"), Lines(text::kMaxLines, "line")},
  };
  for (const auto& c : cases) EXPECT_EQ(split(c.text), c.lines) << c.text;
}

TEST(LineSplit, LongLinesAreCutAtAWholeCharacter) {
  const std::string a255(255, 'a');
  const struct {
    std::string text;
    std::string first;
  } cases[] = {
      {"a" + times(100, u8"あ"), "a" + times(84, u8"あ")},  // 253 bytes: the cut fell inside
      {a255 + "b", a255},
      {std::string(254, 'a') + u8"あ", std::string(254, 'a')},
      {a255 + "\t\t" + u8"あ", a255},
      {times(300, "\t") + "x", "x"},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> lines = split(c.text);
    ASSERT_EQ(lines.size(), 1u) << c.text;
    EXPECT_EQ(lines[0], c.first);
    EXPECT_TRUE(validUtf8(lines[0].data(), lines[0].size()));
  }
  // Bytes that are no UTF-8 at all never make the cut run off the line.
  EXPECT_EQ(split(std::string(300, '\x80')), std::vector<std::string>{});
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
