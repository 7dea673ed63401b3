// The run's record for machines: one JSON object for scripts (--json), and
// Prometheus text for node_exporter's textfile collector (--metrics FILE).
// Both are contracts: keys and metrics are added later, never renamed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "linux/drift.h"
#include "timeclient/runreport.h"

// What a run adds to its last request's record: its exit status, the
// settings warnings it gave, and when it ended (seconds since 1970).
struct RunEnd {
  int32_t status;
  std::vector<std::string> warnings;
  int64_t when;
  DriftOutcome drift;  // drift=1's learning, when it was on
};

// Returns the record as one JSON object on one line, ending in a line feed.
std::string reportJson(const RunReport& r, const RunEnd& end);

// Returns the record as Prometheus text. lastSuccess is the time of the
// last run that ended with status 0: this one's when it did, else the one
// the previous file held (0: none known, and the gauge is left out).
std::string reportMetrics(const RunReport& r, const RunEnd& end, int64_t lastSuccess);

// Returns the last-success time a metrics file holds, or 0.
int64_t lastSuccessIn(const std::string& metricsText);

// Writes the record's metrics to path at once and whole: a new file beside
// it, then renamed over it. Returns "" or why it could not be written.
std::string writeMetricsFile(const std::string& path, const RunReport& r, const RunEnd& end);
