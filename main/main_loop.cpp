#include "main/main_loop.h"

#include <SDL.h>

#include "platform/platform.h"
#include "render/video.h"
#include "text/text.h"

namespace program {

using namespace app;

uint8_t MainLoop::runMainLoop() {
  while (runPass()) {
  }
  return 0;
}

bool MainLoop::runPass() {
  pollInput(context.joysticks.data(), context.bindings.data(), kBindingCount);
  text::drawFpsOverlay();
  // Presents what the previous pass drew, with this pass's readout on top.
  render::paceFrame();
  // Just after the frame went out, when the driver has freed what drawing
  // it took.
  if (++passesSinceRelease >= kPassesBetweenReleases) {
    passesSinceRelease = 0;
    platform::releaseFreeMemory();
  }
  if (context.sceneId == kSceneQuit) return false;
  if (context.entryPending != 0) enterScene();
  if (Scene* scene = current()) scene->update();
  return pumpEvents();
}

Scene* MainLoop::current() const {
  return context.sceneId < kSceneCount ? scenes[context.sceneId] : nullptr;
}

void MainLoop::enterScene() {
  // A switch made inside enter leaves the flag cleared here, so the new
  // scene resumes without its own enter; the lobby relies on that when it
  // falls back to the room list.
  if (Scene* scene = current()) scene->enter();
  context.entryPending = 0;
}

bool MainLoop::pumpEvents() {
  SDL_Event event;
  while (SDL_PollEvent(&event) == 1) {
    if (event.type == SDL_KEYDOWN) {
      IMM_GetCompStr();
      if (event.key.keysym.sym == SDLK_ESCAPE) return false;
    } else if (event.type == SDL_QUIT) {
      return false;
    } else if (event.type == SDL_VIDEOEXPOSE) {
      render::windowExposed();
    }
  }
  return true;
}

}  // namespace program
