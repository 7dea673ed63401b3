// On Windows the C runtime calls WinMain; the process start-up runs before it
// as a static initialiser of the program.
#include "program/shell.h"

namespace {
struct ProcessStartup {
  ProcessStartup() { processStartup(); }
} const startup;
}  // namespace
