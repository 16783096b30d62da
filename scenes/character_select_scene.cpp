#include "scenes/character_select_scene.h"

#include <algorithm>

#include "render/draw.h"
#include "scenes/widgets.h"
#include "text/sjis_strings.h"

namespace scenes {

using namespace app;

namespace {

constexpr int kSmallFont = 0;  // 16 pt
constexpr int kLabelFont = 1;  // 18 pt
constexpr const char* kStatNames[kStatCount] = {"vocal", "dance", "visual", "tension"};
constexpr const char* kNumbers[kPlayerSlots] = {"1", "2", "3", "4", "5", "6"};

}  // namespace

CharacterSelectScene::CharacterSelectScene(GameContext& shared) : ctx(shared) {
  TTF_Font* small = ctx.fonts[kSmallFont];
  TTF_Font* label = ctx.fonts[kLabelFont];
  text::renderHeading(heading, sjis::kCharacterSelectTitle, "character select", label, small,
                      ctx.textColor);
  loadCharacter(0, "Graphic/Icon_Sorane.png", "Graphic/Top_Sorane.png", sjis::kSoraneName,
                sjis::kSoraneDescription);
  loadCharacter(10, "Graphic/Icon_Kumoda.png", "Graphic/Top_Kumoda.png", sjis::kKumodaName,
                sjis::kKumodaDescription);
  for (int i = 0; i < kStatCount; ++i) {
    text::renderText(kStatNames[i], statLabels[i], small, ctx.textColor, true);
  }
  text::renderText(sjis::kPlayerLabel, controllerLabels[0], label, ctx.textColor, true);
  text::renderText("CPU", controllerLabels[1], label, ctx.textColor, true);
  text::renderText("No.", numberPrefixLabel, label, ctx.textColor, true, text::FontStyle::Bold);
  for (int i = 0; i < kPlayerSlots; ++i) {
    text::renderText(kNumbers[i], playerNumberLabels[i], label, ctx.textColor, true,
                     text::FontStyle::Bold);
  }
  text::renderText(sjis::kConfirmCharacter, confirmLabel, label, ctx.textColor, true);
}

void CharacterSelectScene::loadCharacter(int slot, const char* iconPath, const char* portraitPath,
                                         const char* name, const char* description) {
  if (iconPath != nullptr) render::loadImage(icons[slot], iconPath);
  // Drawn at their own size only: a texture of their exact size saves the
  // padding to 512 x 512.
  portraits[slot].exactSize = true;
  if (portraitPath != nullptr) render::loadImage(portraits[slot], portraitPath);
  text::renderText(name, nameLabels[slot], ctx.fonts[kLabelFont], ctx.textColor, true);
  text::renderText(description, descriptionLabels[slot], ctx.fonts[kSmallFont], ctx.textColor,
                   true);
}

void CharacterSelectScene::enter() {
  visit = Visit{};
  if (ctx.playMode == PlayMode::FreeBattle) {
    // Participant 0 is the human player, the others the computer.
    visit.playerCount = std::min<uint8_t>(ctx.hostRoom.maxPlayers, kPlayerSlots);
    for (int i = 0; i < visit.playerCount; ++i) {
      ctx.players[i].present = 1;
      ctx.players[i].isCpu = i == 0 ? 0 : 1;
    }
  } else {
    visit.playerCount = 1;
    ctx.players[0] = ctx.profile;
    ctx.players[0].present = 1;
  }
}

void CharacterSelectScene::update() {
  widgets::drawBackdrop(ctx);
  if (visit.bannerDone == 0) {
    visit.bannerDone = widgets::drawModeBanner(ctx, ctx.playMode) ? 1 : 0;
    return;
  }
  if (ctx.players[visit.turn].isCpu != 0) {
    // Player 0's presses choose for the computer players.
    std::copy_n(&ctx.binding(0, ButtonUp), kButtonsPerPlayer, &ctx.binding(visit.turn, ButtonUp));
  }
  drawCharacterPanel();
  drawTurnBanner();
  drawIconRow();
  if (visit.confirmOpen != 0) confirmChoice();
  finishOrOpen();
}

void CharacterSelectScene::confirmChoice() {
  const DialogResult answer = widgets::runDialog(ctx, 320, 240, 400, 150, &confirmLabel,
                                                 DialogKind::DialogYesNo, visit.turn);
  if (answer == kDialogPending) return;
  if (answer == kDialogYes) {
    ctx.players[visit.turn].stats = ctx.characterStats[visit.selCursor];
    visit.turnProgress += 0.1f;
  }
  // "No" or cancel: the same participant chooses again.
  widgets::runDialog(ctx, 0, 0, 0, 0, nullptr, DialogKind::DialogYesNo, visit.turn);
  visit.confirmOpen = 0;
}

void CharacterSelectScene::finishOrOpen() {
  const bool lastConfirmed = visit.turn + 1 == visit.playerCount && visit.turnProgress > 1.1f;
  if (!lastConfirmed) {
    widgets::drawHeading(ctx, false, heading);
    if (visit.panelProgress < 3) visit.panelProgress += 0.05f;
    return;
  }
  if (widgets::drawHeading(ctx, true, heading)) {
    if (ctx.playMode == PlayMode::FreeBattle) {
      ctx.changeScene(kSceneRoomLobby);
    } else {
      ctx.profile = ctx.players[0];
      ctx.changeScene(kSceneRoomList);
    }
  }
  if (visit.turnProgress < 3.5f) visit.turnProgress += 0.01f;
  if (visit.panelProgress > 0) visit.panelProgress -= 0.05f;
}

void CharacterSelectScene::drawIconRow() {
  if (visit.panelProgress < 2) return;
  if (visit.confirmOpen == 0 && visit.turnProgress < 1.1f) {
    if (ctx.justPressed(visit.turn, ButtonLeft)) {
      for (int i = visit.selCursor - 1; i >= 0; --i) {
        if (ctx.characterAvailable[i] == 1) {
          visit.selCursor = static_cast<uint8_t>(i);
          break;
        }
      }
    }
    if (ctx.justPressed(visit.turn, ButtonRight)) {
      for (int i = visit.selCursor + 1; i < kCharacterSlots; ++i) {
        if (ctx.characterAvailable[i] == 1) {
          visit.selCursor = static_cast<uint8_t>(i);
          break;
        }
      }
    }
    if (ctx.justPressed(visit.turn, ButtonConfirm)) visit.confirmOpen = 1;
  }
  // Slots that are not offered leave no gap.
  int x = 15;
  for (int i = 0; i < kCharacterSlots; ++i) {
    if (ctx.characterAvailable[i] != 1) continue;
    widgets::drawButton(ctx, x, 360, 56, 76, icons[i], x - 5, 370, i == visit.selCursor, 1,
                        palette::kIconCell);
    x += 62;
  }
}

void CharacterSelectScene::drawCharacterPanel() {
  if (visit.panelProgress <= 0) return;
  const float k = std::min(visit.panelProgress, 1.0f);
  const int c = visit.selCursor;
  render::setDrawColor(0, 0, 0, 0.5f);
  widgets::drawPanel(ctx, static_cast<int>(320 * (1 - k)), static_cast<int>(75 + 175 * (1 - k)),
                     static_cast<int>(640 * k), static_cast<int>(350 * k));
  render::setDrawColor(1, 1, 1, k);
  GfxImage& portrait = portraits[c];
  render::drawImage(150 - portrait.pixelWidth() / 2, 250 - portrait.pixelHeight() / 2, portrait);
  render::setDrawColor(0, 0, 0, 0.7f * k);
  widgets::drawPanel(ctx, 330, 95, 300, 300);
  render::setDrawColor(0.5f, 0.9f, 0.0f, 0.6f * k);
  widgets::drawPanel(ctx, 310, 105, 300, 40);
  render::setDrawColor(1, 1, 1, k);
  render::drawImage(340, 115, nameLabels[c]);
  render::setDrawColor(1, 1, 1, 0.1f * k);
  widgets::drawWindow(ctx, 340, 145, 280, 125, 1, 1, 1, 0.5f * k);
  for (int i = 0; i < kStatCount; ++i) {
    const int y = 160 + 25 * i;
    const int target = ctx.characterStats[c][i];
    int16_t& shown = visit.shownStats[i];
    // The bars glide 5 points per frame toward the highlighted character.
    if (shown + 5 > target && shown - 5 < target) shown = static_cast<int16_t>(target);
    if (shown < target) shown = static_cast<int16_t>(shown + 5);
    if (shown > target) shown = static_cast<int16_t>(shown - 5);
    render::setDrawColor(1, 1, 1, k);
    render::drawImage(420 - statLabels[i].pixelWidth(), y, statLabels[i]);
    render::setDrawColor(1, 1, 1, 0.1f * k);
    widgets::drawWindow(ctx, 425, y - 5, 180, 25, 0, 0, 0, 0.0f);
    render::setDrawColor(0.7f, 0.4f, 0.4f, k);
    widgets::drawWindow(ctx, 425, y - 5, shown * 180 / 1000, 25, 0, 0, 0, 0.0f);
  }
  render::setDrawColor(1, 1, 1, k);
  render::drawImage(345, 275, descriptionLabels[c]);
}

void CharacterSelectScene::drawTurnBanner() {
  if (visit.panelProgress < 1) return;
  float& t = visit.turnProgress;
  if (t < 1 || t > 1.1f) t += 0.04f;
  if (visit.turn + 1 < visit.playerCount && t > 2.5f) {
    t = 0;
    ++visit.turn;
  }
  if (ctx.playMode == PlayMode::NetBattle) return;
  // Slides in from the right to 350, drifts left while waiting, fades out
  // after the choice.
  const int x = static_cast<int>(t < 1 ? 350 + 300 * (1 - t) : 350 - 100 * (t - 1));
  const float windowAlpha = 0.8f * t < 1 ? 1 : 2 - t;
  const float textAlpha = t < 1 ? 1 : 2 - t;
  render::setDrawColor(0.5f, 0.9f, 0.0f, windowAlpha);
  widgets::drawPanel(ctx, x, 60, 300, 40);
  render::setDrawColor(1, 1, 1, textAlpha);
  const int prefixWidth = numberPrefixLabel.pixelWidth();
  if (visit.playerCount > 1) {
    render::drawImage(x + 20, 70, numberPrefixLabel);
    render::drawImage(x + 20 + prefixWidth, 70, playerNumberLabels[visit.turn]);
  }
  const int controller = ctx.players[visit.turn].isCpu != 0 ? 1 : 0;
  render::drawImage(x + 20 + prefixWidth + 30, 70, controllerLabels[controller]);
}

}  // namespace scenes
