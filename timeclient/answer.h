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

// Returns whether the change was over the limit and not fully made (ignore,
// partial).
bool heldBack(const ClockDecision& d);

// Carries out a decision that sets the clock: steps it to the decided
// second, or in precise mode moves it by movedUs. Returns whether the clock
// took the change.
bool changeClock(const AnswerDecision& a);
