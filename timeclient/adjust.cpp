#include "timeclient/adjust.h"
#include "base/units.h"

namespace {
constexpr uint32_t halfLagDivisorMs = 2000;  // half the lag, in whole seconds

// Clock values wrap modulo 2^32 like the 32-bit seconds they are.
int32_t plus(int32_t value, uint32_t seconds) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) + seconds);
}

int32_t minus(int32_t value, uint32_t seconds) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) - seconds);
}

// The server's value corrected for the lag and for the zone options.
int32_t correctedServerSeconds(const ClockInputs& in) {
  int32_t secs = static_cast<int32_t>(in.answer - protocolEpochOffset);
  if (in.readLagMs >= halfLagDivisorMs) secs = plus(secs, in.readLagMs / halfLagDivisorMs);
  return plus(secs, static_cast<uint32_t>(zoneCorrection(in)));
}

// A negative value is before 1970 or from 2038-01-19 on, which the clock
// would take for another date; below the zone offset local time has no
// breakdown, so the user could not even see what the clock became.
bool outsideClockRange(int32_t secs, int32_t zoneOffset) { return secs < 0 || secs < zoneOffset; }

// Holds the new value within maxAdjust seconds of the local clock; a
// difference equal to the limit is within it.
void applyLimit(ClockDecision& d, uint32_t maxAdjust) {
  d.limitSecs = d.serverSecs;
  d.diffSecs = minus(d.serverSecs, static_cast<uint32_t>(d.localSecs));
  uint32_t magnitude = d.diffSecs >= 0 ? static_cast<uint32_t>(d.diffSecs)
                                       : 0u - static_cast<uint32_t>(d.diffSecs);
  if (magnitude > maxAdjust)
    d.limitSecs = d.diffSecs >= 0 ? plus(d.localSecs, maxAdjust) : minus(d.localSecs, maxAdjust);
  d.overLimit = d.limitSecs != d.serverSecs;
}

void applyPolicy(ClockDecision& d, const ClockInputs& in, const PolicyOutcome& outcome) {
  if (in.adjOpt == 1) {
    d.action = ClockAction::kIgnore;
    d.serverSecs = d.localSecs;
  } else if (in.adjOpt != 0) {
    d.action = ClockAction::kAccept;
  } else if (outcome.answer == Answer::kYes) {
    d.action = ClockAction::kAccept;
  } else if (outcome.answer == Answer::kNo && d.localUnknown) {
    // A limited step from a clock that could not be read has no base: it
    // would put the clock near 1970. The clock stays as it is.
    d.action = ClockAction::kIgnore;
    d.serverSecs = d.localSecs;
  } else if (outcome.answer == Answer::kNo) {
    d.action = ClockAction::kPartial;
    d.serverSecs = d.limitSecs;
  } else if (outcome.answer == Answer::kCancel) {
    d.action = ClockAction::kIgnore;
    d.serverSecs = d.localSecs;
  }
  // The sound and the question took real time: both clocks move on with it.
  // A clock that could not be read stays unknown, and so does a value taken
  // from it: moved on, it would pass for a time early in 1970.
  uint32_t elapsed = outcome.elapsedMs / static_cast<uint32_t>(msPerSecond);
  if (!d.localUnknown || d.serverSecs != d.localSecs) d.serverSecs = plus(d.serverSecs, elapsed);
  if (!d.localUnknown) d.localSecs = plus(d.localSecs, elapsed);
}
}  // namespace

const char* actionText(ClockAction action) {
  switch (action) {
    case ClockAction::kReport: return "report";
    case ClockAction::kReset: return "reset";
    case ClockAction::kAccept: return "accept";
    case ClockAction::kPartial: return "partial";
    case ClockAction::kIgnore: return "ignore";
    case ClockAction::kFailed: return "failed";
  }
  return "";
}

int32_t zoneCorrection(const ClockInputs& in) {
  int32_t correction = 0;
  if (in.add30) correction += secondsPerHalfHour;
  if (in.zoneHasDst && !in.useDST) correction -= secondsPerHour;
  return correction;
}

ClockDecision decideClock(const ClockInputs& in, const PolicyOutcome* outcome) {
  ClockDecision d{};
  d.serverSecs = correctedServerSeconds(in);
  d.localSecs = in.localSecs;
  d.localUnknown = in.localSecs == unknownClockSecs;
  d.limitSecs = d.serverSecs;
  d.diffSecs = minus(d.serverSecs, static_cast<uint32_t>(d.localSecs));
  if (in.reportOnly) {
    d.action = ClockAction::kReport;
    return d;
  }
  if (outsideClockRange(d.serverSecs, in.zoneOffset)) {
    d.action = ClockAction::kIgnore;
    d.refused = true;
    return d;
  }
  d.action = ClockAction::kReset;
  if (in.maxAdjust != 0) applyLimit(d, in.maxAdjust);
  d.asks = d.overLimit && in.adjOpt == 0;
  if (d.overLimit && outcome) applyPolicy(d, in, *outcome);
  d.setsClock = (!d.overLimit || outcome) && d.serverSecs != d.localSecs;
  return d;
}
