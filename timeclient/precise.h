// Precise mode: the query cycle's queries become probes timed against the
// server's second boundary, and their answers narrow the interval in which
// the offset (server minus local clock) must lie.
//
// An answer S says the server's clock lay in [S, S+1) when it stamped it,
// and it stamped between the probe's start and the arrival of its bytes:
// the offset lies in [S - arrived, S + 1 - started]. Each next probe is
// started so that the server's second is predicted to turn over, as it
// stamps, in the middle of the interval left, which halves it whichever
// second comes back. Times are microseconds of the local clock the decision
// judges (timeclient/frame.h), from one wall-clock reading and the
// performance counter.
#pragma once
#include <cstdint>

// One probe's local times, in microseconds since 1970.
struct ProbeTimes {
  int64_t startUs;      // the connection was asked for
  int64_t connectedUs;  // it stood
  int64_t arrivedUs;    // the four bytes were read
};

// Where the offset, server minus local clock, can still lie (microseconds).
struct OffsetInterval {
  bool known;
  int64_t lowUs;
  int64_t highUs;
};

enum class ProbeVerdict { kNarrowed, kContradicts };

// Intersects interval with what an answer of serverSecs (seconds since
// 1970) at the times t says; returns kContradicts, leaving interval as it
// was, when the two do not meet (one of the clocks stepped).
ProbeVerdict addProbe(OffsetInterval* interval, int64_t serverSecs, const ProbeTimes& t);

// Returns when to start the next probe, no earlier than earliestUs, so that
// the server's second is predicted to turn over mid-interval when it stamps,
// stampLeadUs after the probe's start.
int64_t nextProbeStartUs(const OffsetInterval& interval, int64_t earliestUs,
                         int64_t stampLeadUs);

// The interval is narrow enough to stop probing: below one millisecond.
bool narrowEnough(const OffsetInterval& interval);

// A precise cycle's result: the offset and how far the truth can be from it.
struct PreciseOffset {
  int64_t offsetUs;
  int64_t boundUs;
  int64_t lowUs, highUs;  // where the truth can be, for several servers' agreement
};

// Returns the offset best taken from the sure interval and the likely one
// (where the server stamped just before it sent, as servers do): the middle
// of the likely interval where it lies within the sure one, else the sure
// one's middle; the bound reaches the sure interval's far edge.
PreciseOffset offsetOf(const OffsetInterval& sure, const OffsetInterval& likely);

// Returns the window in which a server that stamps just before it sends
// stamped: the last round trip before the bytes arrived.
ProbeTimes likelyStampWindow(const ProbeTimes& t);

// Returns the server's seconds since 1970 for an answer (seconds since 1900,
// modulo 2^32): of the values the answer may stand for, the one nearest the
// local clock (microseconds since 1970), so that 2036 and 2038 pass as any
// other second.
int64_t serverSecondsNear(uint32_t answer, int64_t localUs);

// Returns the offset rounded to whole seconds, half away from zero.
int32_t roundedSeconds(int64_t us);

// What the next step of a run is after an answer.
struct ProbeStep {
  enum Kind { kNext, kDone, kGiveUp } kind;
  uint32_t waitMs;        // kNext: the wait before the next probe starts (0: at
                          // once; markProbeStart waits out the rest exactly)
  PreciseOffset result;   // kDone
};

// One server's probe run, its clock taken at its start.
struct ProbeRun {
  OffsetInterval interval;  // sure: the server stamped between start and arrival
  OffsetInterval likely;    // it stamped in the last round trip before arrival
  int64_t anchorWallUs;     // the judged clock at anchorCountUs
  int64_t anchorCountUs;
  int64_t anchorSpreadUs;   // how far the judged clock may be from that
  int64_t lowFromUs, highFromUs;  // the start of the probe that set each edge
  ProbeTimes current;
  int64_t leadSumUs;  // the stamp's expected delay after the start, summed
  int32_t made, planned, restarts;
  // Narrowing until the interval is below a millisecond (or the probes run
  // out), then confirming: probes just after and just before predicted
  // turnovers of the server's second, each answering as predicted.
  enum Phase { kNarrowing, kConfirming } phase;
  int32_t narrowingMade;
  int32_t confirmed;      // confirming probes that answered as predicted
  int32_t confirmRetries;
  int64_t predictedSecs;  // the second the confirming probe must answer
  int64_t confirmedAtUs;  // the arrival of the last that did
  // What the confirming probes' answers allow on their own, and the first
  // one's start.
  OffsetInterval confirmedBy;
  int64_t confirmFromUs;
  int64_t windowMaxUs;    // the longest start-to-arrival seen
  uint32_t spacingMs;
  bool active;
  int64_t nextStartUs;  // when the next probe is to start; 0: at once
  int64_t toleranceUs;  // how much earlier it may start
  int64_t staggerUs;    // how much earlier than other servers' it aims
  int64_t timerDueUs;   // when its timer was asked to fire
  int64_t slackUs;      // how early that timer is set; 0 until one has fired
};

// Starts a run: takes the local clock once, and the spacing (ms between
// starts). Returns false, with no run begun, when the local clock cannot be
// read.
bool beginProbeRun(ProbeRun* run, uint32_t spacingMs);
// A run is under way: begun and neither done nor given up.
bool probeRunActive(const ProbeRun& run);
void endProbeRun(ProbeRun* run);
// Marks the moments of the probe under way. The start waits out the last
// stretch to the probe's moment; waitEndedUs is when the last such wait of
// any run on this thread ended (performance counter, us), read and updated,
// since every server's probes share the thread.
void markProbeStart(ProbeRun* run, int64_t* waitEndedUs);
void markProbeConnected(ProbeRun* run);
// Takes the probe's answer (seconds since 1900, as sent) and says what next.
ProbeStep takeProbeAnswer(ProbeRun* run, uint32_t answer);
// The probes made and planned, and the interval's width so far (us; -1 when
// not known), for a progress line.
int32_t probesMade(const ProbeRun& run);
int32_t probesPlanned(const ProbeRun& run);
int64_t intervalWidthUs(const ProbeRun& run);
