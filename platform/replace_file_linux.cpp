// Replacing a file whole on Linux: write beside it, fsync, rename (which
// POSIX makes atomic within one file system).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

long writeLimit = -1;

bool writeAll(int fd, const std::string& contents) {
  size_t done = 0;
  size_t end = contents.size();
  if (writeLimit >= 0 && static_cast<size_t>(writeLimit) < end)
    end = static_cast<size_t>(writeLimit);
  while (done < end) {
    const ssize_t n = write(fd, contents.data() + done, end - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return done == contents.size();
}

}  // namespace

bool replaceFile(const char* path, const std::string& contents) {
  const std::string aside = std::string(path) + ".new";
  const int fd = open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = writeAll(fd, contents);
  writeLimit = -1;
  const bool synced = written && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!synced || !closed || std::rename(aside.c_str(), path) != 0) {
    unlink(aside.c_str());
    return false;
  }
  return true;
}

namespace testing {
void failWritesAfter(long bytes) { writeLimit = bytes; }
}  // namespace testing

}  // namespace platform
