// What the clock should become, given a Time-server answer: the decision
// alone, with no sound, box, clock, log or display. The main dialog's
// controller (ui/maincycle.cpp) carries it out.
#pragma once
#include <cstdint>

#include "base/units.h"


// What was done with an answer, as the log and the Linux report name it.
// The decision gives the first five; kFailed is the log's word for a
// setting of the clock that failed, which must not read as done.
enum class ClockAction { kReport, kReset, kAccept, kPartial, kIgnore, kFailed };

// Returns the action's name: "report", "reset", "accept", "partial",
// "ignore" or "failed".
const char* actionText(ClockAction action);

struct ClockInputs {
  uint32_t answer;      // the server's count of seconds since 1900
  int32_t localSecs;    // the local clock, seconds since 1970 (unknownClockSecs
                        // when it cannot be read)
  uint32_t readLagMs;   // query start to answer
  int32_t add30;
  int32_t useDST;
  int32_t zoneHasDst;
  int32_t reportOnly;
  uint32_t maxAdjust;   // seconds; 0 is no limit
  int32_t adjOpt;       // 0 prompt, 1 ignore, other accept
  int32_t zoneOffset;   // the zone's standard offset west of UTC, in seconds
};

// What the user said to the "Big Change" question.
enum class Answer : int32_t { kNone, kYes, kNo, kCancel };  // kNone: no box was shown

// What the user said to the "Big Change" question and how long the sound and
// the question took.
struct PolicyOutcome {
  Answer answer;
  uint32_t elapsedMs;
};

struct ClockDecision {
  int32_t serverSecs;   // the value to set, log and show
  int32_t localSecs;    // the local clock, moved on by the policy's wait
  int32_t limitSecs;    // serverSecs held within maxAdjust of localSecs
  int32_t diffSecs;     // serverSecs - localSecs before the policy
  ClockAction action;
  bool overLimit;       // the policy applies: sound, then ask or act
  bool asks;            // the policy asks the user (adjOpt 0)
  bool setsClock;       // the clock is to be set to serverSecs
  bool refused;         // serverSecs is outside the clock's range: never set,
                        // no policy, and the user is told (report-only aside)
  bool localUnknown;    // the local clock could not be read: localSecs (and
                        // for ignore serverSecs) is unknownClockSecs, and no
                        // difference is known
};

// Returns the seconds the zone options move the server's UTC by: +1800 for
// "Add 30 minutes", -3600 for a daylight zone with daylight time unticked.
int32_t zoneCorrection(const ClockInputs& in);

// Returns the decision for an answer. When it comes back with overLimit set
// and outcome was nullptr, the caller plays the sound, asks when `asks`, and
// calls again with what happened. Outside report-only, a value outside the
// clock's range comes back refused, with the action kIgnore. An unreadable
// local clock takes part in the limit as the value unknownClockSecs, but
// never moves on with the policy's wait: it stays unknown.
ClockDecision decideClock(const ClockInputs& in, const PolicyOutcome* outcome);
