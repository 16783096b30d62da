#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "main/game_app.h"
#include "platform/worker.h"

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
  auto app = std::make_unique<program::GameApp>();
  if (!app->startUp()) return program::GameApp::kStartUpFailed;
  const uint8_t result = app->runMainLoop();
  const uint32_t endedAt = SDL_GetTicks();
  app.reset();
  // The work beside the frame loop ends (leaving the room directory,
  // removing the router's forwarding) before the libraries it uses are
  // cleaned up at exit. Each worker ends within its own bound once asked;
  // should one not, the process ends around it, so that quitting never
  // takes longer than kEndLimitMs after the main loop ends.
  const uint32_t spent = SDL_GetTicks() - endedAt;
  const uint32_t left =
      spent < program::GameApp::kEndLimitMs ? program::GameApp::kEndLimitMs - spent : 0;
  if (!platform::stopAllWorkers(left)) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(result);
  }
  return result;
}
