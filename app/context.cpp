#include "app/context.h"

#include <SDL_mixer.h>
#include <SDL_net.h>
#include <SDL_ttf.h>

#include <cstdio>

#include "app/cursor.h"
#include "net/room_files.h"
#include "platform/platform.h"
#include "render/draw.h"
#include "render/video.h"
#include "text/sjis_strings.h"
#include "text/text.h"

namespace app {

std::array<GfxImage, 2> sharedFrameImages;

namespace {

constexpr char kProductTitle[] = "Vellora";
constexpr char kFrameFiles[2][24] = {"Graphic/BackFrame0.png", "Graphic/BackFrame1.png"};
constexpr char kCircleFile[] = "Graphic/Circle.png";
constexpr uint32_t kStartToggles = 0x40001007;
constexpr int kTitleFont = 1;  // 18 pt: labels and headings
constexpr int kPlateFont = 4;  // 142 pt bold: the play-mode plates
constexpr const char* kModeNames[3] = {"produce", "free battle", "net battle"};

}  // namespace

GameContext::~GameContext() {
  if (startStage != Stage::NotStarted) shutdownContext();
}

bool GameContext::initContext() {
  for (GfxImage& image : frameImages) render::releaseImage(image);
  joysticks.fill(nullptr);

  platform::settleHeap();
  platform::chooseVideoDriver();
  if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK) < 0) {
    platform::writeConsole(stdout, sjis::kSdlInitFailed);
    // SDL brings video up before audio: video down means no display.
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) std::printf("%s\n", platform::noDisplayAdvice());
    return false;
  }
  startStage = Stage::SdlUp;
  if (SDLNet_Init() == -1) {
    std::printf("SDLNet_Init: %s\n", SDL_GetError());
    return false;
  }
  startStage = Stage::NetUp;
  std::printf("Found JoyStickNum[ %d ]\n", openJoysticks(joysticks.data()));
  if (Mix_OpenAudio(22050, AUDIO_S16LSB, 2, 1024) < 0) {
    platform::writeConsole(stdout, sjis::kSoundInitFailed);
    return false;
  }
  startStage = Stage::AudioUp;

  char caption[128];
  text::shiftJisToUtf8(kProductTitle, caption, sizeof caption);
  SDL_WM_SetCaption(caption, nullptr);

  // Key names are SDL's video's: read once video is up.
  options = defaultOptions();
  readOptions(kOptionsFile, options);
  displayFlags = 0;
  if (!applyDisplaySettings(kStartToggles)) {
    std::printf("SDL_SetVideoMode: %s\n", SDL_GetError());
    return false;
  }
  startStage = Stage::VideoUp;

  render::loadImage(frameImages[0], kFrameFiles[0]);
  render::loadImage(frameImages[1], kFrameFiles[1]);
  render::loadImage(sharedFrameImages[0], kFrameFiles[0]);
  render::loadImage(sharedFrameImages[1], kFrameFiles[1]);
  render::loadImage(circleImage, kCircleFile);

  for (int i = 0; i < kFontCount; ++i) fonts[i] = text::openFont(kFontFile, kFontSizes[i]);
  if (fonts[kPlateFont] != nullptr) TTF_SetFontStyle(fonts[kPlateFont], TTF_STYLE_BOLD);
  textColor = SDL_Color{255, 255, 255, 0};

  text::renderText(sjis::kYes, yesLabel, fonts[kTitleFont], textColor, true);
  text::renderText(sjis::kNo, noLabel, fonts[kTitleFont], textColor, true);
  for (int i = 0; i < 3; ++i) {
    text::makeKnockoutLabel(kModeNames[i], modeLabels[i], fonts[kPlateFont], textColor);
  }

  barImage.surface = render::createSurface(640, 25, 1);
  render::setDrawColor(0.4f, 0.7f, 0.4f, 1.0f);
  render::fillRectOn(barImage.surface, 0, 0, 640, 25);
  text::makeFadeBand(barImage);

  SDL_SetIMValues(1, 1, 0);
  SDL_SetIMValues(2, 1, 0);
  if (IMM_Init() == 0) std::fprintf(stderr, "Couldn't initialize SDL_imm: %s\n", SDL_GetError());

  setRoomDefaults();
  readRoomConfig();
  setCharacterDefaults();
  startStage = Stage::Complete;
  return true;
}

bool GameContext::applyDisplaySettings(uint32_t toggles) {
  const auto flip = [&](uint32_t bit) {
    if ((toggles & bit) != 0) displayFlags ^= bit;
  };
  flip(render::kFrameSkip);
  flip(render::kHalfRate);
  frameRate = (displayFlags & render::kHalfRate) != 0 ? 30 : 60;
  render::setFrameRate(frameRate);
  flip(render::kLowDepth);
  colorDepth = (displayFlags & render::kLowDepth) != 0 ? 16 : 32;
  flip(render::kOpenGl);
  flip(render::kHwSurface);
  flip(render::kFullscreen);
  // The picture of the options comes with the first mode: a later change of
  // size only resizes the window, whose buffers stay as first made.
  render::noteDesktopSize();
  bool set = false;
  if (options.window != WindowMode::Scale1) {
    set = setPicture(options.window);
    if (!set) {
      std::printf("%s: the screen cannot show it; using the 640x480 window\n",
                  windowModeName(options.window));
      options.window = WindowMode::Scale1;
    }
  }
  if (!set) set = render::setVideoMode(640, 480, colorDepth, displayFlags);
  showCursorFor((render::video().videoFlags & render::kFullscreen) != 0);
  return set;
}

bool GameContext::setPicture(WindowMode mode) {
  if (!windowModeFits(mode)) return false;
  const render::VideoState& v = render::video();
  const bool full = mode == WindowMode::Fullscreen;
  const int scale = static_cast<int>(mode) + 1;
  const uint16_t w = full ? v.desktopWidth : static_cast<uint16_t>(640 * scale);
  const uint16_t h = full ? v.desktopHeight : static_cast<uint16_t>(480 * scale);
  const uint32_t flags = full ? displayFlags | render::kFullscreen : displayFlags;
  return w != 0 && render::setVideoMode(640, 480, colorDepth, flags, w, h);
}

void GameContext::showCursorFor(bool fullScreen) {
  if (fullScreen) {
    SDL_ShowCursor(SDL_DISABLE);
    return;
  }
  if (mouseCursor == nullptr) mouseCursor = buildCursor(kArrowCursor);
  SDL_SetCursor(mouseCursor);
  SDL_ShowCursor(SDL_ENABLE);
}

bool GameContext::windowModeFits(WindowMode mode) {
  const render::VideoState& v = render::video();
  if (mode == WindowMode::Fullscreen || mode == WindowMode::Scale1) return true;
  const int scale = static_cast<int>(mode) + 1;
  return v.desktopWidth == 0 || (640 * scale <= v.desktopWidth && 480 * scale <= v.desktopHeight);
}

WindowMode GameContext::applyWindowMode(WindowMode mode) {
  const render::VideoState& v = render::video();
  if (mode == WindowMode::Scale1 && v.windowWidth == 640 && v.windowHeight == 480 &&
      (v.videoFlags & render::kFullscreen) == 0) {
    return mode;
  }
  if (!setPicture(mode)) {
    std::printf("%s: the screen cannot show it; using the 640x480 window\n", windowModeName(mode));
    if (!render::setVideoMode(640, 480, colorDepth, displayFlags)) {
      std::printf("SDL_SetVideoMode: %s\n", SDL_GetError());
    }
    mode = WindowMode::Scale1;
  }
  // The cursor as the mode in force asks, however it was reached.
  showCursorFor((v.videoFlags & render::kFullscreen) != 0);
  return mode;
}

void GameContext::shutdownContext() {
  if (startStage >= Stage::VideoUp && mouseCursor != nullptr) {
    SDL_FreeCursor(mouseCursor);
    mouseCursor = nullptr;
  }
  if (startStage >= Stage::NetUp) closeJoysticks(joysticks.data());
  if (startStage >= Stage::AudioUp) {
    Mix_HaltChannel(-1);
    Mix_HaltMusic();
    Mix_CloseAudio();
  }
  if (startStage >= Stage::NetUp) SDLNet_Quit();
  for (TTF_Font*& font : fonts) {
    if (font != nullptr) TTF_CloseFont(font);
    font = nullptr;
  }
  render::videoShutdown();
  SDL_Quit();
  render::releaseImage(circleImage);
  render::releaseImage(barImage);
  for (int i = 2; i >= 0; --i) render::releaseImage(modeLabels[i]);
  render::releaseImage(noLabel);
  render::releaseImage(yesLabel);
  for (int i = 1; i >= 0; --i) render::releaseImage(frameImages[i]);
  startStage = Stage::NotStarted;
}

void GameContext::changeScene(SceneId id) {
  sceneId = id;
  entryPending = 1;
}

bool GameContext::readRoomConfig() {
  return net::readRoomConfig(net::kRoomConfigFile, hostRoom, profile, hostReach);
}

void GameContext::setRoomDefaults() {
  // Fields no setting gives a value (address, counts, owner, reserved bytes)
  // start zeroed.
  hostRoom = RoomRecord{};
  hostReach = net::HostReachSettings{};
  hostRoom.port = 6247;
  hostRoom.maxPlayers = 6;
  copyField(hostRoom.roomName, sjis::kDefaultRoomName);
  copyField(hostRoom.comment, sjis::kDefaultComment);
  copyField(profile.name, "482P");
}

void GameContext::setCharacterDefaults() {
  gameAvailable = 0;
  characterAvailable.fill(0);
  characterAvailable[0] = 1;
  characterAvailable[10] = 1;
  characterStats[0] = {550, 430, 480, 600};
  characterStats[10] = {1000, 1000, 1000, 1000};
}

}  // namespace app
