// The message boxes of the main dialog's query cycle. While the main dialog
// is minimised nobody is watching (a scheduled start): a box then closes
// itself after a while with its safe answer, so that the run always ends.
// Windows 95 has no message box with a time-out; this one is MessageBoxA
// with a thread timer that presses the safe button of the box it finds.
#pragma once
#include "platform/win32.h"

// The program's invisible host window: it owns the Winsock Error boxes, and
// its caption shows a result's time. Set by the program as it creates it.
extern HWND hostWindow;

// How long a box waits for a person before an unattended run answers it.
constexpr UINT unattendedBoxMs = 30000;

// Tells the boxes which window is the main dialog, whose minimised state
// makes them unattended; nullptr when it has gone (boxes then always wait).
void watchMainDialog(HWND dialog);

// MessageBoxA, with the same arguments and result, except that a box still
// open unattendedBoxMs after it opened (and at every such mark after that)
// while the main dialog is minimised closes itself with safeAnswer(type).
int cycleMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// The button that changes least among those of a box of this type: Cancel
// where there is one, else No, else OK (the Big Change question's Cancel
// leaves the clock alone); 0 for a type whose buttons are none of these.
int safeAnswer(UINT type);
