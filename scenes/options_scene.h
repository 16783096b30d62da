// Scene 6, behind the title menu's "options": player 0's nine buttons (each
// with its key and joystick source; confirm waits for the next key, joystick
// button or stick direction), a way back to the default keys, the picture's
// size, and the way back to the title, which writes Options.txt.
#pragma once

#include <array>
#include <cstdint>

#include "app/context.h"
#include "app/scene.h"
#include "text/text.h"

namespace scenes {

using namespace app;

class OptionsScene : public Scene {
 public:
  // Rows: the nine buttons, then defaults, picture, back.
  static constexpr int kDefaultsRow = kButtonsPerPlayer;
  static constexpr int kPictureRow = kButtonsPerPlayer + 1;
  static constexpr int kBackRow = kButtonsPerPlayer + 2;
  static constexpr int kRows = kButtonsPerPlayer + 3;

  explicit OptionsScene(GameContext& shared);
  // The program ending (Escape, the window closed) while changes are not yet
  // written leaves the scene too: they are written then.
  ~OptionsScene() override;
  OptionsScene(const OptionsScene&) = delete;
  OptionsScene& operator=(const OptionsScene&) = delete;
  void enter() override;
  void update() override;

  // What a visit changes; enter starts every visit afresh.
  struct Visit {
    int cursor = 0;
    int waitingFor = -1;  // the button waiting for its new source, or -1
    bool leaving = false;
  };
  Visit visit;

 private:
  void handleInput();
  void startWaiting();
  // One frame of waiting: a new key, joystick button or stick direction
  // binds; the cancel button leaves the binding as it was.
  void waitForSource();
  void bindSource(const ButtonSource& source, bool joystick);
  void stepPicture(int direction);
  void leave();
  void refreshLabels();
  void drawRows();
  // The held sources of this frame, to tell a new press from a held one.
  void snapshotSources();

  GameContext& ctx;
  text::HeadingLabels heading;
  std::array<GfxImage, kRows> rowLabels;
  std::array<GfxImage, kButtonsPerPlayer> keyLabels;
  std::array<GfxImage, kButtonsPerPlayer> joystickLabels;
  std::array<GfxImage, kWindowModeCount> pictureLabels;
  std::array<GfxImage, 4> helpLabels;
  GfxImage waitLabel;
  std::array<uint8_t, 512> heldKeys{};
  uint32_t heldJoystickButtons = 0;
  uint8_t heldStick = 0;
  bool unsaved = false;  // options changed since Options.txt was last written
};

}  // namespace scenes
