// The picture readers behind IMG_Load_RW, one per format.
#pragma once

#include "SDL.h"

namespace compat {

// A BMP file from the stream's current position, as SDL_image reads it; NULL
// with SDL's error text set when it cannot be read.
SDL_Surface* loadBmp(SDL_RWops* src);

}  // namespace compat
