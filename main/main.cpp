#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "main/game_app.h"
#include "internet/directory.h"
#include "platform/worker.h"

namespace {
// The program's end gives the workers still running (the router's removal
// of a room's forwarding, say) this long in all, from the end of the frame
// loop: Escape ends the program within 2 s.
constexpr uint32_t kWorkersEndMs = 1800;
}  // namespace

// On Windows <SDL.h> renames this function SDL_main: SDL's start-up wrapper
// (SDLmain) provides WinMain, sends stdout and stderr to stdout.txt and
// stderr.txt beside the program, and ends the process with the status
// returned here.
int main(int, char**) {
#ifdef _WIN32
  // The Windows C library has no line buffering (_IOLBF means full
  // buffering there, and a size of 0 is refused), so the start-up lines go
  // out unbuffered to reach stdout.txt as they are printed, in order.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  // Line-buffered, so the start-up lines reach a pipe or a log as they are
  // printed, in order.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
#endif
  auto app = std::make_unique<GameApp>();
  if (!app->startUp()) return GameApp::kStartUpFailed;
  const uint8_t result = app->runMainLoop();
  const auto loopEnded = std::chrono::steady_clock::now();
  app.reset();
  // The room directory's workers end (each within its bounds) before the
  // libraries they use are cleaned up at exit.
  internet::stopDirectoryWorkers();
  // The other workers have been finishing meanwhile; those still running
  // after the rest of the time are left to the end of the process.
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - loopEnded)
                         .count();
  platform::stopAllWorkers(spent < kWorkersEndMs ? static_cast<uint32_t>(kWorkersEndMs - spent)
                                                 : 0);
  return result;
}
