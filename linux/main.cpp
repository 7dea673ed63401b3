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
#include "linux/journal.h"
#include "linux/report.h"
#include "linux/runonly.h"
#include "linux/runoutput.h"
#include "linux/settingscheck.h"
#include "linux/timeservices.h"
#include "linux/tui/tui.h"
#include "platform/posix/clock.h"
#include "platform/posix/ini/store.h"
#include "program/shell.h"
#include "ui/maincycle.h"

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
  sayOnStderr(Priority::kError, fileProblemLine(path, text));
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
  sayOnStderr(Priority::kError, saveFailedLine(path, reason));
}

// A --config folder that is not there is most likely a typing mistake:
// said, rather than read as empty settings. Returns whether all is well.
bool configFolderFound(const CommandLine& line) {
  struct stat info;
  if (!line.hasConfig || stat(line.configFolder.c_str(), &info) == 0) return true;
  sayOnStderr(Priority::kError, configFolderMissingLine(line.configFolder));
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
  if (line.drift) ini::setRunOverride(settingsFile, settingsSection, "drift", "1");
  if (line.family)
    ini::setRunOverride(settingsFile, settingsSection, "family", std::to_string(line.family).c_str());
  if (line.hasHost) ini::setRunOverride(settingsFile, settingsSection, "host", line.host.c_str());
}

// Stops the run before it reads or writes any settings when a profile file
// is there but unusable. Returns whether both are usable.
bool profilesReadable(bool headless) {
  const char* const names[] = {settingsFile, nullptr};  // nullptr: the system profile
  for (const char* name : names) {
    std::string reason = unreadableProfileReason(name);
    if (reason.empty()) continue;
    std::string path = ini::profilePath(name);
    if (headless) warnOnStderr(path, reason);
    else showInBox("kronsec Error", MB_ICONHAND, path, reason);
    return false;
  }
  return true;
}

// A run that would set the clock while another service keeps it says so
// once, before it starts: the two would undo each other's changes. Returns
// the service's name ("" for none). The processes are looked through only
// when it matters (a run that sets the clock, or learns its drift): a
// report-only run has no cause to read them all.
std::string warnOfTimeService(bool headless, bool drift) {
  // The settings' own warnings come when they are loaded, once.
  SettingNote note = settingNotANumber;
  settingNotANumber = nullptr;
  int32_t reportOnly = readReportOnly();
  settingNotANumber = note;
  std::string service = reportOnly == 0 || drift ? runningTimeService() : "";
  if (reportOnly != 0 || service.empty()) return service;
  std::string line = timeServiceLine(service);
  if (headless) sayOnStderr(Priority::kWarning, line);
  else MessageBoxA(nullptr, line.substr(std::strlen("kronsec: warning: ")).c_str(),
                   "Another Time Service", MB_OK | MB_ICONEXCLAMATION);
  return service;
}

// The front end the run uses: the terminal's, or headless when there is
// none (or it was asked for); nullptr after saying why the terminal asked
// for cannot show the dialog.
const FrontEnd* chooseFrontEnd(const CommandLine& line, bool* headless) {
  *headless = wantsHeadless(line);
  const FrontEnd* terminal = *headless ? nullptr : tuiFrontEnd();
  if (terminal) return terminal;
  if (line.frontEnd == CommandLine::kTerminal) {
    sayOnStderr(Priority::kError, "kronsec: --terminal: this terminal cannot show the dialog\n");
    return nullptr;
  }
  *headless = true;
  return headlessFrontEnd();
}

// How the settings' store tells what it finds, to the front end in use.
void hearTheStore(bool headless) {
  // Without a terminal the warnings at start said it already.
  numberWarning = headless ? nullptr : warnInBox;
  ini::setNumberWarning(numberWarning);
  settingNotANumber = warnGuardFlag;
  settingOutOfRange = warnOutOfRange;
  ini::setLockBusy(noteLockBusy);
  // The dialog stays silent about a lost save, as on Windows; a script is told.
  ini::setSaveFailure(headless ? saveFailedOnStderr : nullptr);
}

// The settings warnings, as lines and, for the record, without "kronsec: ".
std::vector<std::string> warningsOf(const std::string& lines) {
  std::vector<std::string> list;
  for (size_t at = 0; at < lines.size();) {
    size_t end = lines.find('\n', at);
    std::string line = lines.substr(at, end - at);
    list.push_back(line.compare(0, 9, "kronsec: ") == 0 ? line.substr(9) : line);
    at = end == std::string::npos ? lines.size() : end + 1;
  }
  return list;
}

// The metrics file: --metrics, else the settings' metricsPath.
std::string metricsPathFor(const CommandLine& line) {
  if (line.hasMetrics) return line.metricsPath;
  char path[scratchSize] = "";
  GetPrivateProfileStringA(settingsSection, "metricsPath", "", path, sizeof path, settingsFile);
  return path;
}

// How the run ends once its dialog has: a signal, a lost terminal, a busy
// lock or the status of what was done.
int endOfRun(bool headless, int status) {
  RunReport r = lastReport();
  bool lockBusy = !lockBusyLines.empty();
  sayOnStderr(Priority::kError, lockBusyLines);
  // A script is told its run was cut short; in the terminal Ctrl-C is one
  // of the ways a person closes the dialog. A result already told stands.
  if (stopSignal && headless) {
    sayOnStderr(Priority::kInfo, stoppedLine(stopSignal, lockBusy && resultTold()));
    return resultTold() ? tellRunEnded(r, runStatus(r, true)) : tellRunEnded(r, kExitNoAnswer);
  }
  if (tuiInputLost()) {
    sayOnStderr(Priority::kError, "kronsec: the terminal's input ended\n");
    return tellRunEnded(r, kExitNoAnswer);
  }
  return tellRunEnded(r, lockBusy ? kExitNoAnswer : status);
}

// Runs the program with the chosen front end; returns the exit status.
int run(const CommandLine& line) {
  const char* askedBy = terminalAskedBy(line);
  std::string noTerminal = *askedBy ? noTerminalReason() : "";
  if (!noTerminal.empty()) {
    sayOnStderr(Priority::kError, noTerminalLine(askedBy, noTerminal));
    return kExitUsage;
  }
  if (!configFolderFound(line)) return kExitNoAnswer;
  if (line.hasConfig) ini::setConfigFolder(line.configFolder);
  // Before the dialog takes the terminal; the file is read as Windows reads
  // it whatever is said here.
  std::string warnings = settingsWarnings(settingsFile, checkCommand(line));
  sayOnStderr(Priority::kWarning, warnings);
  bool headless = false;
  const FrontEnd* frontEnd = chooseFrontEnd(line, &headless);
  if (!frontEnd) return kExitNoAnswer;
  useFrontEnd(frontEnd);
  hearTheStore(headless);
  applyRunSettings(line);
  if (!profilesReadable(headless)) {
    tuiShutdown();
    return kExitNoAnswer;
  }
  RunOutputs outputs;
  outputs.headless = headless;
  outputs.json = line.json;
  outputs.metricsPath = metricsPathFor(line);
  outputs.warnings = warningsOf(warnings);
  outputs.settingsPath = ini::profilePath(settingsFile);
  outputs.drift = GetPrivateProfileIntA(settingsSection, "drift", 0, settingsFile) != 0;
  outputs.showNote = headless ? nullptr : tuiShowNote;
  outputs.otherService = warnOfTimeService(headless, outputs.drift);
  useRunOutputs(outputs);
  setReportSink(tellRequestEnded);
  catchCloseSignals();
  processStartup();
  char commandLine[] = "";
  // Without a terminal the program behaves as if started minimised: with a
  // host and a TZ text it runs one cycle and ends by itself.
  int status = WinMain(programInstance(), nullptr, commandLine,
                       headless ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
  tuiShutdown();
  return endOfRun(headless, status);
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
