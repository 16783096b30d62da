// SDL_net's start-up: on Windows, Winsock's.
#include "SDL_net.h"

#ifdef _WIN32
#include <winsock2.h>
#endif

namespace {

// Balanced calls, as SDL_net counts them: Winsock starts on the first
// SDLNet_Init and stops on the SDLNet_Quit that matches it.
int initCount = 0;

}  // namespace

extern "C" int SDLCALL SDLNet_Init(void) {
  if (initCount == 0) {
#ifdef _WIN32
    WSADATA data;
    const int failure = WSAStartup(MAKEWORD(2, 2), &data);
    if (failure != 0) {
      SDL_SetError("Couldn't initialize Winsock 2.2 (error %d)", failure);
      return -1;
    }
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
      WSACleanup();
      SDL_SetError("Winsock 2.2 is not available");
      return -1;
    }
#endif
  }
  ++initCount;
  return 0;
}

extern "C" void SDLCALL SDLNet_Quit(void) {
  if (initCount == 0) return;
  if (--initCount == 0) {
#ifdef _WIN32
    WSACleanup();
#endif
  }
}
