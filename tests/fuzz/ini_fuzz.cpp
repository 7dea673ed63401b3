// The INI store on any bytes: the input is the file. kronsec's own reads run
// over it, then one write, one removal and a batch of waiting writes, checked
// against the bytes they must keep, what reads back and each other. Names
// and values written are kronsec's or cut out of the file itself, so they
// meet the file's own names.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/ini/store.h"
#include "tests/fuzz/support.h"

namespace {

const char* const kSections[] = {"kronsec", "sounds", " Kronsec\t", ""};
const char* const kKeys[] = {
    "host",   "attempts", "useDST",    "TZindex", "add30",      "autoClose", "reportOnly",
    "maxAdjust", "adjOpt", "logOpts",  "logPath", "useTZ",      "TZ",        "tz",
    "useCustom", "Label", "gmtOffset", "sMonth",  "eAdjust",    "months",    "days",
    "kronsecConnect"};
const char* const kValues[] = {"", "1", "-1", "0x7f", "EST5EDT", "\"quoted\"", "  padded  ",
                               "Jan:Feb:Mar:Apr:May:Jun:Jul:Aug:Sep:Oct:Nov:Dec:"};

// One of names, or (for the pick past their end) a text cut out of the file.
template <size_t N>
std::string pick(FuzzedDataProvider& in, const char* const (&names)[N], const std::string& file) {
  size_t i = in.ConsumeIntegralInRange<size_t>(0, N);
  if (i < N) return names[i];
  size_t from = in.ConsumeIntegralInRange<size_t>(0, file.size());
  size_t length = in.ConsumeIntegralInRange<size_t>(0, 80);
  return std::string(file.substr(from, length).c_str());  // a C string ends at a NUL
}

bool hasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// getString into a buffer of exactly size bytes, so ASan sees any overrun.
std::string read(const ini::Document& doc, const char* section, const char* key, const char* def,
                 uint32_t size) {
  std::vector<char> out(size);
  uint32_t n = ini::getString(doc, section, key, def, out.data(), size);
  FUZZ_CHECK(n < size && out[n] == '\0');
  return std::string(out.data(), n);
}

// The lines must tile the file and each name and value lie in its line.
void checkLayout(const ini::Document& doc) {
  uint32_t at = doc.bodyStart;
  while (at < doc.bytes.size()) {
    ini::Line line = ini::lineAt(doc, at);
    FUZZ_CHECK(line.begin == at && line.end <= line.next && line.next > line.begin);
    FUZZ_CHECK(line.begin <= line.nameBegin && line.nameBegin <= line.nameEnd &&
               line.nameEnd <= line.end);
    FUZZ_CHECK(line.valueBegin <= line.valueEnd && line.valueEnd <= line.end);
    at = line.next;
  }
  FUZZ_CHECK(at == doc.bytes.size());
}

// The reads kronsec makes at start, and the listings.
void readLikeKronsec(const ini::Document& doc, FuzzedDataProvider& in) {
  for (const char* key : kKeys) {
    std::string text = read(doc, "kronsec", key, "", 511);
    uint32_t number = ini::getInt(doc, "kronsec", key, -1);
    // getInt reads the text into 30 bytes first; a shorter one is read whole.
    if (!text.empty() && text.size() < 30) FUZZ_CHECK(number == ini::parseInteger(text.c_str()));
    FUZZ_CHECK(!ini::isWholeInteger(text.c_str()) || !text.empty());
  }
  uint32_t size = in.ConsumeIntegralInRange<uint32_t>(1, 600);
  read(doc, nullptr, nullptr, "", size);
  read(doc, "kronsec", nullptr, "none", size);
}

// Whether shorter is longer with one run of bytes taken out, which is all an
// added line or a removed one may do to the rest of the file.
bool isOneRunShorter(const std::string& shorter, const std::string& longer) {
  if (shorter.size() > longer.size()) return false;
  size_t prefix = 0;
  while (prefix < shorter.size() && shorter[prefix] == longer[prefix]) ++prefix;
  size_t tail = shorter.size() - prefix;
  return longer.compare(longer.size() - tail, tail, shorter, prefix, tail) == 0;
}

std::string withoutLeadingBlanks(const std::string& name) {
  size_t lead = 0;
  while (lead < name.size() && isProfileBlank(name[lead])) ++lead;
  return name.substr(lead);
}

// Whether a key line of this name can read as a section header: "[x]=1",
// or "[x=y]" with a value holding ']'.
bool canMakeHeader(const std::string& key) { return withoutLeadingBlanks(key)[0] == '['; }

// Whether a write of value under these names reads back as written. A key
// starting with a UTF-8 byte order mark reads without it at the top of a file.
bool writeReadsBack(const std::string& section, const std::string& key,
                    const std::string& value) {
  return isValueKeptAsIs(value.c_str()) && !hasLineBreak(section) && !hasLineBreak(key) &&
         key.find('=') == std::string::npos && !canMakeHeader(key) &&
         withoutLeadingBlanks(key).compare(0, 3, "\xEF\xBB\xBF") != 0;
}

void checkSet(const ini::Document& doc, const std::string& section, const std::string& key,
              const std::string& value) {
  const std::string& old = doc.bytes;
  uint32_t found = ini::findKey(doc, section.c_str(), key.c_str());
  std::string out = old;
  ini::setValue(doc, section.c_str(), key.c_str(), value.c_str(), &out);
  if (found == ini::kNone) {
    FUZZ_CHECK(isOneRunShorter(old, out));
  } else {
    // Everything before the key's line and from its ending on stays put.
    ini::Line line = ini::lineAt(doc, found);
    size_t tail = old.size() - line.end;
    FUZZ_CHECK(line.kind == ini::Line::kKey);
    FUZZ_CHECK(out.size() >= line.begin + tail);
    FUZZ_CHECK(out.compare(0, line.begin, old, 0, line.begin) == 0);
    FUZZ_CHECK(out.compare(out.size() - tail, tail, old, line.end, tail) == 0);
    std::string edited = out.substr(line.begin, out.size() - tail - line.begin);
    FUZZ_CHECK(hasLineBreak(value) || !hasLineBreak(edited));
  }
  if (!writeReadsBack(section, key, value)) return;
  ini::Document after = ini::parse(out);
  FUZZ_CHECK(ini::findKey(after, section.c_str(), key.c_str()) != ini::kNone);
  FUZZ_CHECK(read(after, section.c_str(), key.c_str(), "", value.size() + 1) == value);
}

// A removal takes out the first key of the name in the first section of the
// name that has one; only the first section is read, so its first key goes
// when it has one, and after every copy is gone the key reads as missing.
void checkRemove(const ini::Document& doc, const std::string& section, const std::string& key) {
  const char *s = section.c_str(), *k = key.c_str();
  uint32_t found = ini::findKey(doc, s, k);
  std::string out;
  bool changed = ini::removeKey(doc, s, k, &out) == ini::Edit::kChanged;
  if (found != ini::kNone) {
    ini::Line line = ini::lineAt(doc, found);
    FUZZ_CHECK(changed);
    FUZZ_CHECK(out == doc.bytes.substr(0, line.begin) + doc.bytes.substr(line.next));
  }
  ini::Document current = ini::parse(changed ? out : doc.bytes);
  for (size_t rounds = 0; ini::removeKey(current, s, k, &out) == ini::Edit::kChanged; ++rounds) {
    FUZZ_CHECK(rounds < doc.bytes.size());
    FUZZ_CHECK(isOneRunShorter(out, current.bytes) && out.size() < current.bytes.size());
    current = ini::parse(out);
  }
  FUZZ_CHECK(ini::findKey(current, s, k) == ini::kNone);
  FUZZ_CHECK(read(current, s, k, "gone", 5) == "gone");
}

void checkRemoveSection(const ini::Document& doc, const std::string& section) {
  std::string out;
  if (ini::removeSection(doc, section.c_str(), &out) == ini::Edit::kChanged)
    FUZZ_CHECK(isOneRunShorter(out, doc.bytes) && out.size() < doc.bytes.size());
}

ini::Edit applyOne(const ini::Document& doc, const ini::PendingWrite& w, std::string* out) {
  const char *s = w.section.c_str(), *k = w.key.c_str();
  switch (w.kind) {
    case ini::PendingWrite::kSet: return ini::setValue(doc, s, k, w.value.c_str(), out);
    case ini::PendingWrite::kRemoveKey: return ini::removeKey(doc, s, k, out);
    case ini::PendingWrite::kRemoveSection: return ini::removeSection(doc, s, out);
  }
  return ini::Edit::kUnchanged;
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

// A batch of waiting writes must come out as the same writes one after
// another; batches of sets take a quicker way of their own. The profile
// queues no write with a line break in it.
void checkBatch(const ini::Document& doc, FuzzedDataProvider& in, const std::string& file) {
  std::vector<ini::PendingWrite> writes(in.ConsumeIntegralInRange<size_t>(1, 4));
  bool onlySets = in.ConsumeBool();
  for (ini::PendingWrite& w : writes) {
    w.kind = onlySets ? ini::PendingWrite::kSet
                      : in.PickValueInArray({ini::PendingWrite::kSet, ini::PendingWrite::kRemoveKey,
                                             ini::PendingWrite::kRemoveSection});
    w.section = firstLine(pick(in, kSections, file));
    w.key = firstLine(pick(in, kKeys, file));
    w.value = firstLine(pick(in, kValues, file));
  }
  std::string expected = doc.bytes, out;
  for (const ini::PendingWrite& w : writes)
    if (applyOne(ini::parse(expected), w, &out) == ini::Edit::kChanged) expected = out;
  bool changed = ini::applyWrites(doc, writes, &out) == ini::Edit::kChanged;
  FUZZ_CHECK(changed == (expected != doc.bytes));
  if (changed) FUZZ_CHECK(out == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string file(reinterpret_cast<const char*>(data), size);
  ini::Document doc = ini::parse(file);
  checkLayout(doc);
  FuzzedDataProvider in(data, size);
  readLikeKronsec(doc, in);
  std::string section = pick(in, kSections, file);
  std::string key = pick(in, kKeys, file);
  checkSet(doc, section, key, pick(in, kValues, file));
  checkRemove(doc, section, key);
  checkRemoveSection(doc, section);
  checkBatch(doc, in, file);
  return 0;
}
