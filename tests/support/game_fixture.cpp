#include "support/game_fixture.h"

#include <cstdlib>

#include "render/video.h"

namespace testsupport {

GameContext& startedContext() {
  static GameContext* context = [] {
    auto* started = new GameContext;  // never destroyed: shared for the whole run
    if (!started->initContext()) std::abort();
    setDefaultBindings(started->bindings.data());
    return started;
  }();
  return *context;
}

void setDrawing(bool enabled) { render::testing::mutableVideo().drawEnabled = enabled; }

void frame(GameContext& ctx, Scene& scene, std::initializer_list<Button> pressed, int player) {
  for (Button b : pressed) ctx.binding(player, b).justPressed = 1;
  scene.update();
  for (InputBinding& binding : ctx.bindings) binding.justPressed = 0;
}

void frames(GameContext& ctx, Scene& scene, int count) {
  for (int i = 0; i < count; ++i) frame(ctx, scene);
}

int framesUntil(GameContext& ctx, Scene& scene, const char* what, const std::function<bool()>& done,
                int limit) {
  return stepUntil(
      what, done, [&] { frame(ctx, scene); }, limit);
}

}  // namespace testsupport
