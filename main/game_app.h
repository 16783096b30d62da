// The application object: holds the shared context, the network link and
// every scene, brings them up in a fixed order, runs the frame loop, and
// takes everything down in reverse order.
#pragma once

#include <cstdint>
#include <optional>

#include "app/context.h"
#include "internet/room_presence.h"
#include "main/main_loop.h"
#include "net/net_link.h"
#include "scenes/character_select_scene.h"
#include "scenes/game_select_scene.h"
#include "scenes/options_scene.h"
#include "scenes/room_list_scene.h"
#include "scenes/room_lobby_scene.h"
#include "scenes/title_scene.h"

namespace program {

using namespace app;
using namespace scenes;

class GameApp {
 public:
  static constexpr int kStartUpFailed = 2;
  // The longest the work beside the frame loop may take to end once the
  // program is asked to quit (leaving the room directory, removing the
  // router's forwarding): Escape ends the program within 2 s.
  static constexpr uint32_t kEndLimitMs = 1800;

  GameApp() = default;
  ~GameApp() = default;
  GameApp(const GameApp&) = delete;
  GameApp& operator=(const GameApp&) = delete;

  // Brings the program up: the context (SDL, network, audio, window,
  // pictures, fonts, RoomConfig.txt), the link, the lobby, the other scenes,
  // the first scene, the bindings and the volumes. False after a failed
  // step of the context, whose message is printed and whatever it acquired
  // released; the program should then end with kStartUpFailed. A missing
  // picture ends the process with status 1 from inside a step.
  bool startUp();
  // Runs until the program ends; only after startUp succeeded.
  uint8_t runMainLoop() { return loop.runMainLoop(); }

 private:
  void registerScenes();
  void setVolumes();

  // Members go in reverse order of declaration: the scenes first (options,
  // game select, room list, character select, title, then the lobby), then
  // the room's presence on the internet, the link and the context. The
  // scenes are made by startUp once the context is up, because they render
  // with its fonts and pictures.
  GameContext context;
  net::NetLink link;
  // A hosted room's presence on the internet (the router's forwarding, the
  // directory's announcement); let go before the context ends the network
  // library, its workers finish by themselves (main.cpp).
  internet::RoomPresence presence;
  std::optional<RoomLobbyScene> lobby;
  std::optional<TitleScene> title;
  std::optional<CharacterSelectScene> characterSelect;
  std::optional<RoomListScene> roomList;
  std::optional<GameSelectScene> gameSelect;
  std::optional<OptionsScene> optionsScene;
  MainLoop loop{context};
};

}  // namespace program
