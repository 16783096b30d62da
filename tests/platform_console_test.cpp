// What the platform layer does for the console and the display: Japanese
// messages in the user's locale's character set, and the video driver SDL
// is given.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/platform.h"
#include "text/sjis_strings.h"

namespace {

// "サウンドの初期化に失敗しました\n" as UTF-8 and EUC-JP bytes.
const std::string kSoundFailedUtf8 = u8"サウンドの初期化に失敗しました\n";
const std::string kYesEucJp = "\xA4\xCF\xA4\xA4";  // はい

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

std::string writtenUnder(const char* locale, const char* shiftJis) {
  const ScopedEnv all("LC_ALL", locale);
  testing::internal::CaptureStdout();
  platform::writeConsole(stdout, shiftJis);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(ConsoleText, ShiftJisConsolesGetTheBytesUnchanged) {
  for (const char* name : {"SHIFT_JIS", "sjis", "CP932", "Windows-31J"}) {
    EXPECT_EQ(platform::consoleText(sjis::kSoundInitFailed, name), sjis::kSoundInitFailed) << name;
  }
}

TEST(ConsoleText, AsciiOrUnnamedOrUnknownSetsGetUtf8) {
  for (const char* name : {"UTF-8", "utf8", "ANSI_X3.4-1968", "", "NO-SUCH-SET"}) {
    EXPECT_EQ(platform::consoleText(sjis::kSoundInitFailed, name), kSoundFailedUtf8) << name;
  }
}

TEST(ConsoleText, OtherJapaneseSetsAreConvertedToTheirBytes) {
  EXPECT_EQ(platform::consoleText(sjis::kYes, "EUC-JP"), kYesEucJp);
}

TEST(ConsoleText, BytesWrittenUnderAUtf8LocaleAreUtf8) {
  EXPECT_EQ(writtenUnder("C.UTF-8", sjis::kSoundInitFailed), kSoundFailedUtf8);
  EXPECT_EQ(writtenUnder("C.UTF-8", sjis::kRoomFileFailed),
            u8"ルームリストファイルの読み込みに失敗しました\n");
}

TEST(ConsoleText, CLocaleAndMissingLocalesWriteUtf8) {
  EXPECT_EQ(writtenUnder("C", sjis::kSdlInitFailed), u8"SDLの初期化に失敗しました\n");
  EXPECT_EQ(writtenUnder("xx_XX.NOT-INSTALLED", sjis::kSdlInitFailed),
            u8"SDLの初期化に失敗しました\n");
}

TEST(VideoDriver, X11UnlessTheUserChoseOne) {
  {
    const ScopedEnv unset("SDL_VIDEODRIVER", nullptr);
    platform::chooseVideoDriver();
    ASSERT_NE(getenv("SDL_VIDEODRIVER"), nullptr);
    EXPECT_STREQ(getenv("SDL_VIDEODRIVER"), "x11");
  }
  const ScopedEnv chosen("SDL_VIDEODRIVER", "dummy");
  platform::chooseVideoDriver();
  EXPECT_STREQ(getenv("SDL_VIDEODRIVER"), "dummy");
}

}  // namespace
