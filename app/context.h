// The one state object the application and every scene share: fonts, shared
// labels and images, display settings, the current scene, input, the
// character table, the participants and the rooms.
#pragma once

#include <SDL.h>

#include <array>
#include <cstdint>

#include "app/input.h"
#include "app/settings.h"
#include "net/internet_settings.h"
#include "records/records.h"
#include "render/image.h"
#include "text/text.h"

namespace app {

using render::GfxImage;

inline constexpr int kFontCount = 5;
inline constexpr int kFontSizes[kFontCount] = {16, 18, 24, 40, 142};
inline constexpr int kCharacterSlots = 11;
inline constexpr char kFontFile[] = "MSGOTHIC.TTC";

// The main-menu choice.
enum class PlayMode : int32_t { Produce = 0, FreeBattle = 1, NetBattle = 2 };

// Scene numbers; 0 ends the main loop.
using SceneId = uint8_t;
inline constexpr SceneId kSceneQuit = 0;
inline constexpr SceneId kSceneTitle = 1;
inline constexpr SceneId kSceneCharacterSelect = 2;
inline constexpr SceneId kSceneRoomList = 3;
inline constexpr SceneId kSceneRoomLobby = 4;
inline constexpr SceneId kSceneGameSelect = 5;
inline constexpr SceneId kSceneOptions = 6;  // behind the title menu's "options"

// The two window-frame sheets loaded a second time for the plain window; they
// live from before main until after it returns.
extern std::array<GfxImage, 2> sharedFrameImages;

class GameContext {
 public:
  GameContext() = default;
  // Runs shutdownContext when initContext acquired anything.
  ~GameContext();
  GameContext(const GameContext&) = delete;
  GameContext& operator=(const GameContext&) = delete;

  // Brings up SDL, the network library, joysticks, audio, the window and the
  // shared images, fonts and labels, then reads RoomConfig.txt. Returns
  // false after printing its message when a start-up step fails; the rest is
  // then skipped.
  bool initContext();
  // Sets the video mode, in the picture options.window asks for (the 640 x
  // 480 window, with a line on standard output, where it cannot be had).
  // Returns false when the video mode could not be set.
  bool applyDisplaySettings(uint32_t toggles);
  void shutdownContext();
  void changeScene(SceneId id);
  // Shows the frame in the given window mode at once, keeping every picture.
  // A mode that cannot be had (larger than the screen, full screen refused)
  // gives the 640 x 480 window, with a line on standard output. Returns the
  // mode in force.
  WindowMode applyWindowMode(WindowMode mode);
  // Whether the screen is large enough for the mode.
  static bool windowModeFits(WindowMode mode);
  // Sets the video mode that shows the frame in the given window mode;
  // false when the screen is too small or SDL refused it.
  bool setPicture(WindowMode mode);
  // The mouse cursor for a picture in full screen or not: none in full
  // screen, the game's own arrow (mouseCursor, built on first use) over a
  // window.
  void showCursorFor(bool fullScreen);
  // Reads RoomConfig.txt into hostRoom, profile and hostReach.
  bool readRoomConfig();
  // Sets the room and profile defaults that RoomConfig.txt may replace.
  void setRoomDefaults();
  void setCharacterDefaults();

  std::array<TTF_Font*, kFontCount> fonts{};
  SDL_Color textColor{255, 255, 255, 0};
  RoomRecord hostRoom;
  // How the host's room is to be reached from the internet (RoomConfig.txt).
  net::HostReachSettings hostReach;
  RoomRecord currentRoom;
  std::array<GfxImage, 2> frameImages;
  GfxImage yesLabel;
  GfxImage noLabel;
  std::array<GfxImage, 3> modeLabels;  // indexed by PlayMode
  GfxImage barImage;
  GfxImage circleImage;
  uint32_t displayFlags = 0;
  SDL_Cursor* mouseCursor = nullptr;
  uint8_t frameRate = 60;
  uint8_t colorDepth = 32;
  SceneId sceneId = 0;
  float musicVolume = 0;
  float effectVolume = 0;
  uint8_t entryPending = 0;
  std::array<InputBinding, kBindingCount> bindings{};
  std::array<SDL_Joystick*, kJoystickSlots> joysticks{};
  std::array<std::array<uint16_t, kStatCount>, kCharacterSlots> characterStats{};
  std::array<PlayerRecord, kPlayerSlots> players;
  PlayerRecord profile;
  std::array<uint8_t, kCharacterSlots> characterAvailable{};
  uint8_t gameAvailable = 0;
  PlayMode playMode = PlayMode::Produce;
  // The options read from Options.txt at start-up, changed by the options
  // scene and written when it is left.
  Options options;

  InputBinding& binding(int player, Button button) {
    return bindings[bindingIndex(player, button)];
  }
  bool justPressed(int player, Button button) const {
    return bindings[bindingIndex(player, button)].justPressed == 1;
  }

 private:
  // How far initContext got, so shutdownContext releases exactly that.
  enum class Stage : uint8_t { NotStarted, SdlUp, NetUp, AudioUp, VideoUp, Complete };
  Stage startStage = Stage::NotStarted;
};

}  // namespace app
