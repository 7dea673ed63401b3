#include "linux/report.h"

#include <signal.h>

#include <cerrno>

#include <cstdio>
#include <cstring>

#include "app/text.h"
#include "platform/win32.h"

namespace {
// Same column as the dialog's own result lines ("Date:      ...").
std::string summaryLine(const char* label, const std::string& value) {
  char line[160];
  std::snprintf(line, sizeof line, "%-9s %s\n", label, value.c_str());
  return line;
}

uint32_t magnitude(int32_t value) {
  return value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

bool answeredCancel(const QueryOutcome& o) { return o.adjOpt == 0; }

// How far the clock was to move: whole seconds, or in precise mode with its
// milliseconds ("+0.437").
std::string signedSeconds(const QueryOutcome& o) {
  char text[40];
  if (o.movedUs == 0) {
    std::snprintf(text, sizeof text, "%+ld", static_cast<long>(o.movedSecs));
  } else {
    long long magnitude = ((o.movedUs < 0 ? -o.movedUs : o.movedUs) + 500) / 1000 * 1000;
    std::snprintf(text, sizeof text, "%c%lld.%03lld", o.movedUs < 0 ? '-' : '+',
                  magnitude / 1000000, magnitude / 1000 % 1000);
  }
  return text;
}

std::string whatWasDone(const QueryOutcome& o) {
  const std::string action = o.action ? o.action : "";
  const std::string limit = "maxAdjust=" + std::to_string(o.maxAdjust);
  if (action == "report") return "report";
  if (o.refused) return "not set (the time is outside the range kronsec can set)";
  if (o.setAsked && o.clockNotSet) return "not set (setting the clock failed)";
  if (action == "partial")
    return "partial (moved " + std::to_string(magnitude(o.movedSecs)) + " s toward it)";
  if (o.setAsked) return "set (" + signedSeconds(o) + " s)";
  if (o.overLimit && answeredCancel(o)) return "not set (the question was answered Cancel)";
  if (o.overLimit) return "held back (over " + limit + "; Ignore)";
  return "nothing to change";
}

std::string heldBackLine(const QueryOutcome& o) {
  const std::string action = o.action ? o.action : "";
  if (!o.overLimit || (action != "ignore" && action != "partial")) return "";
  std::string line = "kronsec: " + printable(o.host) + " is " +
                     std::to_string(magnitude(o.diffSecs)) + " s " +
                     (o.diffSecs > 0 ? "ahead" : "behind") + ", over maxAdjust=" +
                     std::to_string(o.maxAdjust) + ": ";
  if (action == "partial")
    return line + "moved " + std::to_string(magnitude(o.movedSecs)) + " s toward it\n";
  line += "clock left alone";
  if (answeredCancel(o)) line += " (the question was answered Cancel)";
  return line + "\n";
}

std::string setFailureLine(const QueryOutcome& o, int setError) {
  if (!o.setAsked || !o.clockNotSet || o.refused) return "";
  if (setError == EPERM)
    return "kronsec: Operation not permitted: setting the clock needs root or CAP_SYS_TIME\n";
  if (setError != 0) return std::string("kronsec: setting the clock failed: ") + std::strerror(setError) + "\n";
  return "";
}
}  // namespace

std::string printable(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (isControlByte(c)) c = '?';
  return out;
}

std::string actionLine(const QueryOutcome& outcome) {
  return summaryLine("Action:", whatWasDone(outcome));
}

std::string clockProblemLines(const QueryOutcome& outcome, int setError) {
  if (!outcome.answered) return "";
  return heldBackLine(outcome) + setFailureLine(outcome, setError);
}

std::string stoppedLine(int signal) {
  const char* name = signal == SIGINT    ? "SIGINT"
                     : signal == SIGTERM ? "SIGTERM"
                     : signal == SIGHUP  ? "SIGHUP"
                                         : nullptr;
  if (name) return std::string("kronsec: stopped by ") + name + "\n";
  return "kronsec: stopped by signal " + std::to_string(signal) + "\n";
}

std::string fileProblemLine(const std::string& path, const std::string& reason) {
  return "kronsec: " + printable(path) + ": " + reason + "\n";
}

std::string fileBoxText(const std::string& path, const std::string& text) {
  return path + ":\r\n" + text;
}

std::string saveFailedLine(const std::string& path, const std::string& reason) {
  return "kronsec: could not save " + printable(path) + ": " + reason + "\n";
}

std::string configFolderMissingLine(const std::string& folder) {
  return "kronsec: " + printable(folder) + ": no such folder (given with --config)\n";
}

std::string noTerminalLine(const std::string& askedBy, const std::string& reason) {
  return "kronsec: " + askedBy + ": " + reason + "\n";
}

std::string winsockPlainLine(int code, const QueryOutcome& outcome) {
  std::string host = printable(outcome.host);
  // The answer timer is the only one that ends a query whose connection
  // stood with a box of this code; a connect that timed out ends before.
  if (code == WSAETIMEDOUT && outcome.reported)
    return "kronsec: " + host + " took the connection but its answer did not come in time (" +
           std::to_string(answerTimeoutMs / 1000) + " s)\n";
  if (code == WSATRY_AGAIN)
    return "kronsec: the name server could not be reached to look up " + host +
           ": check this computer's network and its name servers (/etc/resolv.conf), or try "
           "again later\n";
  return "";
}
