// The animated widgets every scene is drawn from: framed windows, the
// backdrop, the play-mode banner, scene headings and dialogs. Each animated
// widget keeps its state in one program-wide variable shared by every scene;
// a widget advances its animation once per call. Coordinates are window
// pixels, y down; computed positions truncate toward zero.
#pragma once

#include <cstdint>

#include "app/context.h"
#include "scenes/palette.h"
#include "text/text.h"

namespace scenes {

using namespace app;

using text::HeadingLabels;

enum class DialogKind : uint8_t { DialogMessage = 0, DialogYesNo = 1 };

// 0: nothing decided yet (message dialog: not fully open); 1: "yes" chosen
// (message dialog: fully open); 2: "no" chosen or cancelled.
using DialogResult = uint8_t;
inline constexpr DialogResult kDialogPending = 0;
inline constexpr DialogResult kDialogYes = 1;
inline constexpr DialogResult kDialogNo = 2;

namespace widgets {

// Program-wide animation state; set once at program start, never reset by a
// scene change.
struct WidgetState {
  float backdropPhase = 0;  // radians
  int bannerScroll = 0;     // source pixels
  float bannerAlpha = 1.0f;
  float headingProgress = 0;  // 0 closed .. 3 open
  const GfxImage* dialogMessage = nullptr;
  float dialogZoom = 0;
  uint8_t dialogChoice = 0;  // 1 = "yes" highlighted, 0 = "no"
};
WidgetState& state();

// A frame alpha that stands for 80 % of the current draw alpha.
inline constexpr float kFrameAlphaFromFill = -1.0f;

// The window of (x, y, w, h): sheet 0 tinted with the frame colour, then
// sheet 1 and the interior in the current draw colour. Under 20 pixels wide
// or high it draws nothing. Leaves the colour as it was and the scale at 1.
void drawWindow(GameContext& ctx, int x, int y, int w, int h, float frameRed, float frameGreen,
                float frameBlue, float frameAlpha);
// The usual window: the current draw colour in a black frame at 80 % of
// its alpha.
void drawPanel(GameContext& ctx, int x, int y, int w, int h);
// A window in the fill of style's look for the highlight, then image with
// its top-left corner at (imageX, imageY) in the look's text colour, both at
// alpha. Leaves the draw colour at the text colour, for further pictures on
// the same button.
void drawButton(GameContext& ctx, int x, int y, int w, int h, GfxImage& image, int imageX,
                int imageY, bool highlighted, float alpha = 1,
                const palette::Style& style = palette::kButton);
// The same with the window and the label lit apart: the room list's bar
// keeps the label of its highlighted button lit while the cursor is in the
// grid, and lights its window only while the cursor is on the bar.
void drawButtonLitApart(GameContext& ctx, int x, int y, int w, int h, GfxImage& image, int imageX,
                        int imageY, bool litWindow, bool litLabel, const palette::Style& style);
// The same with the program-wide sheets and a half-alpha black frame.
void drawPlainWindow(int x, int y, int w, int h);
void drawBackdrop(GameContext& ctx);
// One frame of the play-mode banner sweep; true when the sweep has just
// finished.
bool drawModeBanner(GameContext& ctx, PlayMode mode);
// One frame of the heading plates opening or closing; true when complete.
bool drawHeading(GameContext& ctx, bool closing, HeadingLabels& heading);
// One frame of a dialog centred on (cx, cy) reading the given player's
// buttons. A new message opens a new dialog; a null message forgets it.
DialogResult runDialog(GameContext& ctx, int cx, int cy, int w, int h, GfxImage* message,
                       DialogKind kind, uint8_t player);

// The scale that stretches a 10-pixel cell to exactly `pixels` pixels: the
// float quotient pixels / 10 can land a hair below, which would leave a
// one-pixel gap after truncation.
float stretchScale(int pixels);

}  // namespace widgets

}  // namespace scenes
