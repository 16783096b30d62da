/* Surface scaling with SDL_gfx's interface: the part of it the game uses. */
#ifndef _SDL_rotozoom_h
#define _SDL_rotozoom_h

#include "SDL.h"
#include "compat_names.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SMOOTHING_OFF 0
#define SMOOTHING_ON 1

/* A new 32-bit surface (8-bit for an 8-bit source) of src scaled by zoomx
   and zoomy; a negative factor mirrors. smooth selects bilinear filtering
   of 32-bit sources. NULL if src is NULL or no surface can be made. */
extern SDL_Surface* zoomSurface(SDL_Surface* src, double zoomx, double zoomy, int smooth);

#ifdef __cplusplus
}
#endif

#endif
