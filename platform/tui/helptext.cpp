// kronsec's user help, as the terminal front end shows it.
#include "platform/tui/helptext.h"

#include <algorithm>

namespace {

const char kContents[] =
    "kronsec sets this computer's clock from a Time server on the network "
    "(RFC 868). It measures the network lag, compares the server's time with "
    "the local clock read through a time zone, and sets the clock, within a "
    "limit you choose, or only reports the difference.\n"
    "\n"
    "Choose a topic with the arrow keys and Enter, by its number, or with a "
    "click:";

const char kGettingTheTime[] =
    "kronsec asks a Time server for the current time, compares it with this "
    "computer's clock and, unless it is told only to report, sets the clock.\n"
    "\n"
    "Host:\tthe name or dotted address (for example 192.0.2.1) of a server that "
    "offers the Time service (RFC 868, TCP port 37). kronsec reads this field "
    "when you press Get time and remembers it.\n"
    "Local TZ:\tthe place whose time this computer's clock keeps; see Time zones.\n"
    "TZ:\tthe TZ text in use.\n"
    "\n"
    "Get time (Enter, or Alt+G) asks the server for the time. When the window "
    "opens with a host and a TZ text already known, kronsec starts by itself: "
    "it first measures the network lag with a few calibration queries, showing "
    "\"Calibrating Net Lag ...\" and then \"Calibrating Lag (N ms)\" after each "
    "of them, and then asks for the time. The number of calibration queries is "
    "set in Advanced options (Calibration attempts, 3 unless you change it). "
    "Get time itself makes one query; when an earlier round stopped during "
    "calibration, it carries on with the calibration queries that were left.\n"
    "\n"
    "While a query runs, Get time and Close are greyed out, Esc does nothing "
    "and a busy mark shows. Looking up the server and connecting wait for the "
    "network, so the window may not respond for a moment.\n"
    "\n"
    "When the answer arrives, kronsec adds half the network lag in whole "
    "seconds (once the lag reaches 2 seconds), applies Add 30 minutes and Use "
    "daylight savings (see Time zones) and the maximum adjustment (see Advanced "
    "options), sets the clock, writes a log line when logging is on, and shows "
    "the result:\n"
    "\n"
    "Date:\tthe date of the new time, for example Sat Dec 5, 2026. The day and "
    "month names come from the settings file.\n"
    "Time:\tthe new time of day, hh:mm:ss, local time.\n"
    "Diff:\tthe local clock minus the new time, in seconds: positive when this "
    "computer's clock was ahead (fast), negative when it was behind (slow). It "
    "shows 0 secs when the change was ignored.\n"
    "Net Lag:\tthe milliseconds from the start of the query to the answer.\n"
    "\n"
    "The window's title then reads \" - Horavex - hh:mm:ss\" with the same time; "
    "in a terminal the terminal's title says the same.\n"
    "\n"
    "Setting the clock needs the right to do so: an administrator on Windows, "
    "root (or the CAP_SYS_TIME capability) on Linux. When it fails, kronsec "
    "says \"Error setting system time\" and still shows and logs the result. "
    "When the clock already agrees, nothing is set.\n"
    "\n"
    "Sounds: kronsecReset plays after the clock has been set, kronsecMaxAdj "
    "when a change is larger than the maximum adjustment; in a terminal both "
    "are the terminal's bell.\n"
    "\n"
    "When the server cannot be reached, a \"Winsock Error\" message says why, "
    "and the clock is left alone.";

const char kTimeZones[] =
    "kronsec reads this computer's clock as local time, so it must know which "
    "zone the clock keeps. It describes the zone with a TZ text of its own "
    "form and its own rules, not with the system's time-zone database.\n"
    "\n"
    "The Local TZ list holds 126 places, each tied to a TZ text: cities of "
    "North America, Europe, Africa, Asia and Australia, and the fixed zones "
    "GMT+12 to GMT-12 (GMT+hh is hh hours ahead of Greenwich, GMT-hh behind; "
    "they have no daylight time). Picking a place puts its TZ text into use at "
    "once; the text shows after \"TZ:\" and is remembered.\n"
    "\n"
    "A TZ text is three letters naming standard time, the number of hours west "
    "of UTC (with a minus sign for places east of it), and optionally three "
    "letters naming daylight time:\n"
    "  EST5EDT\t5 hours west of UTC, with daylight time\n"
    "  MET-1MDT\t1 hour east of UTC, with daylight time\n"
    "  xST-9\t9 hours east of UTC, no daylight time\n"
    "  xST0\tUTC, no daylight time\n"
    "Only whole hours are read; minutes are ignored. A text that does not have "
    "this form counts as EST5EDT.\n"
    "\n"
    "Daylight time: every TZ text with a daylight name gets the same fixed "
    "rule, wherever the place lies. Daylight time, one hour ahead, runs from "
    "2:00 on the first Sunday of April to 2:00 standard time on the last Sunday "
    "of October (before 1987 it began on the last Sunday of April). Places with "
    "other rules, those south of the equator for example, are an hour out for "
    "part of the year with it; a TZ text without a daylight name avoids the "
    "rule.\n"
    "\n"
    "Use daylight savings\twhen this box is cleared and the TZ text has a "
    "daylight name, kronsec takes one hour off the server's time, whatever the "
    "date. The box is read, and saved, when a result arrives: ticking it and "
    "closing without getting the time keeps the old setting.\n"
    "Use TZ Env Var\ttake the TZ text from the TZ environment variable kronsec "
    "was started with, instead of the list; the text then shows in place of the "
    "list. The box can be ticked only when the variable is set, and the "
    "variable must hold a text of the form above: zone names such as "
    "Europe/Paris are not understood and count as EST5EDT. Clearing the box "
    "brings the list back; the TZ text in use stays until you pick a place.\n"
    "Add 30 minutes\tadd half an hour to the server's time, for places whose "
    "offset from UTC is not a whole number of hours, which a TZ text cannot "
    "express. The list marks two such places, Darwin and Adelaide, with "
    "\"(add 30)\".";

const char kOptions[] =
    "The check boxes on the right of the main window:\n"
    "\n"
    "Report only\tshow and log the difference but never set the clock. The "
    "log line says report, and no sound plays.\n"
    "Auto Close\tend by itself after a result: the window closes 5 seconds "
    "after the result, and the program ends 5 seconds later, showing the time "
    "in its minimised title meanwhile. Ticking the box starts the 5 seconds at "
    "once, even in the middle of a query; clearing it within them stops the "
    "countdown.\n"
    "\n"
    "Use daylight savings, Use TZ Env Var and Add 30 minutes are described "
    "under Time zones.\n"
    "\n"
    "The buttons:\n"
    "\n"
    "Get time\task the server now; see Getting the time.\n"
    "Advanced ...\tthe maximum adjustment, the log and the calibration; see "
    "Advanced options.\n"
    "About\tthe program's name and version.\n"
    "Help\tthis help.\n"
    "Close\tend kronsec (not while a query runs).\n"
    "\n"
    "kronsec saves all its settings when it ends. Started minimised with a host "
    "and a TZ text known, it runs one query, acts on the answer and ends by "
    "itself.";

const char kAdvanced[] =
    "Advanced ... opens the Advanced Options window. What you choose there "
    "takes effect at the next query.\n"
    "\n"
    "Max adjust (secs)\tthe largest change kronsec makes to the clock without "
    "asking; 0 means no limit. A difference exactly as large as the limit is "
    "within it. When a change is larger, the kronsecMaxAdj sound plays and one "
    "of the three choices below decides:\n"
    "Prompt\task the question \"Big Change\", which shows the difference: Yes "
    "sets the full time (logged as accept), No moves the clock by the maximum "
    "only, toward the server's time (partial), Cancel leaves the clock alone "
    "(ignore).\n"
    "Ignore\tleave the clock alone (ignore).\n"
    "Accept\tset the full time anyway (accept).\n"
    "The time the sound and the question take is added to the new time.\n"
    "\n"
    "Use Log\tappend one line per result to the log file.\n"
    "Verbose\twrite the longer, verbose line; Verbose alone also turns "
    "logging on.\n"
    "Log file ...\tchoose the log file. The path can also be typed into the "
    "field beside the button. A path chosen with the button is put into the "
    "field in lower case, so type it instead when its folders have capital "
    "letters.\n"
    "Calibration attempts\tthe number of queries that only measure the "
    "network lag before the real one; 0 skips the calibration.\n"
    "Custom TZ ...\tnot available.\n"
    "\n"
    "The log file: a plain line holds the host, the date, the TZ text, the new "
    "time and the local clock's time of day, the difference in seconds, the "
    "net lag and what was done. A verbose line adds both times as seconds "
    "since 1970 and the time the connection took. See The log file.\n"
    "\n"
    "The two numbers are taken as you type them, so Cancel does not undo them. "
    "A character other than a digit, or a number too large, is refused with a "
    "beep and the last value comes back. Ok stores the choice of Prompt, "
    "Ignore or Accept and the log settings; with logging on, Ok needs a log "
    "path (blanks around it are removed) and beeps when the field is empty. "
    "Cancel leaves those settings as they were.";

const char kLogFile[] =
    "With logging on (Advanced options), kronsec appends one line to the log "
    "file for every result. The fields are separated by TAB characters and "
    "each line ends with CR LF. The file is opened and closed for each line, "
    "so it may be read, moved or deleted between results; it is made when "
    "missing, but its folder must exist. When a line cannot be written, a "
    "\"Log Error\" message names the file.\n"
    "\n"
    "The fields of a plain line:\n"
    "  host\tthe server asked\n"
    "  date\tthe date of the new time, such as Sat Dec 5, 2026\n"
    "  zone\tthe TZ text in use\n"
    "  server time\tthe new time of day, hh:mm:ss, local time\n"
    "  local time\tthe local clock's time of day when the answer came\n"
    "  difference\tthe new time minus the local clock, in seconds: the "
    "opposite sign to Diff: in the window\n"
    "  net lag\tsuch as 153 ms\n"
    "  action\twhat was done (below)\n"
    "\n"
    "A verbose line has two more fields before the difference, the new time "
    "and the local clock as seconds since 1 January 1970 UTC, and one more "
    "after the net lag: the connect lag, the milliseconds until the connection "
    "stood.\n"
    "\n"
    "The actions:\n"
    "  report\tReport only: the clock was not set\n"
    "  reset\tthe clock was set to the server's time, or already agreed\n"
    "  accept\ta change larger than the maximum, made in full\n"
    "  partial\ta change larger than the maximum, made up to the maximum\n"
    "  ignore\ta change larger than the maximum, not made; the difference "
    "is 0\n"
    "\n"
    "A plain line, with its TABs shown as blanks:\n"
    "    192.0.2.1  Sat Dec 5, 2026  EST5EDT  14:03:07  14:03:09  -2  153 ms  reset";

const char kSettings[] =
    "kronsec keeps its settings in the file orv.ini, section [kronsec]. It reads "
    "the file when it starts and writes it when it ends, so change the file "
    "while kronsec is not running.\n"
    "\n"
    "Windows\torv.ini in the Windows folder.\n"
    "Linux\t$XDG_CONFIG_HOME/kronsec/orv.ini, that is "
    "~/.config/kronsec/orv.ini when XDG_CONFIG_HOME is not set. The folder is "
    "made at the first save. The sound entries kronsecConnect, kronsecReset and "
    "kronsecMaxAdj are kept in win.ini in the same folder.\n"
    "\n"
    "The keys, with their defaults:\n"
    "  host\tthe time server\n"
    "  attempts\tcalibration queries (3)\n"
    "  useDST\tUse daylight savings, 1 or 0 (1)\n"
    "  TZindex\tthe place picked in the list, from 0; -1 for none (-1)\n"
    "  TZ\tthe TZ text in use\n"
    "  useTZ\tUse TZ Env Var (1 when the TZ variable is set)\n"
    "  add30\tAdd 30 minutes (0)\n"
    "  reportOnly\tReport only (0)\n"
    "  autoClose\tAuto Close (0)\n"
    "  maxAdjust\tMax adjust in seconds, 0 for no limit (0)\n"
    "  adjOpt\t0 Prompt, 1 Ignore, 2 Accept (0)\n"
    "  logOpts\t0 no log, 1 plain lines, 2 verbose lines (0)\n"
    "  logPath\tthe log file\n"
    "  months\tthe month names (Jan:Feb:...:Dec:)\n"
    "  days\tthe day names (Sun:Mon:Tue:Wed:Thu:Fri:Sat)\n"
    "The keys useCustom, Label, Prefix, Suffix, gmtOffset and sMonth to eAdjust "
    "describe a custom zone; kronsec keeps them but does not use them.\n"
    "\n"
    "The language of the date: months holds the twelve month names, January "
    "first, and days the seven day names, Sunday first, separated by colons. "
    "Change them to have dates on the screen and in the log in another "
    "language, for example:\n"
    "    days=So:Mo:Di:Mi:Do:Fr:Sa\n"
    "A name that is missing shows as \"error\". kronsec writes both keys, with "
    "the names it read, each time its window opens, so they are in the file to "
    "edit after the first run.";

const char kHeadless[] =
    "When its input or output is not a terminal, as under cron, a systemd "
    "timer or a script, kronsec runs without a window, as if started "
    "minimised: with a host and a TZ text in its settings it runs one query "
    "(with its calibration), prints the result lines Host, TZ, Date, Time, "
    "Diff and Net Lag, and ends.\n"
    "\n"
    "- Messages that a window would show are written to standard error as "
    "caption: text, for example \"Log Error: Error writing to log file ...\".\n"
    "- The \"Big Change\" question is answered Cancel, so the clock is left "
    "alone and the log says ignore. Choose Ignore or Accept in Advanced "
    "options to decide beforehand.\n"
    "- When nothing can start, for example because no TZ text is known, "
    "kronsec says why on standard error and ends.\n"
    "- SIGINT, SIGTERM and SIGHUP end kronsec through its normal exit, so "
    "its settings are saved.\n"
    "- Help needs a terminal.\n"
    "\n"
    "Setting the clock needs root; with reportOnly=1 kronsec only reports. "
    "The settings are those of the user the job runs as. A cron line that "
    "checks the clock every night and keeps the messages:\n"
    "    15 3 * * * /usr/local/bin/kronsec >/dev/null 2>>/var/log/kronsec.err\n"
    "with, in orv.ini:\n"
    "    [kronsec]\n"
    "    host=time.example.net\n"
    "    TZ=xST0\n"
    "    useTZ=0\n"
    "    maxAdjust=60\n"
    "    adjOpt=1\n"
    "    logOpts=1\n"
    "    logPath=/var/log/kronsec.log";

const char kKeys[] =
    "In kronsec's windows:\n"
    "  Tab, Shift-Tab\tmove to the next or the previous control\n"
    "  Arrow keys\tmove within a list or a group of option buttons\n"
    "  Space\ttick or clear a check box, press a button\n"
    "  Enter\tpress the default button (Get time, Ok)\n"
    "  Esc\tClose or Cancel\n"
    "  Alt+letter\tthe control with that underlined letter: go to it or "
    "press it. The underlined letter alone does the same outside text "
    "fields.\n"
    "  F1\tthis help\n"
    "  F9\tminimise the window, or restore it\n"
    "  Mouse\tclick a control to use it; click a list to open it and a line "
    "to choose it\n"
    "\n"
    "In this help:\n"
    "  Up, Down\tscroll a line; on Contents, choose a topic\n"
    "  PgUp, PgDn\tscroll a page\n"
    "  Home, End\tthe start or the end of the topic\n"
    "  Mouse wheel\tscroll\n"
    "  Enter, 1 to 8\ton Contents, open a topic (a click does too)\n"
    "  Backspace, b\tback to Contents\n"
    "  Esc, q\tclose the help\n"
    "\n"
    "In the file chooser (Log file ...):\n"
    "  Up, Down\tmove in the list; a file's name goes into File name\n"
    "  PgUp, PgDn\tmove a page in the list\n"
    "  Enter\ton a folder, open it; on a file or in File name, choose the "
    "file\n"
    "  typing\tedit File name; a name with / in it is a path, and the name of "
    "a folder opens that folder\n"
    "  Tab, Shift-Tab\tmove between the list, File name and Files of type\n"
    "  F2\tthe next file type\n"
    "  F3\tshow or hide hidden files (names that start with a dot)\n"
    "  Esc\tcancel; the log path stays as it was\n"
    "  Mouse\ta click selects, a second click on the same line opens or "
    "chooses it";

const std::vector<HelpTopic> kTopics = {
    {"Contents", kContents},
    {"Getting the time", kGettingTheTime},
    {"Time zones", kTimeZones},
    {"Options", kOptions},
    {"Advanced options", kAdvanced},
    {"The log file", kLogFile},
    {"Settings file", kSettings},
    {"Running without a terminal", kHeadless},
    {"Keys", kKeys},
};

const size_t kAdvancedTopic = 4;
const unsigned long kAdvancedContext = 1000;  // the Advanced Options dialog's Help

// A term longer than this many columns gets a line of its own.
const size_t kTermColumn = 22;
// Four leading blanks mark a line shown as it is (examples, file lines),
// indented by two.
const size_t kVerbatimIndent = 4;
// Narrower screens are cut by the drawing; wrapping stays readable.
const int kNarrowest = 10;

std::string blanks(size_t n) { return std::string(n, ' '); }

// Appends the words of `words` to `line` (which holds the first line's
// prefix), starting each further line with `hang` blanks; long words are cut.
void fill(std::string line, const std::string& words, size_t hang, size_t width,
          std::vector<std::string>* out) {
  bool hasWord = false;
  size_t pos = 0;
  while (pos < words.size()) {
    size_t end = words.find(' ', pos);
    if (end == std::string::npos) end = words.size();
    std::string word = words.substr(pos, end - pos);
    pos = end + 1;
    while (!word.empty()) {
      size_t need = line.size() + (hasWord ? 1 : 0) + word.size();
      if (need <= width) {
        line += (hasWord ? " " : "") + word;
        hasWord = true;
        break;
      }
      if (!hasWord && line.size() < width) {  // a word wider than the screen
        size_t room = width - line.size();
        out->push_back(line + word.substr(0, room));
        word.erase(0, room);
      } else {
        out->push_back(line);
      }
      line = blanks(hang);
      hasWord = false;
    }
  }
  if (hasWord || line.find_first_not_of(' ') != std::string::npos) out->push_back(line);
}

// Wraps one paragraph: plain, bullet ("- "), or term TAB description.
void wrapParagraph(const std::string& para, size_t width, std::vector<std::string>* out) {
  size_t indent = para.find_first_not_of(' ');
  if (indent == std::string::npos) return out->push_back("");
  if (indent >= kVerbatimIndent) return out->push_back(para.substr(2, width));
  indent = std::min(indent, width / 4);
  std::string body = para.substr(para.find_first_not_of(' '));
  size_t tab = body.find('\t');
  if (tab != std::string::npos) {
    std::string term = body.substr(0, tab);
    size_t hang = std::min(indent + kTermColumn, width / 2);
    std::string first = blanks(hang);
    if (indent + term.size() < hang)
      first.replace(indent, term.size(), term);
    else
      fill(blanks(indent), term, indent, width, out);
    return fill(first, body.substr(tab + 1), hang, width, out);
  }
  if (body.compare(0, 2, "- ") == 0)
    return fill(blanks(indent) + "- ", body.substr(2), indent + 2, width, out);
  fill(blanks(indent), body, indent, width, out);
}

}  // namespace

const std::vector<HelpTopic>& helpTopics() { return kTopics; }

size_t helpTopicForContext(unsigned long context) {
  return context == kAdvancedContext ? kAdvancedTopic : 0;
}

std::vector<std::string> wrapHelpText(const char* text, int width) {
  size_t columns = static_cast<size_t>(std::max(width, kNarrowest));
  std::vector<std::string> lines;
  std::string all(text ? text : "");
  size_t start = 0;
  for (;;) {
    size_t end = all.find('\n', start);
    wrapParagraph(all.substr(start, end == std::string::npos ? end : end - start), columns,
                  &lines);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}
