// The final answer on any bytes from the server: its first four bytes are the
// answer, as the client reads them; the rest chooses the zone, the local
// clock, the lag, the settings and what the user said. The decision runs as
// the query does (once, and again with the outcome when over the limit),
// then its value is broken down for the display and the clock.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "platform/win32.h"
#include "tests/fuzz/support.h"
#include "timeclient/adjust.h"
#include "zones/localtime.h"

namespace {

const char* const kZones[] = {"EST5EDT", "MET-1MDT", "xST0", "AST10ADT", "xST-12", "NST3"};
const char* const kActions[] = {"report", "reset", "accept", "partial", "ignore"};
const Answer kAnswers[] = {Answer::kNone, Answer::kYes, Answer::kNo, Answer::kCancel};

bool isAction(const char* action) {
  for (const char* known : kActions)
    if (action && std::strcmp(action, known) == 0) return true;
  return false;
}

// The contract of adjust.h, in the parts every version of it keeps.
void checkDecision(const ClockInputs& in, const ClockDecision& d, const PolicyOutcome* outcome) {
  FUZZ_CHECK(isAction(actionText(d.action)));
  if (in.reportOnly) FUZZ_CHECK(!d.setsClock && std::strcmp(actionText(d.action), "report") == 0);
  if (std::strcmp(actionText(d.action), "ignore") == 0 || d.refused) FUZZ_CHECK(!d.setsClock);
  if (d.overLimit && !outcome) FUZZ_CHECK(!d.setsClock);
  if (d.asks) FUZZ_CHECK(d.overLimit && in.adjOpt == 0);
  // A local clock that could not be read never turns into a time.
  if (in.localSecs == -1) FUZZ_CHECK(d.localUnknown && d.localSecs == -1);
  if (std::strcmp(actionText(d.action), "partial") == 0) {
    // Both clocks moved on by the same wait, so their distance is the limit's.
    uint32_t ahead = static_cast<uint32_t>(d.serverSecs) - static_cast<uint32_t>(d.localSecs);
    FUZZ_CHECK(ahead <= in.maxAdjust || 0u - ahead <= in.maxAdjust);
  }
}

ClockInputs readInputs(uint32_t answer, FuzzedDataProvider& in) {
  ClockInputs c{};
  c.answer = answer;
  c.localSecs = in.ConsumeIntegral<int32_t>();
  c.readLagMs = in.ConsumeIntegral<uint32_t>();
  c.add30 = in.ConsumeBool();
  c.useDST = in.ConsumeBool();
  c.zoneHasDst = zoneHasDst;
  c.reportOnly = in.ConsumeBool();
  c.maxAdjust = in.ConsumeIntegral<uint32_t>();
  c.adjOpt = in.ConsumeIntegral<int8_t>();
  c.zoneOffset = zoneOffset;
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;  // a short answer never reaches the decision
  uint32_t answer = static_cast<uint32_t>(data[0]) << 24 | static_cast<uint32_t>(data[1]) << 16 |
                    static_cast<uint32_t>(data[2]) << 8 | data[3];
  FuzzedDataProvider in(data + 4, size - 4);
  useTz(in.PickValueInArray(kZones));
  ClockInputs inputs = readInputs(answer, in);
  PolicyOutcome outcome{in.PickValueInArray(kAnswers), in.ConsumeIntegral<uint32_t>()};
  ClockDecision d = decideClock(inputs, nullptr);
  checkDecision(inputs, d, nullptr);
  if (d.overLimit) {
    d = decideClock(inputs, &outcome);
    checkDecision(inputs, d, &outcome);
  }
  checkFields(utcFields(d.serverSecs));
  if (std::optional<BrokenDownTime> local = localFields(d.serverSecs)) checkFields(*local);
  return 0;
}
