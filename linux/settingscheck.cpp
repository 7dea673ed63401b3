#include "linux/settingscheck.h"

#include <errno.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/appstate.h"
#include "app/settingkeys.h"
#include "base/text.h"
#include "base/units.h"
#include "linux/cli.h"
#include "platform/posix/ini/store.h"
#include "timeclient/client.h"
#include "zones/localtime.h"
#include "zones/zonetable.h"

namespace {
constexpr size_t shownValueBytes = 60;   // of a value quoted in a problem
constexpr size_t intReadBytes = 29;      // an integer read looks at 29 bytes
constexpr size_t mostSuggestionDistance = 2;
constexpr size_t shortKeyLength = 5;     // shorter keys allow one letter off
constexpr size_t mostZoneFileBytes = 1 << 20;
constexpr size_t engineTextBytes = 512;  // room for a line the engine words

// What a file without settings should hold, for the kernel's clock in UTC.
const std::string firstSettings = std::string("write a line [kronsec], and below it host=NAME (without "
                                              "it, ") + defaultHost + "), TZ=xST0 (UTC) and useTZ=0";

// A value as a problem quotes it: every byte that does not print as \ooo,
// and cut when long.
std::string shown(const std::string& text) {
  std::string out = escapedText(text.substr(0, shownValueBytes));
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

// How far wanted is from known, both names as lowerNoMarks makes them, when
// wanted likely means known: the same but for case, '_', '-', blanks and
// dots, or one or two letters off (one for short names); npos when it is
// not that close.
size_t likelyDistance(const std::string& wanted, const std::string& known) {
  if (wanted.size() > longestCompared || wanted.size() > known.size() + mostSuggestionDistance ||
      known.size() > wanted.size() + mostSuggestionDistance)
    return std::string::npos;
  size_t allowed = known.size() < shortKeyLength ? 1 : mostSuggestionDistance;
  size_t distance = editDistance(wanted, known);
  return distance <= allowed ? distance : std::string::npos;
}

// The known key a name most likely means, or nullptr when none is close.
const SettingKey* likelyKey(const std::string& name) {
  std::string wanted = lowerNoMarks(name.substr(0, longestCompared + 1));
  const SettingKey* best = nullptr;
  size_t bestDistance = std::string::npos;
  for (size_t i = 0; i < settingKeyCount; ++i) {
    size_t distance = likelyDistance(wanted, comparedKeys()[i]);
    if (distance < bestDistance) {
      best = &settingKeys[i];
      bestDistance = distance;
    }
  }
  return best;
}

// Whether a section name most likely means [kronsec] but is not it.
bool meansKronsec(const std::string& name) {
  return strcasecmp(name.c_str(), settingsSection) != 0 &&
         likelyDistance(lowerNoMarks(name.substr(0, longestCompared + 1)), settingsSection) !=
             std::string::npos;
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

// What kronsec reads a value as, for a line to quote: a number key's
// number and meaning (def when the value is empty), a text in quotes.
std::string readValueText(const SettingKey& key, const std::string& value, int32_t def) {
  if (key.kind != SettingKind::kNumber && key.kind != SettingKind::kGuard &&
      key.kind != SettingKind::kDecimal)
    return "\"" + shown(value) + "\"";
  // The integer read gives an empty value the default; the decimal read, 0.
  if (value.empty() && key.kind != SettingKind::kDecimal)
    return "empty: its default, " + readAsText(key, static_cast<uint32_t>(def));
  return readAsText(key, readNumber(key, value).bits);
}

// A count of calibrations over what a run makes, or "".
std::string calibrationProblem(const SettingKey& key, const std::string& written, uint32_t count) {
  if (std::strcmp(key.name, "attempts") != 0 || count <= mostCalibrations) return "";
  return written + ": a run makes at most " + std::to_string(mostCalibrations) +
         " calibration queries per server; the value stays as written";
}

std::string numberProblem(const SettingKey& key, const std::string& written,
                          const std::string& value) {
  if (value.empty()) return "";  // the default
  NumberRead read = readNumber(key, value);
  if (!read.whole) return written + " is not a number: kronsec reads it as " + readAsText(key, read.bits);
  int64_t number = ini::wideInteger(value.c_str());
  // A key that means each of its values (family) has no meaning for the
  // others in its range: they read as its default.
  bool meansEach = key.meanings && key.meaningCount == static_cast<size_t>(key.high - key.low + 1);
  if (settingInRange(key, number) && meansEach && !settingMeaning(key, number))
    return written + " means nothing: kronsec reads it as " + readAsText(key, static_cast<uint32_t>(key.def));
  if (settingInRange(key, number)) return calibrationProblem(key, written, read.bits);
  std::string range = std::to_string(key.low) + " to " + std::to_string(key.high);
  return written + " is outside its range, " + range + ": " +
         (key.outside ? std::string(key.outside) : "kronsec reads it as " + readAsText(key, read.bits));
}

// The items of a host text, split as the engine splits it.
std::vector<std::string> hostItems(const std::string& value) {
  std::vector<std::string> items;
  size_t at = 0;
  for (size_t length; (length = nextHostItem(value.c_str(), &at)) != 0; at += length)
    items.push_back(value.substr(at, length));
  return items;
}

// Says that item is no host: a run of a host text with several items asks
// no server when one of them is none, in the words the run uses.
std::string notAHostProblem(const std::string& item, size_t itemCount) {
  if (itemCount > 1) {
    char text[engineTextBytes];
    notAHostText(text, sizeof text, shown(item).c_str());
    return text;
  }
  if (item.find(':') != std::string::npos) return "\"" + shown(item) + "\" is not a well-formed IPv6 address";
  return "\"" + shown(item) + "\" is neither a host name nor an address";
}

// A server written more than once (letter case aside), which a run asks
// once; "" when there is none.
std::string repeatedHostText(const std::vector<std::string>& items) {
  // The first item written again is the first one counted twice from its place on.
  for (auto item = items.begin(); item != items.end(); ++item) {
    auto same = [&](const std::string& other) { return strcasecmp(item->c_str(), other.c_str()) == 0; };
    auto times = std::count_if(item, items.end(), same);
    if (times > 1)
      return shown(*item) + " is written " + (times == 2 ? "twice" : std::to_string(times) + " times") +
             "; kronsec asks it once";
  }
  return "";
}

std::string hostProblem(const std::string& written, const std::string& value) {
  std::vector<std::string> items = hostItems(value);
  if (items.empty())
    return written + ": no Time server is named, so no query can start: write host=NAME, or remove "
                     "the line for " + defaultHost;
  for (const std::string& item : items) {
    if (classifyHostItem(item.data(), item.size()) == HostItem::kNotAHost)
      return written + ": " + notAHostProblem(item, items.size());
  }
  if (items.size() > mostHosts)
    return written + " names " + std::to_string(items.size()) + " servers; kronsec asks at most " +
           std::to_string(mostHosts);
  std::string repeated = repeatedHostText(items);
  return repeated.empty() ? "" : written + ": " + repeated;
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
  return written + ": \"" + shown(raw.substr(raw.find_first_not_of(" \t", at))) +
         "\" looks like a comment, but a value runs to the end of its line: kronsec reads " +
         escapedText(name) + " as " + readValueText(key, value, key.def) +
         " (put a comment on a line of its own, starting with ;)";
}

// What is wrong with a known key's value, or "": raw is the value as it
// stands in the line up to a NUL, value what a profile read gives of it.
std::string valueProblem(const SettingKey& key, const std::string& name, const std::string& written,
                         const std::string& raw, const std::string& value) {
  // A host text's comment is an item that is no host, and said as one.
  std::string comment = key.kind == SettingKind::kHost ? "" : commentProblem(key, name, written, raw, value);
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

// A control byte (a tab aside, which is a blank) in a value a run reads
// whole, or "".
std::string controlProblem(const SettingKey& key, const std::string& name, const std::string& written,
                           const std::string& value) {
  auto isControl = [](char c) { return c != '\t' && isControlByte(c); };
  auto control = std::find_if(value.begin(), value.end(), isControl);
  if (control == value.end()) return "";
  return written + ": the value holds the control byte " + escapedText(std::string(1, *control)) +
         ": kronsec reads " + escapedText(name) + " as " + readValueText(key, value, key.def) +
         " (remove the byte)";
}

bool isCommentLine(const std::string& name) { return !name.empty() && (name[0] == ';' || name[0] == '#'); }

// Which part of a settings file a line is in, as a run reads it.
enum class Part { kAbove, kKronsec, kSecondKronsec, kOther };

// One pass over the lines of a settings file, and then what the file as a
// whole gives a run.
class Checker {
 public:
  Checker(const ini::Document& doc, const char* environmentTz, const ProblemSink& tell, uint64_t toldMost)
      : doc_(doc), environmentTz_(environmentTz), tell_(tell), toldMost_(toldMost),
        firstLine_(settingKeyCount, 0), firstAt_(settingKeyCount, ini::kNone) {}

  SettingsCheck run() {
    kronsecLine_ = 0;
    eachLine([&](const ini::Line& line, uint32_t number) {
      if (kronsecLine_ == 0 && line.kind == ini::Line::kSection && isKronsec(ini::lineName(doc_, line)))
        kronsecLine_ = number;
    });
    eachLine([&](const ini::Line& line, uint32_t number) {
      if (line.kind == ini::Line::kSection) onHeader(line, number);
      if (line.kind == ini::Line::kKey) onKeyLine(line, number);
      anyLine_ = anyLine_ || line.kind != ini::Line::kBlank;
    });
    onEnd();
    return {count_, tzFromEnvironment_};
  }

 private:
  template <typename Visit>
  void eachLine(Visit visit) {
    uint32_t number = 0;
    for (uint32_t at = doc_.bodyStart; at < doc_.bytes.size();) {
      ini::Line line = ini::lineAt(doc_, at);
      visit(line, ++number);
      at = line.next;
    }
  }

  static bool isKronsec(const std::string& name) { return strcasecmp(name.c_str(), settingsSection) == 0; }

  void report(uint32_t line, const std::string& text) {
    if (++count_ <= toldMost_) tell_(line, text);
  }

  void onHeader(const ini::Line& line, uint32_t number) {
    sectionName_ = ini::lineName(doc_, line);
    if (!isKronsec(sectionName_)) {
      part_ = Part::kOther;
      if (kronsecLine_ == 0 && meansKronsec(sectionName_))
        misnamed(number, "[" + shown(sectionName_) + "] is not a section kronsec reads: did you mean "
                         "[kronsec]?");
      return;
    }
    part_ = number == kronsecLine_ ? Part::kKronsec : Part::kSecondKronsec;
    if (part_ == Part::kSecondKronsec)
      report(number, "a second [kronsec] section: kronsec reads only the first, on line " +
                         std::to_string(kronsecLine_) + ", so the keys below are ignored");
  }

  // A line that was meant to start [kronsec], in a file without one.
  void misnamed(uint32_t number, const std::string& text) {
    misnamed_ = true;
    report(number, text + " Until then a run reads every setting as its default");
  }

  void onKeyLine(const ini::Line& line, uint32_t number) {
    std::string name = ini::lineName(doc_, line);
    if (isCommentLine(name)) return;
    if (name[0] == '[') return onOpenBracket(name, number);
    if (part_ == Part::kKronsec) return onKey(line, name, number);
    if (part_ == Part::kSecondKronsec || !findSettingKey(name.c_str())) return;
    settingsOutside_ = true;
    // Without a [kronsec] line, one line for the file says where they go.
    if (kronsecLine_ == 0) return;
    std::string where = part_ == Part::kAbove ? " above [kronsec]" : " in [" + shown(sectionName_) + "]";
    report(number, escapedText(name) + where + " is not read: move it " +
                       (part_ == Part::kAbove ? "below the section line" : "into [kronsec]"));
  }

  // A line that starts with '[' but has no ']': the INI reader takes it
  // for a key without a value, and the section goes on below it.
  void onOpenBracket(const std::string& name, uint32_t number) {
    std::string text =
        "\"" + shown(name) + "\" has no closing ']', so kronsec reads it as a key, not as a section line";
    std::string inner = name.substr(1);
    inner.erase(0, inner.find_first_not_of(" \t"));
    if (kronsecLine_ == 0 && (isKronsec(inner) || meansKronsec(inner)))
      return misnamed(number, text + ": write [kronsec].");
    const std::string part = part_ == Part::kAbove           ? "above the first section line"
                             : part_ == Part::kKronsec       ? "in [kronsec]"
                             : part_ == Part::kSecondKronsec ? "in the second [kronsec]"
                                                             : "in [" + shown(sectionName_) + "]";
    report(number, text + ": the lines below it stay " + part);
  }

  void onKey(const ini::Line& line, const std::string& name, uint32_t number) {
    const SettingKey* key = findSettingKey(name.c_str());
    if (!key) return onUnknown(name, number);
    size_t row = static_cast<size_t>(key - settingKeys);
    if (firstLine_[row] != 0)
      return report(number, escapedText(name) + " is given again here: kronsec reads the first, on line " +
                                std::to_string(firstLine_[row]) + ", and ignores this one");
    firstLine_[row] = number;
    firstAt_[row] = line.begin;
    if (!line.hasValue)
      return report(number, escapedText(name) + " has no '=' and no value: kronsec reads it as not set");
    std::string whole = doc_.bytes.substr(line.valueBegin, line.valueEnd - line.valueBegin);
    std::string value = ini::valueAsRead(doc_, line);
    std::string written = escapedText(name) + "=" + shown(whole);
    bool cut = whole.find('\0') != std::string::npos;
    // GetPrivateProfileString gives the bytes before a NUL, and the integer
    // read of nothing is the default.
    if (cut)
      report(number, written + ": a NUL byte ends the value there, so kronsec reads " +
                         escapedText(name) + " as " + readValueText(*key, value, emptyRead(*key)));
    std::string problem = valueProblem(*key, name, written, ini::keyValue(doc_, line.begin), value);
    if (problem.empty() && !cut) problem = controlProblem(*key, name, written, value);
    if (!problem.empty()) report(number, problem);
  }

  // What an empty value of a number key reads as.
  int32_t emptyRead(const SettingKey& key) const {
    return std::strcmp(key.name, "useTZ") == 0 && environmentTz_ ? 1 : key.def;
  }

  void onUnknown(const std::string& name, uint32_t number) {
    // Past what is told, a problem is only counted: a file of a million
    // unknown keys is not compared with the known ones a million times.
    if (count_ >= toldMost_) return report(number, "");
    const SettingKey* likely = likelyKey(name);
    std::string text = shown(name) + " is not a key kronsec reads";
    report(number, likely ? text + ": did you mean " + likely->name + "?" : text);
  }

  // What the file as a whole gives a run: told as problems of no one line.
  void onEnd() {
    const std::string defaults = "so a run reads every setting as its default: ";
    if (!anyLine_) return report(0, "the file is empty, " + defaults + firstSettings);
    if (kronsecLine_ == 0) {
      if (!misnamed_)
        report(0, "there is no [kronsec] section, " + defaults +
                      (settingsOutside_ ? "write a line [kronsec] above the settings" : firstSettings));
      return;
    }
    if (!readValue("TZ").empty()) return;
    if (environmentTz_) {
      tzFromEnvironment_ = true;
      return;
    }
    report(0, noTzText());
  }

  // Says that a run finds no TZ text, and what to write.
  std::string noTzText() const {
    const SettingKey& useTz = *findSettingKey("useTZ");
    const SettingKey& place = *findSettingKey("TZindex");
    std::string useTzRead = readValue(useTz.name), placeRead = readValue(place.name);
    bool fromEnvironment = (useTzRead.empty() ? useTz.def : readNumber(useTz, useTzRead).bits) != 0;
    int32_t row = placeRead.empty() ? place.def : static_cast<int32_t>(readNumber(place, placeRead).bits);
    std::string text = fromEnvironment ? "useTZ=1 takes the TZ variable of the environment, which has none "
                                         "here, and the file has no TZ text"
                                       : "the file has no TZ text, and the environment has no TZ";
    text += ": a run asks no server: write ";
    if (row < 0 || row >= zoneCount)
      return text + "TZ=xST0 and useTZ=0 under [kronsec] (xST0 is UTC; your place's TZ text, such as "
                    "EST5EDT, serves as well)";
    return text + "TZ=" + ZoneTable[row].tzText + " and useTZ=0 under [kronsec] (the TZ text of TZindex=" +
           std::to_string(row) + ", " + ZoneTable[row].place + ", which picks only the list's place)";
  }

  // A known key's value in [kronsec] as a profile read gives it, "" when
  // it is not there.
  std::string readValue(const char* name) const {
    uint32_t at = firstAt_[static_cast<size_t>(findSettingKey(name) - settingKeys)];
    return at == ini::kNone ? "" : ini::valueAsRead(doc_, ini::lineAt(doc_, at));
  }

  const ini::Document& doc_;
  const char* environmentTz_;
  const ProblemSink& tell_;
  uint64_t toldMost_;
  std::vector<uint32_t> firstLine_;  // per row of settingKeys: where it is first given
  std::vector<uint32_t> firstAt_;    // and the first byte of that line
  Part part_ = Part::kAbove;
  std::string sectionName_;
  uint32_t kronsecLine_ = 0;       // the first [kronsec] line; 0: none
  bool anyLine_ = false;           // a line that is not blank
  bool misnamed_ = false;          // a line meant as [kronsec] was told
  bool settingsOutside_ = false;   // a known key outside [kronsec]
  bool tzFromEnvironment_ = false;
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

SettingsCheck checkSettings(const ini::Document& doc, const char* environmentTz, const ProblemSink& tell,
                            uint64_t toldMost) {
  return Checker(doc, environmentTz, tell, toldMost).run();
}

std::string cannotReadText(int error) {
  return std::string("cannot be read: ") + std::strerror(error); }

std::string unreadableReason(ini::ReadResult state, const ini::ReadFailure& why) {
  if (state != ini::ReadResult::kFailed) return "";
  switch (why.type) {
    case 0: return cannotReadText(why.error);  // it did not open, or could not be examined
    case S_IFREG: break;
    case S_IFDIR: return "is a directory, not a file";
    case S_IFIFO: return "is a FIFO, not a file";
    case S_IFCHR:
    case S_IFBLK: return "is a device, not a file";
    default: return "is not a regular file";
  }
  // A regular file that reaches kMaxFileSize is no refusal: the profile
  // calls read it as empty.
  return why.error ? cannotReadText(why.error) : "";
}

std::string unreadableProfileReason(const char* name) {
  ini::LoadedFile file = ini::loadedFile(name);
  return unreadableReason(file.state, file.failure);
}

namespace {
// Where a problem is: "PATH:LINE", or "PATH" for the file as a whole.
std::string problemPlace(const std::string& where, uint32_t line) {
  return line ? where + ":" + std::to_string(line) : where;
}

// Says that a run takes its TZ text from the environment, which a run
// started elsewhere may not have.
std::string environmentTzNote(const char* tz) {
  bool read = isAcceptedTz(tz);
  return "note: the file has no TZ text, so a run takes the environment's TZ, here \"" + shown(tz) + "\"" +
         (read ? "" : ", which kronsec does not read (it counts as EST5EDT)") +
         "; one started without TZ (kronsec.service, cron) asks no server: write TZ=" +
         (read ? shown(tz) : "xST0") + " and useTZ=0 under [kronsec] to keep a TZ text in the file";
}
}  // namespace

int checkSettingsFile(const std::string& path, FILE* out) {
  std::string where = escapedText(path);
  std::string bytes;
  ini::ReadFailure why;
  ini::ReadResult state = ini::readFile(path, &bytes, &why);
  std::string reason = unreadableReason(state, why);
  if (reason.empty() && state == ini::ReadResult::kFailed)
    reason = cannotReadText(why.error ? why.error : EIO);
  if (!reason.empty()) {
    std::fprintf(out, "%s: %s\n", where.c_str(), reason.c_str());
    return kCheckProblems;
  }
  if (state == ini::ReadResult::kMissing) {
    std::fprintf(out, "%s: no such file: a run reads every setting as its default, and without a "
                      "TZ text it asks no server\n", where.c_str());
    return kCheckProblems;
  }
  const char* tz = std::getenv("TZ");
  ini::Document doc = ini::parse(std::move(bytes));
  SettingsCheck found = checkSettings(doc, tz, [&](uint32_t line, const std::string& text) {
    std::fprintf(out, "%s: %s\n", problemPlace(where, line).c_str(), text.c_str());
  });
  if (found.tzFromEnvironment) std::fprintf(out, "%s: %s\n", where.c_str(), environmentTzNote(tz).c_str());
  if (found.problems == 0) std::fprintf(out, "%s: no problems found\n", where.c_str());
  return found.problems ? kCheckProblems : kCheckClean;
}

std::string settingsWarnings(const std::string& name, const std::string& checkCommand) {
  std::string lines;
  ini::LoadedFile file = ini::loadedFile(name.c_str());
  if (file.state != ini::ReadResult::kRead) return lines;
  std::string where = escapedText(ini::profilePath(name.c_str()));
  uint64_t found = checkSettings(
      file.document, std::getenv("TZ"),
      [&](uint32_t line, const std::string& text) {
        lines += "kronsec: " + problemPlace(where, line) + ": " + text + "\n";
      },
      mostWarnings).problems;
  if (found > mostWarnings)
    lines += "kronsec: " + where + ": " + std::to_string(found - mostWarnings) + " more problems; " +
             checkCommand + " lists them all\n";
  return lines;
}
