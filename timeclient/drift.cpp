#include "timeclient/drift.h"

#include <cmath>

#include "base/units.h"

namespace {
// An interval counts when it is at least an hour long and its rate is sure
// to 1 ppm: a whole-second offset (its second plus the lag) counts only over
// weeks, a precise one (a few milliseconds) after a few hours.
constexpr int64_t shortestIntervalUs = int64_t{secondsPerHour} * usPerSecond;
constexpr double mostIntervalErrorPpm = 1.0;
// How far a clock's rate may wander in a day (temperature, age): the
// estimate so far counts less by it.
constexpr double wanderPpmPerDay = 0.1;
// Beyond twice the kernel's limit no crystal runs: the clock was moved.
constexpr double fastestClockPpm = 2 * mostCorrectionPpm;
// A rate further from the estimate than these uncertainties and this much
// does not fit one rate.
constexpr double fitUncertainties = 4;
constexpr double fitSlackPpm = 1.0;
constexpr double usPerDay = 86400.0 * usPerSecond;
constexpr double ppmPerUnit = 1e6;

double square(double x) { return x * x; }

// What the clock did between two runs: its rate with no correction (ppm;
// positive, it gained) and how sure that is.
struct Interval {
  bool continuous;  // one boot, no suspend, the correction as the first run left it
  double driftPpm;
  double errorPpm;
  double days;
  bool counts;
};

Interval intervalOf(const DriftSample& a, const DriftSample& b) {
  Interval i{};
  int64_t elapsed = b.atUs - a.atUs;
  i.continuous = b.sameBoot && elapsed > 0 && std::fabs(b.inForcePpm - a.setPpm) < 1e-3;
  if (!i.continuous) return i;
  // The offset the first run left, less the one the second found: what the
  // clock gained meanwhile, with the correction a.setPpm in force.
  double gainedUs = static_cast<double>((a.offsetUs - a.movedUs) - b.offsetUs);
  i.driftPpm = gainedUs / static_cast<double>(elapsed) * ppmPerUnit - a.setPpm;
  i.errorPpm = static_cast<double>(a.errorUs + b.errorUs) / static_cast<double>(elapsed) * ppmPerUnit;
  i.days = static_cast<double>(elapsed) / usPerDay;
  i.counts = elapsed >= shortestIntervalUs && i.errorPpm <= mostIntervalErrorPpm;
  return i;
}

// The estimate as the intervals come in: a weighted mean that lets the
// older ones count less as the rate may have wandered since.
struct Running {
  bool known = false;
  double driftPpm = 0, variance = 0;
  int32_t counted = 0;  // intervals taken since the last reset
  int32_t from = 0;     // the first sample since the last reset
  const char* why = nullptr;
  int32_t resetAt = -1;

  void restart(int32_t at, const char* reason) {
    known = false;
    counted = 0;
    from = at;
    why = reason;
    resetAt = at;
  }

  void take(const Interval& i, int32_t at) {
    if (std::fabs(i.driftPpm) > fastestClockPpm + 3 * i.errorPpm)
      return restart(at, "the clock was moved between runs");
    if (!i.counts) return;
    ++counted;
    if (!known) {
      known = true;
      driftPpm = i.driftPpm;
      variance = square(i.errorPpm);
      return;
    }
    double prior = variance + square(wanderPpmPerDay * i.days);
    double allowed = fitUncertainties * std::sqrt(prior + square(i.errorPpm)) + fitSlackPpm;
    if (std::fabs(i.driftPpm - driftPpm) > allowed)
      return restart(at, "the clock's rate changed, or it was moved, between runs");
    double gain = prior / (prior + square(i.errorPpm));
    driftPpm += gain * (i.driftPpm - driftPpm);
    variance = (1 - gain) * prior;
  }
};

double clamped(double value, double most) { return value > most ? most : value < -most ? -most : value; }
}  // namespace

DriftEstimate estimateDrift(const DriftSample* samples, int32_t count) {
  DriftEstimate e{DriftEstimate::kLearning, 0, 0, count > 0 ? 1 : 0, 0, nullptr, 0};
  if (count <= 0) return e;
  Running r;
  for (int32_t at = 1; at < count; ++at) {
    Interval i = intervalOf(samples[at - 1], samples[at]);
    if (i.continuous) r.take(i, at);
  }
  double inForce = samples[count - 1].inForcePpm;
  e.keepFrom = r.from;
  e.runs = r.known ? r.counted + 1 : count - r.from;
  e.correctionPpm = inForce;
  if (r.resetAt == count - 1) {
    e.kind = DriftEstimate::kReset;
    e.why = r.why;
    return e;
  }
  if (!r.known) return e;
  e.kind = DriftEstimate::kKnown;
  e.driftPpm = r.driftPpm;
  e.boundPpm = std::sqrt(r.variance);
  double step = clamped(-r.driftPpm - inForce, mostCorrectionStepPpm);
  e.correctionPpm = clamped(inForce + step, mostCorrectionPpm);
  return e;
}
