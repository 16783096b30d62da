// Code-page conversion on Linux through iconv, between code page 932
// (Shift-JIS as Windows writes it) and UTF-8, and the console's character
// set, which the user's locale names.
#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/codepage_sink.h"
#include "platform/platform.h"

namespace platform {
namespace {

// Converts between any two character sets iconv knows, with the contract
// of convertCodePage.
long convertCharset(const char* to, const char* from, const char* source, size_t sourceLength,
                    char* destination, size_t destinationSize) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
  Sink sink{destination, destinationSize};
  char* in = const_cast<char*>(source);
  size_t inLeft = sourceLength;
  char chunk[64];
  while (inLeft > 0) {
    char* out = chunk;
    size_t outLeft = sizeof chunk;
    const size_t done = iconv(cd, &in, &inLeft, &out, &outLeft);
    sink.put(chunk, sizeof chunk - outLeft);
    if (done != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // An invalid or incomplete sequence: mark it and go on after its first
    // byte, so a broken name still shows what can be shown.
    sink.put("?", 1);
    ++in;
    --inLeft;
  }
  char* out = chunk;
  size_t outLeft = sizeof chunk;
  iconv(cd, nullptr, nullptr, &out, &outLeft);
  sink.put(chunk, sizeof chunk - outLeft);
  iconv_close(cd);
  return static_cast<long>(sink.length);
}

// A character-set name in upper case without '-' and '_', so that the
// spellings of one set compare equal ("Shift_JIS", "SHIFT-JIS", "sjis").
std::string canonicalName(const std::string& name) {
  std::string canonical;
  for (const char c : name) {
    if (c == '-' || c == '_') continue;
    canonical += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return canonical;
}

bool isShiftJis(const std::string& canonical) {
  return canonical == "SHIFTJIS" || canonical == "SJIS" || canonical == "CP932" ||
         canonical == "WINDOWS31J" || canonical == "MSKANJI";
}

// What the C and POSIX locales name: no character set that holds Japanese.
bool namesNone(const std::string& canonical) {
  return canonical.empty() || canonical == "ANSIX3.41968" || canonical == "ASCII" ||
         canonical == "USASCII";
}

std::string convertedOrUtf8(std::string to, const char* shiftJis, size_t length) {
  long needed = convertCharset(to.c_str(), "CP932", shiftJis, length, nullptr, 0);
  // A character set iconv does not know still gets readable text.
  if (needed < 0) {
    to = "UTF-8";
    needed = convertCharset(to.c_str(), "CP932", shiftJis, length, nullptr, 0);
  }
  if (needed <= 0) return std::string(shiftJis, length);
  std::string out(static_cast<size_t>(needed), '\0');
  convertCharset(to.c_str(), "CP932", shiftJis, length, out.data(), out.size());
  return out;
}

}  // namespace

long convertCodePage(const char* source, size_t sourceLength, char* destination,
                     size_t destinationSize, bool toUtf8) {
  return toUtf8
             ? convertCharset("UTF-8", "CP932", source, sourceLength, destination, destinationSize)
             : convertCharset("CP932", "UTF-8", source, sourceLength, destination, destinationSize);
}

std::string localeCharset() {
  // A locale object of its own, so the program's global locale (and with it
  // every library's character handling) stays "C".
  const locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (user == static_cast<locale_t>(nullptr)) return std::string();
  const std::string charset = nl_langinfo_l(CODESET, user);
  freelocale(user);
  return charset;
}

std::string consoleText(const char* shiftJis, const std::string& charset) {
  const std::string canonical = canonicalName(charset);
  const size_t length = std::strlen(shiftJis);
  if (isShiftJis(canonical)) return std::string(shiftJis, length);
  if (namesNone(canonical)) return convertedOrUtf8("UTF-8", shiftJis, length);
  // A set without some character shows it as its closest form or '?'.
  return convertedOrUtf8(charset + "//TRANSLIT", shiftJis, length);
}

void writeConsole(std::FILE* stream, const char* shiftJis) {
  const std::string text = consoleText(shiftJis, localeCharset());
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace platform
