// The Linux front ends.
#pragma once
#include "platform/posix/core.h"

// No terminal (cron, scripts): boxes go to stderr as "caption: text", the
// Yes/No/Cancel question is answered Cancel, and a loop with nothing left to
// wait for closes the dialog as the user's Close would.
const FrontEnd* headlessFrontEnd();
