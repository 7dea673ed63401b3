// The clock's drift between runs, learnt from the offsets successive runs
// measured: how fast this computer's clock gains (or, negative, loses) in
// parts per million when the kernel corrects nothing, and the frequency
// correction that makes it keep time until the next run. The estimate
// alone, beside the decision on the clock; keeping the history and telling
// the kernel is the caller's.
#pragma once
#include <cstdint>

// One run's measurement.
struct DriftSample {
  int64_t atUs;         // when it was measured, UTC microseconds since 1970
  int64_t offsetUs;     // the server's time minus the clock's, before any change
  int64_t errorUs;      // how far the offset can be from the truth
  int64_t movedUs;      // what the run then moved the clock by (0: nothing)
  double inForcePpm;    // the kernel's frequency correction while it measured
  double setPpm;        // the correction in force once the run was done
  bool sameBoot;        // no restart since the sample before it, nor a suspend
};

// The most samples a history keeps, the newest last.
constexpr int32_t mostDriftSamples = 32;

struct DriftEstimate {
  enum Kind {
    kLearning,  // no interval yet counts: one run, or only short or uncertain ones
    kKnown,     // driftPpm holds the estimate
    kReset,     // the history did not fit one rate and starts again from the newest
  } kind;
  double driftPpm;     // kKnown: how fast the clock gains without correction
  double boundPpm;     // kKnown: the estimate's uncertainty
  int32_t runs;        // the runs the estimate (or the learning) rests on
  double correctionPpm;  // the kernel's frequency correction to set now
  const char* why;     // kReset: what did not fit, in a few words
  int32_t keepFrom;    // the first sample of the history to keep
};

// The kernel's limit on its frequency correction, and the most one run
// changes it by.
constexpr double mostCorrectionPpm = 500;
constexpr double mostCorrectionStepPpm = 50;

// Returns the estimate from count samples, oldest first: each interval
// between two runs on one boot that is long and sure enough (at least an
// hour, and an uncertainty of at most 1 ppm) counts, weighted by its
// uncertainty, the earlier ones less as the rate wanders. A rate beyond
// what a clock can run at, or one that does not fit the estimate so far,
// resets the history to its newest sample. The correction moves toward
// cancelling the drift by at most mostCorrectionStepPpm, within
// mostCorrectionPpm.
DriftEstimate estimateDrift(const DriftSample* samples, int32_t count);
