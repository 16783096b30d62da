// Code-page conversion on Windows through the system's own calls, between
// code page 932 (Shift-JIS) and UTF-8, by way of UTF-16. The console text
// stays Shift-JIS: SDL's start-up wrapper sends stdout and stderr into
// stdout.txt and stderr.txt beside the program, which a Japanese Windows
// shows as they are.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/codepage_sink.h"
#include "platform/platform.h"

namespace platform {
namespace {

constexpr UINT kShiftJis = 932;

// Bytes at the start of text that the source page reads as one character:
// 1 or 2 for Shift-JIS, 1 to 4 for UTF-8. 0 when they are no character
// there (a lone trail byte, a cut-off sequence): the caller writes '?'.
size_t characterLength(UINT page, const char* text, size_t left, wchar_t (&wide)[2], int& units) {
  const size_t most = page == kShiftJis ? 2 : 4;
  for (size_t length = 1; length <= most && length <= left; ++length) {
    units =
        MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), wide, 2);
    if (units > 0) return length;
  }
  return 0;
}

// Converts one character at a time, so that each invalid byte becomes one
// '?' and conversion goes on after it. The system's calls would turn a
// broken sequence into U+FFFD (UTF-8) or the page's default character,
// neither of which is the contract.
long convert(UINT from, UINT to, const char* source, size_t sourceLength, char* destination,
             size_t destinationSize) {
  Sink sink{destination, destinationSize};
  size_t at = 0;
  while (at < sourceLength) {
    const unsigned char byte = static_cast<unsigned char>(source[at]);
    if (byte < 0x80) {
      sink.put(source + at, 1);
      ++at;
      continue;
    }
    wchar_t wide[2] = {};
    int units = 0;
    const size_t length = characterLength(from, source + at, sourceLength - at, wide, units);
    if (length == 0) {
      sink.put("?", 1);
      ++at;
      continue;
    }
    char out[8] = {};
    BOOL lossy = FALSE;
    // WideCharToMultiByte refuses the lossy flag for UTF-8.
    const int written = WideCharToMultiByte(to, 0, wide, units, out, sizeof out, nullptr,
                                            to == CP_UTF8 ? nullptr : &lossy);
    if (written <= 0 || lossy) {
      sink.put("?", 1);
    } else {
      sink.put(out, static_cast<size_t>(written));
    }
    at += length;
  }
  return static_cast<long>(sink.length);
}

}  // namespace

long convertCodePage(const char* source, size_t sourceLength, char* destination,
                     size_t destinationSize, bool toUtf8) {
  if (!IsValidCodePage(kShiftJis)) return -1;
  return toUtf8 ? convert(kShiftJis, CP_UTF8, source, sourceLength, destination, destinationSize)
                : convert(CP_UTF8, kShiftJis, source, sourceLength, destination, destinationSize);
}

// The program's text is written in the system code page's bytes, as a
// Japanese Windows reads them in stdout.txt.
std::string localeCharset() { return "SHIFT_JIS"; }

std::string consoleText(const char* shiftJis, const std::string& charset) {
  const size_t length = std::strlen(shiftJis);
  std::string canonical;
  for (const char c : charset) {
    if (c != '-' && c != '_') canonical += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  if (canonical == "SHIFTJIS" || canonical == "SJIS" || canonical == "CP932") {
    return std::string(shiftJis, length);
  }
  const long needed = convertCodePage(shiftJis, length, nullptr, 0, true);
  if (needed <= 0) return std::string(shiftJis, length);
  std::string out(static_cast<size_t>(needed), '\0');
  convertCodePage(shiftJis, length, out.data(), out.size(), true);
  return out;
}

void writeConsole(std::FILE* stream, const char* shiftJis) {
  std::fwrite(shiftJis, 1, std::strlen(shiftJis), stream);
}

}  // namespace platform
