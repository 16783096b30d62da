// Scene 4: the room lobby, headed "rule select". Six player panels and a bar
// of four buttons; offline for free battle, or as host or guest of a room
// linked over TCP. It keeps running beneath the game select.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/context.h"
#include "app/scene.h"
#include "internet/directory.h"
#include "net/net_link.h"
#include "internet/port_mapping.h"
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
  // home router while the room is open; announcer, when given, announces the
  // room in the room directory of RoomConfig.txt (directory=) meanwhile.
  RoomLobbyScene(GameContext& shared, net::NetLink& sharedLink, internet::PortMapping* mapping = nullptr,
                 internet::DirectoryAnnouncer* announcer = nullptr);
  void enter() override;
  void update() override;
  // Processes every message of the frame.
  void handleMessages();
  void drawPlayerPanels();
  void updateButtonBar();
  // Host: the line that tells where the room can be reached, re-rendered
  // when the state changes (which also prints it on the console once).
  void drawReachLine();
  // Host: keeps the room's announcement in the directory current (the
  // player count, where it is reached); a change of the announcer's state
  // is printed on the console once.
  void announce();

  // What a visit to the scene changes; enter starts every visit afresh.
  struct Visit {
    uint8_t button = 0;  // highlighted button
    uint8_t state = Opening;
    float progress = 0;            // unfold progress, 0.05 per frame
    internet::Reachability shownReach;  // what reachLabel shows
    internet::DirectoryAnnouncer::State shownAnnouncer = internet::DirectoryAnnouncer::State::Off;
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
  // The room as the directory is told it.
  internet::HostedRoom hostedRoom() const;

  GameContext& ctx;
  net::NetLink& link;
  internet::PortMapping* portMapping;
  internet::DirectoryAnnouncer* directoryAnnouncer;
  GfxImage reachLabel;
  text::HeadingLabels headingLabels;
  std::array<GfxImage, kPlayerSlots> slotNameLabels;
  std::array<GfxImage, kButtons> buttonLabels;
};
