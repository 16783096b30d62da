// Scene 2: after the play mode's banner sweep, each participant in turn picks
// a character from the icon row and confirms it in a yes/no dialog. In free
// battle the computer participants are chosen with player 0's buttons.
#pragma once

#include <array>
#include <cstdint>

#include "app/context.h"
#include "app/scene.h"
#include "text/text.h"

namespace scenes {

using namespace app;

class CharacterSelectScene : public Scene {
 public:
  explicit CharacterSelectScene(GameContext& shared);
  void enter() override;
  void update() override;
  void drawCharacterPanel();
  // Also advances turnProgress and turn.
  void drawTurnBanner();
  // Also reads the choosing participant's buttons.
  void drawIconRow();

  // What a visit to the scene changes; enter starts every visit afresh.
  struct Visit {
    uint8_t bannerDone = 0;
    uint8_t selCursor = 0;  // highlighted character slot
    uint8_t turn = 0;       // participant now choosing
    uint8_t playerCount = 0;
    uint8_t confirmOpen = 0;
    std::array<int16_t, kStatCount> shownStats{};  // bar values as drawn
    float panelProgress = 0;  // panel 0..1, turn banner from 1, icon row from 2
    float turnProgress = 0;   // 0..1 banner in, 1..1.1 choosing, above: chosen
  };
  Visit visit;

 private:
  void loadCharacter(int slot, const char* iconPath, const char* portraitPath, const char* name,
                     const char* description);
  void confirmChoice();
  void finishOrOpen();

  GameContext& ctx;
  text::HeadingLabels heading;
  std::array<GfxImage, kCharacterSlots> portraits;
  std::array<GfxImage, kCharacterSlots> icons;
  std::array<GfxImage, kCharacterSlots> nameLabels;
  std::array<GfxImage, kCharacterSlots> descriptionLabels;
  std::array<GfxImage, kStatCount> statLabels;
  std::array<GfxImage, 2> controllerLabels;  // [0] player, [1] computer
  GfxImage numberPrefixLabel;
  std::array<GfxImage, kPlayerSlots> playerNumberLabels;
  GfxImage confirmLabel;
};

}  // namespace scenes
