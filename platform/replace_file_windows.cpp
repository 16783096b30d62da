// Replacing a file whole on Windows: write beside it, flush, then
// MoveFileEx, which replaces the old file and waits for the disk.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {
long writeLimit = -1;
}  // namespace

bool replaceFile(const char* path, const std::string& contents) {
  const std::string aside = std::string(path) + ".new";
  std::FILE* file = std::fopen(aside.c_str(), "wb");
  if (file == nullptr) return false;
  size_t size = contents.size();
  if (writeLimit >= 0 && static_cast<size_t>(writeLimit) < size)
    size = static_cast<size_t>(writeLimit);
  writeLimit = -1;
  const bool written =
      std::fwrite(contents.data(), 1, size, file) == contents.size() && std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed ||
      MoveFileExA(aside.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    std::remove(aside.c_str());
    return false;
  }
  return true;
}

namespace testing {
void failWritesAfter(long bytes) { writeLimit = bytes; }
}  // namespace testing

}  // namespace platform
