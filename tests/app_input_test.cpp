// Logical buttons: edge detection, key and joystick sources, defaults, and
// the cursor bitmaps.
#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "app/cursor.h"
#include "app/input.h"
#include "support/test_support.h"

using namespace app;

namespace {

class InputPoll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_JOYSTICK), 0);
    ASSERT_NE(SDL_SetVideoMode(64, 64, 32, 0), nullptr);
  }
  static void TearDownTestSuite() { SDL_Quit(); }
  void SetUp() override {
    setDefaultBindings(bindings.data());
    setKey(SDLK_z, false);
    setKey(SDLK_UP, false);
  }

  // The keyboard state array SDL hands out is the one pollInput reads.
  static void setKey(SDLKey key, bool down) { SDL_GetKeyState(nullptr)[key] = down ? 1 : 0; }
  void poll() { pollInput(joysticks.data(), bindings.data(), kBindingCount); }
  const InputBinding& confirm() const { return bindings[bindingIndex(0, ButtonConfirm)]; }

  std::array<SDL_Joystick*, kJoystickSlots> joysticks{};
  std::array<InputBinding, kBindingCount> bindings{};
};

TEST_F(InputPoll, HeldKeyIsJustPressedOnItsFirstFrameOnly) {
  setKey(SDLK_z, true);
  poll();
  EXPECT_EQ(confirm().pressed, 1);
  EXPECT_EQ(confirm().justPressed, 1);
  for (int frame = 0; frame < 5; ++frame) {
    poll();
    EXPECT_EQ(confirm().pressed, 1);
    EXPECT_EQ(confirm().justPressed, 0);
  }
  setKey(SDLK_z, false);
  poll();
  EXPECT_EQ(confirm().pressed, 0);
  EXPECT_EQ(confirm().latch, 0);
  setKey(SDLK_z, true);
  poll();
  EXPECT_EQ(confirm().justPressed, 1);
}

TEST_F(InputPoll, PressAndReleaseBetweenPollsIsNotSeen) {
  setKey(SDLK_z, true);
  setKey(SDLK_z, false);
  poll();
  EXPECT_EQ(confirm().justPressed, 0);
  EXPECT_EQ(confirm().pressed, 0);
}

TEST_F(InputPoll, ConsumedPressDoesNotComeBackWhileHeld) {
  setKey(SDLK_z, true);
  poll();
  bindings[bindingIndex(0, ButtonConfirm)].justPressed = 0;
  poll();
  poll();
  EXPECT_EQ(confirm().justPressed, 0);
}

TEST_F(InputPoll, WithoutJoysticksEveryButtonFollowsItsKey) {
  setKey(SDLK_UP, true);
  poll();
  for (int i = 0; i < kBindingCount; ++i) {
    const bool isUp = i == bindingIndex(0, ButtonUp);
    EXPECT_EQ(bindings[i].pressed, isUp ? 1 : 0) << "binding " << i;
    EXPECT_EQ(bindings[i].joystickHeld, 0);
  }
  setKey(SDLK_UP, false);
}

TEST_F(InputPoll, KeyBeyondTheStateArrayReadsAsUp) {
  bindings[0].key = 0xFFFF;
  bindings[1].joystick = 100;  // outside the table: keyboard only
  poll();
  EXPECT_EQ(bindings[0].pressed, 0);
  EXPECT_EQ(bindings[1].pressed, 0);
}

TEST(InputEdge, KeyAndJoystickHeldTogetherAreOnePress) {
  InputBinding binding;
  updateEdge(binding, true);  // key down
  EXPECT_EQ(binding.justPressed, 1);
  updateEdge(binding, true);  // key and stick down
  updateEdge(binding, true);  // stick only
  EXPECT_EQ(binding.justPressed, 0);
  updateEdge(binding, false);
  updateEdge(binding, true);
  EXPECT_EQ(binding.justPressed, 1);
}

TEST(InputStick, ThresholdIsInclusiveInEachDirection) {
  EXPECT_TRUE(stickActive(kStickRight, 6000));
  EXPECT_FALSE(stickActive(kStickRight, 5999));
  EXPECT_TRUE(stickActive(kStickDown, 32767));
  EXPECT_TRUE(stickActive(kStickLeft, -6000));
  EXPECT_FALSE(stickActive(kStickLeft, -5999));
  EXPECT_TRUE(stickActive(kStickUp, -6000));
  EXPECT_FALSE(stickActive(kStickUp, 6000));
  EXPECT_EQ(stickAxis(kStickUp), 1);
  EXPECT_EQ(stickAxis(kStickDown), 1);
  EXPECT_EQ(stickAxis(kStickLeft), 0);
  EXPECT_EQ(stickAxis(kStickRight), 0);
  // Any other code reads as left.
  EXPECT_EQ(stickAxis(3), 0);
  EXPECT_TRUE(stickActive(3, -6000));
  EXPECT_FALSE(stickActive(3, 6000));
}

TEST(InputDefaults, PlayerZeroHasKeysAndJoystickZeroOthersNothing) {
  std::array<InputBinding, kBindingCount> bindings;
  bindings.fill(InputBinding{7, 1, 1, 1, 1, 1, 3, 9});
  setDefaultBindings(bindings.data());
  const uint16_t keys[9] = {SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT, SDLK_z,
                            SDLK_x,  SDLK_c,    SDLK_v,    0};
  const uint8_t axis[9] = {1, 1, 1, 1, 0, 0, 0, 0, 0};
  const uint8_t codes[9] = {kStickUp, kStickDown, kStickLeft, kStickRight, 0, 2, 1, 8, 0};
  for (int b = 0; b < kButtonsPerPlayer; ++b) {
    EXPECT_EQ(bindings[b].key, keys[b]) << b;
    EXPECT_EQ(bindings[b].isAxis, axis[b]) << b;
    EXPECT_EQ(bindings[b].code, codes[b]) << b;
    EXPECT_EQ(bindings[b].joystick, 0) << b;
    EXPECT_EQ(bindings[b].latch, 0) << b;
  }
  for (int i = kButtonsPerPlayer; i < kBindingCount; ++i) {
    EXPECT_EQ(bindings[i].key, 0) << i;
    EXPECT_EQ(bindings[i].code, 0) << i;
    EXPECT_EQ(bindings[i].isAxis, 0) << i;
  }
}

TEST(Joysticks, TableStaysWithinItsSixEntries) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  ASSERT_EQ(SDL_Init(SDL_INIT_JOYSTICK), 0);
  std::array<SDL_Joystick*, kJoystickSlots + 1> table{};
  table[kJoystickSlots] = reinterpret_cast<SDL_Joystick*>(&table);  // guard entry
  EXPECT_EQ(openJoysticks(table.data()), SDL_NumJoysticks());
  closeJoysticks(table.data());
  EXPECT_EQ(table[kJoystickSlots], reinterpret_cast<SDL_Joystick*>(&table));
  SDL_Quit();
}

TEST(Cursor, RowsAreThirtyTwoCharacters) {
  for (int row = 0; row < 32; ++row) EXPECT_EQ(std::strlen(kArrowCursor[4 + row]), 32u) << row;
}

TEST(Cursor, BitmapsGiveOutlineFillAndTransparency) {
  const CursorBitmaps b = cursorBitmaps(kArrowCursor);
  const uint8_t row0Data[4] = {0x80, 0, 0, 0};
  const uint8_t row2Data[4] = {0xA0, 0, 0, 0};
  const uint8_t row2Mask[4] = {0xE0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(&b.data[0], row0Data, 4), 0);
  EXPECT_EQ(std::memcmp(&b.mask[0], row0Data, 4), 0);
  EXPECT_EQ(std::memcmp(&b.data[8], row2Data, 4), 0);
  EXPECT_EQ(std::memcmp(&b.mask[8], row2Mask, 4), 0);
  // Row 11, "X.......XXXX": outline at both ends, fill between.
  EXPECT_EQ(b.data[44], 0x80);
  EXPECT_EQ(b.data[45], 0xF0);
  EXPECT_EQ(b.mask[44], 0xFF);
  EXPECT_EQ(b.mask[45], 0xF0);
  for (int i = 21 * 4; i < 128; ++i) {
    EXPECT_EQ(b.data[i], 0) << i;
    EXPECT_EQ(b.mask[i], 0) << i;
  }
  EXPECT_EQ(b.hotX, 0);
  EXPECT_EQ(b.hotY, 0);
}

TEST(Cursor, ShortRowsReadAsTransparent) {
  std::array<const char*, kCursorLines> lines{};
  for (int i = 0; i < kCursorLines; ++i) lines[i] = "";
  lines[4] = "X.";
  lines[36] = "3,4";
  const CursorBitmaps b = cursorBitmaps(lines.data());
  EXPECT_EQ(b.data[0], 0x80);
  EXPECT_EQ(b.mask[0], 0xC0);
  EXPECT_EQ(b.mask[1], 0);
  EXPECT_EQ(b.hotX, 3);
  EXPECT_EQ(b.hotY, 4);
}

}  // namespace
