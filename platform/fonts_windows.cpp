// Fonts folder on Windows: the shell's special folder CSIDL_FONTS.
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

// The Japanese gothic fonts a Windows install has when the asked-for file is
// missing (MS Gothic is an optional feature on Windows 10 and later), in the
// order they are tried: Yu Gothic, then Meiryo.
constexpr const char* kJapaneseGothics[] = {"YuGothR.ttc", "YuGothM.ttc", "meiryo.ttc"};

bool fileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::string fontFilePath(const char* fileName) {
  char folder[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_FONTS, FALSE)) return {};
  const std::string prefix = std::string(folder) + "\\";
  // File names on Windows compare without regard to case.
  if (fileExists(prefix + fileName)) return prefix + fileName;
  for (const char* fallback : kJapaneseGothics) {
    if (fileExists(prefix + fallback)) return prefix + fallback;
  }
  return {};
}

}  // namespace platform
