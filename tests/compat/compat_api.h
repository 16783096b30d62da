// The companion libraries' functions under their prefixed names, declared
// with the installed libraries' types so both can be called side by side.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

extern "C" {
SDL_Surface* compat_IMG_Load(const char* file);
SDL_Surface* compat_IMG_Load_RW(SDL_RWops* src, int freesrc);
int compat_TTF_Init(void);
int compat_TTF_WasInit(void);
void compat_TTF_Quit(void);
TTF_Font* compat_TTF_OpenFont(const char* file, int ptsize);
TTF_Font* compat_TTF_OpenFontIndex(const char* file, int ptsize, long index);
void compat_TTF_CloseFont(TTF_Font* font);
int compat_TTF_GetFontStyle(const TTF_Font* font);
void compat_TTF_SetFontStyle(TTF_Font* font, int style);
SDL_Surface* compat_TTF_RenderUTF8_Blended(TTF_Font* font, const char* text, SDL_Color fg);
SDL_Surface* compat_zoomSurface(SDL_Surface* src, double zoomx, double zoomy, int smooth);
int compat_boxRGBA(SDL_Surface* dst, Sint16 x1, Sint16 y1, Sint16 x2, Sint16 y2, Uint8 r, Uint8 g,
                   Uint8 b, Uint8 a);
int compat_circleRGBA(SDL_Surface* dst, Sint16 x, Sint16 y, Sint16 rad, Uint8 r, Uint8 g, Uint8 b,
                      Uint8 a);
int compat_filledCircleRGBA(SDL_Surface* dst, Sint16 x, Sint16 y, Sint16 rad, Uint8 r, Uint8 g,
                            Uint8 b, Uint8 a);
int compat_filledEllipseRGBA(SDL_Surface* dst, Sint16 x, Sint16 y, Sint16 rx, Sint16 ry, Uint8 r,
                             Uint8 g, Uint8 b, Uint8 a);
int compat_SDLNet_Init(void);
void compat_SDLNet_Quit(void);
}
