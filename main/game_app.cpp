#include "main/game_app.h"

#include <SDL_mixer.h>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr float kMusicVolume = 1.0f;
constexpr float kEffectVolume = 0.8f;
constexpr int kMixChannels = 64;
}  // namespace

GameApp::GameApp() {
  loop.setScene(kSceneTitle, &title);
  loop.setScene(kSceneCharacterSelect, &characterSelect);
  loop.setScene(kSceneRoomList, &roomList);
  loop.setScene(kSceneRoomLobby, &lobby);
  loop.setScene(kSceneGameSelect, &gameSelect);
  context.changeScene(kSceneTitle);
  setDefaultBindings(context.bindings.data());
  context.musicVolume = kMusicVolume;
  context.effectVolume = kEffectVolume;
  Mix_AllocateChannels(kMixChannels);
  Mix_Volume(-1, static_cast<int>(context.effectVolume * 128));
  Mix_VolumeMusic(static_cast<int>(context.musicVolume * 128));
}

bool GameApp::startUp() {
  if (context.initContext()) return true;
  // No orderly way on without SDL, the network library, audio or a window:
  // release what was acquired and end at once, with a status that says so.
  context.shutdownContext();
  std::fflush(stdout);
  std::exit(kStartUpFailed);
}
