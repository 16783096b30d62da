#include "scenes/room_lobby_scene.h"

#include <algorithm>
#include <cstdio>

#include "net/lobby_protocol.h"
#include "render/draw.h"
#include "scenes/widgets.h"
#include "text/sjis_strings.h"

namespace scenes {

using namespace app;

namespace {

constexpr int kSmallFont = 0;  // 16 pt
constexpr int kLabelFont = 1;  // 18 pt
constexpr int kReachLineY = 428;
enum : uint8_t { ButtonStart = 0, ButtonGame = 1, ButtonConfig = 2, ButtonLeave = 3 };

}  // namespace

RoomLobbyScene::RoomLobbyScene(GameContext& shared, net::NetLink& sharedLink,
                               internet::RoomPresence* internetPresence)
    : ctx(shared), link(sharedLink), presence(internetPresence) {
  text::renderHeading(headingLabels, sjis::kRuleSelectTitle, "rule select", ctx.fonts[kLabelFont],
                      ctx.fonts[kSmallFont], ctx.textColor);
  renderButton(ButtonGame, sjis::kButtonGame);
  renderButton(ButtonConfig, sjis::kButtonConfig);
  ctx.readRoomConfig();
  link.setOwnSlot(0);
}

int RoomLobbyScene::slotCount() const {
  // A joined room's record comes from its host; whatever it claims, there
  // are six slots.
  return std::min<int>(ctx.currentRoom.maxPlayers, kPlayerSlots);
}

void RoomLobbyScene::renderButton(int index, const char* label) {
  render::releaseImage(buttonLabels[index]);
  text::renderText(label, buttonLabels[index], ctx.fonts[kLabelFont], ctx.textColor, true);
}

void RoomLobbyScene::renderSlotName(int slot) {
  render::releaseImage(slotNameLabels[slot]);
  text::renderText(ctx.players[slot].name.data(), slotNameLabels[slot], ctx.fonts[kLabelFont],
                   ctx.textColor, true);
}

void RoomLobbyScene::enter() {
  visit = Visit{};
  render::releaseImage(reachLabel);
  switch (link.mode()) {
    case net::Offline:
      enterOffline();
      break;
    case net::Host:
      enterHost();
      break;
    case net::Guest:
      enterGuest();
      break;
  }
  if (!net::openLobby(link, ctx.currentRoom) && link.mode() != net::Offline) {
    // Back to the room list before the lobby is ever drawn; the list resumes
    // as the player left it, since its own enter does not run.
    ctx.changeScene(kSceneRoomList);
  } else if (link.mode() == net::Host) {
    if (presence != nullptr) presence->open(roomFacts(), ctx.hostReach);
  }
}

void RoomLobbyScene::enterOffline() {
  renderButton(ButtonStart, sjis::kButtonStart);
  renderButton(ButtonLeave, sjis::kButtonQuit);
  ctx.currentRoom = ctx.hostRoom;
  for (int i = 0; i < slotCount(); ++i) {
    PlayerRecord& player = ctx.players[i];
    copyField(player.name, player.isCpu != 0 ? "CPU" : sjis::kPlayerLabel);
    renderSlotName(i);
  }
}

void RoomLobbyScene::enterHost() {
  render::releaseImage(buttonLabels[ButtonStart]);
  renderButton(ButtonLeave, sjis::kButtonCloseRoom);
  ctx.currentRoom = ctx.hostRoom;
  ctx.currentRoom.currentPlayers = 1;
  // The local record returns to slot 0 whichever slot it held last time.
  ctx.players[0] = ctx.players[link.ownSlot()];
  link.setOwnSlot(0);
  ctx.currentRoom.ownerSlot = 0;
  renderSlotName(0);
  for (int i = 1; i < slotCount(); ++i) ctx.players[i].present = 0;
}

void RoomLobbyScene::enterGuest() {
  render::releaseImage(buttonLabels[ButtonStart]);
  renderButton(ButtonLeave, sjis::kButtonLeaveRoom);
  ctx.players[0] = ctx.players[link.ownSlot()];
  for (int i = 1; i < slotCount(); ++i) ctx.players[i].present = 0;
}

void RoomLobbyScene::update() {
  handleMessages();
  widgets::drawBackdrop(ctx);
  const float a = std::min(visit.progress, 1.0f);
  render::setDrawColor(0, 0, 0, 0.5f);
  widgets::drawPanel(ctx, static_cast<int>(-50 + 370 * (1 - a)),
                     static_cast<int>(90 + 180 * (1 - a)), static_cast<int>(740 * a),
                     static_cast<int>(360 * a));
  drawPlayerPanels();
  updateButtonBar();
  drawReachLine();
  tellPresence();
  link.flush();
  if (visit.state == LobbyState::Passive) return;
  const bool closing =
      visit.state == LobbyState::Leaving || visit.state == LobbyState::ToGameSelect;
  if (widgets::drawHeading(ctx, closing, headingLabels)) {
    if (visit.state == LobbyState::Leaving) {
      if (link.mode() == net::Offline) {
        ctx.changeScene(kSceneTitle);
      } else {
        net::closeLobby(link);
        if (presence != nullptr) presence->close();
        ctx.changeScene(kSceneRoomList);
      }
    } else if (visit.state == LobbyState::ToGameSelect) {
      if (visit.button == ButtonGame) ctx.changeScene(kSceneGameSelect);
      visit.state = LobbyState::Passive;
    }
  }
  if (visit.state == LobbyState::Opening || visit.state == LobbyState::Active) {
    if (visit.progress < slotCount() / 2 + 1) {
      visit.progress += 0.05f;
    } else {
      visit.state = LobbyState::Active;
    }
  } else if (visit.state == LobbyState::Leaving && visit.progress > 0) {
    visit.progress -= 0.05f;
  }
}

void RoomLobbyScene::handleMessages() {
  const net::LobbyChanges changes = net::handleLobbyMessages(link, ctx.players, ctx.currentRoom);
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (changes.recordArrived[slot]) renderSlotName(slot);
  }
  if (changes.hostLost) visit.state = LobbyState::Leaving;
}

namespace {

// A present player's panel is tinted by the strictly largest of vocal, dance
// and visual; without one it is darker.
void setPanelColour(const PlayerRecord& player) {
  render::setDrawColor(0, 0, 0, 0.5f);
  if (player.present == 0) return;
  const uint16_t vocal = player.stats[0];
  const uint16_t dance = player.stats[1];
  const uint16_t visual = player.stats[2];
  if (vocal > dance && vocal > visual) {
    render::setDrawColorRGB(0.3f, 0, 0);
  } else if (dance > vocal && dance > visual) {
    render::setDrawColorRGB(0, 0, 0.3f);
  } else if (visual > vocal && visual > dance) {
    render::setDrawColorRGB(0.3f, 0.2f, 0);
  } else {
    render::setDrawColor(0, 0, 0, 0.7f);
  }
}

}  // namespace

void RoomLobbyScene::drawPlayerPanels() {
  const float a = std::min(visit.progress, 1.0f);
  render::setDrawColor(0, 0, 0, 0.5f);
  widgets::drawPanel(ctx, static_cast<int>(320 * (1 - a)), static_cast<int>(160 + 135 * (1 - a)),
                     static_cast<int>(640 * a), static_cast<int>(270 * a));
  for (int i = 0; i < slotCount(); ++i) {
    // Each panel slides open over one unit of progress, the next one
    // starting half a unit later.
    float t = visit.progress - (i + 1) / 2.0f;
    if (t < 0) break;
    t = std::min(t, 1.0f);
    const int x = 20 + 305 * (i / 3);
    const int y = 170 + 85 * (i % 3);
    const PlayerRecord& player = ctx.players[i];
    setPanelColour(player);
    widgets::drawPanel(ctx, x, y, static_cast<int>(300 * t), 80);
    if (player.present != 0) {
      render::setDrawColor(1, 1, 1, t);
      render::drawImage(x + 10, y + 10, slotNameLabels[i]);
    }
  }
}

void RoomLobbyScene::updateButtonBar() {
  const int shownFrom = slotCount() / 2;
  if (visit.progress < shownFrom) return;
  const float alpha = std::min(visit.progress - shownFrom, 1.0f);
  if (visit.state == LobbyState::Active) {
    if (ctx.justPressed(0, ButtonLeft) && visit.button > 0) --visit.button;
    if (ctx.justPressed(0, ButtonRight) && visit.button < kButtons - 1) ++visit.button;
    if (ctx.justPressed(0, ButtonConfirm)) {
      if (visit.button == ButtonGame) visit.state = LobbyState::ToGameSelect;
      if (visit.button == ButtonLeave) visit.state = LobbyState::Leaving;
    }
  }
  // The owner of a room with nobody else in it cannot rest on "start".
  const bool owner = link.ownSlot() == ctx.currentRoom.ownerSlot;
  if (owner && ctx.currentRoom.currentPlayers == 1 && visit.button == ButtonStart)
    visit.button = ButtonGame;
  if (ctx.playMode != PlayMode::Produce && buttonLabels[ButtonStart].empty()) {
    renderButton(ButtonStart, owner ? sjis::kButtonStart : sjis::kButtonReady);
  }
  for (int i = 0; i < kButtons; ++i) {
    const int x = 65 + 130 * i;
    GfxImage& label = buttonLabels[i];
    widgets::drawButton(ctx, x, 110, 120, label.pixelHeight() + 20, label,
                        x + (120 - label.pixelWidth()) / 2, 120, i == visit.button, alpha);
  }
}

void RoomLobbyScene::drawReachLine() {
  if (link.mode() != net::Host || presence == nullptr) return;
  const internet::Reachability reach = presence->reach();
  if (reach != visit.shownReach) {
    visit.shownReach = reach;
    render::releaseImage(reachLabel);
    text::renderText(internet::reachLobbyLine(reach).c_str(), reachLabel, ctx.fonts[kSmallFont],
                     ctx.textColor, true);
  }
  // Below the player panels, inside the lobby's panel as it unfolds.
  render::setDrawColor(1, 1, 1, std::min(visit.progress, 1.0f));
  render::drawImage(20, kReachLineY, reachLabel);
}

internet::RoomFacts RoomLobbyScene::roomFacts() const {
  internet::RoomFacts room;
  room.port = ctx.currentRoom.port;
  room.maxPlayers = static_cast<uint8_t>(slotCount());
  room.players = ctx.currentRoom.currentPlayers;
  room.instance = link.roomInstance();
  return room;
}

void RoomLobbyScene::tellPresence() {
  if (link.mode() != net::Host || presence == nullptr || !presence->isOpen()) return;
  presence->update(roomFacts());
  for (const std::string& line : presence->takeConsoleLines()) std::printf("%s\n", line.c_str());
}

}  // namespace scenes
