#include "linux/report.h"

#include <signal.h>

#include <cerrno>

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "base/units.h"
#include "platform/win32.h"
#include "timeclient/agreement.h"
#include "ui/applyanswer.h"
#include "ui/maincycle.h"
#include "ui/winsockbox.h"

namespace {
// Same column as the dialog's own result lines ("Date:      ...").
std::string summaryLine(const char* label, const std::string& value) {
  char line[600];
  std::snprintf(line, sizeof line, "%-9s %.580s\n", label, value.c_str());
  // A value is one line: a control character in it (a TZ inherited with a
  // line break) must not start a line a script would read as its own.
  for (char* c = line; c[1]; ++c)
    if (isControlByte(*c)) *c = '?';
  return line;
}

int64_t magnitude(int64_t value) { return value < 0 ? -value : value; }

// Whole seconds of a distance, rounded as precise mode's whole seconds are.
int64_t wholeSeconds(int64_t us) { return (magnitude(us) + usPerSecond / 2) / usPerSecond; }

bool answeredCancel(const RunReport& r) { return r.adjOpt == 0; }

// How far the clock was to move: whole seconds, or in precise mode with its
// milliseconds ("+0.437").
std::string signedSeconds(const RunReport& r) {
  char text[40];
  if (!r.precise) {
    std::snprintf(text, sizeof text, "%+lld", static_cast<long long>(r.movedUs / usPerSecond));
  } else {
    long long rounded = (magnitude(r.movedUs) + usPerMs / 2) / usPerMs * usPerMs;
    std::snprintf(text, sizeof text, "%c%lld.%03lld", r.movedUs < 0 ? '-' : '+',
                  rounded / usPerSecond, rounded / usPerMs % msPerSecond);
  }
  return text;
}

// adjtime's rate: the kernel makes a slewed change at 0.5 ms a second.
constexpr long long slewUsPerSecond = 500;

// A change that was made: stepped ("set"), or slewed and how long the
// kernel takes over it. A clock that could not be read gives no distance.
std::string madeChange(const RunReport& r) {
  if (!r.diffKnown) return "set (the local clock could not be read)";
  if (r.clock == ClockDone::kSlewed)
    return "slewed (" + signedSeconds(r) + " s, over about " +
           std::to_string((magnitude(r.movedUs) + slewUsPerSecond - 1) / slewUsPerSecond) + " s)";
  return "set (" + signedSeconds(r) + (r.slewOn ? " s, stepped)" : " s)");
}

std::string limitText(const RunReport& r) { return "maxAdjust=" + std::to_string(r.maxAdjust); }

std::string heldBackLine(const RunReport& r) {
  if (!changeHeld(r)) return "";
  std::string line =
      !r.diffKnown
          ? "kronsec: the local clock cannot be read: the time from " + printable(r.host) +
                " counts as over " + limitText(r) + ": "
          : "kronsec: " + printable(r.host) + " is " + std::to_string(wholeSeconds(r.diffUs)) + " s " +
                (r.diffUs < 0 ? "ahead" : "behind") + ", over " + limitText(r) + ": ";
  if (r.ask == ClockAsk::kPartial)
    return line + "moved " + std::to_string(magnitude(r.movedUs) / usPerSecond) + " s toward it\n";
  line += "clock left alone";
  if (answeredCancel(r)) line += " (the question was answered Cancel)";
  return line + "\n";
}

std::string setFailureLine(const RunReport& r) {
  if (r.clock != ClockDone::kFailed) return "";
  if (r.clockError == EPERM)
    return "kronsec: Operation not permitted: setting the clock needs root or CAP_SYS_TIME\n";
  if (r.clockError != 0) return std::string("kronsec: setting the clock failed: ") + std::strerror(r.clockError) + "\n";
  return "";
}
}  // namespace

std::string actionSummary(const RunReport& r) {
  switch (r.clock) {
    case ClockDone::kUntouched:
      if (r.ask == ClockAsk::kReport) return "report";
      if (answeredCancel(r)) return "not set (the question was answered Cancel)";
      return "held back (over " + limitText(r) + "; Ignore)";
    case ClockDone::kOutOfRange: return "not set (the time is outside the range kronsec can set)";
    case ClockDone::kFailed: return "not set (setting the clock failed)";
    case ClockDone::kUnchanged: return "nothing to change";
    case ClockDone::kStepped:
    case ClockDone::kSlewed:
      if (r.ask == ClockAsk::kPartial)
        return "partial (moved " + std::to_string(magnitude(r.movedUs) / usPerSecond) + " s toward it)";
      return madeChange(r);
  }
  return "";
}

const char* clockText(const RunReport& r) {
  switch (r.clock) {
    case ClockDone::kUntouched: return r.ask == ClockAsk::kReport ? "report" : "held";
    case ClockDone::kUnchanged: return "unchanged";
    case ClockDone::kStepped: return r.ask == ClockAsk::kPartial ? "partial" : "stepped";
    case ClockDone::kSlewed: return "slewed";
    case ClockDone::kFailed: return "failed";
    case ClockDone::kOutOfRange: return "out of range";
  }
  return "";
}

std::string resultLines(const RunReport& r) {
  if (!r.decided) return "";
  ResultTexts t = resultTexts(r, true);
  return summaryLine("Host:", r.host) + summaryLine("TZ:", r.tz) + summaryLine("Date:", t.date) +
         summaryLine("Time:", t.time) + summaryLine("Diff:", t.diff) + summaryLine("Net Lag:", t.lag) +
         summaryLine("Action:", actionSummary(r));
}

std::string printable(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (isControlByte(c)) c = '?';
  return out;
}

std::string clockProblemLines(const RunReport& r) {
  if (!r.decided) return "";
  return heldBackLine(r) + setFailureLine(r) + kernelStatusLine(r);
}

std::string kernelStatusLine(const RunReport& r) {
  bool changed = r.clock == ClockDone::kStepped || r.clock == ClockDone::kSlewed;
  if (!r.decided || !changed || r.kernelTold) return "";
  std::string why = r.kernelError ? std::string(": ") + std::strerror(r.kernelError) : "";
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

// The servers written twice (or reached again through a name), each once.
std::string repeatedLines(const HostTextNotes& notes) {
  std::string lines;
  for (int32_t i = 0; i < notes.repeated && i < maxServers; ++i)
    lines += "kronsec: " + printable(notes.repeatedLabels[i]) + " is listed twice; asked once\n";
  return lines;
}
}  // namespace

std::string serverWhy(const ServerRecord& s, bool precise) {
  switch (s.use) {
    case ServerUse::kUsed: return "";
    case ServerUse::kDisagreed: return "disagrees with the others by " + distanceText(s.distanceUs, precise);
    case ServerUse::kNotWaitedFor: return "not waited for: the others had settled the result";
    case ServerUse::kUndecided: return "no majority agreed";
    case ServerUse::kRefused: return "its answer was refused: " + whyNoAnswer(s.failure);
    case ServerUse::kSilent:
    case ServerUse::kContradicted: return "did not answer: " + whyNoAnswer(s.failure);
  }
  return "";
}

std::string serverLines(const RunReport& r) {
  if (r.servers < 2) return repeatedLines(r.notes);
  std::string lines;
  for (int32_t i = 0; i < r.servers; ++i) {
    const ServerRecord& s = r.server[i];
    std::string who = "kronsec: " + printable(s.label);
    if (s.use == ServerUse::kDisagreed)
      lines += who + " disagrees with the others by " + distanceText(s.distanceUs, r.precise) + "; not used\n";
    else if (s.use == ServerUse::kRefused)
      lines += who + "'s answer was refused (" + whyNoAnswer(s.failure) + "); not used\n";
    else if (s.use == ServerUse::kSilent || s.use == ServerUse::kContradicted)
      lines += who + " did not answer (" + whyNoAnswer(s.failure) + "); not used\n";
    else if (s.use == ServerUse::kNotWaitedFor)
      lines += who + " was not waited for: the others had settled the result; not used\n";
  }
  if (r.leftOut)
    lines += "kronsec: " + std::to_string(r.leftOut) + " more " + (r.leftOut == 1 ? "server" : "servers") +
             " than the " + std::to_string(maxServers) + " asked; not used\n";
  return repeatedLines(r.notes) + lines;
}

std::string stoppedLine(int signal, bool settingsNotSaved) {
  const char* name = signal == SIGINT    ? "SIGINT"
                     : signal == SIGTERM ? "SIGTERM"
                     : signal == SIGHUP  ? "SIGHUP"
                                         : nullptr;
  std::string line = name ? std::string("kronsec: stopped by ") + name
                          : "kronsec: stopped by signal " + std::to_string(signal);
  return line + (settingsNotSaved ? "; settings not saved\n" : "\n");
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

std::string plainFailureLine(const RunReport& r) {
  if (r.servers != 1 || r.decided || r.server[0].answered) return "";
  const QueryFailure& f = r.server[0].failure;
  std::string host = printable(r.host);
  // The box's 10060 says "Attempt to connect timed out", though the
  // connection stood and only the answer was late.
  if (f.step == QueryStep::kTimeout)
    return "kronsec: " + host + " took the connection but its answer did not come in time (" +
           std::to_string(answerTimeoutMs / msPerSecond) + " s)\n";
  if (f.step == QueryStep::kResolve && f.code == WSATRY_AGAIN)
    return "kronsec: the name server could not be reached to look up " + host +
           ": check this computer's network and its name servers (/etc/resolv.conf), or try "
           "again later\n";
  return "";
}
