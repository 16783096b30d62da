// What the main loop needs of a scene: a reset when it becomes current and
// one frame of work per pass.
#pragma once

namespace app {

class Scene {
 public:
  virtual ~Scene() = default;
  virtual void enter() = 0;
  virtual void update() = 0;
};

}  // namespace app
