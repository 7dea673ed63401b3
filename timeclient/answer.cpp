#include "timeclient/answer.h"

#include <cstdint>

#include "app/appstate.h"
#include "base/units.h"
#include "platform/win32.h"
#include "timeclient/frame.h"
#include "zones/localtime.h"

namespace {
// With an offset found by probes or by agreement, the answer is the local
// clock now moved by whole seconds, with no lag to make up for: the
// decision works on whole seconds as always.
void useSecondsAhead(ClockInputs* in, int32_t correction, int32_t secondsAhead) {
  uint32_t localUtc = static_cast<uint32_t>(in->localSecs) - static_cast<uint32_t>(correction);
  in->answer = localUtc + static_cast<uint32_t>(secondsAhead) + protocolEpochOffset;
  in->readLagMs = 0;
}

int64_t magnitude(int64_t us) { return us < 0 ? -us : us; }

// The whole seconds a server at offsetUs is ahead now, both clocks truncated
// to their second as the protocol's answer and the local clock are.
int32_t wholeSecondsAhead(int64_t offsetUs) {
  int64_t nowMs = judgedClockMs();
  int64_t serverSecs = floorDiv(nowMs * usPerMs + offsetUs, usPerSecond);
  return static_cast<int32_t>(serverSecs - floorDiv(nowMs, msPerSecond));
}

// The inputs from the settings, the zone refreshed and the judged clock
// read, so both sides use the TZ now in force.
AnswerDecision inputsFor(const AppState* state, uint32_t answer) {
  parseTz();
  AnswerDecision a{};
  a.in = ClockInputs{answer, unknownClockSecs, static_cast<uint32_t>(state->readLag),
                     state->add30, state->useDST, zoneHasDst, state->reportOnly, state->maxAdjust,
                     state->adjOpt, zoneOffset};
  a.correction = zoneCorrection(a.in);
  a.in.localSecs = judgedClockSeconds(a.correction);
  a.slew = state->slew != 0;
  return a;
}

// A precise offset below a second still moves the clock when it is more
// than the bound: the clock is measurably off.
bool worthMoving(const ClockDecision& d, const PreciseOffset& p) {
  return !d.setsClock && !d.overLimit && !d.refused && d.action == ClockAction::kReset &&
         magnitude(p.offsetUs) > p.boundUs;
}

void settle(AnswerDecision* a) {
  if (a->precise && worthMoving(a->d, a->offset)) a->d.setsClock = true;
}

SYSTEMTIME utcTime(int32_t secs, WORD milliseconds) {
  BrokenDownTime utc = utcFields(secs);
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(utc.year + 1900);
  t.wMonth = static_cast<WORD>(utc.month + 1);
  t.wDay = static_cast<WORD>(utc.monthDay);
  t.wHour = static_cast<WORD>(utc.hour);
  t.wMinute = static_cast<WORD>(utc.minute);
  t.wSecond = static_cast<WORD>(utc.second);
  t.wMilliseconds = milliseconds;
  return t;
}

// Precise mode moves the system's UTC by the offset, milliseconds and all, at
// the moment of setting: the time the question took is not lost.
bool moveClock(int64_t moveUs) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  int32_t secs = utcToSeconds(now.wYear - 1900, now.wMonth - 1, now.wDay - 1, now.wHour,
                              now.wMinute, now.wSecond);
  int64_t moveMs = moveUs >= 0 ? (moveUs + usPerMs / 2) / usPerMs : -((-moveUs + usPerMs / 2) / usPerMs);
  int64_t target = int64_t{secs} * msPerSecond + now.wMilliseconds + moveMs;
  SYSTEMTIME t = utcTime(static_cast<int32_t>(target / msPerSecond),
                         static_cast<WORD>(target % msPerSecond));
  return SetSystemTime(&t) != 0;
}

// The estimated and the maximum error are handed over in 32 bits.
int32_t clampedUs(int64_t us) { return us > INT32_MAX ? INT32_MAX : static_cast<int32_t>(us); }

// What a partial change left of the difference, in microseconds.
int64_t leftUs(const AnswerDecision& a) {
  if (a.d.action != ClockAction::kPartial) return 0;
  int64_t moved = int64_t{static_cast<int32_t>(static_cast<uint32_t>(a.d.serverSecs) -
                                               static_cast<uint32_t>(a.d.localSecs))} *
                  usPerSecond;
  int64_t wanted = a.precise ? a.offset.offsetUs : int64_t{a.d.diffSecs} * usPerSecond;
  return magnitude(wanted - moved);
}

bool tellKernel(const AnswerDecision& a, bool slewed) {
  int64_t estimated = a.precise ? a.offset.boundUs
                                : usPerSecond + int64_t{a.in.readLagMs} * usPerMs;
  estimated += leftUs(a);
  if (slewed) estimated += magnitude(movedUs(a));
  return kronClockSynchronised(clampedUs(estimated), clampedUs(estimated + serverErrorMarginUs)) != 0;
}

// Whether the change is made gradually: asked for, and below the limit.
// Whole seconds never are: a change there is a second at least.
bool slews(const AnswerDecision& a) {
  int64_t move = movedUs(a);
  return a.slew && a.precise && move != 0 && magnitude(move) < slewLimitUs;
}
}  // namespace

AnswerDecision decideAnswer(const AppState* state, uint32_t answer, const PreciseOffset* precise) {
  AnswerDecision a = inputsFor(state, answer);
  a.precise = precise != nullptr;
  if (precise) {
    a.offset = *precise;
    useSecondsAhead(&a.in, a.correction, roundedSeconds(precise->offsetUs));
  }
  a.d = decideClock(a.in, nullptr);
  settle(&a);
  return a;
}

AnswerDecision decideAgreed(const AppState* state, int64_t offsetUs, int64_t boundUs, bool precise) {
  AnswerDecision a = inputsFor(state, 0);
  a.precise = precise;
  a.offset = PreciseOffset{offsetUs, boundUs, offsetUs - boundUs, offsetUs + boundUs};
  useSecondsAhead(&a.in, a.correction,
                  precise ? roundedSeconds(offsetUs) : wholeSecondsAhead(offsetUs));
  a.d = decideClock(a.in, nullptr);
  settle(&a);
  return a;
}

void decideAfterPolicy(AnswerDecision* a, const PolicyOutcome& outcome) {
  a->d = decideClock(a->in, &outcome);
  settle(a);
}

int64_t movedUs(const AnswerDecision& a) {
  if (!a.precise) return 0;
  if (a.d.action != ClockAction::kPartial) return a.offset.offsetUs;
  return int64_t{static_cast<int32_t>(static_cast<uint32_t>(a.d.serverSecs) -
                                      static_cast<uint32_t>(a.d.localSecs))} * usPerSecond;
}

ShownOffset shownOffset(const PreciseOffset& p) {
  constexpr int64_t usPerTenthMs = usPerMs / 10;
  int64_t diff = -p.offsetUs;  // local minus server, as the Diff field shows
  int64_t rounded = (magnitude(diff) + usPerMs / 2) / usPerMs * usPerMs;
  // The bound shown holds every offset the answers allow around the
  // offset shown, which is rounded to the millisecond.
  int64_t reach = p.boundUs + magnitude(rounded - magnitude(diff));
  return ShownOffset{diff < 0 ? -rounded : rounded, (reach + usPerTenthMs - 1) / usPerTenthMs * usPerTenthMs};
}

bool heldBack(const ClockDecision& d) {
  return d.overLimit && (d.action == ClockAction::kIgnore || d.action == ClockAction::kPartial);
}

ClockChange changeClock(const AnswerDecision& a) {
  ClockChange c{};
  if (slews(a)) {
    int32_t how = kronSlewClock(static_cast<int32_t>(movedUs(a)));
    c.made = how != KRON_CLOCK_FAILED;
    c.slewed = how == KRON_CLOCK_SLEWED;
  } else if (a.precise) {
    c.made = moveClock(movedUs(a));
  } else {
    SYSTEMTIME t = utcTime(clockSecondsToSet(a.d.serverSecs, a.correction), 0);
    c.made = SetSystemTime(&t) != 0;
  }
  if (!c.made) c.error = static_cast<int32_t>(GetLastError());
  c.kernelTold = c.made && tellKernel(a, c.slewed);
  if (c.made && !c.kernelTold) c.statusError = static_cast<int32_t>(GetLastError());
  return c;
}
