/* The public names of the companion libraries. Built with
   VELLORA_COMPAT_PREFIXED (the Linux comparison build), every function gets
   the prefix compat_, so one program can link the installed libraries and
   these side by side. The Windows build uses the libraries' own names. */
#ifndef VELLORA_COMPAT_NAMES_H
#define VELLORA_COMPAT_NAMES_H

#ifdef VELLORA_COMPAT_PREFIXED
#define IMG_Load compat_IMG_Load
#define IMG_Load_RW compat_IMG_Load_RW
#define TTF_Init compat_TTF_Init
#define TTF_WasInit compat_TTF_WasInit
#define TTF_Quit compat_TTF_Quit
#define TTF_OpenFont compat_TTF_OpenFont
#define TTF_OpenFontIndex compat_TTF_OpenFontIndex
#define TTF_CloseFont compat_TTF_CloseFont
#define TTF_SetFontStyle compat_TTF_SetFontStyle
#define TTF_GetFontStyle compat_TTF_GetFontStyle
#define TTF_RenderUTF8_Blended compat_TTF_RenderUTF8_Blended
#define zoomSurface compat_zoomSurface
#define boxRGBA compat_boxRGBA
#define circleRGBA compat_circleRGBA
#define filledCircleRGBA compat_filledCircleRGBA
#define filledEllipseRGBA compat_filledEllipseRGBA
#define SDLNet_Init compat_SDLNet_Init
#define SDLNet_Quit compat_SDLNet_Quit
#endif

#endif
