// SDL_ttf: the installed library and the companion render every label the
// game shows, at its point sizes and styles, to the same surface.
#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/context.h"
#include "compat/compat_api.h"
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

// A face to compare with: the outline font the game finds on Debian, and
// fonts whose embedded bitmap strikes FreeType hands back as 1-bit rows
// (AR PL UMing at 11 to 16 px, WenQuanYi Zen Hei Sharp at 12 to 16 px).
struct FontFace {
  const char* name;
  const char* path;
  long index;
  const char* package;
};
const FontFace kSystemFaces[] = {
    {"IPAGothic", "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 0, "fonts-ipafont-gothic"},
    {"AR PL UMing", "/usr/share/fonts/truetype/arphic/uming.ttc", 0, "fonts-arphic-uming"},
    {"WenQuanYi Zen Hei Sharp", VELLORA_WQY_FONT, 2,
     "fonts-wqy-zenhei's font through tools/setup.sh's need_test_fonts (./test.sh runs it)"},
};
// Strikes of 1, 2, 4 and 8 bits a pixel at 10 to 17 and 20 to 23 px
// (make_strike_font.py, written by the build).
const FontFace kStrikeFace = {"strike font", VELLORA_STRIKE_FONT, 0, "python3"};

bool readable(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

class CompatTtf : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(TTF_Init(), 0);
    ASSERT_EQ(compat_TTF_Init(), 0);
  }
  void TearDown() override {
    TTF_Quit();
    compat_TTF_Quit();
    EXPECT_EQ(compat_TTF_WasInit(), 0);
  }

  // Renders every line at one size and style with both; returns the worst.
  static test::SurfaceDifference compareAll(const FontFace& face, int size, int style,
                                            const std::vector<std::string>& lines) {
    test::SurfaceDifference worst;
    if (!readable(face.path)) {
      ADD_FAILURE() << face.name << " missing: install " << face.package;
      return worst;
    }
    TTF_Font* real = TTF_OpenFontIndex(face.path, size, face.index);
    TTF_Font* ours = compat_TTF_OpenFontIndex(face.path, size, face.index);
    // Both libraries must open a font that is there: a comparison that
    // compared nothing would pass for the wrong reason.
    EXPECT_NE(real, nullptr) << face.name << ": the real library cannot open it";
    EXPECT_NE(ours, nullptr) << face.name << ": the companion cannot open it";
    if (real == nullptr || ours == nullptr) {
      if (real != nullptr) TTF_CloseFont(real);
      if (ours != nullptr) compat_TTF_CloseFont(ours);
      return worst;
    }
    TTF_SetFontStyle(real, style);
    compat_TTF_SetFontStyle(ours, style);
    EXPECT_EQ(compat_TTF_GetFontStyle(ours), style);
    const SDL_Color colour = {255, 200, 40, 0};
    for (const std::string& line : lines) {
      SDL_Surface* const a = TTF_RenderUTF8_Blended(real, line.c_str(), colour);
      SDL_Surface* const b = compat_TTF_RenderUTF8_Blended(ours, line.c_str(), colour);
      const test::SurfaceDifference d = test::compareSurfaces(a, b);
      EXPECT_EQ(d.format, "") << face.name << " " << size << " px, style " << style << ": " << line;
      EXPECT_EQ(d.differing, 0) << face.name << " " << size << " px, style " << style << ": "
                                << line;
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
};

std::vector<std::string> everyLabelLine() {
  std::vector<std::string> lines;
  for (const char* label : kShiftJisLabels) {
    for (std::string& line : linesOf(label, true)) lines.push_back(std::move(line));
  }
  for (const char* label : kAsciiLabels) lines.emplace_back(label);
  return lines;
}

TEST_F(CompatTtf, EveryLabelAtEverySizeAndStyleInEveryFace) {
  const std::vector<std::string> lines = everyLabelLine();
  // The plates' size renders only the mode names.
  const std::vector<std::string> modeNames(lines.end() - 4, lines.end() - 1);
  for (const FontFace& face : kSystemFaces) {
    for (const int size : app::kFontSizes) {
      for (const int style : {TTF_STYLE_NORMAL, TTF_STYLE_BOLD}) {
        const test::SurfaceDifference d =
            compareAll(face, size, style, size > 100 ? modeNames : lines);
        std::printf("%-24s %3d pt style %d: %d differing pixels, alpha max %d mean %.4f\n",
                    face.name, size, style, d.differing, d.maxAlpha, d.meanAlpha);
      }
    }
  }
}

// The lobby's heading as the scene draws it (the Japanese title bold at
// 18 pt, "rule select" bold at 16 pt) and its buttons and default names at
// 18 pt, with faces whose 16 px glyphs are 1-bit strikes.
TEST_F(CompatTtf, LobbyHeadingAndLabelsWithBitmapStrikes) {
  struct Label {
    const char* text;
    int size;
    int style;
  };
  const Label labels[] = {{sjis::kRuleSelectTitle, 18, TTF_STYLE_BOLD},
                          {"rule select", 16, TTF_STYLE_BOLD},
                          {sjis::kButtonStart, 18, TTF_STYLE_NORMAL},
                          {sjis::kButtonReady, 18, TTF_STYLE_NORMAL},
                          {sjis::kButtonGame, 18, TTF_STYLE_NORMAL},
                          {sjis::kButtonConfig, 18, TTF_STYLE_NORMAL},
                          {sjis::kButtonCloseRoom, 18, TTF_STYLE_NORMAL},
                          {sjis::kButtonLeaveRoom, 18, TTF_STYLE_NORMAL},
                          {sjis::kDefaultRoomName, 18, TTF_STYLE_NORMAL}};
  for (const FontFace& face : {kSystemFaces[1], kSystemFaces[2]}) {
    for (const Label& label : labels) {
      const test::SurfaceDifference d =
          compareAll(face, label.size, label.style, linesOf(label.text, true));
      EXPECT_EQ(d.differing, 0) << face.name << ": " << label.text;
    }
  }
}

// Every glyph of every strike (1, 2, 4 and 8 bits, both data layouts, bold
// overhangs of 1 and 2) alone and run together, and the sizes between.
TEST_F(CompatTtf, EveryStrikeDepthNormalAndBold) {
  std::vector<std::string> lines;
  std::string all;
  for (char c = ' '; c <= '~'; ++c) {
    lines.emplace_back(1, c);
    all += c;
  }
  for (size_t at = 0; at < all.size(); at += 12) lines.push_back(all.substr(at, 12));
  for (int size = 9; size <= 24; ++size) {
    for (const int style : {TTF_STYLE_NORMAL, TTF_STYLE_BOLD}) {
      const test::SurfaceDifference d = compareAll(kStrikeFace, size, style, lines);
      EXPECT_EQ(d.differing, 0) << size << " px, style " << style;
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
  const FontFace& face = kSystemFaces[0];
  for (const int style : {TTF_STYLE_NORMAL, TTF_STYLE_BOLD}) {
    const test::SurfaceDifference d = compareAll(face, 18, style, odd);
    EXPECT_EQ(d.differing, 0);
  }
  EXPECT_EQ(TTF_OpenFont("Graphic/NoSuchFont.ttc", 18), nullptr);
  const std::string expected = SDL_GetError();
  EXPECT_EQ(compat_TTF_OpenFont("Graphic/NoSuchFont.ttc", 18), nullptr);
  EXPECT_EQ(SDL_GetError(), expected);
  SDL_Color white = {255, 255, 255, 0};
  TTF_Font* real = TTF_OpenFont(face.path, 18);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(TTF_RenderUTF8_Blended(real, "", white), nullptr);
  const std::string emptyText = SDL_GetError();
  TTF_CloseFont(real);
  // A sequence cut off by the end: the installed library reads the missing
  // bytes from past the terminator (what it draws then is undefined); the
  // companion takes them as 0, which here ends the text.
  TTF_Font* font = compat_TTF_OpenFont(face.path, 18);
  EXPECT_EQ(compat_TTF_RenderUTF8_Blended(font, "", white), nullptr);
  EXPECT_EQ(SDL_GetError(), emptyText);
  EXPECT_EQ(compat_TTF_RenderUTF8_Blended(font, "\xFF", white), nullptr);
  compat_TTF_CloseFont(font);
}

}  // namespace
