// The Linux front ends.
#pragma once
#include <signal.h>

#include <string>

#include "platform/posix/core.h"

// No terminal (cron, scripts): boxes go to stderr as single lines, the
// Yes/No/Cancel question is answered Cancel, a loop with nothing left to wait
// for closes the dialog as the user's Close would, and the program ends as
// soon as its dialog has.
const FrontEnd* headlessFrontEnd();

// The signal (SIGINT, SIGTERM, SIGHUP) that asked the run to stop, 0 while
// none has: the boxes it causes (a cancelled connect) are not news.
extern volatile sig_atomic_t stopSignal;

// Returns the line a box becomes on stderr: "kronsec: CAPTION: TEXT", the
// text's line breaks and runs of blanks as single blanks, and without a
// "kronsec: " of its own at the start.
std::string headlessBoxLine(const std::string& caption, const std::string& text);

