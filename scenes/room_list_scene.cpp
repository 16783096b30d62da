#include "scenes/room_list_scene.h"

#include "net/room_files.h"
#include "net/room_query.h"
#include "render/draw.h"
#include "render/video.h"
#include "scenes/widgets.h"
#include "text/sjis_strings.h"

namespace scenes {

using namespace app;

namespace {

constexpr int kSmallFont = 0;  // 16 pt
constexpr int kLabelFont = 1;  // 18 pt
constexpr int kMenuFont = 2;   // 24 pt
constexpr const char* kButtonTexts[RoomListScene::kButtons] = {
    sjis::kButtonRefresh, sjis::kButtonCreateRoom, sjis::kButtonPreviousPage,
    sjis::kButtonNextPage};
constexpr const char* kHelpTexts[RoomListScene::kButtons] = {
    sjis::kHelpRefresh, sjis::kHelpCreateRoom, sjis::kHelpPreviousPage, sjis::kHelpNextPage};

}  // namespace

RoomListScene::RoomListScene(GameContext& shared, net::NetLink& sharedLink)
    : ctx(shared), link(sharedLink) {
  text::renderText(sjis::kRoomListWait, waitLabel, ctx.fonts[kMenuFont], ctx.textColor, true);
  for (int i = 0; i < kButtons; ++i) {
    text::renderText(kButtonTexts[i], buttonLabels[i], ctx.fonts[kLabelFont], ctx.textColor, true);
    text::renderText(kHelpTexts[i], helpTexts[i], ctx.fonts[kSmallFont], ctx.textColor, true);
  }
  readRoomList();
}

void RoomListScene::readRoomList() {
  std::array<RoomRecord, kEntries> rooms{};
  const int count = net::readRoomList(net::kRoomListFile, rooms.data(), kEntries);
  for (int i = 0; i < count; ++i) {
    entries[i].room.hostAddress = rooms[i].hostAddress;
    entries[i].room.port = rooms[i].port;
  }
}

void RoomListScene::enter() { visit = Visit{}; }

int RoomListScene::listedEntries() const {
  int listed = 0;
  for (int i = 0; i < kEntries; ++i) {
    if (hasHost(entries[i]) && !entries[i].found) listed = i + 1;
  }
  return listed;
}

bool RoomListScene::answered(int index) const {
  return index >= 0 && index < kEntries && entries[index].unanswered == 0;
}

void RoomListScene::update() {
  widgets::drawBackdrop(ctx);
  render::setDrawColor(0, 0, 0, 0.7f);
  widgets::drawPanel(ctx, 0, 415, 640, 65);
  render::setDrawColor(1, 1, 1, 1);
  render::drawImage(20, 430, visit.browsing != 0 ? commentLabel : helpTexts[visit.button]);
  if (refreshing()) {
    drawButtonBar();
    drawRoomGrid();
    stepRefresh();
    return;
  }
  updateButtonBar();
  updateRoomGrid();
  if (ctx.justPressed(0, ButtonConfirm)) confirm();
}

void RoomListScene::confirm() {
  if (visit.browsing != 0) {
    ctx.currentRoom = entries[visit.selected].room;
    link.setMode(net::Guest);
    ctx.changeScene(kSceneRoomLobby);
    return;
  }
  switch (visit.button) {
    case ButtonRefresh:
      refreshRooms();
      break;
    case ButtonCreate:
      link.setMode(net::Host);  // the lobby fills currentRoom from hostRoom
      ctx.changeScene(kSceneRoomLobby);
      break;
    case ButtonPrevious:
      // The page rules keep this button off the first page; the floor at 0
      // only guards against reaching it there anyway.
      visit.selected = static_cast<uint16_t>(
          visit.selected < kPageSize ? 0 : (visit.selected - kPageSize) / kPageSize * kPageSize);
      break;
    case ButtonNext: {
      // The page rules keep this button off unless the next page's first
      // entry answered, so the target is always a listed entry.
      const int next = (visit.selected + kPageSize) / kPageSize * kPageSize;
      if (next < kEntries) visit.selected = static_cast<uint16_t>(next);
      break;
    }
    default:
      break;
  }
}

void RoomListScene::updateButtonBar() {
  if (visit.browsing == 0) {
    if (ctx.justPressed(0, ButtonLeft) && visit.button > 0) --visit.button;
    if (ctx.justPressed(0, ButtonRight) && visit.button < kButtons - 1) ++visit.button;
    if (ctx.justPressed(0, ButtonDown)) {
      visit.selected = 0;
      for (int i = 0; i < kEntries; ++i) {
        if (answered(i)) {
          visit.selected = static_cast<uint16_t>(i);
          visit.browsing = 1;
          break;
        }
      }
      // Consumed, so the grid does not also move on this frame.
      ctx.binding(0, ButtonDown).justPressed = 0;
    }
  }
  // The highlight skips "previous" on the first page and "next" when no
  // further page has an answered first entry.
  if (visit.button == ButtonPrevious && visit.selected < kPageSize) {
    visit.button = answered(visit.selected + kPageSize) ? ButtonNext : ButtonCreate;
  }
  if (visit.button == ButtonNext &&
      !answered(visit.selected - visit.selected % kPageSize + kPageSize))
    --visit.button;
  drawButtonBar();
}

void RoomListScene::drawButtonBar() {
  render::setDrawColor(0.4f, 0.7f, 0.2f, 1);
  widgets::drawPanel(ctx, -10, -10, 660, 80);
  int x = 50;
  const int y = 20;
  for (int i = 0; i < kButtons; ++i) {
    GfxImage& label = buttonLabels[i];
    widgets::drawButtonLitApart(
        ctx, x - 10, y - 10, label.pixelWidth() + 20, label.pixelHeight() + 20, label, x, y,
        i == visit.button && visit.browsing == 0, i == visit.button, palette::kButton);
    x += label.pixelWidth() + 20;
  }
}

void RoomListScene::updateRoomGrid() {
  if (visit.browsing != 0) {
    if (ctx.justPressed(0, ButtonUp)) {
      if (visit.selected % kPageSize < 3) {
        visit.browsing = 0;
      } else {
        visit.selected = static_cast<uint16_t>(visit.selected - 3);
      }
    }
    if (ctx.justPressed(0, ButtonDown) && answered(visit.selected + 3)) visit.selected += 3;
    if (ctx.justPressed(0, ButtonLeft) && visit.selected > 0) --visit.selected;
    if (ctx.justPressed(0, ButtonRight) && answered(visit.selected + 1)) ++visit.selected;
    if (visit.selected != lastCommentIndex) {
      lastCommentIndex = visit.selected;
      render::releaseImage(commentLabel);
      text::renderText(entries[visit.selected].room.comment.data(), commentLabel,
                       ctx.fonts[kSmallFont], ctx.textColor, true);
    }
  }
  drawRoomGrid();
}

void RoomListScene::drawRoomGrid() {
  // Unanswered entries take no cell, so the answered ones pack together.
  const int first = visit.selected / kPageSize * kPageSize;
  int x = 20;
  int y = 80;
  for (int i = first; i < first + kPageSize && i < kEntries; ++i) {
    if (!answered(i)) continue;
    if (x + 200 > 640) {
      x = 20;
      y += 100;
    }
    widgets::drawButton(ctx, x, y, 200, 100, entries[i].nameLabel, x + 10, y + 10,
                        i == visit.selected && visit.browsing != 0, 1, palette::kRoomCell);
    render::drawImage(x + 160, y + 70, entries[i].countLabel);
    x += 200;
  }
}

void RoomListScene::refreshRooms() {
  visit.selected = 0;
  refreshStage = RefreshStage::RefreshOpening;
  stepRefresh();
}

void RoomListScene::stepRefresh() {
  const bool open = widgets::runDialog(ctx, 320, 240, 400, 150, &waitLabel,
                                       DialogKind::DialogMessage, 0) == kDialogYes;
  if (refreshStage == RefreshStage::RefreshOpening) {
    if (!open) return;
    // Every room is asked at once, each with its own bounded time, the
    // local network is searched for rooms of its own, and the room
    // directory (directory=) is asked for the rooms announced there.
    std::array<RoomRecord, kEntries> rooms;
    const int listed = listedEntries();
    for (int i = 0; i < listed; ++i) rooms[i] = entries[i].room;
    const render::VideoState& video = render::video();
    refresh.start(rooms.data(), static_cast<size_t>(listed),
                  video.targetFrameRate * video.frameDelayMs, true);
    if (ctx.hostReach.directory.configured()) {
      directoryBrowse.start(ctx.hostReach.directory);
      refresh.browse(&directoryBrowse);
    }
    refreshStage = RefreshStage::RefreshAsking;
  }
  if (refresh.step()) finishRefresh();
}

// Every asked entry is marked by its outcome at once, so the list shows
// what asking the rooms one after the other would have shown; the rooms
// found on the local network follow the listed ones, packed.
void RoomListScene::finishRefresh() {
  widgets::runDialog(ctx, 0, 0, 0, 0, nullptr, DialogKind::DialogMessage, 0);
  refreshStage = RefreshStage::RefreshIdle;
  // Every entry may hold another room now, or the same room with another
  // comment: the highlighted room's comment is rendered anew.
  lastCommentIndex = -1;
  const int listed = listedEntries();
  for (int i = 0; i < kEntries; ++i) {
    RoomListEntry& entry = entries[i];
    if (i >= listed) {
      entry.room = RoomRecord{};
      entry.found = false;
    } else if (!hasHost(entry)) {
      continue;
    }
    entry.unanswered = 1;
    render::releaseImage(entry.nameLabel);
    render::releaseImage(entry.countLabel);
    if (i < listed && refresh.answered(static_cast<size_t>(i)))
      showAnswer(entry, refresh.answer(i));
  }
  int next = listed;
  for (size_t i = static_cast<size_t>(listed); i < refresh.size() && next < kEntries; ++i) {
    if (!refresh.answered(i)) continue;
    entries[next].found = true;
    showAnswer(entries[next++], refresh.answer(i));
  }
  refresh.cancel();
}

void RoomListScene::showAnswer(RoomListEntry& entry, const RoomRecord& answer) {
  entry.unanswered = 0;
  entry.room = answer;
  text::renderText(entry.room.roomName.data(), entry.nameLabel, ctx.fonts[kLabelFont],
                   ctx.textColor, true);
  const char count[4] = {static_cast<char>(entry.room.currentPlayers + '0'), '/',
                         static_cast<char>(entry.room.maxPlayers + '0'), '\0'};
  text::renderText(count, entry.countLabel, ctx.fonts[kLabelFont], ctx.textColor, true);
}

}  // namespace scenes
