#include "timeclient/precise.h"

#include "base/units.h"
#include "platform/win32.h"
#include "timeclient/adjust.h"
#include "timeclient/frame.h"

namespace {
// Narrowing probes, at most; then the four that confirm, started over at
// most twice in a run when one does not answer as predicted or comes late:
// with the one restart a contradiction allows, 40 probes at most.
constexpr int32_t mostProbes = 12;
constexpr int32_t confirmRetriesAllowed = 2;
// A confirming probe this long after the one before it has missed the
// turnover they surround (its start was held up): a step in between could
// go unseen by the ones after it.
constexpr int64_t confirmGapUs = usPerSecond / 2;
// The confirming probes, in order, around one turnover of the server's
// second: two whose windows end just before it (a server ahead of the
// interval answers the second after), then two that start just after it (a
// server behind answers the second before). Each kind meets either of two
// alternating answers, the four come within a few milliseconds of the
// turnover after a wait of up to a second, and the last answer is the one
// judged.
enum class Confirm { kBefore, kAfter };
constexpr Confirm confirmations[] = {Confirm::kBefore, Confirm::kBefore, Confirm::kAfter,
                                     Confirm::kAfter};
constexpr int32_t confirmingProbes = sizeof confirmations / sizeof confirmations[0];
constexpr int64_t narrowUs = 1000;
// How far a confirming probe's window keeps from the predicted turnover: a
// floor, for a window a little longer than any before, and the most a
// steady server and the local counter may drift apart from the probe that
// last moved the interval's edge to this one, 100 parts per million (a
// common crystal's tolerance). A server that steps by less than that passes
// the confirmations; the bound covers it (see resultOf).
constexpr int64_t confirmFloorUs = 250;
constexpr int64_t driftPerMillion = 100;
// The least time between an answer and the next probe's start; a timer is
// trusted for waits beyond timerLeadUs and its slack.
constexpr int64_t settleUs = 1000;
constexpr int64_t timerLeadUs = 2000;
// A window timer never fires sooner than this (Windows raises any shorter
// wait to it): a start due sooner is waited out exactly instead.
constexpr int64_t shortestTimerUs = 10000;
// The wall clock is tied to the counter by the counter's readings just
// before and after the wall clock's own; a pair further apart than
// anchorGapUs (the thread was held up between them) is read again, up to
// anchorTries times, and the best pair's uncertainty goes into the bound.
// Where the wall clock is read to the millisecond only, the reading is
// taken as it turns over, waited for up to tickWaitUs (Windows 95 ticks
// every 55 ms).
constexpr int64_t anchorGapUs = 50;
constexpr int32_t anchorTries = 8;
constexpr int64_t tickWaitUs = 100000;
// Timers fire late by up to their tick (a millisecond here, 55 ms on
// Windows 95): the probe's timer is set early by the most it has been late
// in this run (this much until one has fired), and the last stretch is
// waited out exactly. That wait holds up the other servers' events, so it
// is kept to what this system's timers need.
constexpr int64_t firstSlackUs = 16000;
constexpr int64_t slackMarginUs = 1000;
// A contradiction restarts the intersection once; the second ends the run.
constexpr int32_t restartsAllowed = 1;


int64_t microseconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  // Split so the product cannot overflow with a nanosecond-rate counter.
  int64_t whole = count.QuadPart / frequency.QuadPart;
  int64_t part = count.QuadPart % frequency.QuadPart;
  return whole * usPerSecond + part * usPerSecond / frequency.QuadPart;
}


int64_t nowUs(const ProbeRun& run) { return run.anchorWallUs + (microseconds() - run.anchorCountUs); }

// Returns how far a steady server and the local counter may drift apart in
// elapsedUs, rounded up.
int64_t driftUs(int64_t elapsedUs) {
  return (elapsedUs * driftPerMillion + usPerSecond - 1) / usPerSecond;
}

// The judged clock read wallUs at some moment between two readings of the
// counter gapUs apart, and at their middle give or take spreadUs.
struct Anchor {
  int64_t wallUs, countUs, gapUs, spreadUs;
};

Anchor anchorBetween(int64_t wallUs, int64_t fromUs, int64_t toUs) {
  int64_t gap = toUs - fromUs;
  return Anchor{wallUs, fromUs + gap / 2, gap, gap - gap / 2};
}

// A clock read to the millisecond is exact at the moment it turns over:
// between the counter's reading before the last reading of the old
// millisecond and its reading after the first of the new. A clock that
// ticks coarsely (Windows: every 15.6 ms, Windows 95: 55) adds a tick's
// worth of finer units at once, so it then stands anywhere in its new
// millisecond: the anchor takes its middle. False when the clock cannot
// be read or does not turn over.
bool turnoverAnchor(Anchor* anchor) {
  int64_t lastOld = microseconds();
  int64_t first = judgedClockMs();
  for (int64_t started = lastOld;;) {
    int64_t before = microseconds();
    int64_t reading = judgedClockMs();
    int64_t after = microseconds();
    if (reading != first) {
      *anchor = anchorBetween(reading * usPerMs + usPerMs / 2, lastOld, after);
      anchor->spreadUs += usPerMs / 2;
      return reading >= 0 && first >= 0;
    }
    if (after - started >= tickWaitUs) return false;
    lastOld = before;
  }
}

// One reading of the judged clock tied to the counter: to the microsecond
// where the platform reads it so finely, else at its turnover.
bool readAnchor(Anchor* anchor) {
  int64_t from = microseconds();
  int64_t wall;
  if (!judgedClockUs(&wall)) return turnoverAnchor(anchor);
  *anchor = anchorBetween(wall, from, microseconds());
  return true;
}

// Ties the run's local clock to the counter by the best of a few readings.
bool takeAnchor(ProbeRun* run) {
  Anchor best{0, 0, 0, -1};
  for (int32_t i = 0; i < anchorTries && (best.spreadUs < 0 || best.gapUs > anchorGapUs); ++i) {
    Anchor a;
    if (!readAnchor(&a)) return false;
    if (best.spreadUs < 0 || a.spreadUs < best.spreadUs) best = a;
  }
  run->anchorWallUs = best.wallUs;
  run->anchorCountUs = best.countUs;
  run->anchorSpreadUs = best.spreadUs;
  return true;
}
}  // namespace

ProbeVerdict addProbe(OffsetInterval* interval, int64_t serverSecs, const ProbeTimes& t) {
  int64_t low = serverSecs * usPerSecond - t.arrivedUs;
  int64_t high = (serverSecs + 1) * usPerSecond - t.startUs;
  if (interval->known) {
    if (low < interval->lowUs) low = interval->lowUs;
    if (high > interval->highUs) high = interval->highUs;
    if (low > high) return ProbeVerdict::kContradicts;
  }
  *interval = OffsetInterval{true, low, high};
  return ProbeVerdict::kNarrowed;
}

int64_t nextProbeStartUs(const OffsetInterval& interval, int64_t earliestUs,
                         int64_t stampLeadUs) {
  int64_t middle = interval.lowUs + (interval.highUs - interval.lowUs) / 2;
  // The server's clock reads local + middle: its next second after the
  // earliest possible stamp, back in local time.
  int64_t earliestStamp = earliestUs + stampLeadUs;
  int64_t boundary = (floorDiv(earliestStamp + middle, usPerSecond) + 1) * usPerSecond;
  return boundary - middle - stampLeadUs;
}

bool narrowEnough(const OffsetInterval& interval) {
  return interval.known && interval.highUs - interval.lowUs < narrowUs;
}

namespace {
int64_t middleOf(const OffsetInterval& i) { return i.lowUs + (i.highUs - i.lowUs) / 2; }

// Returns how far the interval's farther edge lies from us.
int64_t farEdgeUs(int64_t us, const OffsetInterval& interval) {
  int64_t below = us - interval.lowUs, above = interval.highUs - us;
  return below > above ? below : above;
}
}  // namespace

PreciseOffset offsetOf(const OffsetInterval& sure, const OffsetInterval& likely) {
  int64_t offset = middleOf(sure);
  if (likely.known && likely.lowUs >= sure.lowUs && likely.highUs <= sure.highUs)
    offset = middleOf(likely);
  return PreciseOffset{offset, farEdgeUs(offset, sure), sure.lowUs, sure.highUs};
}

ProbeTimes likelyStampWindow(const ProbeTimes& t) {
  int64_t roundTrip = t.connectedUs - t.startUs;
  return ProbeTimes{t.arrivedUs - roundTrip, t.arrivedUs - roundTrip, t.arrivedUs};
}

int32_t roundedSeconds(int64_t us) {
  int64_t half = usPerSecond / 2;
  return static_cast<int32_t>(us >= 0 ? (us + half) / usPerSecond : -((-us + half) / usPerSecond));
}

bool beginProbeRun(ProbeRun* run, uint32_t spacingMs) {
  *run = ProbeRun{};
  run->planned = mostProbes + confirmingProbes;
  run->spacingMs = spacingMs;
  run->active = takeAnchor(run);
  return run->active;
}

bool probeRunActive(const ProbeRun& run) { return run.active; }

void endProbeRun(ProbeRun* run) { run->active = false; }

namespace {
// A timer due before waitEndedUs fired late because another run's wait held
// up the thread, which says nothing of the system's timers.
void learnTimerLateness(ProbeRun* run, int64_t now, int64_t waitEndedUs) {
  if (run->timerDueUs <= 0) return;
  if (run->timerDueUs - run->anchorWallUs + run->anchorCountUs < waitEndedUs) return;
  int64_t late = now - run->timerDueUs + slackMarginUs;
  if (late < slackMarginUs) late = slackMarginUs;
  if (late > run->slackUs) run->slackUs = late;
}
}  // namespace

void markProbeStart(ProbeRun* run, int64_t* waitEndedUs) {
  int64_t now = nowUs(*run);
  if (run->nextStartUs != 0) {
    learnTimerLateness(run, now, *waitEndedUs);
    if (now < run->nextStartUs - run->toleranceUs) {
      while (now < run->nextStartUs - run->toleranceUs) now = nowUs(*run);
      *waitEndedUs = microseconds();
    }
  }
  run->current.startUs = now;
}

void markProbeConnected(ProbeRun* run) { run->current.connectedUs = nowUs(*run); }

namespace {
// The earliest the next probe may start: after the spacing the server asks
// for, and not before this one's answer has been dealt with.
int64_t earliestNextStartUs(const ProbeRun& run, int64_t now) {
  int64_t earliest = now + settleUs;
  int64_t spaced = run.current.startUs + static_cast<int64_t>(run.spacingMs) * usPerMs;
  return spaced > earliest ? spaced : earliest;
}

// The wait before the timer that starts the next probe at run->nextStartUs.
// A start nearer than a timer can be trusted for is waited out exactly by
// markProbeStart, with no timer: a wait of 0.
uint32_t waitFor(ProbeRun* run, int64_t now) {
  int64_t slack = run->slackUs > 0 ? run->slackUs : firstSlackUs;
  int64_t due = run->nextStartUs - slack - timerLeadUs;
  if (due - now < shortestTimerUs) {
    run->timerDueUs = 0;
    return 0;
  }
  run->timerDueUs = due;
  return static_cast<uint32_t>((due - now) / usPerMs);
}

// Where the offset is best aimed at: the likely interval where it lies
// within the sure one (a late arrival may have thrown it back to a whole
// second), else the sure interval.
OffsetInterval aimingInterval(const ProbeRun& run) {
  OffsetInterval aim = run.likely;
  if (!aim.known || aim.lowUs > run.interval.highUs || aim.highUs < run.interval.lowUs)
    return run.interval;
  if (aim.lowUs < run.interval.lowUs) aim.lowUs = run.interval.lowUs;
  if (aim.highUs > run.interval.highUs) aim.highUs = run.interval.highUs;
  return aim;
}

// Narrowing: the next probe is timed so that the server's second is
// predicted to turn over mid-interval as it stamps. Its start may miss that
// moment by an eighth of the interval and still halve it nearly as well,
// so it is waited for exactly only once the interval is narrow: the wait
// holds up the other servers' events. Servers that agree would be probed at
// the same instant, each probe lengthening the others' windows: each run
// starts its probes early by its own stagger, within half that eighth.
uint32_t aimAtTheMiddle(ProbeRun* run) {
  int64_t now = nowUs(*run);
  int64_t lead = run->made > 0 ? run->leadSumUs / run->made : 0;
  OffsetInterval aim = aimingInterval(*run);
  run->nextStartUs = nextProbeStartUs(aim, earliestNextStartUs(*run, now), lead);
  run->toleranceUs = (aim.highUs - aim.lowUs) / 8;
  int64_t stagger = run->staggerUs < run->toleranceUs / 2 ? run->staggerUs : run->toleranceUs / 2;
  run->nextStartUs -= stagger;
  run->toleranceUs -= stagger;
  return waitFor(run, now);
}

// The margin of a confirming probe aimed at earliestUs or within the second
// after it, before the turnover (kept from the interval's high edge) or
// after it (from the low edge).
int64_t confirmMarginUs(const ProbeRun& run, int64_t earliestUs, bool before) {
  int64_t edgeFrom = before ? run.highFromUs : run.lowFromUs;
  return confirmFloorUs + driftUs(earliestUs + usPerSecond - edgeFrom);
}

// The time one confirming probe takes up, from its start to the start of
// the next: twice its longest window (one may run longer than any before),
// the settling time and the margin.
int64_t confirmSlotUs(const ProbeRun& run, int64_t marginUs) {
  return 2 * run.windowMaxUs + settleUs + marginUs;
}

// The confirming probes of the same kind still to come after this one.
int32_t sameKindAfter(int32_t index) {
  int32_t n = 0;
  while (index + 1 + n < confirmingProbes && confirmations[index + 1 + n] == confirmations[index]) ++n;
  return n;
}

// Confirming: a probe whose whole window the server's clock spends before
// its next second turns over, or one that starts after it has turned
// (whatever offset the interval still allows); it must answer the second
// predicted. Probes "before" are spaced one slot apart so that all of them
// end before the same turnover; a probe "after" that can still start within
// a slot of the turnover just passed starts at once.
uint32_t aimToConfirm(ProbeRun* run) {
  int64_t now = nowUs(*run);
  int64_t earliest = earliestNextStartUs(*run, now);
  bool before = confirmations[run->confirmed] == Confirm::kBefore;
  int64_t margin = confirmMarginUs(*run, earliest, before);
  int64_t slot = confirmSlotUs(*run, margin);
  // Local time = server time - offset; the start that keeps the window on
  // the predicted side of the turnover at boundary (server microseconds).
  int64_t shift = before ? -run->interval.highUs - run->windowMaxUs - margin -
                               sameKindAfter(run->confirmed) * slot
                         : -run->interval.lowUs + margin;
  int64_t boundary = (floorDiv(earliest - shift, usPerSecond) + 1) * usPerSecond;
  run->nextStartUs = boundary + shift;
  if (!before && earliest - (boundary - usPerSecond + shift) <= slot) {
    boundary -= usPerSecond;
    run->nextStartUs = earliest;
  }
  run->predictedSecs = boundary / usPerSecond - (before ? 1 : 0);
  run->toleranceUs = 0;
  return waitFor(run, now);
}

// Notes which probe last moved each edge of the interval, whose answer
// holds at that probe's time: the drift since is what a confirmation allows.
void noteEdges(ProbeRun* run, const OffsetInterval& was) {
  if (!was.known || run->interval.lowUs != was.lowUs) run->lowFromUs = run->current.startUs;
  if (!was.known || run->interval.highUs != was.highUs) run->highFromUs = run->current.startUs;
}

// The likely interval narrows like the sure one, but a server that stamped
// early (a slow start, then a wait) may contradict it: it then starts again
// from this probe, within what is sure.
void takeLikely(ProbeRun* run, int64_t serverSecs) {
  ProbeTimes window = likelyStampWindow(run->current);
  if (addProbe(&run->likely, serverSecs, window) == ProbeVerdict::kNarrowed) return;
  run->likely.known = false;
  addProbe(&run->likely, serverSecs, window);
}

// The answers contradict each other: the measurement starts again from
// this probe once; the second time the run gives up.
bool restart(ProbeRun* run, int64_t serverSecs) {
  if (run->restarts++ == restartsAllowed) return false;
  run->interval.known = false;
  run->likely.known = false;
  addProbe(&run->interval, serverSecs, run->current);
  run->lowFromUs = run->highFromUs = run->current.startUs;
  run->phase = ProbeRun::kNarrowing;
  run->narrowingMade = 0;
  run->confirmed = 0;
  return true;
}

// Narrowing is done once the offset's bound (to the sure interval's far
// edge) is below a millisecond, or the interval itself is.
bool boundSmallEnough(const ProbeRun& run) {
  return narrowEnough(run.interval) || offsetOf(run.interval, run.likely).boundUs < narrowUs;
}

// The confirmations start (again) from the first.
void startConfirming(ProbeRun* run) {
  run->phase = ProbeRun::kConfirming;
  run->confirmed = 0;
  run->confirmedBy.known = false;
}

// After an answer that agreed with the interval: the phase the run is in
// next. A confirmation that did not answer the second predicted (its window
// ran longer than any before, or the server moved), or came late, starts
// them over, a few times at most: what they prove together holds only for
// four in a row around one turnover.
enum Next { kGoOn, kFinished, kStuck };
Next advance(ProbeRun* run, int64_t serverSecs) {
  if (run->phase == ProbeRun::kNarrowing) {
    if (++run->narrowingMade >= mostProbes || boundSmallEnough(*run)) startConfirming(run);
    return kGoOn;
  }
  bool late = run->confirmed > 0 && run->current.startUs - run->confirmedAtUs > confirmGapUs;
  if (serverSecs != run->predictedSecs || late) {
    startConfirming(run);
    return ++run->confirmRetries > confirmRetriesAllowed ? kStuck : kGoOn;
  }
  if (!run->confirmedBy.known) run->confirmFromUs = run->current.startUs;
  addProbe(&run->confirmedBy, serverSecs, run->current);
  run->confirmedAtUs = run->current.arrivedUs;
  return ++run->confirmed == confirmingProbes ? kFinished : kGoOn;
}

// The run's result. The offset is the narrowing's, where the server most
// likely stamped; the bound reaches as far as the confirmations' answers
// on their own allow: a server that stepped during the narrowing by less
// than the confirmations can see is anywhere in that, not always in the
// narrowing's interval. It is widened by the drift over the confirmations
// and by the anchor's uncertainty, which shifts every time alike. The
// interval handed on to several servers' agreement reaches as far, about
// the middle of the narrowing's sure interval: their common part then
// centres where the servers' sure intervals meet, not where their
// confirmations happened to reach.
PreciseOffset resultOf(const ProbeRun& run) {
  PreciseOffset p = offsetOf(run.interval, run.likely);
  int64_t widen = run.anchorSpreadUs + driftUs(run.current.arrivedUs - run.confirmFromUs);
  p.boundUs = farEdgeUs(p.offsetUs, run.confirmedBy) + widen;
  int64_t centre = middleOf(run.interval);
  int64_t reach = farEdgeUs(centre, run.confirmedBy) + widen;
  p.lowUs = centre - reach;
  p.highUs = centre + reach;
  return p;
}
}  // namespace

int64_t serverSecondsNear(uint32_t answer, int64_t localUs) {
  int64_t local = floorDiv(localUs, usPerSecond);
  uint32_t sinceEpoch = answer - protocolEpochOffset;
  return local + static_cast<int32_t>(sinceEpoch - static_cast<uint32_t>(local));
}

ProbeStep takeProbeAnswer(ProbeRun* run, uint32_t answer) {
  run->current.arrivedUs = nowUs(*run);
  int64_t window = run->current.arrivedUs - run->current.startUs;
  if (window > run->windowMaxUs) run->windowMaxUs = window;
  int64_t serverSecs = serverSecondsNear(answer, run->current.arrivedUs);
  ++run->made;
  OffsetInterval was = run->interval;
  Next next = kGoOn;
  if (addProbe(&run->interval, serverSecs, run->current) == ProbeVerdict::kContradicts) {
    if (!restart(run, serverSecs)) next = kStuck;
  } else {
    noteEdges(run, was);
    next = advance(run, serverSecs);
  }
  if (next == kStuck) {
    run->active = false;
    return ProbeStep{ProbeStep::kGiveUp, 0, {}};
  }
  takeLikely(run, serverSecs);
  // A server stamps just before it sends, a round trip before the bytes
  // arrive: the next probe is timed by that moment, on average.
  run->leadSumUs += likelyStampWindow(run->current).connectedUs - run->current.startUs;
  if (next == kFinished) {
    run->active = false;
    return ProbeStep{ProbeStep::kDone, 0, resultOf(*run)};
  }
  uint32_t wait = run->phase == ProbeRun::kNarrowing ? aimAtTheMiddle(run) : aimToConfirm(run);
  return ProbeStep{ProbeStep::kNext, wait, {}};
}

int32_t probesMade(const ProbeRun& run) { return run.made; }
int32_t probesPlanned(const ProbeRun& run) { return run.planned; }
int64_t intervalWidthUs(const ProbeRun& run) {
  return run.interval.known ? run.interval.highUs - run.interval.lowUs : -1;
}
