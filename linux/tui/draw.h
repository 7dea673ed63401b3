// Drawing of windows for the terminal front end, and the screen areas a
// mouse click can hit.
#pragma once
#include <vector>

#include "platform/posix/core.h"

// A clickable area of the screen: a control, a list row of a dropped list
// (row >= 0), or a message-box button.
struct HitArea {
  int top, left, bottom, right;  // inclusive cells
  HWND window;
  int32_t listRow;               // row of a dropped list, else -1
  int boxButton;                 // IDOK... for a box button, else 0
};

struct DrawnScreen {
  std::vector<HitArea> hits;
  int caretRow = -1, caretCol = -1;  // the focused edit's caret, when one shows
  bool tooSmall = false;             // a dialog did not fit: only a notice shows
};

// How controls are told apart: colours like dialog(1)'s, or attributes alone
// (reverse video for the focus) on a terminal without colours or when the
// user asked for none (NO_COLOR).
enum class Palette { Colour, Mono };
// Sets the palette; call once curses runs.
void useLooks(Palette palette);

// Draws every visible window, bottom first, each dialog at the scale that
// fits it on the screen, or a notice of the size needed where one cannot fit.
DrawnScreen drawWindows(bool busy);
