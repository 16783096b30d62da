// Scene 4: the room lobby, headed "rule select". Six player panels and a bar
// of four buttons; offline for free battle, or as host or guest of a room
// linked over TCP. It keeps running beneath the game select.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/context.h"
#include "app/scene.h"
#include "internet/room_presence.h"
#include "net/net_link.h"
#include "text/text.h"

namespace scenes {

using namespace app;

enum class LobbyState : uint8_t {
  Opening = 0,
  Active = 1,
  Leaving = 2,
  ToGameSelect = 3,
  Passive = 4,
};

class RoomLobbyScene : public Scene {
 public:
  static constexpr int kButtons = 4;

  // presence, when given, carries a hosted room onto the internet while it
  // is open: the home router's forwarding, the room directory's
  // announcement (internet/room_presence.h).
  RoomLobbyScene(GameContext& shared, net::NetLink& sharedLink,
                 internet::RoomPresence* internetPresence = nullptr);
  void enter() override;
  void update() override;
  // Processes every message of the frame.
  void handleMessages();
  void drawPlayerPanels();
  void updateButtonBar();
  // Host: the line that tells where the room can be reached, re-rendered
  // when the state changes.
  void drawReachLine();
  // Host: tells the room's presence on the internet the room as it is now,
  // and prints what it has to say on the console.
  void tellPresence();

  // What a visit to the scene changes; enter starts every visit afresh.
  struct Visit {
    uint8_t button = 0;  // highlighted button
    LobbyState state = LobbyState::Opening;
    float progress = 0;                 // unfold progress, 0.05 per frame
    internet::Reachability shownReach;  // what reachLabel shows
  };
  Visit visit;

 private:
  // Slots of the current room, at most six whatever its record claims.
  int slotCount() const;
  void renderSlotName(int slot);
  void renderButton(int index, const char* label);
  void enterOffline();
  void enterHost();
  void enterGuest();
  // The room as its presence on the internet is told it.
  internet::RoomFacts roomFacts() const;

  GameContext& ctx;
  net::NetLink& link;
  internet::RoomPresence* presence;
  GfxImage reachLabel;
  text::HeadingLabels headingLabels;
  std::array<GfxImage, kPlayerSlots> slotNameLabels;
  std::array<GfxImage, kButtons> buttonLabels;
};

}  // namespace scenes
