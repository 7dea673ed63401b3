#include "linux/report.h"

#include <signal.h>

#include <cerrno>

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "timeclient/agreement.h"
#include "ui/winsockbox.h"
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

bool isHeldBack(ClockAction action) {
  return action == ClockAction::kIgnore || action == ClockAction::kPartial;
}

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

// adjtime's rate: the kernel makes a slewed change at 0.5 ms a second.
constexpr long long slewUsPerSecond = 500;

// A change that was made: stepped ("set"), or slewed and how long the
// kernel takes over it. A clock that could not be read gives no distance.
std::string madeChange(const QueryOutcome& o) {
  if (o.localUnknown) return "set (the local clock could not be read)";
  if (o.slewed) {
    long long us = o.movedUs < 0 ? -o.movedUs : o.movedUs;
    return "slewed (" + signedSeconds(o) + " s, over about " +
           std::to_string((us + slewUsPerSecond - 1) / slewUsPerSecond) + " s)";
  }
  return "set (" + signedSeconds(o) + (o.slewOn ? " s, stepped)" : " s)");
}

std::string whatWasDone(const QueryOutcome& o) {
  const std::string limit = "maxAdjust=" + std::to_string(o.maxAdjust);
  if (o.action == ClockAction::kReport) return actionText(o.action);
  if (o.refused) return "not set (the time is outside the range kronsec can set)";
  if (o.setAsked && o.clockNotSet) return "not set (setting the clock failed)";
  if (o.action == ClockAction::kPartial)
    return "partial (moved " + std::to_string(magnitude(o.movedSecs)) + " s toward it)";
  if (o.setAsked) return madeChange(o);
  if (o.overLimit && answeredCancel(o)) return "not set (the question was answered Cancel)";
  if (o.overLimit) return "held back (over " + limit + "; Ignore)";
  return "nothing to change";
}

std::string heldBackLine(const QueryOutcome& o) {
  if (!o.overLimit || !isHeldBack(o.action)) return "";
  const std::string limit = "maxAdjust=" + std::to_string(o.maxAdjust);
  std::string line =
      o.localUnknown
          ? "kronsec: the local clock cannot be read: the time from " + printable(o.host) +
                " counts as over " + limit + ": "
          : "kronsec: " + printable(o.host) + " is " + std::to_string(magnitude(o.diffSecs)) +
                " s " + (o.diffSecs > 0 ? "ahead" : "behind") + ", over " + limit + ": ";
  if (o.action == ClockAction::kPartial)
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

std::string clockProblemLines(const QueryOutcome& outcome, int setError, int statusError) {
  if (!outcome.answered) return "";
  return heldBackLine(outcome) + setFailureLine(outcome, setError) +
         kernelStatusLine(outcome, statusError);
}

std::string kernelStatusLine(const QueryOutcome& outcome, int statusError) {
  if (!outcome.answered || !outcome.kernelNotTold) return "";
  std::string why = statusError ? std::string(": ") + std::strerror(statusError) : "";
  return "kronsec: warning: the clock was changed, but the kernel was not told it is "
         "synchronised" + why + "\n";
}

std::string lockBusyLine(const std::string& folder, int holder) {
  std::string who = holder > 0 ? " (PID " + std::to_string(holder) + ")" : "";
  return "kronsec: another process" + who + " holds the lock on " + printable(folder) +
         ": nothing was saved\n";
}

namespace {
// Why a server of several gave no answer, in a few words.
std::string whyNoAnswer(const QueryFailure& f) {
  char text[shortAnswerTextSize];
  char refused[refusedAnswerTextSize];
  switch (f.step) {
    case QueryStep::kResolve: return "unknown host";
    case QueryStep::kTimeout: return "no answer in time";
    case QueryStep::kContradiction: return "its answers contradict each other";
    case QueryStep::kShortRead:
      shortAnswerText(text, f.bytes, f.serverClosed);
      return text;
    case QueryStep::kNoTime:
    case QueryStep::kLate:
      refusedAnswerText(refused, f);
      return refused;
    default: return winsockErrorText(f.code);
  }
}

// "60 s", or in precise mode "437 ms": a distance's size, rounded.
std::string distanceText(int64_t us, bool precise) {
  ToldDistance d = toldDistance(us, precise);
  return std::to_string(d.size) + " " + d.unit;
}

bool isRefusal(const QueryFailure& f) {
  return f.step == QueryStep::kNoTime || f.step == QueryStep::kLate;
}

// The servers written twice (or reached again through a name), each once.
std::string repeatedLines(const HostTextNotes& notes) {
  std::string lines;
  for (int32_t i = 0; i < notes.repeated && i < maxServers; ++i)
    lines += "kronsec: " + printable(notes.repeatedLabels[i]) + " is listed twice; asked once\n";
  return lines;
}
}  // namespace

std::string serverLines(const QueryOutcome& o) {
  std::string lines;
  for (int32_t i = 0; i < o.servers; ++i) {
    const ServerReport& r = o.server[i];
    std::string who = "kronsec: " + printable(r.label);
    if (r.verdict == ServerReport::kDisagreed)
      lines += who + " disagrees with the others by " + distanceText(r.distanceUs, o.precise != 0) +
               "; not used\n";
    else if (r.verdict == ServerReport::kNoAnswer && isRefusal(r.failure))
      lines += who + "'s answer was refused (" + whyNoAnswer(r.failure) + "); not used\n";
    else if (r.verdict == ServerReport::kNoAnswer)
      lines += who + " did not answer (" + whyNoAnswer(r.failure) + "); not used\n";
    else if (r.verdict == ServerReport::kNotWaitedFor)
      lines += who + " was not waited for: the others had settled the result; not used\n";
  }
  if (o.leftOut)
    lines += "kronsec: " + std::to_string(o.leftOut) + " more " + (o.leftOut == 1 ? "server" : "servers") +
             " than the " + std::to_string(maxServers) + " asked; not used\n";
  return repeatedLines(o.notes) + lines;
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
