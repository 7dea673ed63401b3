// The clock seam: GetTickCount, GetLocalTime and SetSystemTime all go through
// one driver, the real clocks in the program and a virtual clock in tests.
#pragma once
#include "platform/win32.h"

struct ClockDriver {
  DWORD (*tickCount)();
  void (*localTime)(SYSTEMTIME* out);
  BOOL (*setSystemTime)(const SYSTEMTIME* utc);
};

// Routes the three clock calls to driver; nullptr restores the real clocks.
// The driver must outlive its use.
void useClockDriver(const ClockDriver* driver);
