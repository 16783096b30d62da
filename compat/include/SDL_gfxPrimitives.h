/* Filled and outlined shapes with SDL_gfx's interface: the part of it the
   game uses. Coordinates are pixels of dst, clipped to its clip rectangle;
   a is the opacity (255 paints, less blends). Each returns 0 when it drew
   or had nothing to draw, -1 on failure. */
#ifndef _SDL_gfxPrimitives_h
#define _SDL_gfxPrimitives_h

#include "SDL.h"
#include "compat_names.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The corners are inclusive and may come in either order. */
extern int boxRGBA(SDL_Surface* dst, Sint16 x1, Sint16 y1, Sint16 x2, Sint16 y2, Uint8 r, Uint8 g,
                   Uint8 b, Uint8 a);
extern int circleRGBA(SDL_Surface* dst, Sint16 x, Sint16 y, Sint16 rad, Uint8 r, Uint8 g, Uint8 b,
                      Uint8 a);
extern int filledCircleRGBA(SDL_Surface* dst, Sint16 x, Sint16 y, Sint16 rad, Uint8 r, Uint8 g,
                            Uint8 b, Uint8 a);
extern int filledEllipseRGBA(SDL_Surface* dst, Sint16 x, Sint16 y, Sint16 rx, Sint16 ry, Uint8 r,
                             Uint8 g, Uint8 b, Uint8 a);

#ifdef __cplusplus
}
#endif

#endif
