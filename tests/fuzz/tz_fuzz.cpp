// kronsec's local-time rules on any TZ text: the input up to its first NUL is
// the environment's TZ; values for the conversions both ways come from its
// end. UBSan watches the arithmetic; the checks watch the ranges.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "tests/fuzz/support.h"
#include "zones/localtime.h"

namespace {

// The one caller passes GetLocalTime's fields. A day of 2^31 keeps the month
// carry loop busy for over half a second under the sanitizers, so days and
// hours stay within about eleven thousand years.
constexpr int32_t kFieldLimit = 1 << 22;

// A local breakdown read back as seconds gives the same instant, or one an
// hour off where the daylight change makes the wall-clock time ambiguous.
void checkLocalRoundTrip(int32_t seconds) {
  std::optional<BrokenDownTime> local = localFields(seconds);
  if (!local) return;
  checkFields(*local);
  BrokenDownTime t = *local;
  int32_t back = localToSeconds(t.year, t.month, t.monthDay - 1, t.hour, t.minute, t.second);
  int64_t off = static_cast<int64_t>(back) - seconds;
  FUZZ_CHECK(back == -1 || off == 0 || off == 3600 || off == -3600);
}

void checkFieldsToSeconds(FuzzedDataProvider& in) {
  int32_t year = in.ConsumeIntegral<int32_t>();
  int32_t month = in.ConsumeIntegral<int32_t>();
  int32_t day = in.ConsumeIntegralInRange<int32_t>(-kFieldLimit, kFieldLimit);
  int32_t hour = in.ConsumeIntegralInRange<int32_t>(-kFieldLimit, kFieldLimit);
  int32_t minute = in.ConsumeIntegral<int32_t>();
  int32_t second = in.ConsumeIntegral<int32_t>();
  int32_t seconds = localToSeconds(year, month, day, hour, minute, second);
  FUZZ_CHECK(seconds == -1 || seconds >= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  useTz(std::string(reinterpret_cast<const char*>(data), size).c_str());
  FuzzedDataProvider in(data, size);
  int32_t seconds = in.ConsumeIntegral<int32_t>();
  checkFields(utcFields(seconds));
  checkLocalRoundTrip(seconds);
  checkFieldsToSeconds(in);
  uint32_t hour = in.ConsumeIntegral<uint32_t>(), day = in.ConsumeIntegral<uint32_t>();
  uint32_t month = in.ConsumeIntegralInRange<uint32_t>(0, 13);
  FUZZ_CHECK(isDaylightTime(hour, day, month, in.ConsumeIntegral<uint32_t>()) <= 1);
  return 0;
}
