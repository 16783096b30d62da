// The installed SDL_ttf and the companion render the same text with the same
// face, size, style and colour; any difference in the result (surface or
// none, format, pixels, error text) stops the run. Faces: the outline font
// the game uses on Debian, two with 1-bit strikes, and the test font with
// strikes of every bit depth. Each library's fonts are opened once per face,
// size and style and kept.
#include <SDL.h>
#include <SDL_ttf.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "fuzz/differential.h"
#include "tests/compat/compat_api.h"

namespace {

struct Face {
  const char* path;
  long index;
};
const Face kFaces[] = {{"/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 0},
                       {"/usr/share/fonts/truetype/arphic/uming.ttc", 0},
                       {VELLORA_WQY_FONT, 2},
                       {VELLORA_STRIKE_FONT, 0}};
constexpr int kFaceCount = sizeof kFaces / sizeof kFaces[0];
constexpr int kMinSize = 6;
constexpr int kMaxSize = 48;
constexpr size_t kMaxTextBytes = 48;

struct FontPair {
  TTF_Font* real = nullptr;
  TTF_Font* ours = nullptr;
};

// Opened on first use, one pair per face, size and style (a style change
// empties both libraries' glyph caches); kept until the process ends.
FontPair& fontsFor(int face, int size, int style) {
  // Never destroyed, so the fonts stay reachable to the end.
  static auto* const open = new std::map<std::tuple<int, int, int>, FontPair>;
  FontPair& pair = (*open)[{face, size, style}];
  if (pair.real == nullptr) {
    pair.real = TTF_OpenFontIndex(kFaces[face].path, size, kFaces[face].index);
    pair.ours = compat_TTF_OpenFontIndex(kFaces[face].path, size, kFaces[face].index);
    if (pair.real == nullptr) {
      std::fprintf(stderr, "cannot open %s: %s\n", kFaces[face].path, SDL_GetError());
      std::abort();
    }
    require(pair.ours != nullptr, "the companion does not open a face the library opens");
    TTF_SetFontStyle(pair.real, style);
    compat_TTF_SetFontStyle(pair.ours, style);
  }
  return pair;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  require(TTF_Init() == 0 && compat_TTF_Init() == 0, "TTF_Init");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputBytes in(data, size);
  const int face = in.byte() % kFaceCount;
  const int points = kMinSize + in.byte() % (kMaxSize - kMinSize + 1);
  const int style = (in.byte() & 1) != 0 ? TTF_STYLE_BOLD : TTF_STYLE_NORMAL;
  const SDL_Color colour = {in.byte(), in.byte(), in.byte(), 0};
  // The text up to its first NUL, and NULs after it: a sequence cut off at
  // the end makes SDL_ttf read on past the terminator.
  std::string text(reinterpret_cast<const char*>(in.rest()),
                   in.left() < kMaxTextBytes ? in.left() : kMaxTextBytes);
  text.resize(std::strlen(text.c_str()));
  text.append(4, '\0');

  FontPair& fonts = fontsFor(face, points, style);
  SDL_ClearError();
  SDL_Surface* const real = TTF_RenderUTF8_Blended(fonts.real, text.c_str(), colour);
  const std::string realError = real == nullptr ? SDL_GetError() : "";
  SDL_ClearError();
  SDL_Surface* const ours = compat_TTF_RenderUTF8_Blended(fonts.ours, text.c_str(), colour);
  const std::string ourError = ours == nullptr ? SDL_GetError() : "";
  requireSameError(realError, ourError, "TTF_RenderUTF8_Blended error");
  requireSameSurface(real, ours, "TTF_RenderUTF8_Blended");
  return 0;
}
