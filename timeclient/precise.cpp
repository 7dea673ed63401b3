#include "timeclient/precise.h"

#include "base/units.h"
#include "platform/win32.h"
#include "timeclient/adjust.h"
#include "timeclient/frame.h"

namespace {
constexpr int32_t fewestProbes = 8;
constexpr int32_t mostProbes = 12;
constexpr int64_t narrowUs = 1000;
// The earliest a timer can start the next probe, and the longest the wall
// clock's reading is waited on to turn over (Windows 95 ticks every 55 ms).
constexpr int64_t timerLeadUs = 2000;
constexpr int64_t tickWaitUs = 100000;
// Timers fire late by up to their tick (a millisecond here, 55 ms on
// Windows 95): the probe's timer is set this much early, learnt from how
// late the timers have fired, and the last stretch is waited out exactly.
constexpr int64_t firstSlackUs = 16000;
constexpr int64_t slackMarginUs = 1000;
// A contradiction restarts the intersection once; the second ends the run.
constexpr int32_t restartsAllowed = 1;

// Floor division, for times before a second's start.
int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

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

// The judged clock's reading changes only at its ticks: the moment it turns
// over is the one moment its milliseconds are exact.
bool takeAnchor(ProbeRun* run) {
  int64_t first = judgedClockMs();
  int64_t started = microseconds();
  int64_t reading = first;
  while (reading == first && microseconds() - started < tickWaitUs) reading = judgedClockMs();
  run->anchorCountUs = microseconds();
  run->anchorWallUs = reading * usPerMs;
  return reading >= 0;
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

int32_t probeCount(uint32_t attempts) {
  if (attempts < static_cast<uint32_t>(fewestProbes)) return fewestProbes;
  if (attempts > static_cast<uint32_t>(mostProbes)) return mostProbes;
  return static_cast<int32_t>(attempts);
}

bool narrowEnough(const OffsetInterval& interval) {
  return interval.known && interval.highUs - interval.lowUs < narrowUs;
}

namespace {
int64_t middleOf(const OffsetInterval& i) { return i.lowUs + (i.highUs - i.lowUs) / 2; }
}  // namespace

PreciseOffset offsetOf(const OffsetInterval& sure, const OffsetInterval& likely) {
  int64_t offset = middleOf(sure);
  if (likely.known && likely.lowUs >= sure.lowUs && likely.highUs <= sure.highUs)
    offset = middleOf(likely);
  int64_t below = offset - sure.lowUs, above = sure.highUs - offset;
  return PreciseOffset{offset, below > above ? below : above};
}

ProbeTimes likelyStampWindow(const ProbeTimes& t) {
  int64_t roundTrip = t.connectedUs - t.startUs;
  return ProbeTimes{t.arrivedUs - roundTrip, t.arrivedUs - roundTrip, t.arrivedUs};
}

int32_t roundedSeconds(int64_t us) {
  int64_t half = usPerSecond / 2;
  return static_cast<int32_t>(us >= 0 ? (us + half) / usPerSecond : -((-us + half) / usPerSecond));
}

bool beginProbeRun(ProbeRun* run, uint32_t attempts, uint32_t spacingMs) {
  *run = ProbeRun{};
  run->planned = probeCount(attempts);
  run->spacingMs = spacingMs;
  run->slackUs = firstSlackUs;
  run->active = takeAnchor(run);
  return run->active;
}

bool probeRunActive(const ProbeRun& run) { return run.active; }

void endProbeRun(ProbeRun* run) { run->active = false; }

void markProbeStart(ProbeRun* run) {
  int64_t now = nowUs(*run);
  if (run->nextStartUs != 0) {
    int64_t late = now - run->timerDueUs + slackMarginUs;
    if (late > run->slackUs) run->slackUs = late;
    while (now < run->nextStartUs) now = nowUs(*run);
  }
  run->current.startUs = now;
}

void markProbeConnected(ProbeRun* run) { run->current.connectedUs = nowUs(*run); }

namespace {
// When the next probe starts: mid-interval, after the spacing the server
// asks for, and not before a timer can start it.
uint32_t waitBeforeNextProbe(ProbeRun* run) {
  int64_t now = nowUs(*run);
  int64_t earliest = now + timerLeadUs;
  int64_t spaced = run->current.startUs + static_cast<int64_t>(run->spacingMs) * usPerMs;
  if (spaced > earliest) earliest = spaced;
  int64_t lead = run->made > 0 ? run->leadSumUs / run->made : 0;
  const OffsetInterval& aim = run->likely.known ? run->likely : run->interval;
  run->nextStartUs = nextProbeStartUs(aim, earliest + run->slackUs, lead);
  run->timerDueUs = run->nextStartUs - run->slackUs;
  return static_cast<uint32_t>((run->timerDueUs - now) / usPerMs);
}
}  // namespace

namespace {
// The likely interval narrows like the sure one, but a server that stamped
// early (a slow start, then a wait) may contradict it: it then starts again
// from this probe, within what is sure.
void takeLikely(ProbeRun* run, int64_t serverSecs) {
  ProbeTimes window = likelyStampWindow(run->current);
  if (addProbe(&run->likely, serverSecs, window) == ProbeVerdict::kNarrowed) return;
  run->likely.known = false;
  addProbe(&run->likely, serverSecs, window);
}
}  // namespace

ProbeStep takeProbeAnswer(ProbeRun* run, uint32_t answer) {
  run->current.arrivedUs = nowUs(*run);
  int64_t serverSecs = static_cast<int32_t>(answer - protocolEpochOffset);
  ProbeVerdict verdict = addProbe(&run->interval, serverSecs, run->current);
  if (verdict == ProbeVerdict::kContradicts) {
    if (run->restarts++ == restartsAllowed) {
      run->active = false;
      return ProbeStep{ProbeStep::kGiveUp, 0, {}};
    }
    // Start the intersection again from this probe alone.
    run->interval.known = false;
    run->likely.known = false;
    addProbe(&run->interval, serverSecs, run->current);
  }
  takeLikely(run, serverSecs);
  // A server stamps just before it sends, a round trip before the bytes
  // arrive: the next probe is timed by that moment, on average.
  run->leadSumUs += likelyStampWindow(run->current).connectedUs - run->current.startUs;
  ++run->made;
  if (run->made >= run->planned || narrowEnough(run->interval)) {
    run->active = false;
    return ProbeStep{ProbeStep::kDone, 0, offsetOf(run->interval, run->likely)};
  }
  return ProbeStep{ProbeStep::kNext, waitBeforeNextProbe(run), {}};
}

int32_t probesMade(const ProbeRun& run) { return run.made; }
int32_t probesPlanned(const ProbeRun& run) { return run.planned; }
int64_t intervalWidthUs(const ProbeRun& run) { return run.interval.known ? run.interval.highUs - run.interval.lowUs : -1; }
