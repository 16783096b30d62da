/* SDL_net's start-up and shut-down: the game's sockets are its own, so this
   is all of SDL_net it uses. */
#ifndef _SDL_NET_H
#define _SDL_NET_H

#include "SDL.h"
#include "compat_names.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 0 on success; -1 with SDL's error text set. On Windows this starts
   Winsock 2.2; elsewhere there is nothing to start. */
extern int SDLCALL SDLNet_Init(void);
extern void SDLCALL SDLNet_Quit(void);

#define SDLNet_SetError SDL_SetError
#define SDLNet_GetError SDL_GetError

#ifdef __cplusplus
}
#endif

#endif
