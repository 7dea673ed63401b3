#include "linux/cli.h"

#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "linux/report.h"
#include "timeclient/client.h"

namespace {
constexpr int headlessOption = 1000;
constexpr int terminalOption = 1001;
constexpr int preciseOption = 1002;
constexpr long secondsPerHour = 3600;

const option longOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"headless", no_argument, nullptr, headlessOption},
    {"terminal", no_argument, nullptr, terminalOption},
    {"report-only", no_argument, nullptr, 'p'},
    {"precise", no_argument, nullptr, preciseOption},
    {"host", required_argument, nullptr, 'H'},
    {"config", required_argument, nullptr, 'c'},
    {nullptr, 0, nullptr, 0},
};

const char usageText[] =
    "Usage: kronsec [OPTION]...\n"
    "Sets this computer's clock from a Time server (RFC 868, TCP port 37), with\n"
    "the settings kept in orv.ini.\n"
    "\n"
    "In a terminal kronsec opens its dialog there. Without one, or with\n"
    "--headless, it runs one query cycle, prints the result and ends.\n"
    "\n"
    "  -H, --host HOST     ask HOST for this run only (not saved)\n"
    "  -p, --report-only   only report for this run, never set the clock (not saved)\n"
    "      --precise       precise mode for this run (not saved): the clock to the\n"
    "                      millisecond, from 8 to 12 timed queries\n"
    "  -c, --config DIR    keep the settings in DIR instead of\n"
    "                      $XDG_CONFIG_HOME/kronsec (~/.config/kronsec)\n"
    "      --headless      no dialog: one query cycle, the result on stdout\n"
    "      --terminal      the dialog in this terminal\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  an answer arrived and was handled as the settings say: the clock was\n"
    "     set, there was nothing to change, or kronsec only reported\n"
    "  1  no answer: the name lookup, the connection or the read failed, the\n"
    "     server did not answer in time, or no query could start (no host or\n"
    "     no TZ text known)\n"
    "  2  the command line is wrong\n"
    "  3  the answer arrived but the clock could not be set: no permission, or\n"
    "     the time is outside the range kronsec can set (1970 to 2038)\n"
    "  4  the change was over maxAdjust and was not fully made\n"
    "  5  the log line could not be written\n"
    "When several apply, the first of 1, 3, 4, 5 wins. In the terminal the status\n"
    "is that of the last query, and 0 when none was asked.\n";

// A relative folder is taken from where kronsec was started.
std::string absoluteFolder(const std::string& folder) {
  if (folder.empty() || folder[0] == '/') return folder;
  char here[PATH_MAX];
  if (!getcwd(here, sizeof here)) return folder;
  return std::string(here) + "/" + folder;
}

// The option getopt stopped at, as the user typed it: "--name" (without a
// "=value") or "-x".
std::string offendingOption(int argc, char** argv, bool longForm) {
  std::string arg = optind > 0 && optind <= argc ? argv[optind - 1] : "";
  if (longForm && arg.compare(0, 2, "--") == 0) return arg.substr(0, arg.find('='));
  return "-" + std::string(1, static_cast<char>(optopt));
}

std::string describeBadOption(int opt, int argc, char** argv) {
  if (opt == ':') return "option '" + offendingOption(argc, argv, true) + "' needs a value";
  return "unknown option '" + offendingOption(argc, argv, optopt == 0) + "'";
}

void takeOption(CommandLine& c, int opt) {
  switch (opt) {
    case 'h': c.action = CommandLine::kHelp; break;
    case 'V': c.action = CommandLine::kVersion; break;
    case headlessOption: c.frontEnd = CommandLine::kHeadless; break;
    case terminalOption: c.frontEnd = CommandLine::kTerminal; break;
    case 'p': c.reportOnly = true; break;
    case preciseOption: c.precise = true; break;
    case 'H':
      c.hasHost = true;
      c.host = optarg;
      break;
    case 'c': c.configFolder = absoluteFolder(optarg); break;
    default: break;
  }
}

// Checks what getopt cannot: values that are there but unusable.
std::string badValue(const CommandLine& c) {
  if (c.hasHost && c.host.empty()) return "the host given with --host is empty";
  struct stat info;
  if (!c.configFolder.empty() && stat(c.configFolder.c_str(), &info) == 0 &&
      !S_ISDIR(info.st_mode))
    return "'" + c.configFolder + "' is not a folder";
  return "";
}
}  // namespace

CommandLine parseCommandLine(int argc, char** argv) {
  CommandLine c;
  optind = 0;  // GNU: start afresh
  opterr = 0;
  int opt;
  while ((opt = getopt_long(argc, argv, "+:hVpH:c:", longOptions, nullptr)) != -1) {
    if (opt == '?' || opt == ':') {
      c.action = CommandLine::kUsageError;
      c.error = describeBadOption(opt, argc, argv);
      return c;
    }
    takeOption(c, opt);
  }
  if (optind < argc) c.error = "unexpected argument '" + std::string(argv[optind]) + "'";
  if (c.error.empty()) c.error = badValue(c);
  if (!c.error.empty()) c.action = CommandLine::kUsageError;
  return c;
}

void printUsage(FILE* out) { std::fputs(usageText, out); }

void printUsageHint(FILE* out) {
  std::fputs("Usage: kronsec [OPTION]...\nTry 'kronsec --help' for more information.\n", out);
}

int exitStatusFor(const QueryOutcome& o, bool headless) {
  if (!o.asked) return headless ? kExitNoAnswer : kExitDone;
  if (!o.answered) return kExitNoAnswer;
  if (o.clockNotSet) return kExitClockNotSet;
  if (o.changeHeld) return kExitChangeHeld;
  if (o.logFailed) return kExitLogFailed;
  return kExitDone;
}

std::string noAnswerLine(const QueryOutcome& o) {
  if (!o.asked || o.answered || o.lastRead == noRead) return "";
  char why[160];
  describeNoAnswer(o, why, sizeof why);
  return "kronsec: no answer from " + printable(o.host) + " (" + why + ")\n";
}

std::string tzTextForOffset(long utcOffset) {
  long hoursWest = -utcOffset / secondsPerHour;
  return "xST" + std::to_string(hoursWest);
}

std::string noStartAdvice(const QueryOutcome& o, const std::string& settingsPath,
                          long utcOffset) {
  if (o.missing == QueryOutcome::kNoHost)
    return "kronsec: no Time server host is set, so no query was made\n"
           "kronsec: put host=NAME under [kronsec] in " + settingsPath +
           ", or run kronsec --host NAME\n";
  if (o.missing != QueryOutcome::kNoTz) return "kronsec: no query was made\n";
  std::string tz = tzTextForOffset(utcOffset);
  std::string half = utcOffset % secondsPerHour ? " (and add30=1 for the half hour)" : "";
  return "kronsec: no TZ text is known, so kronsec cannot read the local clock and made no query\n"
         "kronsec: put the zone this machine's clock keeps under [kronsec] in " + settingsPath +
         ":\n"
         "kronsec:     TZ=" + tz + "\n"
         "kronsec:     useTZ=0\n"
         "kronsec: " + tz + " is this machine's offset from UTC now" + half +
         "; or pick a place of the zone list in the terminal dialog (kronsec --terminal), which"
         " stores TZindex and TZ; or run with TZ set in the environment (for example TZ=EST5EDT)\n";
}
