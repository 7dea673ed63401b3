// kronsec's command line on Linux: its options, its usage text, and how the
// end of a run becomes the exit status and the lines a script reads.
#pragma once
#include <cstdio>
#include <string>

#include "ui/maincycle.h"

enum ExitStatus : int {
  kExitDone = 0,        // an answer arrived and was handled as the settings say
  kExitNoAnswer = 1,    // no final answer, or no query could start, or the
                        // settings' lock was busy and nothing was saved
  kExitUsage = 2,
  kExitClockNotSet = 3,
  kExitChangeHeld = 4,  // over the limit and not fully made
  kExitLogFailed = 5,
};

struct CommandLine {
  enum Action { kRun, kCheck, kHelp, kVersion, kUsageError };
  enum FrontEndChoice { kAutomatic, kHeadless, kTerminal };
  Action action = kRun;
  FrontEndChoice frontEnd = kAutomatic;
  bool reportOnly = false;
  bool precise = false;
  bool slew = false;
  bool noSave = false;       // leave every settings file as it is
  bool check = false;        // --check: check the settings file, run nothing
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

// Returns the exit status for how the run's last query ended. A headless run
// that asked nothing failed; a terminal run in which nothing was asked is
// fine. A save given up on a busy lock (lockBusy) is status 1 whatever the query did.
int exitStatusFor(const QueryOutcome& outcome, bool headless, bool lockBusy);

// Returns the line that says why a query ended without an answer when no box
// said it already (a short read, a reset, an IPv6 address), else "".
std::string noAnswerLine(const QueryOutcome& outcome);

// Returns the TZ text in kronsec's form for a clock that runs utcOffset
// seconds east of UTC ("xST0", "xST-1" for UTC+1); whole hours only.
std::string tzTextForOffset(long utcOffset);

// Returns whether host is an IPv6 address ("::1", "[fe80::1%eth0]"), which
// kronsec, an IPv4 client, cannot ask.
bool isIpv6Address(const std::string& host);

// Returns the line that says an IPv6 address cannot be asked, without "kronsec: ".
std::string ipv4OnlyText(const std::string& host);

// Returns text with every byte that is not printable UTF-8 shown as \ooo, so
// what a user typed never sends raw bytes to the terminal.
std::string escapedText(const std::string& text);

// Returns the line that says why no query could start and which file to
// edit; settingsPath names the settings file, utcOffset is the machine's
// offset now.
std::string noStartAdvice(const QueryOutcome& outcome, const std::string& settingsPath,
                          long utcOffset);
