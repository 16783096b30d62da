#include "scenes/options_scene.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "render/draw.h"
#include "scenes/widgets.h"
#include "text/sjis_strings.h"

namespace scenes {

using namespace app;

namespace {

constexpr const char* kRowTexts[OptionsScene::kRows] = {
    sjis::kOptionUp,      sjis::kOptionDown,     sjis::kOptionLeft,    sjis::kOptionRight,
    sjis::kOptionConfirm, sjis::kOptionCancel,   sjis::kOptionExtra1,  sjis::kOptionExtra2,
    sjis::kOptionExtra3,  sjis::kOptionDefaults, sjis::kOptionPicture, sjis::kOptionBack};
constexpr const char* kHelpTexts[4] = {sjis::kHelpOptionKey, sjis::kHelpOptionDefaults,
                                       sjis::kHelpOptionPicture, sjis::kHelpOptionBack};
constexpr int kSmallFont = 0;  // 16 pt
constexpr int kRowTop = 92;
constexpr int kRowHeight = 27;
constexpr int kRowLeft = 30;
constexpr int kRowWidth = 580;
constexpr int kKeyColumn = 250;
constexpr int kJoystickColumn = 420;
constexpr int kJoystickButtons = 32;

int helpIndex(int row) {
  if (row < OptionsScene::kDefaultsRow) return 0;
  return row - OptionsScene::kDefaultsRow + 1;
}

// The stick directions of joystick 0 held past the threshold, as codes.
uint8_t stickCodes(SDL_Joystick* joystick) {
  if (joystick == nullptr || SDL_JoystickNumAxes(joystick) < 2) return 0;
  uint8_t held = 0;
  for (uint8_t code : {kStickLeft, kStickUp, kStickRight, kStickDown}) {
    if (stickActive(code, SDL_JoystickGetAxis(joystick, stickAxis(code)))) held |= code;
  }
  return held;
}

uint32_t joystickButtons(SDL_Joystick* joystick) {
  if (joystick == nullptr) return 0;
  uint32_t held = 0;
  const int count = std::min(SDL_JoystickNumButtons(joystick), kJoystickButtons);
  for (int i = 0; i < count; ++i) {
    if (SDL_JoystickGetButton(joystick, i) == 1) held |= 1u << i;
  }
  return held;
}

}  // namespace

OptionsScene::OptionsScene(GameContext& shared) : ctx(shared) {
  text::renderHeading(heading, sjis::kMenuOption, "Options", ctx.fonts[1], ctx.fonts[0],
                      ctx.textColor);
  for (int i = 0; i < kRows; ++i) {
    text::renderText(kRowTexts[i], rowLabels[i], ctx.fonts[kSmallFont], ctx.textColor, true);
  }
  for (int i = 0; i < 4; ++i) {
    text::renderText(kHelpTexts[i], helpLabels[i], ctx.fonts[kSmallFont], ctx.textColor, true);
  }
  for (int i = 0; i < kWindowModeCount; ++i) {
    char label[96];
    if (i == static_cast<int>(WindowMode::Fullscreen)) {
      std::snprintf(label, sizeof label, "%s", sjis::kOptionFullscreen);
    } else {
      std::snprintf(label, sizeof label, "%s %d x %d", sjis::kOptionWindow, 640 * (i + 1),
                    480 * (i + 1));
    }
    text::renderText(label, pictureLabels[i], ctx.fonts[kSmallFont], ctx.textColor, true);
  }
  text::renderText(sjis::kOptionWaitKey, waitLabel, ctx.fonts[1], ctx.textColor, true);
  refreshLabels();
}

OptionsScene::~OptionsScene() {
  if (unsaved) writeOptions(kOptionsFile, ctx.options);
}

void OptionsScene::enter() {
  visit = Visit{};
  refreshLabels();
}

void OptionsScene::refreshLabels() {
  for (int i = 0; i < kButtonsPerPlayer; ++i) {
    const ButtonSource& source = ctx.options.buttons[i];
    text::renderText(keyName(source.key).c_str(), keyLabels[i], ctx.fonts[kSmallFont],
                     ctx.textColor, false);
    text::renderText(joystickName(source).c_str(), joystickLabels[i], ctx.fonts[kSmallFont],
                     ctx.textColor, false);
  }
}

void OptionsScene::update() {
  widgets::drawBackdrop(ctx);
  if (visit.leaving) {
    if (widgets::drawHeading(ctx, true, heading)) ctx.changeScene(kSceneTitle);
    return;
  }
  const bool open = widgets::drawHeading(ctx, false, heading);
  drawRows();
  if (visit.waitingFor >= 0) {
    waitForSource();
  } else if (open) {
    handleInput();
  }
}

void OptionsScene::handleInput() {
  if (ctx.justPressed(0, ButtonUp) && visit.cursor > 0) --visit.cursor;
  if (ctx.justPressed(0, ButtonDown) && visit.cursor < kRows - 1) ++visit.cursor;
  if (visit.cursor == kPictureRow) {
    if (ctx.justPressed(0, ButtonLeft)) stepPicture(-1);
    if (ctx.justPressed(0, ButtonRight)) stepPicture(1);
  }
  if (ctx.justPressed(0, ButtonCancel)) {
    leave();
    return;
  }
  if (!ctx.justPressed(0, ButtonConfirm)) return;
  if (visit.cursor < kButtonsPerPlayer) {
    startWaiting();
  } else if (visit.cursor == kDefaultsRow) {
    const WindowMode window = ctx.options.window;
    ctx.options = defaultOptions();
    ctx.options.window = window;
    applyOptionBindings(ctx.options, ctx.bindings.data());
    refreshLabels();
    unsaved = true;
  } else if (visit.cursor == kBackRow) {
    leave();
  }
}

void OptionsScene::startWaiting() {
  visit.waitingFor = visit.cursor;
  snapshotSources();
}

void OptionsScene::snapshotSources() {
  int count = 0;
  const Uint8* keys = SDL_GetKeyState(&count);
  heldKeys.fill(0);
  for (int k = 0; keys != nullptr && k < count && k < static_cast<int>(heldKeys.size()); ++k) {
    heldKeys[k] = keys[k];
  }
  heldJoystickButtons = joystickButtons(ctx.joysticks[0]);
  heldStick = stickCodes(ctx.joysticks[0]);
}

void OptionsScene::waitForSource() {
  widgets::runDialog(ctx, 320, 260, 460, 110, &waitLabel, DialogKind::DialogMessage, 0);
  if (ctx.justPressed(0, ButtonCancel)) {
    bindSource({}, false);  // nothing bound; only the wait ends
    return;
  }
  int count = 0;
  const Uint8* keys = SDL_GetKeyState(&count);
  for (int k = 0; keys != nullptr && k < count && k < static_cast<int>(heldKeys.size()); ++k) {
    if (keys[k] == 1 && heldKeys[k] == 0 && bindableKey(k)) {
      bindSource({static_cast<uint16_t>(k), 0, 0}, false);
      return;
    }
  }
  const uint32_t buttons = joystickButtons(ctx.joysticks[0]);
  for (int i = 0; i < kJoystickButtons; ++i) {
    if ((buttons & ~heldJoystickButtons & (1u << i)) != 0) {
      bindSource({0, 0, static_cast<uint8_t>(i)}, true);
      return;
    }
  }
  const uint8_t stick = stickCodes(ctx.joysticks[0]) & ~heldStick;
  for (uint8_t code : {kStickLeft, kStickUp, kStickRight, kStickDown}) {
    if ((stick & code) != 0) {
      bindSource({0, 1, code}, true);
      return;
    }
  }
  snapshotSources();
}

void OptionsScene::bindSource(const ButtonSource& source, bool joystick) {
  const bool bind = source.key != 0 || joystick;
  if (bind) {
    rebind(ctx.options, static_cast<Button>(visit.waitingFor), source, joystick);
    applyOptionBindings(ctx.options, ctx.bindings.data());
    refreshLabels();
    unsaved = true;
  }
  // The source just pressed is held down now: it must not count as a press
  // of the button it was bound to until it has been let go.
  for (int i = 0; i < kButtonsPerPlayer; ++i) ctx.bindings[i].latch = 1;
  visit.waitingFor = -1;
  widgets::runDialog(ctx, 0, 0, 0, 0, nullptr, DialogKind::DialogMessage, 0);
}

void OptionsScene::stepPicture(int direction) {
  int mode = static_cast<int>(ctx.options.window);
  do {
    mode += direction;
  } while (mode >= 0 && mode < kWindowModeCount &&
           !GameContext::windowModeFits(static_cast<WindowMode>(mode)));
  if (mode < 0 || mode >= kWindowModeCount) return;
  ctx.options.window = ctx.applyWindowMode(static_cast<WindowMode>(mode));
  unsaved = true;
}

void OptionsScene::leave() {
  writeOptions(kOptionsFile, ctx.options);
  unsaved = false;
  visit.leaving = true;
}

void OptionsScene::drawRows() {
  for (int i = 0; i < kRows; ++i) {
    const int y = kRowTop + i * kRowHeight;
    const bool lit = i == visit.cursor;
    widgets::drawButton(ctx, kRowLeft, y, kRowWidth, kRowHeight, rowLabels[i], kRowLeft + 15,
                        y + (kRowHeight - rowLabels[i].pixelHeight()) / 2, lit);
    const int textY = y + (kRowHeight - keyLabels[0].pixelHeight()) / 2;
    if (i < kButtonsPerPlayer) {
      const bool waiting = i == visit.waitingFor;
      render::setDrawColor(1, 1, waiting ? 0.3f : 1, 1);
      render::drawImage(kKeyColumn, textY, keyLabels[i]);
      render::drawImage(kJoystickColumn, textY, joystickLabels[i]);
    } else if (i == kPictureRow) {
      GfxImage& label = pictureLabels[static_cast<int>(ctx.options.window)];
      render::drawImage(kKeyColumn, textY, label);
    }
  }
  render::setDrawColor(0.3f, 0.6f, 0.1f, 0.8f);
  widgets::drawPanel(ctx, 20, 422, 600, 50);
  GfxImage& help = helpLabels[helpIndex(visit.cursor)];
  render::setDrawColor(1, 1, 1, 1);
  render::drawImage(40, 447 - help.pixelHeight() / 2, help);
}

}  // namespace scenes
