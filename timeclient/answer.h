// What the clock should become for a final answer: the settings, the zone
// and the judged local clock turned into the decision's inputs, and how far
// a change moves the clock. The decision alone; carrying it out (sound,
// question, clock, log, display) is the caller's.
#pragma once
#include <cstdint>

#include "timeclient/adjust.h"
#include "timeclient/precise.h"

struct AppState;

struct AnswerDecision {
  ClockInputs in;
  int32_t correction;     // zoneCorrection of the inputs
  ClockDecision d;
  bool precise;           // offset holds precise mode's result
  PreciseOffset offset;
  bool slew;              // the slew setting: small changes made gradually
};

// Returns the decision on a final answer (seconds since 1900, or with
// precise the offset the probes found) before any policy: the zone is
// refreshed, then the judged clock read, so both sides use the TZ now in
// force. When d.overLimit is set the caller runs the policy and calls
// decideAfterPolicy.
AnswerDecision decideAnswer(const AppState* state, uint32_t answer, const PreciseOffset* precise);

// Returns the decision on the offset several servers agreed on (server
// minus local clock, microseconds, with its bound): in precise mode as a
// precise answer; in whole seconds as the answer a server at that offset
// would give now, with no lag to make up for.
AnswerDecision decideAgreed(const AppState* state, int64_t offsetUs, int64_t boundUs, bool precise);

// Decides again with what the policy's sound and question did.
void decideAfterPolicy(AnswerDecision* a, const PolicyOutcome& outcome);

// Returns how far a precise change moves the clock in microseconds: the
// whole offset, or the limit's whole seconds for a partial change; 0
// without precise mode.
int64_t movedUs(const AnswerDecision& a);

// A precise offset as it is shown: the difference (local clock minus
// server) to the nearest millisecond, and its bound to the next tenth of a
// millisecond above every offset the answers allow around it.
struct ShownOffset {
  int64_t diffUs;   // a whole number of milliseconds
  int64_t boundUs;  // a whole number of tenths of a millisecond
};
ShownOffset shownOffset(const PreciseOffset& p);

// Returns whether the change was over the limit and not fully made (ignore,
// partial).
bool heldBack(const ClockDecision& d);

// What carrying out a change of the clock did.
struct ClockChange {
  bool made;        // the clock took the change
  bool slewed;      // it was handed to the kernel to make gradually
  bool kernelTold;  // made, and the kernel then took the news that its clock
                    // is synchronised (a platform without such news: true)
  int32_t error;        // not made: the platform's code for why (0 unknown)
  int32_t statusError;  // made, the kernel not told: its code for why
};

// Carries out a decision that sets the clock: steps it to the decided
// second, or in precise mode moves it by movedUs; with slew, a move below
// half a second is made gradually where the platform can. After a change
// the kernel is told the clock is synchronised, with its estimated error:
// precise mode's bound, else the second an answer leaves open plus the lag,
// and what a slew or a partial change leaves to make; the maximum error adds
// serverErrorMarginUs.
ClockChange changeClock(const AnswerDecision& a);

// The margin the kernel's maximum error adds to the estimated one: the
// server's own error, which the Time protocol does not report.
constexpr int64_t serverErrorMarginUs = 100000;

// Changes smaller than this are slewed when the slew setting is on.
constexpr int64_t slewLimitUs = 500000;
