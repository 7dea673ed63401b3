// The main dialog's handling of the zone: the place list (103), the "Use TZ
// Env Var" box (109) and the labels showing the TZ text (110, 114). The TZ
// text in use is kept in AppState::tz and in the environment as "TZ".
#pragma once
#include "platform/win32.h"

struct AppState;

// Fills the list, settles useTZ and tz against the inherited environment and
// puts the TZ text into the environment when the list is in charge.
void initZoneControls(HWND dialog, AppState* state);

// The box 109 was clicked: shows the list or the environment's text.
void onUseTzClicked(HWND dialog, AppState* state);

// A place was picked in the list: its TZ text becomes the one in use.
void onZonePicked(HWND dialog, AppState* state);

// The dialog is going: the environment stops referring to the dialog's text.
void releaseZoneText();
