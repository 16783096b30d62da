// The frame loop: input, readout, pacing, scene entry and update, events.
#pragma once

#include <array>
#include <cstdint>

#include "app/context.h"
#include "app/scene.h"

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

  GameContext& context;
  std::array<Scene*, kSceneCount> scenes{};
};
