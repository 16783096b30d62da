#include "app/settings.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/platform.h"

namespace app {

namespace {

constexpr const char* kButtonNames[kButtonsPerPlayer] = {
    "up", "down", "left", "right", "confirm", "cancel", "extra1", "extra2", "extra3"};
constexpr const char* kWindowNames[kWindowModeCount] = {"640x480", "1280x960", "1920x1440",
                                                        "fullscreen"};
constexpr const char* kStickNames[4] = {"left", "up", "right", "down"};
constexpr uint8_t kStickCodes[4] = {kStickLeft, kStickUp, kStickRight, kStickDown};
constexpr char kNoKey[] = "none";
constexpr int kJoystickButtons = 32;  // buttons a source may name, 0..31
constexpr size_t kMaxLine = 200;

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

int buttonNamed(const std::string& name) {
  for (int i = 0; i < kButtonsPerPlayer; ++i) {
    if (name == kButtonNames[i]) return i;
  }
  return -1;
}

bool parseKey(const std::string& value, uint16_t& key) {
  if (value == kNoKey) {
    key = SDLK_UNKNOWN;
    return true;
  }
  for (int k = SDLK_FIRST + 1; k < SDLK_LAST; ++k) {
    const char* name = SDL_GetKeyName(static_cast<SDLKey>(k));
    if (bindableKey(k) && value == name && std::strcmp(name, "unknown key") != 0) {
      key = static_cast<uint16_t>(k);
      return true;
    }
  }
  return false;
}

bool parseJoystick(const std::string& value, ButtonSource& source) {
  if (value.rfind("button ", 0) == 0) {
    const std::string number = value.substr(7);
    char* end = nullptr;
    const long n = std::strtol(number.c_str(), &end, 10);
    if (number.empty() || *end != '\0' || n < 0 || n >= kJoystickButtons) return false;
    source.isAxis = 0;
    source.code = static_cast<uint8_t>(n);
    return true;
  }
  for (int i = 0; i < 4; ++i) {
    if (value == std::string("stick ") + kStickNames[i]) {
      source.isAxis = 1;
      source.code = kStickCodes[i];
      return true;
    }
  }
  return false;
}

// Applies one line; false when it cannot be used.
bool applyLine(const std::string& line, Options& options) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  const std::string name = trimmed(line.substr(0, equals));
  const std::string value = trimmed(line.substr(equals + 1));
  if (name == "window") {
    for (int i = 0; i < kWindowModeCount; ++i) {
      if (value == kWindowNames[i]) {
        options.window = static_cast<WindowMode>(i);
        return true;
      }
    }
    return false;
  }
  if (name.rfind("key.", 0) == 0) {
    const int button = buttonNamed(name.substr(4));
    return button >= 0 && parseKey(value, options.buttons[button].key);
  }
  if (name.rfind("joystick.", 0) == 0) {
    const int button = buttonNamed(name.substr(9));
    return button >= 0 && parseJoystick(value, options.buttons[button]);
  }
  return false;
}

}  // namespace

Options defaultOptions() {
  std::array<InputBinding, kBindingCount> bindings{};
  setDefaultBindings(bindings.data());
  return optionsFromBindings(bindings.data());
}

Options optionsFromBindings(const InputBinding* bindings) {
  Options options;
  for (int i = 0; i < kButtonsPerPlayer; ++i) {
    const InputBinding& b = bindings[i];
    options.buttons[i] = ButtonSource{b.key, b.isAxis, b.code};
  }
  return options;
}

void applyOptionBindings(const Options& options, InputBinding* bindings) {
  for (int i = 0; i < kButtonsPerPlayer; ++i) {
    InputBinding& b = bindings[i];
    b.key = options.buttons[i].key;
    b.isAxis = options.buttons[i].isAxis;
    b.code = options.buttons[i].code;
    b.joystick = 0;
  }
}

void rebind(Options& options, Button button, const ButtonSource& source, bool joystick) {
  ButtonSource& own = options.buttons[button];
  for (int i = 0; i < kButtonsPerPlayer; ++i) {
    ButtonSource& other = options.buttons[i];
    if (i == button) continue;
    if (!joystick && source.key != SDLK_UNKNOWN && other.key == source.key) other.key = own.key;
    if (joystick && other.isAxis == source.isAxis && other.code == source.code) {
      other.isAxis = own.isAxis;
      other.code = own.code;
    }
  }
  if (joystick) {
    own.isAxis = source.isAxis;
    own.code = source.code;
  } else {
    own.key = source.key;
  }
}

int readOptions(const char* path, Options& options) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  int skipped = 0;
  int number = 0;
  std::string line;
  while (std::getline(in, line)) {
    ++number;
    const std::string text = trimmed(line);
    if (text.empty() || text[0] == '#') continue;
    if (line.size() <= kMaxLine && applyLine(text, options)) continue;
    ++skipped;
    std::printf("%s:%d: skipped, not a setting: %.60s\n", path, number, text.c_str());
  }
  return skipped;
}

std::string formatOptions(const Options& options) {
  std::string out = "# Vellora options: written when the options screen is left.\n";
  out += std::string("window=") + windowModeName(options.window) + "\n";
  for (int i = 0; i < kButtonsPerPlayer; ++i) {
    out += std::string("key.") + kButtonNames[i] + "=" + keyName(options.buttons[i].key) + "\n";
    out +=
        std::string("joystick.") + kButtonNames[i] + "=" + joystickName(options.buttons[i]) + "\n";
  }
  return out;
}

bool writeOptions(const char* path, const Options& options) {
  if (platform::replaceFile(path, formatOptions(options))) return true;
  std::printf("%s: could not be written; the options stay as they were in it\n", path);
  return false;
}

const char* windowModeName(WindowMode mode) {
  return kWindowNames[static_cast<int>(mode) % kWindowModeCount];
}

std::string keyName(uint16_t key) {
  if (key == SDLK_UNKNOWN || key >= SDLK_LAST) return kNoKey;
  return SDL_GetKeyName(static_cast<SDLKey>(key));
}

std::string joystickName(const ButtonSource& source) {
  if (source.isAxis == 0) return "button " + std::to_string(source.code);
  for (int i = 0; i < 4; ++i) {
    if (source.code == kStickCodes[i]) return std::string("stick ") + kStickNames[i];
  }
  return "stick left";  // other codes read as left (stickActive)
}

bool bindableKey(int key) { return key > SDLK_UNKNOWN && key < SDLK_LAST && key != SDLK_ESCAPE; }

}  // namespace app
