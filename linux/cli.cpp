// Before win32.h, whose Winsock names are macros over the C library's.
#include <arpa/inet.h>

#include "linux/cli.h"

#include "base/units.h"
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "linux/report.h"
#include "ui/winsockbox.h"

namespace {
constexpr int headlessOption = 1000;
constexpr int terminalOption = 1001;
constexpr int noSaveOption = 1002;
constexpr int preciseOption = 1003;
constexpr int slewOption = 1004;
constexpr int checkOption = 1005;
constexpr int jsonOption = 1006;
constexpr int metricsOption = 1007;
constexpr int driftOption = 1008;

const option longOptions[] = {
    {"ipv4", no_argument, nullptr, '4'},
    {"ipv6", no_argument, nullptr, '6'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"headless", no_argument, nullptr, headlessOption},
    {"terminal", no_argument, nullptr, terminalOption},
    {"report-only", no_argument, nullptr, 'p'},
    {"precise", no_argument, nullptr, preciseOption},
    {"slew", no_argument, nullptr, slewOption},
    {"drift", no_argument, nullptr, driftOption},
    {"host", required_argument, nullptr, 'H'},
    {"config", required_argument, nullptr, 'c'},
    {"no-save", no_argument, nullptr, noSaveOption},
    {"check", no_argument, nullptr, checkOption},
    {"json", no_argument, nullptr, jsonOption},
    {"metrics", required_argument, nullptr, metricsOption},
    {nullptr, 0, nullptr, 0},
};

const char usageText[] =
    "Usage: kronsec [OPTION]...\n"
    "Sets this computer's clock from a Time server (RFC 868, TCP port 37, over\n"
    "IPv4 or IPv6), with the settings kept in orv.ini.\n"
    "\n"
    "In a terminal kronsec opens its dialog there. Without one, or with\n"
    "--headless, it runs one query cycle, prints the result and ends.\n"
    "\n"
    "  -H, --host HOST     ask HOST for this run only: a name, an IPv4 or IPv6\n"
    "                      address, or several separated by blanks or commas (at\n"
    "                      most 8 servers) (not saved)\n"
    "  -p, --report-only   only report for this run, never set the clock (not saved)\n"
    "  -4, --ipv4          ask over IPv4 only for this run (not saved; family=4)\n"
    "  -6, --ipv6          ask over IPv6 only for this run (not saved; family=6)\n"
    "      --precise       precise mode for this run (not saved): the clock to the\n"
    "                      millisecond, from up to 16 timed queries\n"
    "      --slew          for this run (not saved), a change below half a second\n"
    "                      is made gradually by the kernel, as adjtime does, not\n"
    "                      stepped (with precise mode: whole seconds always step)\n"
    "      --drift         learn this clock's drift from the runs before and tell\n"
    "                      the kernel its frequency correction, for this run\n"
    "                      (drift=1)\n"
    "  -c, --config DIR    keep the settings in DIR instead of\n"
    "                      $XDG_CONFIG_HOME/kronsec (~/.config/kronsec)\n"
    "      --no-save       leave every settings file as it is: read them, never\n"
    "                      write them (a service's settings in /etc, scripts)\n"
    "      --headless      no dialog: one query cycle, the result on stdout\n"
    "      --terminal      the dialog in this terminal\n"
    "      --check         check the settings file a run would read (with -c, the\n"
    "                      one in DIR), print one line per problem, run nothing\n"
    "      --json          print the run's record as one JSON object on stdout, in\n"
    "                      place of the result lines (man kronsec gives its keys)\n"
    "      --metrics FILE  write the run's record to FILE in Prometheus text, for\n"
    "                      node_exporter's textfile collector (also metricsPath=)\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "Environment:\n"
    "  XDG_CONFIG_HOME     the settings are in its kronsec folder (default ~/.config)\n"
    "  TZ                  the TZ text that Use TZ Env Var takes (for example EST5EDT)\n"
    "  KRONSEC_FRONTEND    headless or terminal: chooses the front end when no\n"
    "                      option does\n"
    "  NO_COLOR            when set, the terminal dialog has no colours\n"
    "  TERM                the terminal's type, which the dialog is drawn for\n"
    "\n"
    "Exit status:\n"
    "  0  an answer arrived and was handled as the settings say: the clock was\n"
    "     set, there was nothing to change, or kronsec only reported\n"
    "  1  no answer: the name lookup, the connection or the read failed, the\n"
    "     server did not answer in time, its answer was refused (0, a count\n"
    "     from 1900, or over 10 s late), or no query could start (no host or\n"
    "     no TZ text known); or another process held the settings folder's\n"
    "     lock for 10 s, and nothing was saved\n"
    "  2  the command line is wrong, --terminal has no terminal, or the host\n"
    "     text names several servers and holds an item that is none (a comment)\n"
    "  3  the answer arrived but the clock could not be set: no permission, or\n"
    "     the time is outside the range kronsec can set (1970 to 2038)\n"
    "  4  the change was over maxAdjust and was not fully made\n"
    "  5  the log line could not be written\n"
    "When several apply, the first of 1, 3, 4, 5 wins. In the terminal the status\n"
    "is that of the last query, and 0 when none was asked. --check ends with 0\n"
    "when it found no problem, 1 when it found any, 2 on a usage error.\n"
    "\n"
    "The manual: man kronsec.\n";

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

// The long name of the option whose value is val.
std::string longName(int val) {
  for (const option& o : longOptions)
    if (o.name && o.val == val) return o.name;
  return "";
}

std::string describeBadOption(int opt, int argc, char** argv) {
  std::string arg = optind > 0 && optind <= argc ? argv[optind - 1] : "";
  bool longForm = arg.compare(0, 2, "--") == 0;
  if (opt == ':') return "option '" + offendingOption(argc, argv, true) + "' needs a value";
  // getopt names an option that was given a value it does not take by its
  // value, which for --headless is no character at all.
  if (longForm && optopt != 0 && !longName(optopt).empty())
    return "option '--" + longName(optopt) + "' doesn't allow an argument";
  return "unknown option '" + offendingOption(argc, argv, optopt == 0) + "'";
}

// Records the front end asked for; asking for both is a mistake.
void chooseFrontEnd(CommandLine& c, CommandLine::FrontEndChoice choice) {
  if (c.frontEnd != CommandLine::kAutomatic && c.frontEnd != choice)
    c.error = "--headless and --terminal cannot be used together";
  c.frontEnd = choice;
}

void takeOption(CommandLine& c, int opt) {
  switch (opt) {
    case 'h': c.action = CommandLine::kHelp; break;
    case 'V': c.action = CommandLine::kVersion; break;
    case headlessOption: chooseFrontEnd(c, CommandLine::kHeadless); break;
    case terminalOption: chooseFrontEnd(c, CommandLine::kTerminal); break;
    case 'p': c.reportOnly = true; break;
    case '4':
    case '6':
      if (c.family != 0 && c.family != opt - '0') c.error = "-4 and -6 cannot be used together";
      c.family = opt - '0';
      break;
    case preciseOption: c.precise = true; break;
    case slewOption: c.slew = true; break;
    case driftOption: c.drift = true; break;
    case noSaveOption: c.noSave = true; break;
    case checkOption: c.check = true; break;
    case jsonOption: c.json = true; break;
    case metricsOption:
      c.hasMetrics = true;
      c.metricsPath = optarg;
      break;
    case 'H':
      c.hasHost = true;
      c.host = optarg;
      break;
    case 'c':
      c.hasConfig = true;
      c.configFolder = absoluteFolder(optarg);
      break;
    default: break;
  }
}

// --check runs nothing, so an option that changes a run has no place beside it.
bool takesRunOptions(const CommandLine& c) {
  return c.reportOnly || c.precise || c.noSave || c.hasHost || c.json || c.hasMetrics || c.family || c.drift ||
         c.frontEnd != CommandLine::kAutomatic;
}

// Checks what getopt cannot: values that are there but unusable.
std::string badValue(const CommandLine& c) {
  if (c.check && takesRunOptions(c)) return "--check takes no option but -c/--config";
  if (c.hasHost && c.host.empty()) return "the host given with --host is empty";
  if (c.hasMetrics && c.metricsPath.empty()) return "the file given with --metrics is empty";
  if (c.hasConfig && c.configFolder.empty()) return "the folder given with --config is empty";
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
  while ((opt = getopt_long(argc, argv, "+:hVpH:c:46", longOptions, nullptr)) != -1) {
    if (opt == '?' || opt == ':') {
      c.error = describeBadOption(opt, argc, argv);
      break;
    }
    takeOption(c, opt);
  }
  if (c.error.empty() && optind < argc)
    c.error = "unexpected argument '" + std::string(argv[optind]) + "'";
  if (c.error.empty()) c.error = badValue(c);
  if (c.check && c.action == CommandLine::kRun) c.action = CommandLine::kCheck;
  if (!c.error.empty()) c.action = CommandLine::kUsageError;
  c.error = escapedText(c.error);
  return c;
}

void printUsage(FILE* out) { std::fputs(usageText, out); }

void printUsageHint(FILE* out) {
  std::fputs("Usage: kronsec [OPTION]...\nTry 'kronsec --help' for more information.\n", out);
}

int exitStatusFor(const RunReport& r, bool headless, bool lockBusy) {
  return lockBusy ? kExitNoAnswer : runStatus(r, headless);
}

std::string tzTextForOffset(long utcOffset) {
  long hoursWest = -utcOffset / secondsPerHour;
  return "xST" + std::to_string(hoursWest);
}

std::string noStartAdvice(const RunReport& o, const std::string& settingsPath, long utcOffset) {
  if (o.missing == Missing::kNoHost)
    return "kronsec: no Time server host is set, so no query was made: put host=NAME under "
           "[kronsec] in " + settingsPath + ", or run kronsec --host NAME\n";
  if (o.missing != Missing::kNoTz) return "kronsec: no query was made\n";
  std::string tz = tzTextForOffset(utcOffset);
  std::string half = utcOffset % secondsPerHour ? "; add30=1 adds its half hour" : "";
  return "kronsec: no TZ text is known, so no query was made: put TZ=" + tz +
         " and useTZ=0 under [kronsec] in " + settingsPath + " (" + tz +
         " is this machine's offset from UTC now" + half + ")\n";
}

namespace {
// The length of the UTF-8 sequence that starts at text[at] when it is whole
// and prints (no C0 or C1 control, no DEL), else 0.
size_t printableLength(const std::string& text, size_t at) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x20 || lead == 0x7f) return 0;
  // The lead byte's high bits give the length: 0xxxxxxx, 110xxxxx, 1110xxxx, 11110xxx.
  size_t length = lead < 0x80           ? 1
                  : (lead >> 5) == 0x06 ? 2
                  : (lead >> 4) == 0x0e ? 3
                  : (lead >> 3) == 0x1e ? 4
                                        : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[at + k]) >> 6) != 2) return 0;
  if (lead == 0xc2 && static_cast<unsigned char>(text[at + 1]) < 0xa0) return 0;  // C1
  return length;
}
}  // namespace

std::string escapedText(const std::string& text) {
  std::string shown;
  for (size_t at = 0; at < text.size();) {
    size_t length = printableLength(text, at);
    if (length) {
      shown.append(text, at, length);
      at += length;
      continue;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\%03o",
                  static_cast<unsigned int>(static_cast<unsigned char>(text[at])));
    shown += escape;
    ++at;
  }
  return shown;
}
