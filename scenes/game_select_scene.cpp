#include "scenes/game_select_scene.h"

#include <algorithm>

#include "render/draw.h"
#include "scenes/widgets.h"
#include "text/sjis_strings.h"

namespace scenes {

using namespace app;

GameSelectScene::GameSelectScene(GameContext& shared, RoomLobbyScene& sharedLobby)
    : ctx(shared), lobby(sharedLobby) {
  text::renderHeading(heading, sjis::kGameSelectTitle, "Game select", ctx.fonts[1], ctx.fonts[0],
                      ctx.textColor);
}

void GameSelectScene::enter() { visit = Visit{}; }

void GameSelectScene::update() {
  lobby.update();
  const float k = std::min(visit.selectProgress, 1.0f);
  render::setDrawColor(0, 0, 0, 0.4f);
  widgets::drawPanel(ctx, static_cast<int>(10 + 310 * (1 - k)),
                     static_cast<int>(80 + 195 * (1 - k)), static_cast<int>(620 * k),
                     static_cast<int>(390 * k));
  drawRightPanel();
  drawLeftPanel();
  if (lobby.visit.state == LobbyState::Leaving) {
    // The lobby is folding up (a guest lost its host): the shared heading is
    // the lobby's to close, so the leave completes and the player returns to
    // the room list; the panels fold away meanwhile.
    if (visit.selectProgress > 0)
      visit.selectProgress = std::max(visit.selectProgress - 0.05f, 0.0f);
    return;
  }
  widgets::drawHeading(ctx, false, heading);
  if (visit.selectProgress < 3) visit.selectProgress += 0.05f;
}

void GameSelectScene::drawRightPanel() {
  if (visit.selectProgress < 2) return;
  const float k = std::min(visit.selectProgress - 2, 1.0f);
  render::setDrawColor(1, 1, 1, 0.2f * k);
  widgets::drawPanel(ctx, 330, static_cast<int>(200 + 100 * (1 - k)), 290, 260);
}

void GameSelectScene::drawLeftPanel() {
  if (visit.selectProgress < 1) return;
  const float k = std::min(visit.selectProgress - 1, 1.0f);
  render::setDrawColor(1, 1, 1, 0.2f * k);
  widgets::drawPanel(ctx, static_cast<int>(20 - 100 * (1 - k)), 90, 310, 370);
}

}  // namespace scenes
