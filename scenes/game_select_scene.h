// Scene 5: the game select, laid over the room lobby, which keeps running
// underneath so its connection stays alive. Its panels carry no content yet
// and it reads no buttons; scene changes come from the lobby.
#pragma once

#include "app/context.h"
#include "app/scene.h"
#include "scenes/room_lobby_scene.h"
#include "text/text.h"

namespace scenes {

using namespace app;

class GameSelectScene : public Scene {
 public:
  GameSelectScene(GameContext& shared, RoomLobbyScene& sharedLobby);
  void enter() override;
  void update() override;
  void drawLeftPanel();
  void drawRightPanel();

  // What a visit to the scene changes; enter starts every visit afresh.
  struct Visit {
    float selectProgress = 0;  // outer panel 0..1, left 1..2, right 2..3
  };
  Visit visit;

 private:
  GameContext& ctx;
  RoomLobbyScene& lobby;
  text::HeadingLabels heading;
};

}  // namespace scenes
