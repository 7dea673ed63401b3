// kronsec's entry point on Linux: reads the command line, picks the front
// end, applies the run's own settings, arranges for signals to end the
// program in order, runs WinMain and turns how the run ended into the exit
// status.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/appstate.h"
#include "linux/cli.h"
#include "linux/frontends.h"
#include "linux/report.h"
#include "linux/runonly.h"
#include "linux/settingscheck.h"
#include "linux/timeservices.h"
#include "linux/tui/tui.h"
#include "platform/posix/clock.h"
#include "platform/posix/ini/store.h"
#include "program/shell.h"

namespace {
int closePipe[2] = {-1, -1};

void onSignal(int signal) {
  stopSignal = signal;
  char byte = 1;
  ssize_t ignored = write(closePipe[1], &byte, 1);
  (void)ignored;
}

// SIGINT, SIGTERM and SIGHUP close the program through its ordered exit, so
// its settings are saved and its socket closed.
void catchCloseSignals() {
  if (pipe2(closePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  watchCloseRequests(closePipe[0]);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// Who asked for the terminal front end: "--terminal", "KRONSEC_FRONTEND=terminal",
// or "" when it was left to kronsec.
const char* terminalAskedBy(const CommandLine& line) {
  if (line.frontEnd == CommandLine::kTerminal) return "--terminal";
  const char* wanted = std::getenv("KRONSEC_FRONTEND");
  bool byEnvironment = line.frontEnd == CommandLine::kAutomatic && wanted &&
                       std::strcmp(wanted, "terminal") == 0;
  return byEnvironment ? "KRONSEC_FRONTEND=terminal" : "";
}

bool wantsHeadless(const CommandLine& line) {
  if (line.frontEnd != CommandLine::kAutomatic) return line.frontEnd == CommandLine::kHeadless;
  const char* wanted = std::getenv("KRONSEC_FRONTEND");
  if (wanted && std::strcmp(wanted, "headless") == 0) return true;
  if (wanted && std::strcmp(wanted, "terminal") == 0) return false;
  return !isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO);
}

// A terminal whose other side has gone (hung up, or its input at an end)
// can never give the dialog a key.
bool inputHasEnded(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Returns why the terminal front end that was asked for cannot run here, or
// "": it needs a terminal on stdin and stdout whose input has not ended.
std::string noTerminalReason() {
  // A terminal that has hung up is no longer one to isatty (EIO).
  if (!isatty(STDIN_FILENO))
    return errno == EIO ? "the terminal's input has ended" : "standard input is not a terminal";
  if (!isatty(STDOUT_FILENO)) return "standard output is not a terminal";
  if (inputHasEnded(STDIN_FILENO)) return "the terminal's input has ended";
  return "";
}

void warnOnStderr(const std::string& path, const std::string& text) {
  std::fputs(fileProblemLine(path, text).c_str(), stderr);
}

void showInBox(const char* caption, UINT icon, const std::string& path, const std::string& text) {
  MessageBoxA(nullptr, fileBoxText(path, text).c_str(), caption, MB_OK | icon);
}

// The terminal shows each warning in a box of its own as the settings are
// read, before the dialog opens (a queued box would open the dialog under
// itself from its own message loop).
void warnInBox(const std::string& path, const std::string& text) {
  showInBox("Settings Warning", MB_ICONEXCLAMATION, path, text);
}

// The warning of a setting read as report-only, in the words the store uses
// for the other numbers, to whoever the store tells.
ini::NumberWarning numberWarning = nullptr;
void warnGuardFlag(const char* key, const char* text, int32_t used) {
  if (!numberWarning) return;
  numberWarning(ini::profilePath(settingsFile), std::string(key) + "=\"" + text +
                                                    "\" is not a number; kronsec uses " +
                                                    std::to_string(used));
}

// A key outside its documented range, in the same words and to the same
// place as the store's other warnings.
void warnOutOfRange(const char* key, const char* text, int32_t low, int32_t high, int32_t used) {
  if (!numberWarning) return;
  numberWarning(ini::profilePath(settingsFile),
                std::string(key) + "=" + text + " is outside its range, " + std::to_string(low) +
                    " to " + std::to_string(high) + "; kronsec uses " + std::to_string(used));
}

// The lines about settings folders whose lock another process kept: told
// once the terminal is given back, and the run's status is 1.
std::string lockBusyLines;
void noteLockBusy(const std::string& folder, int holder) {
  lockBusyLines += lockBusyLine(folder, holder);
}

void saveFailedOnStderr(const std::string& path, const std::string& reason) {
  std::fputs(saveFailedLine(path, reason).c_str(), stderr);
}

// A --config folder that is not there is most likely a typing mistake:
// said, rather than read as empty settings. Returns whether all is well.
bool configFolderFound(const CommandLine& line) {
  struct stat info;
  if (!line.hasConfig || stat(line.configFolder.c_str(), &info) == 0) return true;
  std::fputs(configFolderMissingLine(line.configFolder).c_str(), stderr);
  return false;
}

// The command that lists every problem of the settings this run reads.
std::string checkCommand(const CommandLine& line) {
  return line.hasConfig ? "kronsec --check -c " + printable(line.configFolder) : "kronsec --check";
}

int runCheck(const CommandLine& line) {
  if (!configFolderFound(line)) return kCheckProblems;
  if (line.hasConfig) ini::setConfigFolder(line.configFolder);
  std::string path = ini::profilePath(settingsFile);
  if (path.empty()) {
    std::fputs("kronsec: no settings folder is known: set HOME or XDG_CONFIG_HOME, or give "
               "--config DIR\n", stderr);
    return kCheckProblems;
  }
  return checkSettingsFile(path, stdout);
}

void applyRunSettings(const CommandLine& line) {
  if (line.noSave) ini::setSaving(false);
  if (line.reportOnly) makeRunReportOnly();
  if (line.precise) ini::setRunOverride(settingsFile, settingsSection, "precise", "1");
  if (line.slew) ini::setRunOverride(settingsFile, settingsSection, "slew", "1");
  if (line.hasHost) ini::setRunOverride(settingsFile, settingsSection, "host", line.host.c_str());
}

// Stops the run before it reads or writes any settings when a profile file
// is there but unusable. Returns whether both are usable.
bool profilesReadable(bool headless) {
  const char* const names[] = {settingsFile, nullptr};  // nullptr: the system profile
  for (const char* name : names) {
    std::string path = ini::profilePath(name);
    std::string reason = path.empty() ? "" : unreadableSettingsReason(path);
    if (reason.empty()) continue;
    if (headless) warnOnStderr(path, reason);
    else showInBox("kronsec Error", MB_ICONHAND, path, reason);
    return false;
  }
  return true;
}

// A run that would set the clock while another service keeps it says so
// once, before it starts: the two would undo each other's changes.
void warnOfTimeService(bool headless) {
  // The settings' own warnings come when they are loaded, once.
  SettingNote note = settingNotANumber;
  settingNotANumber = nullptr;
  int32_t reportOnly = readReportOnly();
  settingNotANumber = note;
  if (reportOnly != 0) return;
  std::string service = runningTimeService();
  if (service.empty()) return;
  std::string line = timeServiceLine(service);
  if (headless) std::fputs(line.c_str(), stderr);
  else MessageBoxA(nullptr, line.substr(std::strlen("kronsec: warning: ")).c_str(),
                   "Another Time Service", MB_OK | MB_ICONEXCLAMATION);
}

long machineUtcOffset() {
  time_t now = std::time(nullptr);
  struct tm local {};
  return localtime_r(&now, &local) ? local.tm_gmtoff : 0;
}

// What a script reads after a headless run: the result and what was done
// with the clock, or why there is none.
void reportHeadlessEnd() {
  if (queryOutcome.answered) {
    std::fputs(headlessSummary().c_str(), stdout);
    std::fputs(actionLine(queryOutcome).c_str(), stdout);
  }
  std::fflush(stdout);
  std::fputs(noAnswerLine(queryOutcome).c_str(), stderr);
  std::fputs(clockProblemLines(queryOutcome, lastClockSetError(), lastClockStatusError()).c_str(),
             stderr);
  std::fputs(serverLines(queryOutcome).c_str(), stderr);
  if (!queryOutcome.asked)
    std::fputs(noStartAdvice(queryOutcome, ini::profilePath(settingsFile), machineUtcOffset()).c_str(),
               stderr);
}

// Runs the program with the chosen front end; returns the exit status.
int run(const CommandLine& line) {
  const char* askedBy = terminalAskedBy(line);
  std::string noTerminal = *askedBy ? noTerminalReason() : "";
  if (!noTerminal.empty()) {
    std::fputs(noTerminalLine(askedBy, noTerminal).c_str(), stderr);
    return kExitUsage;
  }
  if (!configFolderFound(line)) return kExitNoAnswer;
  if (line.hasConfig) ini::setConfigFolder(line.configFolder);
  // Before the dialog takes the terminal; the file is read as Windows reads
  // it whatever is said here.
  warnAboutSettings(ini::profilePath(settingsFile), checkCommand(line), stderr);
  bool headless = wantsHeadless(line);
  const FrontEnd* terminal = headless ? nullptr : tuiFrontEnd();
  if (!headless && !terminal) {
    if (line.frontEnd == CommandLine::kTerminal) {
      std::fputs("kronsec: --terminal: this terminal cannot show the dialog\n", stderr);
      return kExitNoAnswer;
    }
    headless = true;
  }
  useFrontEnd(terminal ? terminal : headlessFrontEnd());
  // Without a terminal the warnings above said it already.
  numberWarning = terminal ? warnInBox : nullptr;
  ini::setNumberWarning(numberWarning);
  settingNotANumber = warnGuardFlag;
  settingOutOfRange = warnOutOfRange;
  ini::setLockBusy(noteLockBusy);
  // The dialog stays silent about a lost save, as on Windows; a script is told.
  ini::setSaveFailure(terminal ? nullptr : saveFailedOnStderr);
  applyRunSettings(line);
  if (!profilesReadable(headless)) {
    tuiShutdown();
    return kExitNoAnswer;
  }
  warnOfTimeService(headless);
  catchCloseSignals();
  processStartup();
  char commandLine[] = "";
  // Without a terminal the program behaves as if started minimised: with a
  // host and a TZ text it runs one cycle and ends by itself.
  int status = WinMain(programInstance(), nullptr, commandLine,
                       terminal ? SW_SHOWNORMAL : SW_SHOWMINNOACTIVE);
  tuiShutdown();
  std::fputs(lockBusyLines.c_str(), stderr);
  // A script is told its run was cut short; in the terminal Ctrl-C is one
  // of the ways a person closes the dialog.
  if (stopSignal && headless) {
    std::fputs(stoppedLine(stopSignal).c_str(), stderr);
    return kExitNoAnswer;
  }
  if (tuiInputLost()) {
    std::fputs("kronsec: the terminal's input ended\n", stderr);
    return kExitNoAnswer;
  }
  if (status != 0) return kExitNoAnswer;
  if (headless) reportHeadlessEnd();
  else std::fputs(kernelStatusLine(queryOutcome, lastClockStatusError()).c_str(), stderr);
  return exitStatusFor(queryOutcome, headless, !lockBusyLines.empty());
}

void printVersion() {
  const char* name = versionValue("ProductName");
  const char* version = versionValue("ProductVersion");
  std::printf("%s %s\n", name ? name : "kronsec", version ? version : "");
}
}  // namespace

int main(int argc, char** argv) {
  CommandLine line = parseCommandLine(argc, argv);
  switch (line.action) {
    case CommandLine::kHelp: printUsage(stdout); return kExitDone;
    case CommandLine::kVersion: printVersion(); return kExitDone;
    case CommandLine::kUsageError:
      std::fprintf(stderr, "kronsec: %s\n", line.error.c_str());
      printUsageHint(stderr);
      return kExitUsage;
    case CommandLine::kCheck: return runCheck(line);
    case CommandLine::kRun: break;
  }
  return run(line);
}
