// Comparing two SDL surfaces made by two implementations of one library:
// format first, then pixels, with the differences measured per channel.
#pragma once

#include <SDL.h>

#include <string>

namespace test {

struct SurfaceDifference {
  std::string format;  // empty when size, depth, masks, flags and keys agree
  int differing = 0;   // pixels not bit-identical
  int maxAlpha = 0;    // largest alpha difference (0..255)
  double meanAlpha = 0;
  int maxColour = 0;  // largest difference of R, G or B
};

// Null surfaces compare equal to each other and differ in format from a
// non-null one.
SurfaceDifference compareSurfaces(SDL_Surface* expected, SDL_Surface* actual);

}  // namespace test
