/* PNG loading with SDL_image's interface: the part of it the game uses. */
#ifndef _SDL_IMAGE_H
#define _SDL_IMAGE_H

#include "SDL.h"
#include "compat_names.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A new software surface of the PNG file's pixels, or NULL with SDL's error
   text set. The caller frees it with SDL_FreeSurface. */
extern SDL_Surface* SDLCALL IMG_Load(const char* file);
/* The same from an SDL_RWops, read from its current position; closed
   afterwards when freesrc is non-zero. */
extern SDL_Surface* SDLCALL IMG_Load_RW(SDL_RWops* src, int freesrc);

#define IMG_SetError SDL_SetError
#define IMG_GetError SDL_GetError

#ifdef __cplusplus
}
#endif

#endif
