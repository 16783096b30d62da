#include "app/input.h"

#include <SDL.h>

namespace app {

int stickAxis(uint8_t code) { return (code == kStickUp || code == kStickDown) ? 1 : 0; }

bool stickActive(uint8_t code, int16_t value) {
  const bool positive = code == kStickRight || code == kStickDown;
  return positive ? value >= kStickThreshold : value <= -kStickThreshold;
}

namespace {

// Whether a record's joystick source is active this frame.
bool joystickActive(SDL_Joystick* joystick, const InputBinding& binding) {
  if (binding.isAxis == 0) return SDL_JoystickGetButton(joystick, binding.code) == 1;
  return stickActive(binding.code, SDL_JoystickGetAxis(joystick, stickAxis(binding.code)));
}

}  // namespace

void updateEdge(InputBinding& binding, bool down) {
  binding.pressed = down ? 1 : 0;
  if (binding.latch == 1) binding.justPressed = 0;
  if (binding.pressed == 1 && binding.latch == 0) {
    binding.justPressed = 1;
    binding.latch = 1;
  }
  if (binding.pressed == 0) binding.latch = 0;
}

void pollInput(SDL_Joystick* const* joysticks, InputBinding* first, uint8_t count) {
  // The state array has one byte per key symbol below its count; a binding
  // whose key lies beyond it reads as up rather than past the array.
  int keyCount = 0;
  const Uint8* keys = SDL_GetKeyState(&keyCount);
  // SDL 1.2 crashes updating joysticks when their subsystem is not up.
  if (SDL_WasInit(SDL_INIT_JOYSTICK) != 0) SDL_JoystickUpdate();
  for (uint8_t i = 0; i < count; ++i) {
    InputBinding& binding = first[i];
    binding.joystickHeld = 0;
    bool down = keys != nullptr && binding.key < keyCount && keys[binding.key] == 1;
    const bool validJoystick = binding.joystick >= 0 && binding.joystick < kJoystickSlots;
    SDL_Joystick* joystick = validJoystick ? joysticks[binding.joystick] : nullptr;
    if (joystick != nullptr && joystickActive(joystick, binding)) {
      down = true;
      binding.joystickHeld = 1;
    }
    updateEdge(binding, down);
  }
}

uint8_t openJoysticks(SDL_Joystick** joysticks) {
  const uint8_t reported = static_cast<uint8_t>(SDL_NumJoysticks());
  // Six players, six entries: joysticks beyond the table are not opened, and
  // closeJoysticks walks at most the table even when every entry is used.
  const int opened = reported < kJoystickSlots ? reported : kJoystickSlots;
  for (int i = 0; i < opened; ++i) joysticks[i] = SDL_JoystickOpen(i);
  return reported;
}

void closeJoysticks(SDL_Joystick** joysticks) {
  for (int i = 0; i < kJoystickSlots && joysticks[i] != nullptr; ++i) {
    SDL_JoystickClose(joysticks[i]);
    joysticks[i] = nullptr;
  }
}

void setDefaultBindings(InputBinding* bindings) {
  for (int i = 0; i < kBindingCount; ++i) bindings[i] = InputBinding{};
  struct Default {
    Button button;
    uint16_t key;
    uint8_t isAxis;
    uint8_t code;
  };
  // clang-format off
  static constexpr Default kPlayerZero[] = {
      {ButtonUp, SDLK_UP, 1, kStickUp},
      {ButtonDown, SDLK_DOWN, 1, kStickDown},
      {ButtonLeft, SDLK_LEFT, 1, kStickLeft},
      {ButtonRight, SDLK_RIGHT, 1, kStickRight},
      {ButtonConfirm, SDLK_z, 0, 0},
      {ButtonCancel, SDLK_x, 0, 2},
      {ButtonExtra1, SDLK_c, 0, 1},
      {ButtonExtra2, SDLK_v, 0, 8},
      {ButtonExtra3, SDLK_UNKNOWN, 0, 0},
  };
  // clang-format on
  for (const Default& d : kPlayerZero) {
    InputBinding& binding = bindings[bindingIndex(0, d.button)];
    binding.key = d.key;
    binding.isAxis = d.isAxis;
    binding.code = d.code;
    binding.joystick = 0;
  }
}

}  // namespace app
