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

// Draws every visible window, bottom first; returns the clickable areas.
std::vector<HitArea> drawWindows(bool busy);

// The screen cell where a control starts (row, column).
void controlCell(HWND control, int* row, int* col);
