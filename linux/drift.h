// drift=1 on Linux: each run adds what it measured to a history kept in the
// state folder, learns from it how fast this computer's clock drifts, and
// tells the kernel the frequency correction that keeps it on time until the
// next run (adjtimex's ADJ_FREQUENCY), as a daemon would, in a one-shot.
#pragma once
#include <string>

#include "timeclient/drift.h"
#include "timeclient/runreport.h"

// What the drift step did in a run, for the lines, JSON and metrics.
struct DriftOutcome {
  bool on = false;           // drift=1 or --drift
  bool measured = false;     // the run had an offset to add
  DriftEstimate estimate{};  // when measured
  bool kernelTold = false;   // the correction was set
  std::string notTold;       // why it was not ("" when it was, or none was due)
  std::string notes;         // lines about the history file (damaged, unwritable)
};

// Returns the history file: $STATE_DIRECTORY/drift when systemd gives the
// service a state folder, else $XDG_STATE_HOME/kronsec/drift (by default
// ~/.local/state/kronsec/drift); "" when no folder is known.
std::string driftHistoryPath();

// Learns from the request's record r: adds its measurement to the history,
// estimates, tells the kernel the correction unless r only reported or
// otherService runs (its name; "" for none), and saves the history. Never
// fails the run: a damaged history is set aside and said.
DriftOutcome learnDrift(const RunReport& r, const std::string& otherService);

// Returns the "Drift:" line's value: "+30.2 ppm (4 runs), kernel told",
// "learning (1 run)", "reset: the clock was moved between runs".
std::string driftText(const DriftOutcome& d);

// Returns the result's "Drift:" line (ending in a line feed), "" when drift=1
// is off or nothing was measured.
std::string driftLine(const DriftOutcome& d);
