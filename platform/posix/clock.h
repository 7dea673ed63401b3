// The clock seam: GetTickCount, GetLocalTime, GetSystemTime, the performance
// counter and SetSystemTime all go through one driver, the real clocks in the program and a virtual
// clock in tests.
#pragma once
#include "platform/win32.h"

struct ClockDriver {
  DWORD (*tickCount)();
  void (*localTime)(SYSTEMTIME* out);
  void (*systemTime)(SYSTEMTIME* utc);
  int64_t (*microseconds)();  // the performance counter, monotonic
  BOOL (*setSystemTime)(const SYSTEMTIME* utc);
};

// Returns errno of the latest SetSystemTime that failed on the real clock
// (EPERM without the right to set it), 0 before any.
int lastClockSetError();

// Routes the clock calls to driver; nullptr restores the real clocks.
// The driver must outlive its use.
void useClockDriver(const ClockDriver* driver);
