// Text rendered into images with a real font, the label images and the
// frame-rate readout. Without a video mode images keep their surfaces, so
// layouts are checked on the surfaces; the readout is checked under GL.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdlib>
#include <string>

#include "net/wire.h"
#include "render/draw.h"
#include "render/image.h"
#include "render/video.h"
#include "support/test_support.h"
#include "text/text.h"

namespace {

using render::GfxImage;
using testsupport::readSurfacePixel;

const SDL_Color kWhite = {255, 255, 255, 0};

struct Size {
  int w = 0;
  int h = 0;
  bool operator==(const Size& o) const { return w == o.w && h == o.h; }
};

// The size SDL_ttf gives one line on its own.
Size lineSize(TTF_Font* font, const std::string& utf8) {
  SDL_Surface* s = TTF_RenderUTF8_Blended(font, utf8.c_str(), kWhite);
  const Size size{s->w, s->h};
  SDL_FreeSurface(s);
  return size;
}

Size imageSize(const GfxImage& image) { return {image.pixelWidth(), image.pixelHeight()}; }

bool samePixels(SDL_Surface* a, SDL_Surface* b) {
  if (a->w != b->w || a->h != b->h) return false;
  for (int y = 0; y < a->h; ++y) {
    for (int x = 0; x < a->w; ++x) {
      if (render::getPixel(a, x, y) != render::getPixel(b, x, y)) return false;
    }
  }
  return true;
}

// Highest alpha in rows [top, bottom) of a surface.
int maxAlpha(SDL_Surface* s, int top, int bottom) {
  int best = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < s->w; ++x) best = std::max<int>(best, readSurfacePixel(s, x, y).a);
  }
  return best;
}

// The image holds `line` unchanged at rows [top, top + line height): every
// pixel the line draws, where it draws it, and nothing to its right.
::testing::AssertionResult holdsLineAt(SDL_Surface* image, SDL_Surface* line, int top) {
  if (top + line->h > image->h) {
    return ::testing::AssertionFailure() << "the line's rows " << top << ".." << top + line->h
                                         << " pass the image's height " << image->h;
  }
  for (int y = 0; y < line->h; ++y) {
    for (int x = 0; x < image->w; ++x) {
      const testsupport::Rgba got = readSurfacePixel(image, x, top + y);
      const testsupport::Rgba want =
          x < line->w ? readSurfacePixel(line, x, y) : testsupport::Rgba{0, 0, 0, 0};
      const bool same = got.a == want.a &&
                        (want.a == 0 || (got.r == want.r && got.g == want.g && got.b == want.b));
      if (!same) {
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << top + y << ") has alpha " << int{got.a}
               << ", the line's row " << y << " has " << int{want.a};
      }
    }
  }
  return ::testing::AssertionSuccess();
}

class RenderText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { font = text::openFont("MSGOTHIC.TTC", 18); }
  static void TearDownTestSuite() {
    if (font != nullptr) TTF_CloseFont(font);
    font = nullptr;
  }
  void SetUp() override { ASSERT_NE(font, nullptr) << "no Japanese gothic font installed"; }
  static void render(const char* text, GfxImage& image, bool sjis = false) {
    text::renderText(text, image, font, kWhite, sjis);
  }
  static TTF_Font* font;
};
TTF_Font* RenderText::font = nullptr;

TEST_F(RenderText, LinesStackWithoutGapsAndEmptyLinesVanish) {
  GfxImage image;
  render("Hello\n\nWorld", image);
  const Size hello = lineSize(font, "Hello");
  const Size world = lineSize(font, "World");
  EXPECT_EQ(imageSize(image), (Size{std::max(hello.w, world.w), hello.h + world.h}));
  // Both lines are there, the first directly above the second.
  EXPECT_GT(maxAlpha(image.surface, 0, hello.h), 0);
  EXPECT_GT(maxAlpha(image.surface, hello.h, hello.h + world.h), 0);
}

TEST_F(RenderText, EachLineIsCopiedWholeDirectlyBelowTheOneAbove) {
  GfxImage image;
  render("Hello\n\ngy Wq\nAj", image);
  const char* const lines[] = {"Hello", "gy Wq", "Aj"};
  int top = 0;
  for (const char* text : lines) {
    SDL_Surface* const line = TTF_RenderUTF8_Blended(font, text, kWhite);
    EXPECT_TRUE(holdsLineAt(image.surface, line, top)) << text;
    top += line->h;
    SDL_FreeSurface(line);
  }
  EXPECT_EQ(top, image.pixelHeight());
}

TEST_F(RenderText, RendersInTheStyleAskedAndLeavesTheFontItsOwn) {
  TTF_SetFontStyle(font, TTF_STYLE_BOLD);
  SDL_Surface* const bold = TTF_RenderUTF8_Blended(font, "Style", kWhite);
  TTF_SetFontStyle(font, TTF_STYLE_NORMAL);
  SDL_Surface* const normal = TTF_RenderUTF8_Blended(font, "Style", kWhite);

  GfxImage boldImage;
  text::renderText("Style", boldImage, font, kWhite, false, text::FontStyle::Bold);
  EXPECT_TRUE(samePixels(boldImage.surface, bold));
  EXPECT_EQ(TTF_GetFontStyle(font), TTF_STYLE_NORMAL);
  // A font that is bold for its whole life is still bold after a normal
  // render.
  TTF_SetFontStyle(font, TTF_STYLE_BOLD);
  GfxImage normalImage;
  render("Style", normalImage);
  EXPECT_TRUE(samePixels(normalImage.surface, normal));
  EXPECT_EQ(TTF_GetFontStyle(font), TTF_STYLE_BOLD);
  TTF_SetFontStyle(font, TTF_STYLE_NORMAL);
  SDL_FreeSurface(bold);
  SDL_FreeSurface(normal);
}

TEST_F(RenderText, TabsAreRemovedAndTrailingBreakChangesNothing) {
  GfxImage tabbed, plain, trailing;
  render("\tA\t\tB", tabbed);
  render("AB", plain);
  render("AB\n", trailing);
  EXPECT_TRUE(samePixels(tabbed.surface, plain.surface));
  EXPECT_TRUE(samePixels(trailing.surface, plain.surface));
}

TEST_F(RenderText, OneLineIsTheRenderedSurfaceItself) {
  GfxImage image;
  render("Alone", image);
  EXPECT_EQ(imageSize(image), lineSize(font, "Alone"));
  // Still in SDL_ttf's own pixel format, not copied into the renderer's.
  EXPECT_NE(image.surface->format->Rmask, 0x000000FFu);
}

TEST_F(RenderText, ShiftJisIsConvertedWithoutCutting) {
  GfxImage image;
  // Four half-width katakana: four bytes of Shift-JIS, twelve of UTF-8.
  render("\xB1\xB2\xB3\xB4", image, true);
  SDL_Surface* const whole = TTF_RenderUTF8_Blended(font, u8"ｱｲｳｴ", kWhite);
  EXPECT_TRUE(samePixels(image.surface, whole));
  SDL_FreeSurface(whole);
}

TEST_F(RenderText, NothingToRenderLeavesTheImageAsItWas) {
  GfxImage image;
  render("Kept", image);
  SDL_Surface* const before = image.surface;
  render("", image);
  render("\n\n", image);
  render("\t\n\t\t\n", image);  // empty once the tabs are gone
  text::renderText("Lost", image, nullptr, kWhite, false);
  EXPECT_EQ(image.surface, before);
  EXPECT_EQ(imageSize(image), lineSize(font, "Kept"));
}

TEST_F(RenderText, RendersWhatFitsBeyondTheLimits) {
  GfxImage image;
  std::string twelve;
  for (int i = 0; i < 12; ++i) twelve += "line\n";
  render(twelve.c_str(), image);
  EXPECT_EQ(image.pixelHeight(), text::kMaxLines * lineSize(font, "line").h);

  // 1 + 100 x 3 bytes, cut at 255 inside a character: the partial
  // character goes too, leaving 1 + 84 x 3 = 253 bytes.
  std::string longLine = "a";
  std::string kept = "a";
  for (int i = 0; i < 100; ++i) longLine += u8"あ";
  for (int i = 0; i < 84; ++i) kept += u8"あ";
  render(longLine.c_str(), image);
  EXPECT_EQ(imageSize(image), lineSize(font, kept));
}

// Names and comments from other copies of the program, after the wire
// reader has terminated them inside their fields, reach renderText as the
// lobby and the room list pass them: broken Shift-JIS, control characters,
// breaks and tabs render what can be rendered, within the line limits.
TEST_F(RenderText, UntrustedNamesAndCommentsRender) {
  net::RoomBytes room{};
  for (size_t i = 0; i < net::kRoomCommentWidth; ++i) {
    room[net::kRoomCommentOffset + i] = static_cast<uint8_t>("\x83\x01\n\t\x81\xFF"[i % 6]);
  }
  for (size_t i = 0; i < net::kRoomNameWidth; ++i) room[net::kRoomNameOffset + i] = 0x83;
  RoomRecord record;
  net::readRoomRecord(room, record);
  GfxImage comment, name;
  render(record.comment.data(), comment, true);
  render(record.roomName.data(), name, true);
  EXPECT_FALSE(comment.empty());
  EXPECT_FALSE(name.empty());
  EXPECT_LE(comment.pixelHeight(), text::kMaxLines * lineSize(font, "X").h + text::kMaxLines);
}

TEST(FadeBand, AlphaRisesToOpaqueAndFallsAgain) {
  GfxImage bar;
  bar.surface = render::createSurface(640, 25, 1);
  render::setDrawColor(0.4f, 0.7f, 0.4f, 1.0f);
  render::fillRectOn(bar.surface, 0, 0, 640, 25);
  ASSERT_TRUE(text::makeFadeBand(bar));
  ASSERT_NE(bar.surface, nullptr);  // no GL here: the surface stays
  const int expected[25] = {0,   21,  42,  63,  84,  105, 126, 147, 168, 189, 210, 231, 252,
                            255, 234, 213, 192, 171, 150, 129, 108, 87,  66,  45,  24};
  for (int y = 0; y < 25; ++y) {
    EXPECT_EQ(readSurfacePixel(bar.surface, 0, y).a, expected[y]) << "row " << y;
    EXPECT_EQ(readSurfacePixel(bar.surface, 639, y).a, expected[y]) << "row " << y;
  }
  const testsupport::Rgba colour = readSurfacePixel(bar.surface, 5, 5);
  EXPECT_EQ(colour.r, 102);
  EXPECT_EQ(colour.g, 178);
}

TEST(FadeBand, RefusesSurfacesItCannotWalk) {
  GfxImage none;
  EXPECT_FALSE(text::makeFadeBand(none));

  struct Case {
    int w, h, depth;
  };
  for (const Case& c : {Case{640, 1, 32}, Case{640, 26, 32}, Case{64, 4, 16}}) {
    GfxImage image;
    image.surface = SDL_CreateRGBSurface(0, c.w, c.h, c.depth, 0, 0, 0, 0);
    SDL_FillRect(image.surface, nullptr, 0x1234);
    SDL_Surface* const before = image.surface;
    EXPECT_FALSE(text::makeFadeBand(image)) << c.w << "x" << c.h << "@" << c.depth;
    EXPECT_EQ(image.surface, before);
    EXPECT_EQ(render::getPixel(image.surface, c.w - 1, c.h - 1), 0x1234u);
  }
}

TEST(KnockoutLabel, WhitePlateWithTheWordCutOut) {
  TTF_Font* big = text::openFont("MSGOTHIC.TTC", 142);
  ASSERT_NE(big, nullptr);
  TTF_SetFontStyle(big, TTF_STYLE_BOLD);
  SDL_Surface* word = TTF_RenderUTF8_Blended(big, "net battle", kWhite);
  GfxImage label;
  text::makeKnockoutLabel("net battle", label, big, kWhite);
  ASSERT_NE(label.surface, nullptr);
  EXPECT_EQ(imageSize(label), (Size{word->w + 640, 240}));

  const testsupport::Rgba margin = readSurfacePixel(label.surface, 5, 5);
  EXPECT_EQ(margin.a, 255);
  EXPECT_EQ(margin.r, 255);
  // Every pixel is white with the word's alpha inverted.
  bool sawHole = false;
  for (int y = 0; y < word->h && y + 60 < 240; y += 3) {
    for (int x = 0; x < word->w; x += 3) {
      uint8_t r, g, b, a;
      SDL_GetRGBA(render::getPixel(word, x, y), word->format, &r, &g, &b, &a);
      const testsupport::Rgba cut = readSurfacePixel(label.surface, x + 320, y + 60);
      ASSERT_EQ(cut.a, 255 - a) << x << "," << y;
      ASSERT_EQ(cut.b, 255);
      sawHole = sawHole || a == 255;
    }
  }
  EXPECT_TRUE(sawHole);

  GfxImage untouched;
  text::makeKnockoutLabel("net battle", untouched, nullptr, kWhite);
  EXPECT_TRUE(untouched.empty());
  SDL_FreeSurface(word);
  TTF_CloseFont(big);
}

TEST(Heading, RenderedBoldAndFontsNormalAfterwards) {
  TTF_Font* titleFont = text::openFont("MSGOTHIC.TTC", 18);
  TTF_Font* subtitleFont = text::openFont("MSGOTHIC.TTC", 16);
  ASSERT_NE(titleFont, nullptr);
  ASSERT_NE(subtitleFont, nullptr);
  TTF_SetFontStyle(titleFont, TTF_STYLE_BOLD);
  const Size boldTitle = lineSize(titleFont, "Title");
  TTF_SetFontStyle(titleFont, TTF_STYLE_NORMAL);
  TTF_SetFontStyle(subtitleFont, TTF_STYLE_BOLD);
  SDL_Surface* const boldSubtitle = TTF_RenderUTF8_Blended(subtitleFont, "sub", kWhite);
  TTF_SetFontStyle(subtitleFont, TTF_STYLE_NORMAL);

  text::HeadingLabels heading;
  text::renderHeading(heading, "Title", "sub", titleFont, subtitleFont, kWhite);
  EXPECT_EQ(imageSize(heading.title), boldTitle);
  EXPECT_TRUE(samePixels(heading.subtitle.surface, boldSubtitle));
  EXPECT_TRUE(heading.unused.empty());
  EXPECT_EQ(TTF_GetFontStyle(titleFont), TTF_STYLE_NORMAL);
  EXPECT_EQ(TTF_GetFontStyle(subtitleFont), TTF_STYLE_NORMAL);
  SDL_FreeSurface(boldSubtitle);
  TTF_CloseFont(titleFont);
  TTF_CloseFont(subtitleFont);
}

TEST(FpsText, HundredthsWithTwoDecimals) {
  char buffer[text::kFpsTextSize];
  const std::pair<uint16_t, const char*> cases[] = {{5987, "59.87FPS"},   {600, " 6.00FPS"},
                                                    {6000, "60.00FPS"},   {5, " 0.05FPS"},
                                                    {12345, "123.45FPS"}, {65535, "655.35FPS"}};
  for (const auto& [value, shown] : cases) {
    text::formatFps(value, buffer);
    EXPECT_STREQ(buffer, shown);
  }
}

// The readout keeps private state for the whole process, so the software
// case runs first and the GL case after it.
TEST(FpsOverlay, NeverShownInTheSoftwareBackEnd) {
  ASSERT_TRUE(testsupport::openSoftwareScreen());
  SDL_Surface* screen = render::video().screenSurface;
  SDL_FillRect(screen, nullptr, 0xFFFFFFFFu);
  render::setDrawColor(1, 0, 0, 1);
  render::testing::mutableVideo().measuredFps100 = 3000;
  text::drawFpsOverlay();
  EXPECT_EQ(readSurfacePixel(screen, 630, 470).r, 255);
  EXPECT_EQ(readSurfacePixel(screen, 630, 470).g, 255);
  EXPECT_FLOAT_EQ(render::drawState().color[1], 0);  // draw state untouched
  testsupport::closeVideo();
  unsetenv("SDL_VIDEODRIVER");
}

TEST(FpsOverlay, BlackReadoutAtTheBottomRightCorner) {
  if (!testsupport::openGlWindow()) GTEST_SKIP() << "no display for GL";
  testsupport::clearGl(1, 1, 1);
  render::testing::mutableVideo().measuredFps100 = 0;
  text::drawFpsOverlay();  // nothing measured yet: nothing shown
  EXPECT_EQ(testsupport::readGlPixel(620, 470).r, 255);

  render::testing::mutableVideo().measuredFps100 = 5987;
  text::drawFpsOverlay();
  int dark = 0;
  for (int y = 440; y < 480; ++y) {
    for (int x = 520; x < 640; ++x) dark += testsupport::readGlPixel(x, y).r == 0 ? 1 : 0;
  }
  EXPECT_GT(dark, 20);
  EXPECT_EQ(testsupport::readGlPixel(400, 470).r, 255);
  EXPECT_EQ(testsupport::readGlPixel(10, 10).r, 255);
  // The state it drew with stays for what draws next.
  const render::DrawState& state = render::drawState();
  EXPECT_FLOAT_EQ(state.color[0], 0);
  EXPECT_FLOAT_EQ(state.color[3], 1);
  EXPECT_FLOAT_EQ(state.scaleX, 1);
  EXPECT_EQ(state.centered, 0);
  testsupport::saveGlScreenshot("fps_overlay");
  testsupport::closeVideo();
}

}  // namespace
