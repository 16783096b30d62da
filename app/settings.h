// The player's options kept in "Options.txt" beside RoomConfig.txt: the
// picture (a window at one, two or three times 640 x 480, or full screen)
// and player 0's nine buttons, as key=value lines a person can read and edit:
//
//   window=1280x960          640x480, 1280x960, 1920x1440 or fullscreen
//   key.confirm=z            an SDL key name (SDL_GetKeyName), or none
//   joystick.confirm=button 0  or stick up / down / left / right
//
// Key names are SDL's, so SDL's video must be up to read or write them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/input.h"

namespace app {

inline constexpr char kOptionsFile[] = "Options.txt";

// The picture's size: the 640 x 480 frame scaled by 1, 2 or 3 in a window,
// or full screen.
enum class WindowMode : uint8_t { Scale1 = 0, Scale2 = 1, Scale3 = 2, Fullscreen = 3 };
inline constexpr int kWindowModeCount = 4;

struct ButtonSource {
  uint16_t key = 0;  // SDLKey, 0 = none
  uint8_t isAxis = 0;
  uint8_t code = 0;  // joystick button number, or a stick direction code
};

struct Options {
  WindowMode window = WindowMode::Scale1;
  std::array<ButtonSource, kButtonsPerPlayer> buttons{};
};

// The defaults: the 640 x 480 window and setDefaultBindings' player 0.
Options defaultOptions();
Options optionsFromBindings(const InputBinding* bindings);
// Gives player 0's nine records the options' sources (joystick 0).
void applyOptionBindings(const Options& options, InputBinding* bindings);
// Binds button to source and gives whichever other button of player 0 held
// the same key (or the same joystick source) button's old one, so that no
// two buttons share a source and none is left without the one it had.
void rebind(Options& options, Button button, const ButtonSource& source, bool joystick);

// Reads path into options, which keeps its values for what the file does
// not give. A missing file is no error and prints nothing; every line that
// cannot be used is skipped with one line on standard output naming the
// file, the line number and the line. Returns the number of lines skipped.
int readOptions(const char* path, Options& options);
std::string formatOptions(const Options& options);
// Writes the options whole (see platform::replaceFile); false, with a line
// on standard output, when the file could not be written.
bool writeOptions(const char* path, const Options& options);

// Names used in the file and on the options screen.
const char* windowModeName(WindowMode mode);
std::string keyName(uint16_t key);
std::string joystickName(const ButtonSource& source);
// Keys that cannot be bound: none, Escape (it quits the program) and keys
// beyond SDL's table.
bool bindableKey(int key);

}  // namespace app
