#include "platform/posix/clock.h"

#include <errno.h>
#include <sys/timex.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {
// The TZ the user's environment held when the process started. The program
// later puts its own TZ text into its environment for its own conversions;
// the machine's wall clock must not follow that.
struct InheritedZone {
  bool present = false;
  std::string text;
  InheritedZone() {
    const char* tz = std::getenv("TZ");
    if (tz) {
      present = true;
      text = tz;
    }
  }
};
const InheritedZone inheritedZone;

// Sets TZ to `to` and re-reads it; returns the TZ it replaced (a default
// InheritedZone captures the environment as it stands).
InheritedZone swapZone(const InheritedZone& to) {
  InheritedZone was;
  if (to.present)
    setenv("TZ", to.text.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  return was;
}

DWORD realTickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);  // wraps like the Windows counter
}

int clockSetError = 0;
int lastClockError = 0;  // of the latest clock call that failed, whichever

int64_t microsecondsOf(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t realMicroseconds() { return microsecondsOf(CLOCK_MONOTONIC); }

int64_t realUtcMicroseconds() { return microsecondsOf(CLOCK_REALTIME); }

void fillSystemTime(const tm& fields, long nanoseconds, SYSTEMTIME* out) {
  out->wYear = static_cast<WORD>(fields.tm_year + 1900);
  out->wMonth = static_cast<WORD>(fields.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(fields.tm_wday);
  out->wDay = static_cast<WORD>(fields.tm_mday);
  out->wHour = static_cast<WORD>(fields.tm_hour);
  out->wMinute = static_cast<WORD>(fields.tm_min);
  out->wSecond = static_cast<WORD>(fields.tm_sec > 59 ? 59 : fields.tm_sec);
  out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

void realLocalTime(SYSTEMTIME* out) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  time_t seconds = now.tv_sec;
  InheritedZone programZone = swapZone(inheritedZone);
  tm fields;
  localtime_r(&seconds, &fields);
  swapZone(programZone);
  fillSystemTime(fields, now.tv_nsec, out);
}

// The kernel keeps UTC: no zone takes part.
void realSystemTime(SYSTEMTIME* utc) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  time_t seconds = now.tv_sec;
  tm fields;
  gmtime_r(&seconds, &fields);
  fillSystemTime(fields, now.tv_nsec, utc);
}

BOOL realSetSystemTime(const SYSTEMTIME* utc) {
  tm fields{};
  fields.tm_year = utc->wYear - 1900;
  fields.tm_mon = utc->wMonth - 1;
  fields.tm_mday = utc->wDay;
  fields.tm_hour = utc->wHour;
  fields.tm_min = utc->wMinute;
  fields.tm_sec = utc->wSecond;
  timespec when{timegm(&fields), static_cast<long>(utc->wMilliseconds) * 1000000L};
  return clock_settime(CLOCK_REALTIME, &when) == 0;
}

int realAdjustTime(struct timex* t) { return adjtimex(t); }

int clockStatusError = 0;

const ClockDriver realClocks{realTickCount,     realLocalTime,        realSystemTime,
                             realMicroseconds,  realUtcMicroseconds,  realSetSystemTime,
                             realAdjustTime};
const ClockDriver* activeClocks = &realClocks;
}  // namespace

void useClockDriver(const ClockDriver* driver) {
  activeClocks = driver ? driver : &realClocks;
}

DWORD GetTickCount() { return activeClocks->tickCount(); }

void GetLocalTime(SYSTEMTIME* out) { activeClocks->localTime(out); }

void GetSystemTime(SYSTEMTIME* utc) { activeClocks->systemTime(utc); }

int lastClockSetError() { return clockSetError; }

int lastClockStatusError() { return clockStatusError; }

DWORD GetLastError() { return static_cast<DWORD>(lastClockError); }

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  count->QuadPart = activeClocks->microseconds();
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  frequency->QuadPart = 1000000;
  return TRUE;
}

BOOL kronPreciseSystemTime(int64_t* usSince1970) {
  if (!activeClocks->utcMicroseconds) return FALSE;
  *usSince1970 = activeClocks->utcMicroseconds();
  return TRUE;
}

BOOL SetSystemTime(const SYSTEMTIME* utc) {
  if (activeClocks->setSystemTime(utc)) return TRUE;
  lastClockError = clockSetError = errno;
  return FALSE;
}

int32_t kronSlewClock(int32_t deltaUs) {
  // adjtime's own request: the kernel makes the change at 0.5 ms a second.
  struct timex t{};
  t.modes = ADJ_OFFSET_SINGLESHOT;
  t.offset = deltaUs;
  if (activeClocks->adjustTime(&t) >= 0) return KRON_CLOCK_SLEWED;
  lastClockError = clockSetError = errno;
  return KRON_CLOCK_FAILED;
}

BOOL kronClockFrequency(int64_t* scaled) {
  struct timex now{};
  if (activeClocks->adjustTime(&now) < 0) return FALSE;
  *scaled = now.freq;
  return TRUE;
}

BOOL kronSetClockFrequency(int64_t scaled) {
  struct timex told{};
  told.modes = ADJ_FREQUENCY;
  told.freq = static_cast<long>(scaled);
  if (activeClocks->adjustTime(&told) >= 0) return TRUE;
  lastClockError = clockStatusError = errno;
  return FALSE;
}

BOOL kronClockSynchronised(int32_t estErrorUs, int32_t maxErrorUs) {
  // The status is read first: only STA_UNSYNC changes, the rest stays.
  struct timex now{};
  struct timex told{};
  told.modes = ADJ_STATUS | ADJ_ESTERROR | ADJ_MAXERROR;
  told.esterror = estErrorUs;
  told.maxerror = maxErrorUs;
  bool read = activeClocks->adjustTime(&now) >= 0;
  told.status = now.status & ~STA_UNSYNC;
  if (read && activeClocks->adjustTime(&told) >= 0) return TRUE;
  lastClockError = clockStatusError = errno;
  return FALSE;
}
