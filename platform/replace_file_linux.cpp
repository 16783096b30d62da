// Replacing a file whole on Linux: write beside it, fsync, rename (which
// POSIX makes atomic within one file system), then fsync the folder, which
// is what makes the rename itself survive a power cut.
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

// The folder that holds path: what is before its last '/', or "." for a
// bare file name.
std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Forces the folder's entries to the disk. A failure changes nothing for
// the caller: the new file is already whole under its name.
void syncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
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
  syncFolder(folderOf(path));
  return true;
}

namespace testing {
void failWritesAfter(long bytes) { writeLimit = bytes; }
}  // namespace testing

}  // namespace platform
