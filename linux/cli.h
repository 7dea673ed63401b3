// kronsec's command line on Linux: its options, its usage text, and how the
// end of a run becomes the exit status and the lines a script reads.
#pragma once
#include <cstdio>
#include <string>

#include "timeclient/runreport.h"

// The exit statuses are the run's (timeclient/runreport.h), on Linux and
// Windows alike; the command line adds its own reasons for 1 and 2.
enum ExitStatus : int {
  kExitDone = kStatusDone,
  kExitNoAnswer = kStatusNoAnswer,  // also: the settings' lock was busy, nothing saved
  kExitUsage = kStatusUsage,
  kExitClockNotSet = kStatusClockNotSet,
  kExitChangeHeld = kStatusChangeHeld,
  kExitLogFailed = kStatusLogFailed,
};

struct CommandLine {
  enum Action { kRun, kCheck, kHelp, kVersion, kUsageError };
  enum FrontEndChoice { kAutomatic, kHeadless, kTerminal };
  Action action = kRun;
  FrontEndChoice frontEnd = kAutomatic;
  bool reportOnly = false;
  int family = 0;            // 4 or 6: -4, -6 (this run only)
  bool precise = false;
  bool slew = false;
  bool drift = false;        // --drift: learn the clock's drift for this run
  bool noSave = false;       // leave every settings file as it is
  bool check = false;        // --check: check the settings file, run nothing
  bool json = false;         // the record as JSON on stdout
  bool hasMetrics = false;
  std::string metricsPath;   // the record in Prometheus text, written there
  bool hasHost = false;
  std::string host;
  bool hasConfig = false;
  std::string configFolder;  // absolute
  std::string error;         // one line, for kUsageError
};

// Returns what argv asks for. getopt_long's state is reset first, so it may
// be called more than once in a process.
CommandLine parseCommandLine(int argc, char** argv);

// Writes the usage, the options and the exit statuses to out.
void printUsage(FILE* out);
// Writes the usage line and where to read more, after a usage error.
void printUsageHint(FILE* out);

// Returns the exit status for how the run's last request ended (runStatus).
// A save given up on a busy lock (lockBusy) is status 1 whatever the
// request did.
int exitStatusFor(const RunReport& r, bool headless, bool lockBusy);

// Returns the TZ text in kronsec's form for a clock that runs utcOffset
// seconds east of UTC ("xST0", "xST-1" for UTC+1); whole hours only.
std::string tzTextForOffset(long utcOffset);

// Returns text with every byte that is not printable UTF-8 shown as \ooo, so
// what a user typed never sends raw bytes to the terminal.
std::string escapedText(const std::string& text);

// Returns the line that says why no query could start and which file to
// edit; settingsPath names the settings file, utcOffset is the machine's
// offset now.
std::string noStartAdvice(const RunReport& r, const std::string& settingsPath, long utcOffset);
