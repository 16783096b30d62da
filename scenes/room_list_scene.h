// Scene 3: the rooms of RoomList.txt that answered the last query, nine to a
// page, and a bar of four buttons: refresh, create a room, previous and next
// page. Choosing a room joins it as guest; creating one hosts it.
#pragma once

#include <array>
#include <cstdint>

#include "app/context.h"
#include "app/scene.h"
#include "internet/directory.h"
#include "net/net_link.h"
#include "net/room_query.h"

namespace scenes {

using namespace app;

struct RoomListEntry {
  uint8_t unanswered = 1;  // only answered entries are shown
  bool found = false;      // found on the local network, not listed in RoomList.txt
  RoomRecord room;
  GfxImage nameLabel;
  GfxImage countLabel;  // "current/max"
};

class RoomListScene : public Scene {
 public:
  static constexpr int kEntries = 100;
  static constexpr int kPageSize = 9;
  static constexpr int kButtons = 4;
  static_assert(kEntries <= net::kMaxRefreshRooms);
  enum : uint8_t { ButtonRefresh = 0, ButtonCreate = 1, ButtonPrevious = 2, ButtonNext = 3 };

  RoomListScene(GameContext& shared, net::NetLink& sharedLink);
  void enter() override;
  void update() override;
  void updateButtonBar();
  void updateRoomGrid();
  // Starts asking every listed host behind the wait dialog. The frames go
  // on meanwhile: the dialog opens, then stays until every room has
  // answered or given up; the bar and the grid take no input until then.
  void refreshRooms();
  // True from refreshRooms until the refresh has ended.
  bool refreshing() const { return refreshStage != RefreshStage::RefreshIdle; }
  static bool hasHost(const RoomListEntry& entry) { return entry.room.hostAddress[0] != '\0'; }
  // Reads RoomList.txt into the entries, in file order.
  void readRoomList();
  // The entries that belong to RoomList.txt: up to the last one with a host
  // that was not found on the local network. The rooms a refresh finds
  // there follow them.
  int listedEntries() const;
  // Indexes of 100 or more count as not answered.
  bool answered(int index) const;

  // What a visit to the scene changes; enter starts every visit afresh.
  // (The lobby that cannot open its room returns here without enter: the
  // visit it left goes on.)
  struct Visit {
    uint8_t browsing = 0;  // 1 while the cursor is in the room grid
    uint8_t button = ButtonRefresh;
    uint16_t selected = 0;  // highlighted room; its page is selected / 9
  };
  Visit visit;
  std::array<RoomListEntry, kEntries> entries;
  // Which entry's comment commentLabel holds; kept across visits, forgotten
  // by every refresh (which may put another room in any entry).
  int lastCommentIndex = -1;

 private:
  enum class RefreshStage : uint8_t { RefreshIdle, RefreshOpening, RefreshAsking };

  void confirm();
  // One frame of a refresh: the dialog, then the queries; the results go
  // into the entries once every room has answered or given up.
  void stepRefresh();
  void finishRefresh();
  // Marks entry answered with the room's record and renders its labels.
  void showAnswer(RoomListEntry& entry, const RoomRecord& answer);
  void drawButtonBar();
  void drawRoomGrid();

  GameContext& ctx;
  net::NetLink& link;
  GfxImage waitLabel;
  std::array<GfxImage, kButtons> buttonLabels;
  std::array<GfxImage, kButtons> helpTexts;
  GfxImage commentLabel;
  RefreshStage refreshStage = RefreshStage::RefreshIdle;
  // The room directory's rooms for the refresh (directory=).
  internet::DirectoryBrowse directoryBrowse;
  net::RoomRefresh refresh;
};

}  // namespace scenes
