// The terminal front end: kronsec's dialogs drawn with ncurses from the same
// templates as on Windows, each at the scale that fits it on the terminal
// (draw.cpp), driven by keyboard and mouse.
#pragma once
#include <string>

#include "platform/posix/core.h"

// Takes over the terminal and returns the front end; nullptr when the
// terminal cannot be used (then the caller falls back to headless).
const FrontEnd* tuiFrontEnd();

// Whether the terminal's input reached its end or failed, which closed the
// program (the run then ends with status 1).
bool tuiInputLost();

// Shows a note on the screen's bottom line, beside the dialogs (the drift
// kronsec learnt); "" for none.
void tuiShowNote(const std::string& note);

// Gives the terminal back as it was; safe to call more than once and from a
// crash handler.
void tuiShutdown();
