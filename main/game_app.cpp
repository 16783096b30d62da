#include "main/game_app.h"

#include <SDL_mixer.h>

#include "render/draw_list.h"

namespace program {

using namespace app;
using namespace scenes;

namespace {
constexpr float kMusicVolume = 1.0f;
constexpr float kEffectVolume = 0.8f;
constexpr int kMixChannels = 64;
}  // namespace

bool GameApp::startUp() {
  if (!context.initContext()) {
    // No orderly way on without SDL, the network library, audio or a window.
    context.shutdownContext();
    return false;
  }
  link.reset();
  // Forwardings without end that a game killed before left on the router.
  if (context.hostReach.upnp) internet::removeRecordedMappings();
  lobby.emplace(context, link, &presence);
  title.emplace(context);
  characterSelect.emplace(context);
  roomList.emplace(context, link);
  gameSelect.emplace(context, *lobby);
  optionsScene.emplace(context);
  registerScenes();
  context.changeScene(kSceneTitle);
  setDefaultBindings(context.bindings.data());
  // Player 0's keys as Options.txt gave them (the defaults when it did not).
  applyOptionBindings(context.options, context.bindings.data());
  setVolumes();
  // Each frame drawn only where it changed, where that saves the CPU work.
  render::drawlist::enable(true);
  return true;
}

void GameApp::registerScenes() {
  loop.setScene(kSceneTitle, &*title);
  loop.setScene(kSceneCharacterSelect, &*characterSelect);
  loop.setScene(kSceneRoomList, &*roomList);
  loop.setScene(kSceneRoomLobby, &*lobby);
  loop.setScene(kSceneGameSelect, &*gameSelect);
  loop.setScene(kSceneOptions, &*optionsScene);
}

void GameApp::setVolumes() {
  context.musicVolume = kMusicVolume;
  context.effectVolume = kEffectVolume;
  Mix_AllocateChannels(kMixChannels);
  Mix_Volume(-1, static_cast<int>(context.effectVolume * 128));
  Mix_VolumeMusic(static_cast<int>(context.musicVolume * 128));
}

}  // namespace program
