// Logical buttons: six players with nine buttons each, each tied to one key
// and one joystick source, with its state for the current frame.
#pragma once

#include <cstdint>

struct _SDL_Joystick;
typedef struct _SDL_Joystick SDL_Joystick;

namespace app {

inline constexpr int kJoystickSlots = 6;
inline constexpr int kButtonsPerPlayer = 9;
inline constexpr int kBindingCount = 54;  // 6 players x 9 buttons
inline constexpr int16_t kStickThreshold = 6000;

enum Button : uint8_t {
  ButtonUp = 0,
  ButtonDown = 1,
  ButtonLeft = 2,
  ButtonRight = 3,
  ButtonConfirm = 4,
  ButtonCancel = 5,
  ButtonExtra1 = 6,
  ButtonExtra2 = 7,
  ButtonExtra3 = 8,
};

// Direction codes of a stick source.
inline constexpr uint8_t kStickLeft = 1;
inline constexpr uint8_t kStickUp = 2;
inline constexpr uint8_t kStickRight = 4;
inline constexpr uint8_t kStickDown = 8;

struct InputBinding {
  uint16_t key = 0;          // SDLKey; 0 binds no key
  uint8_t pressed = 0;       // down this frame (key or joystick)
  uint8_t justPressed = 0;   // 1 only on the first polled frame of a press
  uint8_t latch = 0;         // 1 from a registered press until seen up
  uint8_t isAxis = 0;        // 0 = joystick button, else a stick direction
  uint8_t joystickHeld = 0;  // the joystick source is active this frame
  int8_t joystick = 0;       // index into the joystick table
  uint8_t code = 0;          // button number, or stick direction code
};

inline constexpr int bindingIndex(int player, Button button) {
  return player * kButtonsPerPlayer + button;
}

// A stick source reads axis 1 for up and down, axis 0 otherwise; it is
// active at the threshold or beyond in its direction. Codes other than up,
// right and down read as left.
int stickAxis(uint8_t code);
bool stickActive(uint8_t code, int16_t value);
// Refreshes count records from the keyboard state and the joysticks.
void pollInput(SDL_Joystick* const* joysticks, InputBinding* first, uint8_t count);
// Updates one record from its current sources; the edge detection step of
// pollInput, exposed so the state machine can be checked on its own.
void updateEdge(InputBinding& binding, bool down);
// Opens the joysticks SDL reports into the table, at most kJoystickSlots.
// Returns the count SDL reports.
uint8_t openJoysticks(SDL_Joystick** joysticks);
void closeJoysticks(SDL_Joystick** joysticks);
// Clears all 54 records, then gives player 0 its keys and joystick 0 sources.
void setDefaultBindings(InputBinding* bindings);

}  // namespace app
