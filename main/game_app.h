// The application object: built once at start, holds the shared context, the
// network link and every scene, runs the frame loop, and takes everything
// down in reverse order.
#pragma once

#include <cstdint>

#include "app/context.h"
#include "main/main_loop.h"
#include "net/net_link.h"
#include "scenes/character_select_scene.h"
#include "scenes/game_select_scene.h"
#include "scenes/room_list_scene.h"
#include "scenes/room_lobby_scene.h"
#include "scenes/title_scene.h"

class GameApp {
 public:
  // Brings the program up. A failed start-up step ends the process with
  // kStartUpFailed after releasing what was acquired; a missing image file
  // ends it with status 1.
  GameApp();
  ~GameApp() = default;
  GameApp(const GameApp&) = delete;
  GameApp& operator=(const GameApp&) = delete;

  uint8_t runMainLoop() { return loop.runMainLoop(); }

  static constexpr int kStartUpFailed = 2;

 private:
  bool startUp();

  // Declaration order is construction order: the context first (start-up
  // runs right after it), then the link, the lobby and the scenes; they are
  // destroyed in reverse.
  GameContext context;
  [[maybe_unused]] bool started = startUp();
  net::NetLink link;
  RoomLobbyScene lobby{context, link};
  TitleScene title{context};
  CharacterSelectScene characterSelect{context};
  RoomListScene roomList{context, link};
  GameSelectScene gameSelect{context, lobby};
  MainLoop loop{context};
};
