// Scene 4: the room lobby, headed "rule select". Six player panels and a bar
// of four buttons; offline for free battle, or as host or guest of a room
// linked over TCP. It keeps running beneath the game select.
#pragma once

#include <array>
#include <cstdint>

#include "app/context.h"
#include "app/scene.h"
#include "net/net_link.h"
#include "net/port_mapping.h"
#include "text/text.h"

enum LobbyState : uint8_t {
  Opening = 0,
  Active = 1,
  Leaving = 2,
  ToGameSelect = 3,
  Passive = 4,
};

class RoomLobbyScene : public Scene {
 public:
  static constexpr int kButtons = 4;

  // mapping, when given, is asked to forward a hosted room's port on the
  // home router while the room is open.
  RoomLobbyScene(GameContext& shared, net::NetLink& sharedLink,
                 net::PortMapping* mapping = nullptr);
  void enter() override;
  void update() override;
  // Processes every message of the frame.
  void handleMessages();
  void drawPlayerPanels();
  void updateButtonBar();
  // Host: the line that tells where the room can be reached, re-rendered
  // when the state changes (which also prints it on the console once).
  void drawReachLine();

  // What a visit to the scene changes; enter starts every visit afresh.
  struct Visit {
    uint8_t button = 0;  // highlighted button
    uint8_t state = Opening;
    float progress = 0;            // unfold progress, 0.05 per frame
    net::Reachability shownReach;  // what reachLabel shows
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

  GameContext& ctx;
  net::NetLink& link;
  net::PortMapping* portMapping;
  GfxImage reachLabel;
  text::HeadingLabels headingLabels;
  std::array<GfxImage, kPlayerSlots> slotNameLabels;
  std::array<GfxImage, kButtons> buttonLabels;
};
