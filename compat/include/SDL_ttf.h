/* TrueType text with SDL_ttf's interface: the part of it the game uses. */
#ifndef _SDL_TTF_H
#define _SDL_TTF_H

#include "SDL.h"
#include "compat_names.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _TTF_Font TTF_Font;

#define TTF_STYLE_NORMAL 0x00
#define TTF_STYLE_BOLD 0x01
#define TTF_STYLE_ITALIC 0x02
#define TTF_STYLE_UNDERLINE 0x04
#define TTF_STYLE_STRIKETHROUGH 0x08

/* 0 on success, -1 with SDL's error text set. Calls are counted: each
   TTF_Init wants one TTF_Quit. */
extern int SDLCALL TTF_Init(void);
/* The number of TTF_Init calls not yet matched by TTF_Quit. */
extern int SDLCALL TTF_WasInit(void);
extern void SDLCALL TTF_Quit(void);

/* Face 0 of the file at ptsize points (72 dpi), or NULL with SDL's error
   text set. Scalable (TrueType, OpenType) faces only; of the styles, only
   bold is drawn. */
extern TTF_Font* SDLCALL TTF_OpenFont(const char* file, int ptsize);
/* Face `index` of a font collection (.ttc); face 0 is TTF_OpenFont's. */
extern TTF_Font* SDLCALL TTF_OpenFontIndex(const char* file, int ptsize, long index);
extern void SDLCALL TTF_CloseFont(TTF_Font* font);
extern int SDLCALL TTF_GetFontStyle(const TTF_Font* font);
extern void SDLCALL TTF_SetFontStyle(TTF_Font* font, int style);

/* A 32-bit ARGB surface of the font's height: fg's colour in every pixel,
   the glyphs' coverage in alpha. NULL (with SDL's error text) for text that
   has no width or a glyph that cannot be loaded. */
extern SDL_Surface* SDLCALL TTF_RenderUTF8_Blended(TTF_Font* font, const char* text, SDL_Color fg);

#define TTF_SetError SDL_SetError
#define TTF_GetError SDL_GetError

#ifdef __cplusplus
}
#endif

#endif
