#include "linux/runoutput.h"

#include <cstdio>
#include <ctime>

#include "linux/cli.h"
#include "linux/journal.h"
#include "linux/machineout.h"
#include "linux/report.h"

namespace {
RunOutputs outputs;
bool told = false;
DriftOutcome drift;  // the last request's learning

long machineUtcOffset() {
  time_t now = std::time(nullptr);
  struct tm local {};
  return localtime_r(&now, &local) ? local.tm_gmtoff : 0;
}

RunEnd runEnd(int status) {
  return RunEnd{status, outputs.warnings, static_cast<int64_t>(std::time(nullptr)), drift};
}

void writeMetrics(const RunReport& r, int status) {
  if (outputs.metricsPath.empty()) return;
  std::string problem = writeMetricsFile(outputs.metricsPath, r, runEnd(status));
  if (!problem.empty())
    sayOnStderr(Priority::kError, "kronsec: could not write the metrics to " + printable(outputs.metricsPath) +
                                      ": " + problem + "\n");
}

// stdout first and flushed: a script that reads it is not kept waiting by
// the settings' save.
void printResult(const RunReport& r, int status) {
  std::fputs(outputs.json ? reportJson(r, runEnd(status)).c_str() : (resultLines(r) + driftLine(drift)).c_str(),
             stdout);
  std::fflush(stdout);
  sayOnStderr(Priority::kWarning, drift.notes);
  sayOnStderr(Priority::kError, plainFailureLine(r));
  sayOnStderr(Priority::kWarning, clockProblemLines(r) + serverLines(r));
}
}  // namespace

void useRunOutputs(const RunOutputs& o) {
  outputs = o;
  told = false;
}

bool resultTold() { return told; }

void tellRequestEnded(const RunReport& r) {
  int status = runStatus(r, outputs.headless);
  drift = outputs.drift ? learnDrift(r, outputs.otherService) : DriftOutcome{};
  if (outputs.showNote && drift.measured) outputs.showNote("Drift: " + driftText(drift));
  if (outputs.headless) printResult(r, status);
  writeMetrics(r, status);
  told = outputs.headless;
}

int tellRunEnded(const RunReport& r, int status) {
  if (!outputs.headless) {
    sayOnStderr(Priority::kWarning, kernelStatusLine(r));
    if (outputs.json) std::fputs(reportJson(r, runEnd(status)).c_str(), stdout);
  } else if (!told) {
    if (outputs.json) std::fputs(reportJson(r, runEnd(status)).c_str(), stdout);
    std::fflush(stdout);
    if (!r.asked) sayOnStderr(Priority::kError, noStartAdvice(r, outputs.settingsPath, machineUtcOffset()));
  }
  if (!told || !outputs.headless) writeMetrics(r, status);
  return status;
}
