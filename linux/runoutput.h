// What a Linux run tells about its requests: the result lines or the JSON
// object on stdout, the lines on stderr (with the journal's priorities),
// and the metrics file, all rendered from the request's record, as soon as
// the request ends and before the settings are saved.
#pragma once
#include <string>
#include <vector>

#include "timeclient/runreport.h"

struct RunOutputs {
  bool headless = false;         // the result is printed; else the terminal shows it
  bool json = false;             // stdout gets the JSON object in place of the lines
  std::string metricsPath;       // "" for none
  std::vector<std::string> warnings;  // the settings warnings given at start
  std::string settingsPath;      // named in the advice of a run that asked nothing
  bool drift = false;            // drift=1 or --drift: learn the clock's drift
  std::string otherService;      // a time service that keeps the clock too, or ""
  void (*showNote)(const std::string&) = nullptr;  // the terminal's note line
};

// Sets what the run tells, and where.
void useRunOutputs(const RunOutputs& outputs);

// The main dialog's report sink: tells a request's record as it ends.
void tellRequestEnded(const RunReport& r);

// Tells what the run's end adds (why nothing was asked, the output of a run
// whose last request was not told yet) and returns the exit status, given
// the status of what was done.
int tellRunEnded(const RunReport& r, int status);

// Returns whether a request's result has been told.
bool resultTold();
