// The menus' looks that follow a highlight, named once: what a button, an
// icon cell or a room cell looks like plain and highlighted. Colours are
// red, green and blue, 0..1; the alpha is the caller's.
#pragma once

namespace scenes {

using namespace app;

namespace palette {

struct Rgb {
  float r, g, b;
};

// A window's fill and the colour of the pictures drawn on it.
struct Look {
  Rgb fill;
  Rgb text;
};

struct Style {
  Look plain;
  Look lit;  // highlighted

  constexpr const Look& pick(bool highlighted) const { return highlighted ? lit : plain; }
};

inline constexpr Rgb kWhite = {1, 1, 1};
inline constexpr Rgb kHighlightGreen = {0.5f, 0.9f, 0.0f};  // a highlighted button or icon

// The title's menu items, the button bars of the room list and the lobby,
// and the dialog's yes and no.
inline constexpr Style kButton = {{{0.6f, 0.9f, 0.4f}, {0.3f, 0.5f, 0.2f}},
                                  {kHighlightGreen, kWhite}};
// Character select's row of character icons.
inline constexpr Style kIconCell = {{{0.3f, 0.6f, 0.1f}, kWhite}, {kHighlightGreen, kWhite}};
// The room list's grid of rooms.
inline constexpr Style kRoomCell = {{{0, 0, 0}, kWhite}, {{0.2f, 0.2f, 0.2f}, kWhite}};

}  // namespace palette

}  // namespace scenes
