// Windows keeps local time: the decision's frame is the local clock read
// through the TZ text, and the value it chose is set as it stands.
#include "timeclient/frame.h"

#include "base/units.h"
#include "platform/win32.h"
#include "zones/localtime.h"

int32_t judgedClockSeconds(int32_t) { return localClockSeconds(); }

int64_t judgedClockMs() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  int32_t secs = localToSeconds(now.wYear - 1900, now.wMonth - 1, now.wDay - 1, now.wHour,
                                now.wMinute, now.wSecond);
  return secs < 0 ? -1 : int64_t{secs} * msPerSecond + now.wMilliseconds;
}

// Windows' clock is read to the millisecond, and Windows 95's nothing finer.
bool judgedClockUs(int64_t*) { return false; }

int32_t clockSecondsToSet(int32_t decided, int32_t) { return decided; }
