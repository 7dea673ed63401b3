// The clock seam: GetTickCount, GetLocalTime, GetSystemTime, the performance
// counter, the UTC clock to the microsecond (kronPreciseSystemTime),
// SetSystemTime and the kernel's clock discipline (kronSlewClock,
// kronClockSynchronised) all go through one driver, the real clocks in the
// program and a virtual clock in tests.
#pragma once
#include <sys/timex.h>

#include "platform/win32.h"

struct ClockDriver {
  DWORD (*tickCount)();
  void (*localTime)(SYSTEMTIME* out);
  void (*systemTime)(SYSTEMTIME* utc);
  int64_t (*microseconds)();  // the performance counter, monotonic
  // CLOCK_REALTIME in microseconds since 1970; nullptr for a clock read to
  // the millisecond only, as Windows reads its own.
  int64_t (*utcMicroseconds)();
  BOOL (*setSystemTime)(const SYSTEMTIME* utc);
  // adjtimex(2): reads (modes 0) or changes the kernel's clock discipline;
  // the clock state (>= 0), or -1 with errno set.
  int (*adjustTime)(struct timex* t);
};

// Returns errno of the latest SetSystemTime or kronSlewClock that failed
// (EPERM without the right to set the clock), 0 before any.
int lastClockSetError();

// Returns errno of the latest kronClockSynchronised that failed, 0 before any.
int lastClockStatusError();

// Routes the clock calls to driver; nullptr restores the real clocks.
// The driver must outlive its use.
void useClockDriver(const ClockDriver* driver);
