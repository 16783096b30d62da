#include <cstdio>
#include <memory>

#include "main/game_app.h"

int main(int, char**) {
  // Line-buffered, so the start-up lines reach a pipe or a log as they are
  // printed, in order.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  auto app = std::make_unique<GameApp>();
  if (!app->startUp()) return GameApp::kStartUpFailed;
  const uint8_t result = app->runMainLoop();
  app.reset();
  return result;
}
