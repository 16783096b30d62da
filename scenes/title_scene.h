// Scene 1: the animated green title with "PRESS START BUTTON", then the main
// menu with its sliding panel and help bubble. Reads player 0's buttons only.
#pragma once

#include <array>
#include <cstdint>

#include "app/context.h"
#include "app/scene.h"
#include "render/layer.h"

namespace scenes {

using namespace app;

enum class TitlePhase : uint8_t {
  PressStart = 0,
  StartPressed = 1,
  MainMenu = 2,
  ProduceChosen = 3,
  FreeBattleChosen = 4,
  NetBattleChosen = 5,
  OptionChosen = 6,
  QuitChosen = 7,
};

// The menu item a phase after the menu stands for (0 for ProduceChosen), or
// -1 before the menu has chosen.
inline int chosenItem(TitlePhase phase) {
  return phase < TitlePhase::ProduceChosen
             ? -1
             : static_cast<int>(phase) - static_cast<int>(TitlePhase::ProduceChosen);
}

class TitleScene : public Scene {
 public:
  static constexpr int kMenuItems = 5;

  explicit TitleScene(GameContext& shared);
  void enter() override;
  void update() override;
  // The menu panel; true when fully open (opening) or fully closed (closing).
  bool drawMenuPanel(bool closing);
  // The help bubble; true when fully grown or, retracting, fully retracted.
  bool drawBubble(bool retract);

  // What a visit to the scene changes; enter starts every visit afresh.
  struct Visit {
    TitlePhase phase = TitlePhase::PressStart;
    uint8_t menuCursor = 0;
    uint8_t menuClosing = 1;
    uint8_t bubbleRetract = 1;
    float barScrollY = 0;    // pixels; enter puts the bars one bar above the top
    float frameScrollX = 0;  // pixels; enter puts the strips one strip to the left
    float framePulse = 1;    // scale of the strips' echo, 1..2
    float startAlpha = 0;
    float bubbleGrow = 0;
    float bubbleRing = 1;
    float menuAlpha = 0;
    float screenFade = 0;
  };
  Visit visit;
  // Centre of the bubble's circles; kept across visits to the scene.
  int bubbleX = 0;
  int bubbleY = 0;

 private:
  void drawBackground();
  void drawBars();
  void drawFrameStrips();
  void drawStartPrompt();
  void updateMenu();
  void fadeOut(float red, float green, float blue, SceneId next);

  GameContext& ctx;
  GfxImage titleBar;
  // The fill under the drifting bars repeats every bar height: one picture
  // a bar taller than the screen, copied at the bars' offset.
  render::ScreenLayer backgroundCopy;
  GfxImage bgFrame;
  GfxImage pressStartLabel;
  std::array<GfxImage, kMenuItems> menuLabels;
  std::array<GfxImage, kMenuItems> helpLabels;
};

}  // namespace scenes
