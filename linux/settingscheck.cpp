// Before win32.h, whose Winsock names are macros over the C library's.
#include <arpa/inet.h>

#include "linux/settingscheck.h"

#include <errno.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/appstate.h"
#include "app/settingkeys.h"
#include "base/units.h"
#include "linux/cli.h"
#include "linux/report.h"
#include "platform/posix/ini/store.h"
#include "zones/localtime.h"

namespace {
constexpr size_t shownValueBytes = 60;   // of a value quoted in a problem
constexpr size_t intReadBytes = 29;      // an integer read looks at 29 bytes
constexpr size_t mostSuggestionDistance = 2;
constexpr size_t shortKeyLength = 5;     // shorter keys allow one letter off
constexpr size_t mostZoneFileBytes = 1 << 20;
constexpr size_t longestLabel = 63;      // of a host name's parts (RFC 1035)
constexpr size_t longestHostName = 253;

// A value as a problem quotes it: printable, and cut when long.
std::string shown(const std::string& text) {
  std::string out = printable(text.substr(0, shownValueBytes));
  return text.size() > shownValueBytes ? out + "..." : out;
}

std::string lowerNoMarks(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '_' || c == '-' || c == ' ' || c == '.') continue;
    out += c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
  }
  return out;
}

// Names longer than this are never compared: no known key comes close.
constexpr size_t longestCompared = 24;

// The optimal string alignment distance: letters added, dropped, changed or
// swapped with their neighbour. Both names are at most longestCompared long.
size_t editDistance(const std::string& a, const std::string& b) {
  size_t d[longestCompared + 1][longestCompared + 1];
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// The known keys as likelyKey compares them, made once.
const std::vector<std::string>& comparedKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> out;
    for (size_t i = 0; i < settingKeyCount; ++i) out.push_back(lowerNoMarks(settingKeys[i].name));
    return out;
  }();
  return keys;
}

// The known key a name most likely means: the same but for case, '_', '-',
// blanks and dots, or one or two letters off (one for short keys); nullptr
// when none is that close.
const SettingKey* likelyKey(const std::string& name) {
  std::string wanted = lowerNoMarks(name.substr(0, longestCompared + 1));
  if (wanted.size() > longestCompared) return nullptr;
  const SettingKey* best = nullptr;
  size_t bestDistance = mostSuggestionDistance + 1;
  for (size_t i = 0; i < settingKeyCount; ++i) {
    const std::string& known = comparedKeys()[i];
    if (wanted.size() > known.size() + mostSuggestionDistance ||
        known.size() > wanted.size() + mostSuggestionDistance)
      continue;
    size_t allowed = known.size() < shortKeyLength ? 1 : mostSuggestionDistance;
    size_t distance = editDistance(wanted, known);
    if (distance <= allowed && distance < bestDistance) {
      best = &settingKeys[i];
      bestDistance = distance;
    }
  }
  return best;
}

// What a number key holds as kronsec reads it: the number and its meaning.
std::string readAsText(const SettingKey& key, uint32_t bits) {
  int64_t value = key.low < 0 ? int64_t{static_cast<int32_t>(bits)} : int64_t{bits};
  const char* meaning = settingMeaning(key, value);
  return std::to_string(value) + (meaning ? std::string(" (") + meaning + ")" : "");
}

// What kronsec reads a number key's value as, and whether it is wholly a
// number kronsec's read of that key takes as written.
struct NumberRead {
  bool whole;
  uint32_t bits;
};

NumberRead readNumber(const SettingKey& key, const std::string& value) {
  if (key.kind == SettingKind::kDecimal)
    return {isPlainNumber(value.c_str()), static_cast<uint32_t>(decimalValue(value.c_str()))};
  if (key.kind == SettingKind::kGuard && !isPlainNumber(value.c_str())) return {false, 1};
  std::string cut = value.substr(0, intReadBytes);
  return {ini::isWholeInteger(cut.c_str()), ini::parseInteger(cut.c_str())};
}

std::string numberProblem(const SettingKey& key, const std::string& written,
                          const std::string& value) {
  if (value.empty()) return "";  // the default
  NumberRead read = readNumber(key, value);
  if (!read.whole) return written + " is not a number: kronsec reads it as " + readAsText(key, read.bits);
  if (settingInRange(key, ini::wideInteger(value.c_str()))) return "";
  std::string range = std::to_string(key.low) + " to " + std::to_string(key.high);
  return written + " is outside its range, " + range + ": " +
         (key.outside ? std::string(key.outside) : "kronsec reads it as " + readAsText(key, read.bits));
}

// Whether label can be one part of a host name.
bool isNameLabel(const std::string& label) {
  if (label.empty() || label.size() > longestLabel || label.front() == '-' || label.back() == '-') return false;
  for (char c : label)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  return true;
}

// Whether item is a host name: dot-separated labels of letters, digits,
// '-' and '_', the last one not all digits (that would be a broken address).
bool isHostName(std::string item) {
  if (!item.empty() && item.back() == '.') item.pop_back();
  if (item.empty() || item.size() > longestHostName) return false;
  size_t lastDot = item.rfind('.');
  std::string last = lastDot == std::string::npos ? item : item.substr(lastDot + 1);
  if (std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  for (size_t from = 0;;) {
    size_t dot = item.find('.', from);
    if (!isNameLabel(item.substr(from, dot - from))) return false;
    if (dot == std::string::npos) return true;
    from = dot + 1;
  }
}

std::vector<std::string> hostItems(const std::string& value) {
  std::vector<std::string> items;
  std::string item;
  for (char c : value + " ") {
    if (c != ' ' && c != '\t' && c != ',') {
      item += c;
    } else if (!item.empty()) {
      items.push_back(item);
      item.clear();
    }
  }
  return items;
}

std::string hostProblem(const std::string& written, const std::string& value) {
  std::vector<std::string> items = hostItems(value);
  if (items.empty()) return written + ": no Time server is named, so no query can start";
  if (items.size() > mostHosts)
    return written + " names " + std::to_string(items.size()) + " servers; kronsec asks at most " +
           std::to_string(mostHosts);
  for (const std::string& item : items) {
    if (isIpv6Address(item)) return written + ": " + ipv4OnlyText(shown(item));
    if (inet_addr(item.c_str()) != INADDR_NONE || item == "255.255.255.255" || isHostName(item))
      continue;
    return written + ": " + shown(item) + " is neither a host name nor an IPv4 address";
  }
  return "";
}

std::string tzProblem(const std::string& written, const std::string& value) {
  if (value.empty() || isAcceptedTz(value.c_str())) return "";
  const std::string counts = " (it counts as EST5EDT): ";
  std::string text = tzTextOfZone(value);
  if (!text.empty())
    return written + " is a zone name, which kronsec does not read" + counts + "write TZ=" + text +
           " instead, the TZ text of " + shown(value);
  if (value.find('/') != std::string::npos)
    return written + " is a zone name, which kronsec does not read" + counts +
           "write the place's TZ text in kronsec's form instead, such as xST-1xDT for UTC+1 with "
           "daylight saving";
  return written + " is not a TZ text kronsec can read" + counts +
         "write three letters, the hours west of UTC and an optional daylight name, such as "
         "EST5EDT, xST0 or xST-1xDT";
}

// Where a comment seems to start in a value: at the blanks before a ';' or
// '#', as some INI readers (not Windows) take it; npos when none.
size_t commentStart(const std::string& raw) {
  for (size_t at = 1; at < raw.size(); ++at) {
    if ((raw[at] != ';' && raw[at] != '#') || (raw[at - 1] != ' ' && raw[at - 1] != '\t')) continue;
    size_t begin = at;
    while (begin > 0 && (raw[begin - 1] == ' ' || raw[begin - 1] == '\t')) --begin;
    return begin;
  }
  return std::string::npos;
}

std::string commentProblem(const SettingKey& key, const std::string& name, const std::string& written,
                           const std::string& raw, const std::string& value) {
  size_t at = commentStart(raw);
  if (at == std::string::npos) return "";
  bool isNumber = key.kind == SettingKind::kNumber || key.kind == SettingKind::kGuard ||
                  key.kind == SettingKind::kDecimal;
  std::string read = isNumber ? readAsText(key, readNumber(key, value).bits) : "\"" + shown(value) + "\"";
  return written + ": \"" + shown(raw.substr(raw.find_first_not_of(" \t", at))) +
         "\" looks like a comment, but a value runs to the end of its line: kronsec reads " +
         printable(name) + " as " + read + " (put a comment on a line of its own, starting with ;)";
}

// What is wrong with a known key's value, or "".
std::string valueProblem(const SettingKey& key, const std::string& name, const std::string& raw,
                         const std::string& value) {
  std::string written = printable(name) + "=" + shown(raw);
  std::string comment = commentProblem(key, name, written, raw, value);
  if (!comment.empty()) return comment;
  switch (key.kind) {
    case SettingKind::kNumber:
    case SettingKind::kGuard:
    case SettingKind::kDecimal: return numberProblem(key, written, value);
    case SettingKind::kHost: return hostProblem(written, value);
    case SettingKind::kTz: return tzProblem(written, value);
    case SettingKind::kText:
    case SettingKind::kNames: return "";
  }
  return "";
}

bool isCommentLine(const std::string& name) { return !name.empty() && (name[0] == ';' || name[0] == '#'); }

// One pass over the lines of a settings file.
class Checker {
 public:
  Checker(const ini::Document& doc, const ProblemSink& tell, uint64_t toldMost)
      : doc_(doc), tell_(tell), toldMost_(toldMost), firstLine_(settingKeyCount, 0) {}

  uint64_t run() {
    uint32_t number = 0;
    for (uint32_t at = doc_.bodyStart; at < doc_.bytes.size();) {
      ini::Line line = ini::lineAt(doc_, at);
      ++number;
      if (line.kind == ini::Line::kSection) onHeader(line, number);
      if (line.kind == ini::Line::kKey && inKronsec_) onKey(line, number);
      at = line.next;
    }
    return count_;
  }

 private:
  void report(uint32_t line, const std::string& text) {
    if (++count_ <= toldMost_) tell_(line, text);
  }

  void onHeader(const ini::Line& line, uint32_t number) {
    bool kronsec = strcasecmp(ini::lineName(doc_, line).c_str(), settingsSection) == 0;
    inKronsec_ = kronsec && kronsecLine_ == 0;
    if (inKronsec_) kronsecLine_ = number;
    if (kronsec && !inKronsec_)
      report(number, "a second [kronsec] section: kronsec reads only the first, on line " +
                         std::to_string(kronsecLine_) + ", so the keys below are ignored");
  }

  void onKey(const ini::Line& line, uint32_t number) {
    std::string name = ini::lineName(doc_, line);
    if (isCommentLine(name)) return;
    const SettingKey* key = findSettingKey(name.c_str());
    if (!key) return onUnknown(name, number);
    uint32_t& first = firstLine_[static_cast<size_t>(key - settingKeys)];
    if (first != 0)
      return report(number, printable(name) + " is given again here: kronsec reads the first, on line " +
                                std::to_string(first) + ", and ignores this one");
    first = number;
    if (!line.hasValue)
      return report(number, printable(name) + " has no '=' and no value: kronsec reads it as not set");
    std::string problem = valueProblem(*key, name, ini::keyValue(doc_, line.begin),
                                       ini::valueAsRead(doc_, line));
    if (!problem.empty()) report(number, problem);
  }

  void onUnknown(const std::string& name, uint32_t number) {
    // Past what is told, a problem is only counted: a file of a million
    // unknown keys is not compared with the known ones a million times.
    if (count_ >= toldMost_) return report(number, "");
    const SettingKey* likely = likelyKey(name);
    std::string text = shown(name) + " is not a key kronsec reads";
    report(number, likely ? text + ": did you mean " + likely->name + "?" : text);
  }

  const ini::Document& doc_;
  const ProblemSink& tell_;
  uint64_t toldMost_;
  std::vector<uint32_t> firstLine_;  // per row of settingKeys: where it is first given
  bool inKronsec_ = false;
  uint32_t kronsecLine_ = 0;
  uint64_t count_ = 0;
};

// The POSIX TZ rule at the end of a zone file ("CET-1CEST,M3.5.0,M10.5.0/3"),
// or "".
std::string zoneFileRule(const std::string& zone) {
  std::string name = !zone.empty() && zone[0] == ':' ? zone.substr(1) : zone;
  if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos) return "";
  const char* folder = std::getenv("TZDIR");
  std::string bytes;
  std::string path = std::string(folder && *folder ? folder : "/usr/share/zoneinfo") + "/" + name;
  if (ini::readFile(path, &bytes) != ini::ReadResult::kRead || bytes.size() > mostZoneFileBytes)
    return "";
  // Version 2 and later files end with the rule on a line of its own.
  if (bytes.compare(0, 4, "TZif") != 0 || bytes.size() < 6 || bytes[4] < '2' || bytes.back() != '\n')
    return "";
  size_t start = bytes.rfind('\n', bytes.size() - 2);
  return start == std::string::npos ? "" : bytes.substr(start + 1, bytes.size() - start - 2);
}

// Reads a zone name of a POSIX TZ rule at *p: its letters ("CET"), or ""
// for a quoted one ("<+03>"), which kronsec could not take.
std::string ruleName(const char*& p) {
  std::string name;
  if (*p == '<') {
    while (*p && *p != '>') ++p;
    if (*p) ++p;
    return "";
  }
  while (std::isalpha(static_cast<unsigned char>(*p))) name += *p++;
  return name;
}

// Reads the offset of a POSIX TZ rule at *p ("-1", "5:30"): seconds west.
int32_t ruleOffset(const char*& p) {
  bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  int32_t seconds = 0, unit = secondsPerHour;
  while (unit >= 1) {
    int32_t part = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) part = part * 10 + (*p++ - '0');
    seconds += part * unit;
    if (*p != ':') break;
    ++p;
    unit /= 60;
  }
  return negative ? -seconds : seconds;
}
}  // namespace

std::string tzTextOfZone(const std::string& zone) {
  std::string rule = zoneFileRule(zone);
  if (rule.empty()) return "";
  const char* p = rule.c_str();
  std::string standard = ruleName(p);
  if (!std::isdigit(static_cast<unsigned char>(*p)) && *p != '+' && *p != '-') return "";
  int32_t west = ruleOffset(p);
  bool daylight = *p == '<' || std::isalpha(static_cast<unsigned char>(*p));
  std::string summer = daylight ? ruleName(p) : "";
  // kronsec reads whole hours; add30 adds the half hour of a zone between two.
  bool half = west % secondsPerHour != 0 && (west + secondsPerHalfHour) % secondsPerHour == 0;
  int32_t hours = (half ? west + secondsPerHalfHour : west) / secondsPerHour;
  // kronsec takes a standard name of three letters and a daylight name of
  // three or more.
  std::string text = (standard.size() == 3 ? standard : "xST") + std::to_string(hours);
  if (daylight) text += summer.size() >= 3 ? summer : "xDT";
  return half ? text + " and add30=1" : text;
}

uint64_t checkSettingsText(std::string bytes, const ProblemSink& tell, uint64_t toldMost) {
  ini::Document doc = ini::parse(std::move(bytes));
  return Checker(doc, tell, toldMost).run();
}

std::string cannotReadText(int error) {
  return std::string("cannot be read: ") + std::strerror(error); }

std::string unreadableSettingsReason(const std::string& path) {
  // O_NONBLOCK: a FIFO in the file's place must not hang the run.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? "" : cannotReadText(errno);
  struct stat info;
  std::string reason;
  char probe[512];
  if (fstat(fd, &info) != 0) reason = cannotReadText(errno);
  else if (S_ISDIR(info.st_mode)) reason = "is a directory, not a file";
  else if (S_ISFIFO(info.st_mode)) reason = "is a FIFO, not a file";
  else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) reason = "is a device, not a file";
  else if (!S_ISREG(info.st_mode)) reason = "is not a regular file";
  // A file that opens may still refuse to be read (an I/O error).
  else if (read(fd, probe, sizeof probe) < 0) reason = cannotReadText(errno);
  close(fd);
  return reason;
}

int checkSettingsFile(const std::string& path, FILE* out) {
  std::string where = printable(path);
  std::string reason = unreadableSettingsReason(path);
  std::string bytes;
  if (reason.empty() && ini::readFile(path, &bytes) == ini::ReadResult::kFailed)
    reason = cannotReadText(errno ? errno : EIO);
  if (!reason.empty()) {
    std::fprintf(out, "%s: %s\n", where.c_str(), reason.c_str());
    return kCheckProblems;
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    std::fprintf(out, "%s: no such file: a run reads every setting as its default, and without a "
                      "TZ text it asks no server\n", where.c_str());
    return kCheckProblems;
  }
  uint64_t found = checkSettingsText(std::move(bytes), [&](uint32_t line, const std::string& text) {
    std::fprintf(out, "%s:%u: %s\n", where.c_str(), static_cast<unsigned>(line), text.c_str());
  });
  if (found == 0) std::fprintf(out, "%s: no problems found\n", where.c_str());
  return found ? kCheckProblems : kCheckClean;
}

void warnAboutSettings(const std::string& path, const std::string& checkCommand, FILE* err) {
  std::string bytes;
  if (ini::readFile(path, &bytes) != ini::ReadResult::kRead) return;
  std::string where = printable(path);
  uint64_t found = checkSettingsText(
      std::move(bytes),
      [&](uint32_t line, const std::string& text) {
        std::fprintf(err, "kronsec: %s:%u: %s\n", where.c_str(), static_cast<unsigned>(line), text.c_str());
      },
      mostWarnings);
  if (found > mostWarnings)
    std::fprintf(err, "kronsec: %s: %llu more problems; %s lists them all\n", where.c_str(),
                 static_cast<unsigned long long>(found - mostWarnings), checkCommand.c_str());
}
