#include "support/game_fixture.h"

#include <cstdlib>

#include "render/video.h"

namespace testsupport {

using namespace app;

app::GameContext& startedContext() {
  static app::GameContext* context = [] {
    auto* started = new app::GameContext;  // never destroyed: shared for the whole run
    if (!started->initContext()) std::abort();
    setDefaultBindings(started->bindings.data());
    return started;
  }();
  return *context;
}

void setDrawing(bool enabled) { render::testing::mutableVideo().drawEnabled = enabled; }

void frame(app::GameContext& ctx, app::Scene& scene, std::initializer_list<app::Button> pressed,
           int player) {
  for (Button b : pressed) ctx.binding(player, b).justPressed = 1;
  scene.update();
  for (InputBinding& binding : ctx.bindings) binding.justPressed = 0;
}

void frames(app::GameContext& ctx, app::Scene& scene, int count) {
  for (int i = 0; i < count; ++i) frame(ctx, scene);
}

int framesUntil(app::GameContext& ctx, app::Scene& scene, const char* what,
                const std::function<bool()>& done, int limit) {
  return stepUntil(
      what, done, [&] { frame(ctx, scene); }, limit);
}

}  // namespace testsupport
