#include "scenes/title_scene.h"

#include <algorithm>

#include "render/draw.h"
#include "scenes/widgets.h"
#include "text/sjis_strings.h"
#include "text/text.h"

namespace scenes {

using namespace app;

namespace {

constexpr const char* kMenuTexts[TitleScene::kMenuItems] = {
    sjis::kMenuProduce, sjis::kMenuFreeBattle, sjis::kMenuNetBattle, sjis::kMenuOption,
    sjis::kMenuQuit};
constexpr const char* kHelpTexts[TitleScene::kMenuItems] = {
    sjis::kHelpProduce, sjis::kHelpFreeBattle, sjis::kHelpNetBattle, sjis::kHelpOption,
    sjis::kHelpQuit};
constexpr int kLabelFont = 1;  // 18 pt
constexpr int kMenuFont = 2;   // 24 pt

}  // namespace

TitleScene::TitleScene(GameContext& shared) : ctx(shared) {
  titleBar.surface = render::createSurface(640, 25, 1);
  render::setDrawColor(0.5f, 0.7f, 0.1f, 1.0f);
  render::fillRectOn(titleBar.surface, 0, 0, 640, 25);
  text::makeFadeBand(titleBar);
  render::loadImage(bgFrame, "Graphic/BGFrame.png");

  TTF_Font* labelFont = ctx.fonts[kLabelFont];
  text::renderText("PRESS START BUTTON", pressStartLabel, labelFont, ctx.textColor, true,
                   text::FontStyle::Bold);
  for (int i = 0; i < kMenuItems; ++i) {
    text::renderText(kMenuTexts[i], menuLabels[i], ctx.fonts[kMenuFont], ctx.textColor, true);
    text::renderText(kHelpTexts[i], helpLabels[i], labelFont, ctx.textColor, true);
  }
}

void TitleScene::enter() {
  visit = Visit{};
  visit.barScrollY = -static_cast<float>(titleBar.pixelHeight());
  visit.frameScrollX = -static_cast<float>(bgFrame.pixelWidth());
}

void TitleScene::update() {
  render::setDrawScale(1, 1, 0);
  drawBackground();
  drawFrameStrips();
  drawBubble(visit.bubbleRetract != 0);
  // Choices act only while the panel is steady, so a confirmed item first
  // closes the panel and only then takes effect.
  if (!drawMenuPanel(visit.menuClosing != 0)) return;
  switch (visit.phase) {
    case TitlePhase::PressStart:
    case TitlePhase::StartPressed:
      drawStartPrompt();
      break;
    case TitlePhase::MainMenu:
      updateMenu();
      break;
    case TitlePhase::ProduceChosen:
      ctx.playMode = PlayMode::Produce;
      visit.phase = TitlePhase::MainMenu;
      break;
    case TitlePhase::FreeBattleChosen:
      ctx.playMode = PlayMode::FreeBattle;
      fadeOut(1, 1, 1, kSceneCharacterSelect);
      visit.bubbleRetract = 0;
      break;
    case TitlePhase::NetBattleChosen:
      ctx.playMode = PlayMode::NetBattle;
      fadeOut(1, 1, 1, kSceneCharacterSelect);
      visit.bubbleRetract = 0;
      break;
    case TitlePhase::OptionChosen:
      ctx.changeScene(kSceneOptions);
      break;
    case TitlePhase::QuitChosen:
      fadeOut(0, 0, 0, kSceneQuit);
      break;
    default:
      break;
  }
}

// The fill and the bars over it look the same every frame but for the bars'
// offset, and repeat every bar height. The first frame draws them and keeps
// one period, repeated down a picture a bar taller than the screen; later
// frames copy that picture with its top at the offset.
void TitleScene::drawBackground() {
  const int barHeight = titleBar.pixelHeight();
  const int top = static_cast<int16_t>(visit.barScrollY);
  if (backgroundCopy.holds(titleBar.texture) && top <= 0 && top >= -barHeight) {
    backgroundCopy.draw(0, top, 0, 0, 640, 480 - top);
    render::setDrawColor(1, 1, 1, 0.5f);  // as the bars leave it
    visit.barScrollY += 0.2f;
    if (visit.barScrollY > 0) visit.barScrollY = -static_cast<float>(barHeight);
    return;
  }
  render::setDrawColor(0.3f, 0.6f, 0.1f, 1.0f);
  render::fillRect(0, 0, 640, 480);
  drawBars();
  // One whole period lies on the screen from the first bar below the top.
  const int period = top + barHeight;
  const int height = 480 + barHeight;
  if (barHeight <= 0 || period < 0 || period + barHeight > 480 ||
      !backgroundCopy.reserve(640, height, titleBar.texture)) {
    return;
  }
  for (int y = 0; y < height; y += barHeight) {
    backgroundCopy.captureInto(0, period, 640, std::min(barHeight, height - y), 0, y);
  }
}

void TitleScene::drawBars() {
  // The bars drift down 0.2 pixel per frame.
  render::setDrawColor(1, 1, 1, 0.5f);
  const int barHeight = titleBar.pixelHeight();
  for (int y = static_cast<int16_t>(visit.barScrollY); barHeight > 0 && y < 480; y += barHeight) {
    render::drawImage(0, y, titleBar);
  }
  visit.barScrollY += 0.2f;
  if (visit.barScrollY > 0) visit.barScrollY = -static_cast<float>(barHeight);
}

void TitleScene::drawFrameStrips() {
  // The top strip moves right and the bottom one left, each copy with an
  // echo that swells to twice its size while fading out.
  const int w = bgFrame.pixelWidth();
  const int h = bgFrame.pixelHeight();
  for (int i = 0; i < 3; ++i) {
    const int topX = static_cast<int>(i * w + visit.frameScrollX);
    const int bottomX = static_cast<int>(w - visit.frameScrollX - i * w);
    render::setDrawScale(1, 1, 0);
    render::setDrawColor(1, 1, 1, 0.3f);
    render::drawImage(topX, 0, bgFrame);
    render::drawImage(bottomX, 480 - h, bgFrame);
    render::setDrawScale(visit.framePulse, visit.framePulse, 1);
    render::setDrawColor(1, 1, 1, 0.6f - visit.framePulse / 3);
    render::drawImage(topX, 0, bgFrame);
    render::drawImage(bottomX, 480 - h, bgFrame);
  }
  visit.framePulse += 0.01f;
  if (visit.framePulse >= 2) visit.framePulse = 1;
  render::setDrawScale(1, 1, 0);
  visit.frameScrollX += 1;
  if (visit.frameScrollX > 0) visit.frameScrollX = -static_cast<float>(w);
}

void TitleScene::drawStartPrompt() {
  const int pw = pressStartLabel.pixelWidth();
  const int ph = pressStartLabel.pixelHeight();
  render::setDrawColor(0, 0, 1, visit.startAlpha * 0.7f);
  widgets::drawPanel(ctx, static_cast<int>((640 - (pw + 40)) / 2.0f),
                     static_cast<int>((480 - (ph + 20)) / 1.2f), pw + 40, ph + 20);
  render::setDrawColor(1, 1, 1, visit.startAlpha);
  render::drawImage((640 - pw) / 2, static_cast<int>((480 - ph) / 1.22f), pressStartLabel);
  if (visit.phase == TitlePhase::PressStart) {
    // The prompt fades in and stays lit until confirmed; a press during the
    // fade-in is ignored.
    if (visit.startAlpha < 1) {
      visit.startAlpha += 0.05f;
    } else if (ctx.justPressed(0, ButtonConfirm)) {
      visit.phase = TitlePhase::StartPressed;
    }
  } else if (visit.startAlpha > 0) {
    visit.startAlpha -= 0.05f;
  } else {
    visit.phase = TitlePhase::MainMenu;
    visit.startAlpha = 0;
  }
}

void TitleScene::updateMenu() {
  if (ctx.justPressed(0, ButtonUp) && visit.menuCursor > 0) --visit.menuCursor;
  if (ctx.justPressed(0, ButtonDown) && visit.menuCursor < kMenuItems - 1) ++visit.menuCursor;
  if (ctx.justPressed(0, ButtonConfirm)) {
    visit.phase =
        static_cast<TitlePhase>(static_cast<int>(TitlePhase::ProduceChosen) + visit.menuCursor);
    visit.menuClosing = 1;
    visit.bubbleRetract = 1;
  } else {
    visit.menuClosing = 0;
    visit.bubbleRetract = 0;
  }
}

void TitleScene::fadeOut(float red, float green, float blue, SceneId next) {
  render::setDrawColor(red, green, blue, visit.screenFade);
  render::fillRect(0, 0, 640, 480);
  if (visit.screenFade < 2) {
    visit.screenFade += 0.02f;
  } else {
    ctx.changeScene(next);
    backgroundCopy.release();  // memory for the other scenes; made again on return
  }
}

bool TitleScene::drawMenuPanel(bool closing) {
  float& a = visit.menuAlpha;
  if (closing) {
    if (a <= 0) return true;
    a -= 0.02f;
  }
  render::setDrawColor(0.3f, 0.6f, 0.1f, a * 0.3f);
  widgets::drawPanel(ctx, 320, 130, 320, 250);
  for (int i = 0; i < kMenuItems; ++i) {
    // Items are right-aligned at 640 when open and slide in from the edge.
    const int y = 130 + 50 * i;
    const int w = 300 - 40 * i;
    const int x = static_cast<int>((640 - w) + w * (1 - a));
    GfxImage& label = menuLabels[i];
    widgets::drawButton(ctx, x, y, w, 50, label, x + (w - label.pixelWidth()) / 2,
                        y + (50 - label.pixelHeight()) / 2, i == visit.menuCursor, a);
  }
  if (closing) return false;
  if (a < 1) {
    a += 0.02f;
    return false;
  }
  return true;
}

bool TitleScene::drawBubble(bool retract) {
  float& g = visit.bubbleGrow;
  float& r = visit.bubbleRing;
  if (retract) {
    r = r < 1 ? r + 0.01f : 1;
    g = g > 0 ? g - 0.01f : 0;
    if (r == 1 && g == 0) return true;
  }
  render::setDrawScale(1, 1, 0);
  // The centre follows the growth toward (160, 320) and heads back to the
  // corner once an item is chosen.
  if (retract || visit.phase >= TitlePhase::ProduceChosen) {
    if (bubbleX > 0) bubbleX -= 4;
    if (bubbleY > 0) bubbleY -= 4;
  } else {
    if (g * 160 > bubbleX) bubbleX += 4;
    if (g * 320 > bubbleY) bubbleY += 4;
  }
  // Two circles make a ripple: one shrinks while fading in, the other grows
  // while fading out.
  render::setDrawColor(0.5f, 0.9f, 0.0f, r);
  render::fillCircle(bubbleX, bubbleY, static_cast<int>(g * 200 + 100 - r * 100));
  render::setDrawColor(0.5f, 0.9f, 0.0f, 1 - r);
  render::fillCircle(bubbleX, bubbleY, static_cast<int>(g * 200 + r * 100));
  if (retract) return false;

  render::setDrawColor(1, 1, 1, g);
  if (visit.phase >= TitlePhase::ProduceChosen) {
    GfxImage& label = menuLabels[chosenItem(visit.phase)];
    render::drawImage(static_cast<int>(((bubbleX + 200 - label.pixelWidth()) / 2) * g),
                      static_cast<int>(((bubbleY + 150 - label.pixelHeight()) / 2) * g), label);
  } else {
    GfxImage& label = helpLabels[visit.menuCursor];
    render::drawImage(static_cast<int>((bubbleX + 25 - label.pixelWidth() / 2) * g),
                      static_cast<int>((bubbleY - label.pixelHeight() / 2) * g), label);
  }
  r = r < 1 ? r + 0.01f : 0;
  g = g < 1 ? g + 0.01f : 1;
  return g == 1;
}

}  // namespace scenes
