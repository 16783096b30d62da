// platform::replaceFile: the old file or the new one whole, never a part.
// On Windows also while another program (a virus scanner, an indexer) holds
// the old file or the file beside it for a moment, without sharing it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class WholeReplacement : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testsupport::scratchDir("replace_file");
    path = dir + "/Options.txt";
    std::ofstream(path, std::ios::binary) << "old text\n";
  }
  std::string dir, path;
};

TEST_F(WholeReplacement, TheNewTextTakesTheNameAndNothingIsLeftBeside) {
  ASSERT_TRUE(platform::replaceFile(path.c_str(), "new text\n"));
  EXPECT_EQ(readText(path), "new text\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST_F(WholeReplacement, ABareFileNameIsReplacedInTheCurrentFolder) {
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  const bool replaced = platform::replaceFile("Options.txt", "here\n");
  std::filesystem::current_path(previous);
  ASSERT_TRUE(replaced);
  EXPECT_EQ(readText(path), "here\n");
}

#ifdef _WIN32

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Opens file as a scanner may: no sharing at all, so that neither writing,
// replacing nor deleting it works while it is held. Another thread lets go
// after holdMs; the destructor waits for that.
class Holder {
 public:
  Holder(const std::string& file, int holdMs) {
    handle_ = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    thread_ = std::thread([this, holdMs] {
      Sleep(static_cast<DWORD>(holdMs));
      if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    });
  }
  ~Holder() { thread_.join(); }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::thread thread_;
};

TEST_F(WholeReplacement, AnOldFileHeldForAMomentIsStillReplaced) {
  const Clock::time_point start = Clock::now();
  Holder scanner(path, 300);
  ASSERT_TRUE(scanner.held());
  EXPECT_TRUE(platform::replaceFile(path.c_str(), "new text\n"));
  EXPECT_GE(msSince(start), 250) << "the old file was not held";
  EXPECT_EQ(readText(path), "new text\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST_F(WholeReplacement, AFileBesideHeldForAMomentIsStillWritten) {
  // A ".new" left by an earlier run, which the scanner is looking at.
  std::ofstream(path + ".new", std::ios::binary) << "left over";
  const Clock::time_point start = Clock::now();
  Holder scanner(path + ".new", 300);
  ASSERT_TRUE(scanner.held());
  EXPECT_TRUE(platform::replaceFile(path.c_str(), "new text\n"));
  EXPECT_GE(msSince(start), 250) << "the file beside was not held";
  EXPECT_EQ(readText(path), "new text\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST_F(WholeReplacement, AnOldFileHeldTooLongIsKeptWholeAndTheWaitIsBounded) {
  {
    const Clock::time_point start = Clock::now();
    Holder scanner(path, 3000);
    ASSERT_TRUE(scanner.held());
    EXPECT_FALSE(platform::replaceFile(path.c_str(), "new text\n"));
    const long waited = msSince(start);
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 2500) << "the wait is not bounded";
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  }  // the scanner has let go
  EXPECT_EQ(readText(path), "old text\n");
}

#endif

}  // namespace
