// Fonts folder on Linux: fontconfig stands in for the Windows fonts folder.
#include <fontconfig/fontconfig.h>
#include <strings.h>

#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

// The installed font file whose name matches fileName, ignoring case (font
// files copied from elsewhere keep their upper-case names).
std::string findByFileName(FcConfig* config, const char* fileName) {
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
  FcFontSet* fonts = FcFontList(config, pattern, objects);
  std::string found;
  for (int i = 0; fonts != nullptr && i < fonts->nfont && found.empty(); ++i) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
    const std::string path(reinterpret_cast<const char*>(file));
    const size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (strcasecmp(base.c_str(), fileName) == 0) found = path;
  }
  if (fonts != nullptr) FcFontSetDestroy(fonts);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return found;
}

// fontconfig's best Japanese gothic font; it resolves the family "MS Gothic"
// through its aliases to IPAGothic or Noto Sans CJK on Debian. A match that
// does not cover Japanese is no use for the menus and counts as none.
std::string bestJapaneseGothic(FcConfig* config) {
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("MS Gothic"));
  FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  std::string found;
  if (match != nullptr) {
    FcChar8* file = nullptr;
    FcLangSet* langs = nullptr;
    const bool hasFile = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch;
    const bool hasLang = FcPatternGetLangSet(match, FC_LANG, 0, &langs) == FcResultMatch;
    if (hasFile && hasLang &&
        FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) == FcLangEqual) {
      found = reinterpret_cast<const char*>(file);
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return found;
}

}  // namespace

std::string fontFilePath(const char* fileName) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (config == nullptr) return {};
  std::string path = findByFileName(config, fileName);
  if (path.empty()) path = bestJapaneseGothic(config);
  FcConfigDestroy(config);
  return path;
}

}  // namespace platform
