#include "scenes/widgets.h"

#include <algorithm>
#include <cmath>

#include "render/draw.h"
#include "render/layer.h"
#include "render/video.h"

namespace scenes {

using namespace app;

namespace widgets {
namespace {

WidgetState widgetState;
// The backdrop's fill, bands and large circle, which are the same in every
// frame: drawn once, then copied. Lives for the whole program; refilled when
// the band picture or the GL context changes.
render::ScreenLayer backdropBase;

constexpr int kCell = 10;  // frame sheets are 3 x 3 cells of 10 pixels

struct Colour {
  float r, g, b, a;
};

Colour currentColour() {
  const float* c = render::drawState().color;
  return {c[0], c[1], c[2], c[3]};
}

void setColour(const Colour& c) { render::setDrawColor(c.r, c.g, c.b, c.a); }

void drawCell(GfxImage& sheet, int x, int y, int column, int row, float scaleX, float scaleY) {
  render::setDrawScale(scaleX, scaleY, 0);
  render::drawImage(x, y, &sheet, column * kCell, row * kCell, kCell, kCell);
}

// The eight rim cells of one sheet around the interior (iw x ih), as one
// batch: corners at natural size, edges stretched by (sx, sy).
void drawRim(GfxImage& sheet, int x, int y, int iw, int ih, float sx, float sy) {
  const render::ImageBatch batch(sheet);
  drawCell(sheet, x, y, 0, 0, 1, 1);
  drawCell(sheet, x + kCell, y, 1, 0, sx, 1);
  drawCell(sheet, x + kCell + iw, y, 2, 0, 1, 1);
  drawCell(sheet, x, y + kCell, 0, 1, 1, sy);
  drawCell(sheet, x + kCell + iw, y + kCell, 2, 1, 1, sy);
  drawCell(sheet, x, y + kCell + ih, 0, 2, 1, 1);
  drawCell(sheet, x + kCell, y + kCell + ih, 1, 2, sx, 1);
  drawCell(sheet, x + kCell + iw, y + kCell + ih, 2, 2, 1, 1);
}

// Both window kinds: pass 0 lays sheet 0 in the frame colour, pass 1 lays
// the interior and sheet 1 in the colour current at the call. The interior
// and the rim cells do not overlap, so the interior is filled before the
// rim of pass 1 rather than amid it: the same pixels, and each rim is one
// batch.
void drawFramed(GfxImage* sheets, int x, int y, int w, int h, const Colour& frame) {
  const int iw = w - 2 * kCell;
  const int ih = h - 2 * kCell;
  if (iw < 0 || ih < 0) return;
  const Colour fill = currentColour();
  const float sx = stretchScale(iw);
  const float sy = stretchScale(ih);
  setColour(frame);
  drawRim(sheets[0], x, y, iw, ih, sx, sy);
  setColour(fill);
  render::setDrawScale(1, 1, 0);
  render::fillRect(x + kCell, y + kCell, iw, ih);
  drawRim(sheets[1], x, y, iw, ih, sx, sy);
}

}  // namespace

WidgetState& state() { return widgetState; }

float stretchScale(int pixels) {
  float scale = static_cast<float>(pixels) / kCell;
  while (static_cast<int>(kCell * scale) < pixels) scale = std::nextafter(scale, 1e9f);
  return scale;
}

void drawWindow(GameContext& ctx, int x, int y, int w, int h, float frameRed, float frameGreen,
                float frameBlue, float frameAlpha) {
  if (frameAlpha == kFrameAlphaFromFill) frameAlpha = currentColour().a * 0.8f;
  drawFramed(ctx.frameImages.data(), x, y, w, h, {frameRed, frameGreen, frameBlue, frameAlpha});
}

void drawPanel(GameContext& ctx, int x, int y, int w, int h) {
  drawWindow(ctx, x, y, w, h, 0, 0, 0, kFrameAlphaFromFill);
}

namespace {

void drawLitButton(GameContext& ctx, int x, int y, int w, int h, GfxImage& image, int imageX,
                   int imageY, const palette::Rgb& fill, const palette::Rgb& text, float alpha) {
  render::setDrawColor(fill.r, fill.g, fill.b, alpha);
  drawPanel(ctx, x, y, w, h);
  render::setDrawColor(text.r, text.g, text.b, alpha);
  render::drawImage(imageX, imageY, image);
}

}  // namespace

void drawButton(GameContext& ctx, int x, int y, int w, int h, GfxImage& image, int imageX,
                int imageY, bool highlighted, float alpha, const palette::Style& style) {
  const palette::Look& look = style.pick(highlighted);
  drawLitButton(ctx, x, y, w, h, image, imageX, imageY, look.fill, look.text, alpha);
}

void drawButtonLitApart(GameContext& ctx, int x, int y, int w, int h, GfxImage& image, int imageX,
                        int imageY, bool litWindow, bool litLabel, const palette::Style& style) {
  drawLitButton(ctx, x, y, w, h, image, imageX, imageY, style.pick(litWindow).fill,
                style.pick(litLabel).text, 1);
}

void drawPlainWindow(int x, int y, int w, int h) {
  drawFramed(sharedFrameImages.data(), x, y, w, h, {0, 0, 0, currentColour().a / 2});
}

void drawBackdrop(GameContext& ctx) {
  float& t = widgetState.backdropPhase;
  if (backdropBase.holds(ctx.barImage.texture)) {
    backdropBase.draw(0, 0);
    render::setDrawScale(1, 1, 0);
  } else {
    render::setDrawColor(0.5f, 0.9f, 0.3f, 1.0f);
    render::fillRect(0, 0, 640, 480);
    render::setDrawScale(1, 1, 0);
    const int barHeight = ctx.barImage.pixelHeight();
    for (int y = 0; barHeight > 0 && y < 480; y += barHeight) {
      render::setDrawColor(1, 1, 1, y / 480.0f + 0.1f);
      render::drawImage(0, y, ctx.barImage);
    }
    render::setDrawColor(0.7f, 1.0f, 0.5f, 0.8f);
    render::fillCircle(100, 200, 200);
    backdropBase.capture(0, 0, 640, 480, ctx.barImage.texture);
  }

  render::setDrawColor(0.7f, 1.0f, 0.5f, 1.0f);
  render::fillCircle(static_cast<int>(100 + 150 * std::cos(t)),
                     static_cast<int>(200 + 150 * std::sin(t)), 100);
  t += 0.02f;

  const int halfW = ctx.circleImage.pixelWidth() / 2;
  const int halfH = ctx.circleImage.pixelHeight() / 2;
  for (int i = 0; i < 8; ++i) {
    const float b = 0.7865f * i + t;
    const float d = 0.5f * std::cos(b) + 1;
    render::setDrawScale(d, d, 0);
    render::setDrawColor(0.7f, 1.0f, 0.5f, 0.5f * d);
    render::drawImage(static_cast<int>(280 * std::cos(b - 0.39325f) + 300 - halfW),
                      static_cast<int>(280 * std::sin(b) + 200 - halfH), ctx.circleImage);
  }
}

bool drawModeBanner(GameContext& ctx, PlayMode mode) {
  GfxImage& banner = ctx.modeLabels[static_cast<int>(mode)];
  const int w = banner.pixelWidth();
  // Without a font there is no plate to sweep; the sweep is over at once
  // rather than never.
  if (w == 0) return true;
  int& scroll = widgetState.bannerScroll;
  float& alpha = widgetState.bannerAlpha;
  render::setDrawScale(2, 2, 0);
  render::setDrawColor(1, 1, 1, alpha);
  render::drawImage(0, 0, &banner, scroll, 0, 640, banner.pixelHeight());
  if (w - 320 > scroll) {
    scroll = static_cast<int>(w / (render::video().targetFrameRate * 2.5f) + scroll);
  }
  if (scroll > w * 0.5f && alpha > 0) alpha -= 0.02f;
  if (alpha <= 0) {
    alpha = 1;
    scroll = 0;
    return true;
  }
  return false;
}

bool drawHeading(GameContext& ctx, bool closing, HeadingLabels& heading) {
  float& t = widgetState.headingProgress;
  render::setDrawColor(0.3f, 0.6f, 0.1f, 0.6f);
  drawPanel(ctx, 45, -10, 250, static_cast<int>(std::min(t, 1.0f) * 85));
  if (t > 1) {
    const float d = std::min(t - 1, 1.0f);
    render::setDrawColor(0.5f, 0.9f, 0.0f, 0.6f);
    drawPanel(ctx, static_cast<int>((1 - d) * -275), 20, 275, 40);
  }
  if (t > 2) {
    render::setDrawScale(1, 1, 0);
    render::setDrawColor(1, 1, 1, t - 2);
    render::drawImage(65, 30, heading.title);
    render::drawImage(145, 55, heading.subtitle);
  }
  if (!closing) {
    if (t < 3) {
      t += 0.05f;
      return false;
    }
    return true;
  }
  if (t <= 0) return true;
  t -= 0.05f;
  return false;
}

namespace {

// A yes or no button of a dialog zoomed by z, its top-left corner at
// (bx, by).
void drawDialogButton(GameContext& ctx, GfxImage& label, float bx, float by, float z,
                      bool highlighted) {
  const int bw = label.pixelWidth() + 30;
  const int bh = label.pixelHeight() + 20;
  drawButton(ctx, static_cast<int>(bx), static_cast<int>(by), static_cast<int>(bw * z),
             static_cast<int>(bh * z), label, static_cast<int>(bx + 15 * z),
             static_cast<int>(by + 10 * z), highlighted);
}

}  // namespace

DialogResult runDialog(GameContext& ctx, int cx, int cy, int w, int h, GfxImage* message,
                       DialogKind kind, uint8_t player) {
  WidgetState& s = widgetState;
  if (message == nullptr) {
    s.dialogMessage = nullptr;
    return kDialogPending;
  }
  if (message != s.dialogMessage) {
    s.dialogMessage = message;
    s.dialogZoom = 0.2f;
    s.dialogChoice = 0;
    // The press that opened the dialog must not act on it.
    for (Button b : {ButtonLeft, ButtonRight, ButtonConfirm, ButtonCancel}) {
      ctx.binding(player, b).justPressed = 0;
    }
  }
  float& z = s.dialogZoom;
  if (z < 1) z += 0.1f;
  if (kind == DialogKind::DialogYesNo) {
    if (ctx.justPressed(player, ButtonLeft)) s.dialogChoice = 1;
    if (ctx.justPressed(player, ButtonRight)) s.dialogChoice = 0;
    if (ctx.justPressed(player, ButtonCancel)) {
      s.dialogChoice = 0;
      return kDialogNo;
    }
    if (ctx.justPressed(player, ButtonConfirm)) return s.dialogChoice == 1 ? kDialogYes : kDialogNo;
  }

  const int hw = w / 2;
  const int hh = h / 2;
  const float left = cx - hw * z;
  const float top = cy - hh * z;
  render::setDrawColor(0.4f, 0.7f, 0.2f, 1.0f);
  drawPanel(ctx, static_cast<int>(left), static_cast<int>(top), static_cast<int>(w * z),
            static_cast<int>(h * z));
  render::setDrawColor(1, 1, 1, 1);
  render::setDrawScale(z, z, 0);
  render::drawImage(static_cast<int>(left + 25 * z), static_cast<int>(top + 15 * z), *message);
  const float by = top + (h - 55) * z;
  if (kind == DialogKind::DialogYesNo) {
    drawDialogButton(ctx, ctx.yesLabel, left + z * hw, by, z, s.dialogChoice == 1);
    drawDialogButton(ctx, ctx.noLabel, left + (w - 110) * z, by, z, s.dialogChoice == 0);
    render::setDrawScale(1, 1, 0);
    return kDialogPending;
  }
  return z >= 1 ? kDialogYes : kDialogPending;
}

}  // namespace widgets

}  // namespace scenes
