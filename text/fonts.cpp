// Opening fonts from the system's fonts folder.
#include <SDL_ttf.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "text/text.h"

namespace text {
namespace {

// The folder lookup is slow (fontconfig reads its cache), and the program
// opens the same file at several sizes, so the answer is kept. A missing
// font is reported once; the program then runs without text.
struct FontLookup {
  std::string fileName;
  std::string path;
  bool reported = false;
};
FontLookup lookup;

const std::string& resolve(const char* fileName) {
  if (lookup.fileName != fileName) {
    lookup.fileName = fileName;
    lookup.path = platform::fontFilePath(fileName);
    lookup.reported = false;
  }
  return lookup.path;
}

void reportMissing(const char* fileName) {
  if (lookup.reported) return;
  lookup.reported = true;
  std::printf(
      "Font %s not found: menus will be shown without text "
      "(install a Japanese gothic font such as fonts-ipafont-gothic)\n",
      fileName);
  std::fflush(stdout);
}

}  // namespace

TTF_Font* openFont(const char* fileName, int pointSize) {
  if (TTF_WasInit() == 0 && TTF_Init() < 0) return nullptr;
  const std::string& path = resolve(fileName);
  if (path.empty()) {
    reportMissing(fileName);
    return nullptr;
  }
  if (std::FILE* probe = std::fopen(path.c_str(), "r")) {
    std::fclose(probe);
  } else {
    reportMissing(fileName);
    return nullptr;
  }
  TTF_Font* font = TTF_OpenFont(path.c_str(), pointSize);
  if (font != nullptr) TTF_SetFontStyle(font, TTF_STYLE_NORMAL);
  return font;
}

}  // namespace text
