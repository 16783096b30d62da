// Replacing a file whole on Windows: write beside it, force it to the disk
// (FlushFileBuffers), then MoveFileEx, which replaces the old file and waits
// for the disk. A virus scanner or an indexer may hold either file for a
// moment right after it was written or read: the calls refused for that are
// tried again for a short, bounded time.
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

// How long the calls a sharing violation refuses are tried again, in all,
// and how long to wait between two tries.
constexpr DWORD kRetryBudgetMs = 1000;
constexpr DWORD kRetryPauseMs = 20;

long writeLimit = -1;

// Errors of a file that another program holds open for a moment.
bool heldByAnother(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

// Calls attempt until it succeeds, fails for another reason, or the time
// from start passes the budget. Returns what the last call returned.
template <typename Attempt>
bool retryWhileHeld(DWORD start, Attempt attempt) {
  for (;;) {
    if (attempt()) return true;
    if (!heldByAnother(GetLastError()) || GetTickCount() - start >= kRetryBudgetMs) return false;
    Sleep(kRetryPauseMs);
  }
}

bool writeAll(HANDLE file, const std::string& contents) {
  size_t end = contents.size();
  if (writeLimit >= 0 && static_cast<size_t>(writeLimit) < end)
    end = static_cast<size_t>(writeLimit);
  size_t done = 0;
  while (done < end) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(end - done < 0x10000000 ? end - done : 0x10000000);
    if (WriteFile(file, contents.data() + done, chunk, &written, nullptr) == 0 || written == 0)
      return false;
    done += written;
  }
  return done == contents.size();
}

}  // namespace

bool replaceFile(const char* path, const std::string& contents) {
  const DWORD start = GetTickCount();
  const std::string aside = std::string(path) + ".new";
  HANDLE file = INVALID_HANDLE_VALUE;
  const bool opened = retryWhileHeld(start, [&] {
    file = CreateFileA(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  if (!opened) {
    writeLimit = -1;
    return false;
  }
  const bool written = writeAll(file, contents);
  writeLimit = -1;
  // Through the system's cache to the disk: the rename must never name a
  // file whose text is not there yet.
  const bool flushed = written && FlushFileBuffers(file) != 0;
  const bool closed = CloseHandle(file) != 0;
  constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  const auto move = [&] { return MoveFileExA(aside.c_str(), path, kMoveFlags) != 0; };
  if (flushed && closed && retryWhileHeld(start, move)) return true;
  // The file beside goes, even when a scanner holds it a moment longer.
  const DWORD removing = GetTickCount();
  retryWhileHeld(removing, [&] {
    return DeleteFileA(aside.c_str()) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND;
  });
  return false;
}

namespace testing {
void failWritesAfter(long bytes) { writeLimit = bytes; }
}  // namespace testing

}  // namespace platform
