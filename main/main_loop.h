// The frame loop: input, readout, pacing, scene entry and update, events.
#pragma once

#include <array>
#include <cstdint>

#include "app/context.h"
#include "app/scene.h"

namespace program {

using namespace app;

class MainLoop {
 public:
  static constexpr int kSceneCount = 7;  // indexed by SceneId; 0 is none

  explicit MainLoop(GameContext& shared) : context(shared) {}

  void setScene(SceneId id, Scene* scene) { scenes[id] = scene; }
  // Runs until a scene switches to 0, Escape is pressed or the window is
  // closed. Always returns 0.
  uint8_t runMainLoop();
  // One pass of the loop; false when the loop ends.
  bool runPass();
  // Runs the current scene's enter, then clears the entry flag.
  void enterScene();
  // Drains the event queue; false means quit.
  bool pumpEvents();

 private:
  Scene* current() const;

  // The GL driver's memory for one frame is taken and freed every frame, and
  // what it frees the heap keeps for reuse; every second or so the free
  // pages that piled up meanwhile go back to the system.
  static constexpr int kPassesBetweenReleases = 60;
  int passesSinceRelease = 0;
  GameContext& context;
  std::array<Scene*, kSceneCount> scenes{};
};

}  // namespace program
