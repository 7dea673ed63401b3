// Linux keeps UTC: the kernel's clock is judged against the server's UTC, and
// the zone options that shape the local times shown are taken off again
// before the clock is set.
#include "timeclient/frame.h"

#include "base/units.h"
#include "platform/win32.h"
#include "zones/localtime.h"

namespace {
// Clock values wrap modulo 2^32 like the 32-bit seconds they are.
int32_t shifted(int32_t value, int32_t by) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(by));
}


// The kernel's UTC now, in seconds since 1970 (-1 outside the clock's
// range), and its milliseconds.
int32_t kernelSeconds(WORD* milliseconds) {
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  *milliseconds = utc.wMilliseconds;
  return utcToSeconds(utc.wYear - 1900, utc.wMonth - 1, utc.wDay - 1, utc.wHour, utc.wMinute,
                      utc.wSecond);
}
}  // namespace

int32_t judgedClockSeconds(int32_t correction) {
  WORD ms;
  // Milliseconds are dropped: the decision counts whole seconds.
  int32_t secs = kernelSeconds(&ms);
  return secs < 0 ? -1 : shifted(secs, correction);
}

int64_t judgedClockMs() {
  WORD ms;
  int32_t secs = kernelSeconds(&ms);
  return secs < 0 ? -1 : int64_t{secs} * msPerSecond + ms;
}

bool judgedClockUs(int64_t* us) { return kronPreciseSystemTime(us) != FALSE; }

int32_t clockSecondsToSet(int32_t decided, int32_t correction) {
  return shifted(decided, -correction);
}
