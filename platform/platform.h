// What the operating system provides: the fonts folder, code-page conversion
// and the input method. One implementation per platform; scenes and the game
// logic never include a system header for these.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Full path of the system font fileName, or an empty string when there is
// none. Where the exact file is missing a platform may offer its closest
// Japanese gothic font instead.
std::string fontFilePath(const char* fileName);

// Converts sourceLength bytes (no terminator needed) between Shift-JIS (code
// page 932) and UTF-8. Writes at most destinationSize bytes, without a
// terminator, and returns the full converted length (which may exceed
// destinationSize; pass a null destination to measure). Bytes that are not
// valid in the source encoding become '?'. Returns -1 when the conversion is
// not available at all.
long convertCodePage(const char* source, size_t sourceLength, char* destination,
                     size_t destinationSize, bool toUtf8);

}  // namespace platform

// Input-method calls of the SDL build the program was designed for. On
// platforms without them they do nothing and report success.
int SDL_SetIMValues(int item, ...);
int IMM_Init();
const char* IMM_GetCompStr();
