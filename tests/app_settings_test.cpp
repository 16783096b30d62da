// Options.txt: missing, empty, every kind of bad line, written whole or not
// at all, and the rebinding rules.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/settings.h"
#include "platform/platform.h"
#include "support/test_support.h"

using namespace app;

namespace {

class OptionsFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // SDL's key names come with its video; the dummy driver needs no display.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  }
  static void TearDownTestSuite() { SDL_Quit(); }
  void SetUp() override {
    dir = testsupport::scratchDir("options_file");
    path = dir + "/Options.txt";
  }
  void writeText(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::string readText() {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Reads the file into the defaults; returns what was printed.
  std::string readInto(Options& options, int& skipped) {
    options = defaultOptions();
    testing::internal::CaptureStdout();
    skipped = readOptions(path.c_str(), options);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
  }

  std::string dir, path;
};

bool sameOptions(const Options& a, const Options& b) {
  return formatOptions(a) == formatOptions(b);
}

TEST_F(OptionsFile, MissingAndEmptyGiveTheDefaultsSilently) {
  Options options;
  int skipped = -1;
  EXPECT_EQ(readInto(options, skipped), "");
  EXPECT_EQ(skipped, 0);
  EXPECT_TRUE(sameOptions(options, defaultOptions()));
  EXPECT_EQ(options.buttons[ButtonConfirm].key, SDLK_z);
  EXPECT_EQ(options.buttons[ButtonCancel].code, 2);
  writeText("");
  EXPECT_EQ(readInto(options, skipped), "");
  EXPECT_TRUE(sameOptions(options, defaultOptions()));
}

TEST_F(OptionsFile, EveryBadLineIsSkippedWithOneLineNamingIt) {
  writeText(
      "# a comment\n"
      "no equals sign\n"
      "colour=blue\n"
      "key.jump=a\n"
      "window=800x600\n"
      "key.up=no such key\n"
      "key.cancel=escape\n"
      "joystick.left=button 99\n"
      "joystick.left=button x\n"
      "joystick.left=stick sideways\n" +
      std::string(300, 'k') + "=a\n" +
      "  key.confirm = a  \r\n"
      "joystick.up=button 3\n"
      "window=fullscreen\n");
  Options options;
  int skipped = 0;
  const std::string printed = readInto(options, skipped);
  EXPECT_EQ(skipped, 10);
  for (int line = 2; line <= 11; ++line) {
    EXPECT_NE(printed.find("Options.txt:" + std::to_string(line) + ":"), std::string::npos)
        << "line " << line << " not named in:\n"
        << printed;
  }
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 10);
  // The good lines around them still count; the bad ones changed nothing.
  EXPECT_EQ(options.buttons[ButtonConfirm].key, SDLK_a);
  EXPECT_EQ(options.buttons[ButtonUp].isAxis, 0);
  EXPECT_EQ(options.buttons[ButtonUp].code, 3);
  EXPECT_EQ(options.buttons[ButtonUp].key, SDLK_UP);
  EXPECT_EQ(options.buttons[ButtonCancel].key, SDLK_x);
  EXPECT_EQ(options.buttons[ButtonLeft].code, kStickLeft);
  EXPECT_EQ(options.window, WindowMode::Fullscreen);
}

TEST_F(OptionsFile, WrittenThenReadGivesTheSameOptions) {
  Options options = defaultOptions();
  options.window = WindowMode::Scale2;
  rebind(options, ButtonExtra3, {SDLK_SPACE, 0, 0}, false);
  rebind(options, ButtonDown, {0, 0, 5}, true);
  ASSERT_TRUE(writeOptions(path.c_str(), options));
  EXPECT_NE(readText().find("key.extra3=space\n"), std::string::npos);
  Options back;
  int skipped = 0;
  EXPECT_EQ(readInto(back, skipped), "");
  EXPECT_TRUE(sameOptions(back, options));
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST_F(OptionsFile, AFailedWriteLeavesTheOldFileWhole) {
  Options old = defaultOptions();
  ASSERT_TRUE(writeOptions(path.c_str(), old));
  const std::string before = readText();
  Options changed = old;
  changed.window = WindowMode::Fullscreen;
  // The disk fills halfway through the new text.
  platform::testing::failWritesAfter(40);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(writeOptions(path.c_str(), changed));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("could not be written"), std::string::npos);
  EXPECT_EQ(readText(), before);
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  // A folder nothing can be created in (even by root).
  testing::internal::CaptureStdout();
  EXPECT_FALSE(writeOptions("/proc/Options.txt", changed));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("/proc/Options.txt"), std::string::npos);
}

TEST_F(OptionsFile, RebindingGivesTheDisplacedButtonTheOldSource) {
  Options options = defaultOptions();
  // Up onto z, which confirm has: confirm gets Up's old arrow key.
  rebind(options, ButtonUp, {SDLK_z, 0, 0}, false);
  EXPECT_EQ(options.buttons[ButtonUp].key, SDLK_z);
  EXPECT_EQ(options.buttons[ButtonConfirm].key, SDLK_UP);
  // Joystick sources swap the same way and leave the keys alone.
  rebind(options, ButtonCancel, {0, 0, 0}, true);
  EXPECT_EQ(options.buttons[ButtonCancel].code, 0);
  EXPECT_EQ(options.buttons[ButtonConfirm].code, 2);
  EXPECT_EQ(options.buttons[ButtonCancel].key, SDLK_x);
  EXPECT_FALSE(bindableKey(SDLK_ESCAPE));
  EXPECT_FALSE(bindableKey(SDLK_UNKNOWN));
  EXPECT_TRUE(bindableKey(SDLK_a));
}

}  // namespace
