// SDL_ttf: the installed library and the companion render every label the
// game shows, at its point sizes and styles, to the same surface.
#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/context.h"
#include "compat/compat_api.h"
#include "platform/platform.h"
#include "support/surface_compare.h"
#include "text/line_split.h"
#include "text/sjis_strings.h"
#include "text/text.h"

namespace {

const char* const kShiftJisLabels[] = {sjis::kSdlInitFailed,
                                       sjis::kSoundInitFailed,
                                       sjis::kRoomFileFailed,
                                       sjis::kYes,
                                       sjis::kNo,
                                       sjis::kDefaultRoomName,
                                       sjis::kDefaultComment,
                                       sjis::kMenuProduce,
                                       sjis::kMenuFreeBattle,
                                       sjis::kMenuNetBattle,
                                       sjis::kMenuOption,
                                       sjis::kMenuQuit,
                                       sjis::kHelpProduce,
                                       sjis::kHelpFreeBattle,
                                       sjis::kHelpNetBattle,
                                       sjis::kHelpOption,
                                       sjis::kHelpQuit,
                                       sjis::kCharacterSelectTitle,
                                       sjis::kSoraneName,
                                       sjis::kSoraneDescription,
                                       sjis::kKumodaName,
                                       sjis::kKumodaDescription,
                                       sjis::kPlayerLabel,
                                       sjis::kConfirmCharacter,
                                       sjis::kGameSelectTitle,
                                       sjis::kRoomListWait,
                                       sjis::kButtonRefresh,
                                       sjis::kButtonCreateRoom,
                                       sjis::kButtonPreviousPage,
                                       sjis::kButtonNextPage,
                                       sjis::kHelpRefresh,
                                       sjis::kHelpCreateRoom,
                                       sjis::kHelpPreviousPage,
                                       sjis::kHelpNextPage,
                                       sjis::kRuleSelectTitle,
                                       sjis::kButtonStart,
                                       sjis::kButtonReady,
                                       sjis::kButtonGame,
                                       sjis::kButtonConfig,
                                       sjis::kButtonQuit,
                                       sjis::kButtonCloseRoom,
                                       sjis::kButtonLeaveRoom};

// Plain ASCII labels and the dynamic ones: counts, the readout's digits.
const char* const kAsciiLabels[] = {"PRESS START BUTTON",
                                    "CPU",
                                    "No.",
                                    "1",
                                    "2",
                                    "3",
                                    "4",
                                    "2/6",
                                    "6/6",
                                    "0/6",
                                    " 6.00FPS",
                                    "59.87FPS",
                                    "123.45FPS",
                                    "produce",
                                    "free battle",
                                    "net battle",
                                    "Room 12 ~!@#$%^&*()"};

// The lines the game would hand to SDL_ttf for a label.
std::vector<std::string> linesOf(const char* label, bool shiftJis) {
  std::string utf8 = label;
  if (shiftJis) {
    char converted[1024];
    text::shiftJisToUtf8(label, converted, sizeof converted);
    utf8 = converted;
  }
  text::TextLines lines;
  text::splitTextLines(utf8.c_str(), lines);
  std::vector<std::string> out;
  for (int i = 0; i < lines.count; ++i) out.emplace_back(lines.lines[i].data());
  return out;
}

class CompatTtf : public testing::Test {
 protected:
  void SetUp() override {
    path_ = platform::fontFilePath(kFontFile);
    if (path_.empty()) GTEST_SKIP() << "no Japanese gothic font (fonts-ipafont-gothic)";
    ASSERT_EQ(TTF_Init(), 0);
    ASSERT_EQ(compat_TTF_Init(), 0);
  }
  void TearDown() override {
    if (path_.empty()) return;
    TTF_Quit();
    compat_TTF_Quit();
    EXPECT_EQ(compat_TTF_WasInit(), 0);
  }

  // Renders every line at one size and style with both; returns the worst.
  test::SurfaceDifference compareAll(int size, int style, const std::vector<std::string>& lines) {
    TTF_Font* real = TTF_OpenFont(path_.c_str(), size);
    TTF_Font* ours = compat_TTF_OpenFont(path_.c_str(), size);
    EXPECT_NE(ours, nullptr);
    test::SurfaceDifference worst;
    if (real == nullptr || ours == nullptr) return worst;
    TTF_SetFontStyle(real, style);
    compat_TTF_SetFontStyle(ours, style);
    EXPECT_EQ(compat_TTF_GetFontStyle(ours), style);
    const SDL_Color white = {255, 255, 255, 0};
    for (const std::string& line : lines) {
      SDL_Surface* const a = TTF_RenderUTF8_Blended(real, line.c_str(), white);
      SDL_Surface* const b = compat_TTF_RenderUTF8_Blended(ours, line.c_str(), white);
      const test::SurfaceDifference d = test::compareSurfaces(a, b);
      EXPECT_EQ(d.format, "") << size << " pt, style " << style << ": " << line;
      if (d.maxAlpha > worst.maxAlpha) worst.maxAlpha = d.maxAlpha;
      if (d.meanAlpha > worst.meanAlpha) worst.meanAlpha = d.meanAlpha;
      worst.differing += d.differing;
      if (a != nullptr) SDL_FreeSurface(a);
      if (b != nullptr) SDL_FreeSurface(b);
    }
    TTF_CloseFont(real);
    compat_TTF_CloseFont(ours);
    return worst;
  }

  std::string path_;
};

TEST_F(CompatTtf, EveryLabelAtEverySizeAndStyle) {
  std::vector<std::string> lines;
  for (const char* label : kShiftJisLabels) {
    for (std::string& line : linesOf(label, true)) lines.push_back(std::move(line));
  }
  for (const char* label : kAsciiLabels) lines.emplace_back(label);
  for (const int size : kFontSizes) {
    for (const int style : {TTF_STYLE_NORMAL, TTF_STYLE_BOLD}) {
      // The plates' size renders only the mode names.
      const std::vector<std::string> some(lines.end() - 4, lines.end() - 1);
      const test::SurfaceDifference d = compareAll(size, style, size > 100 ? some : lines);
      std::printf("%3d pt style %d: %d differing pixels, alpha max %d mean %.4f\n", size, style,
                  d.differing, d.maxAlpha, d.meanAlpha);
      EXPECT_LE(d.maxAlpha, 0);
    }
  }
}

TEST_F(CompatTtf, EmptyAndMalformedTextAsTheLibraryDoes) {
  const std::vector<std::string> odd = {"",
                                        "a\x80z",
                                        "\xE3\x81",
                                        "\xC0\xAF",
                                        "\xEF\xBB\xBF",
                                        "x\xF4\x90\x80\x80y",
                                        "\xEF\xBF\xBE"
                                        "ab",
                                        "\xF0\x9F\x98\x80"};
  for (const int style : {TTF_STYLE_NORMAL, TTF_STYLE_BOLD}) {
    const test::SurfaceDifference d = compareAll(18, style, odd);
    EXPECT_EQ(d.differing, 0);
    std::printf("malformed, style %d: %d differing pixels, alpha max %d\n", style, d.differing,
                d.maxAlpha);
  }
  EXPECT_EQ(compat_TTF_OpenFont("Graphic/NoSuchFont.ttc", 18), nullptr);
  // A sequence cut off by the end: the installed library reads the missing
  // bytes from past the terminator (what it draws then is undefined); the
  // companion takes them as 0, which here ends the text.
  TTF_Font* font = compat_TTF_OpenFont(path_.c_str(), 18);
  EXPECT_EQ(compat_TTF_RenderUTF8_Blended(font, "\xFF", SDL_Color{255, 255, 255, 0}), nullptr);
  compat_TTF_CloseFont(font);
}

}  // namespace
