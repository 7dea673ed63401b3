// Parsing, lookups and byte-preserving edits of INI text (see document.h).
#include "platform/posix/ini/document.h"

#include "platform/posix/ascii.h"

#include <algorithm>
#include <cstring>

namespace ini {
namespace {

// The blanks Windows trims from profile lines and names; ^Z is the old DOS
// end of file marker, still found in files copied from old media.
bool isProfileBlank(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0d) || u == 0x1a || u == 0x20;
}

struct Span {
  const char* data;
  size_t size;
};

bool sameName(Span a, Span b) { return equalIgnoringAsciiCase(a.data, a.size, b.data, b.size); }

// A caller's name, trimmed as Windows trims it before looking it up.
Span trimmed(const char* text) {
  size_t begin = 0, end = std::strlen(text);
  while (begin < end && isProfileBlank(text[begin])) ++begin;
  while (end > begin && isProfileBlank(text[end - 1])) --end;
  return {text + begin, end - begin};
}

// Bytes of the file as a name or value is read: up to the first NUL.
Span fileText(const Document& doc, uint32_t begin, uint32_t end) {
  const char* p = doc.bytes.data() + begin;
  const void* nul = std::memchr(p, 0, end - begin);
  return {p, nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : end - begin};
}

// Fills in kind, name and value of the line whose content is [begin, end).
void classify(const std::string& s, uint32_t begin, uint32_t end, Line* line) {
  while (begin < end && isProfileBlank(s[begin])) ++begin;
  while (end > begin && isProfileBlank(s[end - 1])) --end;
  line->kind = Line::kBlank;
  line->hasValue = false;
  line->nameBegin = line->nameEnd = line->valueBegin = line->valueEnd = end;
  if (begin == end) return;
  if (s[begin] == '[') {
    for (uint32_t close = end - 1; close > begin; --close) {
      if (s[close] != ']') continue;
      uint32_t nameBegin = begin + 1, nameEnd = close;
      while (nameBegin < nameEnd && isProfileBlank(s[nameBegin])) ++nameBegin;
      while (nameEnd > nameBegin && isProfileBlank(s[nameEnd - 1])) --nameEnd;
      line->kind = Line::kSection;
      line->nameBegin = nameBegin;
      line->nameEnd = nameEnd;
      return;
    }
  }
  line->kind = Line::kKey;
  line->nameBegin = begin;
  const void* eq = std::memchr(s.data() + begin, '=', end - begin);
  if (!eq) return;  // a key without a value: the whole line is its name
  uint32_t at = static_cast<uint32_t>(static_cast<const char*>(eq) - s.data());
  uint32_t nameEnd = at, valueBegin = at + 1;
  while (nameEnd > begin && isProfileBlank(s[nameEnd - 1])) --nameEnd;
  while (valueBegin < end && isProfileBlank(s[valueBegin])) ++valueBegin;
  line->nameEnd = nameEnd;
  line->valueBegin = valueBegin;
  line->hasValue = true;
}

Span sectionName(const Document& doc, const Section& section) {
  if (section.header == kNone) return {"", 0};
  const Line& line = doc.lines[section.header];
  return fileText(doc, line.nameBegin, line.nameEnd);
}

// Returns the index of the first section at or after `from` named name.
uint32_t findSection(const Document& doc, Span name, uint32_t from) {
  for (uint32_t i = from; i < doc.sections.size(); ++i)
    if (sameName(sectionName(doc, doc.sections[i]), name)) return i;
  return kNone;
}

uint32_t findKeyIn(const Document& doc, uint32_t section, Span name) {
  const Section& s = doc.sections[section];
  for (uint32_t i = s.first; i < s.last; ++i) {
    const Line& line = doc.lines[i];
    if (line.kind == Line::kKey &&
        sameName(fileText(doc, line.nameBegin, line.nameEnd), name))
      return i;
  }
  return kNone;
}

struct EndingCounts {
  size_t crlf = 0, lf = 0, cr = 0;
};

EndingCounts countEndings(const Document& doc) {
  EndingCounts n;
  for (const Line& line : doc.lines) {
    uint32_t length = line.next - line.end;
    if (length == 2)
      ++n.crlf;
    else if (length == 1)
      ++(doc.bytes[line.end] == '\n' ? n.lf : n.cr);
  }
  return n;
}

// The line ending most lines of the file use; CR LF for a file without
// any, as Windows writes it.
const char* dominantEnding(const Document& doc) {
  EndingCounts n = countEndings(doc);
  if (n.crlf >= n.lf && n.crlf >= n.cr) return "\r\n";
  return n.lf >= n.cr ? "\n" : "\r";
}

// In a file of more than one kind of line ending, a line we add can merge
// with the next one (CR, then LF) and change which kind is the most used.
bool hasMixedEndings(const Document& doc) {
  EndingCounts n = countEndings(doc);
  return (n.crlf != 0) + (n.lf != 0) + (n.cr != 0) > 1;
}

// Returns the document's bytes with [from, to) replaced by insert.
std::string splice(const Document& doc, size_t from, size_t to,
                   const std::string& insert) {
  std::string out;
  out.reserve(doc.bytes.size() - (to - from) + insert.size());
  out.append(doc.bytes, 0, from);
  out.append(insert);
  out.append(doc.bytes, to, std::string::npos);
  return out;
}

std::string keyLine(Span key, const char* value) {
  return std::string(key.data, key.size) + "=" + value;
}

Edit replaceValue(const Document& doc, const Line& line, const char* value,
                  std::string* out) {
  if (!line.hasValue) {
    *out = splice(doc, line.nameEnd, line.nameEnd, std::string("=") + value);
    return Edit::kChanged;
  }
  Span old = fileText(doc, line.valueBegin, line.valueEnd);
  if (old.size == std::strlen(value) && std::memcmp(old.data, value, old.size) == 0)
    return Edit::kUnchanged;
  *out = splice(doc, line.valueBegin, line.valueEnd, value);
  return Edit::kChanged;
}

// Adds the key after the section's last non-blank line, so that blank lines
// between it and the next section stay where they are.
Edit appendKey(const Document& doc, const Section& section, Span key, const char* value,
               const char* eol, std::string* out) {
  uint32_t anchor = section.header;
  for (uint32_t i = section.last; i > section.first; --i) {
    if (doc.lines[i - 1].kind != Line::kBlank) {
      anchor = i - 1;
      break;
    }
  }
  std::string text = keyLine(key, value) + eol;
  uint32_t at = doc.bodyStart;  // an empty leading part: top of the file
  if (anchor != kNone) {
    const Line& line = doc.lines[anchor];
    at = line.next;
    if (line.next == line.end) text = eol + text;  // last line had no ending
  }
  *out = splice(doc, at, at, text);
  return Edit::kChanged;
}

Edit appendSection(const Document& doc, Span section, Span key, const char* value,
                   std::string* out) {
  const char* eol = dominantEnding(doc);
  const std::string& s = doc.bytes;
  std::string text;
  if (s.size() > doc.bodyStart && s.back() != '\n' && s.back() != '\r') text = eol;
  text += "[" + std::string(section.data, section.size) + "]" + eol;
  text += keyLine(key, value) + eol;
  *out = splice(doc, s.size(), s.size(), text);
  return Edit::kChanged;
}

// Copies value as Windows returns it. One pair of enclosing quotes is dropped
// when the whole value fits; with a buffer of exactly the value's length less
// its opening quote, Windows still drops the last byte kept, and so do we.
uint32_t copyValue(Span value, char* out, uint32_t size) {
  const char* p = value.data;
  size_t n = value.size;
  bool quoted = n >= 2 && (p[0] == '"' || p[0] == '\'') && p[n - 1] == p[0];
  if (quoted) {
    ++p;
    --n;
  }
  size_t copied = std::min<size_t>(n, size - 1);
  if (quoted && size >= n && copied > 0) --copied;
  std::memcpy(out, p, copied);
  out[copied] = '\0';
  return static_cast<uint32_t>(copied);
}

// Stores names for a null-section read: each terminated, then one more NUL.
// When they do not fit, the name that overflows is cut so both terminators
// fit, and the result is size - 2.
uint32_t fillSectionNames(const std::vector<Span>& names, char* out, uint32_t size) {
  out[0] = '\0';
  if (size == 1) return 0;
  uint32_t room = size - 1, at = 0;
  for (Span name : names) {
    if (name.size + 1 >= room) {
      std::memcpy(out + at, name.data, room - 1);
      at += room - 1;
      out[at] = out[at + 1] = '\0';
      return size - 2;
    }
    std::memcpy(out + at, name.data, name.size);
    at += static_cast<uint32_t>(name.size);
    out[at++] = '\0';
    room -= static_cast<uint32_t>(name.size) + 1;
  }
  out[at] = '\0';
  return at;
}

// Stores names for a null-key read, with the same cut and result as above
// but the Windows way for keys: a name that only just fits also gives
// size - 2, and the names after a cut one are dropped.
uint32_t fillKeyNames(const std::vector<Span>& names, char* out, uint32_t size) {
  out[0] = '\0';
  if (size <= 2) return 0;
  uint32_t left = size, at = 0;
  for (Span name : names) {
    if (left <= 2) break;
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(name.size, left - 2));
    std::memcpy(out + at, name.data, n);
    out[at + n] = '\0';
    left -= n + 1;
    at += n + 1;
    if (left < 2) break;
  }
  out[at] = '\0';
  if (left <= 1) return size - 2;
  return at;
}

std::vector<Span> sectionNames(const Document& doc) {
  std::vector<Span> names;
  for (size_t i = 1; i < doc.sections.size(); ++i) {
    Span name = sectionName(doc, doc.sections[i]);
    if (name.size) names.push_back(name);
  }
  return names;
}

// Key names listed for a null key: keys with '=', comments (';') left out.
uint32_t listKeys(const Document& doc, const char* section, char* out, uint32_t size) {
  uint32_t s = findSection(doc, trimmed(section), 0);
  if (s == kNone) {
    out[0] = '\0';
    if (size > 1) out[1] = '\0';
    return 0;
  }
  std::vector<Span> names;
  for (uint32_t i = doc.sections[s].first; i < doc.sections[s].last; ++i) {
    const Line& line = doc.lines[i];
    if (line.kind != Line::kKey || !line.hasValue) continue;
    Span name = fileText(doc, line.nameBegin, line.nameEnd);
    if (name.size && name.data[0] == ';') continue;
    names.push_back(name);
  }
  return fillKeyNames(names, out, size);
}

// The default as Windows uses it: trailing spaces dropped, but never its
// first byte, so an all-space default reads as one space.
Span trimmedDefault(const char* def) {
  size_t n = std::strlen(def);
  while (n > 1 && def[n - 1] == ' ') --n;
  return {def, n};
}

// A cheap first guess at the line count, so big files fill the line records
// without reallocating them.
size_t countLineFeeds(const std::string& s) {
  size_t count = 0;
  for (const char *p = s.data(), *end = p + s.size();
       (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p)
    ++count;
  return count;
}

int digitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return -1;
}

}  // namespace

Document parse(std::string bytes) {
  Document doc;
  doc.bytes = std::move(bytes);
  const std::string& s = doc.bytes;
  const uint32_t size = static_cast<uint32_t>(s.size());
  if (s.compare(0, 3, "\xEF\xBB\xBF") == 0) doc.bodyStart = 3;
  doc.sections.push_back({kNone, 0, 0});
  doc.lines.reserve(countLineFeeds(s) + 1);
  for (uint32_t at = doc.bodyStart; at < size;) {
    Line line;
    line.begin = at;
    uint32_t end = at;
    while (end < size && s[end] != '\r' && s[end] != '\n') ++end;
    line.end = end;
    line.next = end;
    if (end < size)
      line.next += (s[end] == '\r' && end + 1 < size && s[end + 1] == '\n') ? 2 : 1;
    classify(s, at, end, &line);
    uint32_t index = static_cast<uint32_t>(doc.lines.size());
    if (line.kind == Line::kSection) {
      doc.sections.back().last = index;
      doc.sections.push_back({index, index + 1, 0});
    }
    doc.lines.push_back(line);
    at = line.next;
  }
  doc.sections.back().last = static_cast<uint32_t>(doc.lines.size());
  return doc;
}

uint32_t findKey(const Document& doc, const char* section, const char* key) {
  uint32_t s = findSection(doc, trimmed(section), 0);
  return s == kNone ? kNone : findKeyIn(doc, s, trimmed(key));
}

std::string keyValue(const Document& doc, uint32_t line) {
  const Line& l = doc.lines[line];
  if (!l.hasValue) return std::string();
  Span value = fileText(doc, l.valueBegin, l.valueEnd);
  return std::string(value.data, value.size);
}

Edit setValue(const Document& doc, const char* section, const char* key,
              const char* value, std::string* out, const char* eol) {
  Span sectionSpan = trimmed(section), keySpan = trimmed(key);
  while (isProfileBlank(*value)) ++value;
  uint32_t s = findSection(doc, sectionSpan, 0);
  if (s == kNone) return appendSection(doc, sectionSpan, keySpan, value, out);
  uint32_t line = findKeyIn(doc, s, keySpan);
  if (line == kNone)
    return appendKey(doc, doc.sections[s], keySpan, value, eol ? eol : dominantEnding(doc), out);
  return replaceValue(doc, doc.lines[line], value, out);
}

// Like Windows, a key missing from the first section of the name is looked
// for in the later ones before giving up.
Edit removeKey(const Document& doc, const char* section, const char* key,
               std::string* out) {
  Span sectionSpan = trimmed(section), keySpan = trimmed(key);
  for (uint32_t s = findSection(doc, sectionSpan, 0); s != kNone;
       s = findSection(doc, sectionSpan, s + 1)) {
    uint32_t line = findKeyIn(doc, s, keySpan);
    if (line == kNone) continue;
    *out = splice(doc, doc.lines[line].begin, doc.lines[line].next, std::string());
    return Edit::kChanged;
  }
  return Edit::kUnchanged;
}

Edit removeSection(const Document& doc, const char* section, std::string* out) {
  uint32_t s = findSection(doc, trimmed(section), 0);
  if (s == kNone) return Edit::kUnchanged;
  const Section& sec = doc.sections[s];
  uint32_t from = sec.header == kNone ? doc.bodyStart : doc.lines[sec.header].begin;
  uint32_t to = sec.last < doc.lines.size() ? doc.lines[sec.last].begin
                                            : static_cast<uint32_t>(doc.bytes.size());
  if (from == to) return Edit::kUnchanged;
  *out = splice(doc, from, to, std::string());
  return Edit::kChanged;
}

namespace {
Edit applyOne(const Document& doc, const PendingWrite& w, std::string* out, const char* eol) {
  switch (w.kind) {
    case PendingWrite::kSet:
      return setValue(doc, w.section.c_str(), w.key.c_str(), w.value.c_str(), out, eol);
    case PendingWrite::kRemoveKey: return removeKey(doc, w.section.c_str(), w.key.c_str(), out);
    case PendingWrite::kRemoveSection: return removeSection(doc, w.section.c_str(), out);
  }
  return Edit::kUnchanged;
}

// Applies writes one after another to a document of its own; returns its
// final bytes.
std::string applyInTurn(std::string bytes, const std::vector<const PendingWrite*>& writes,
                        const char* eol) {
  Document d = parse(std::move(bytes));
  for (const PendingWrite* w : writes) {
    std::string next;
    if (applyOne(d, *w, &next, eol) == Edit::kChanged) d = parse(std::move(next));
  }
  return std::move(d.bytes);
}

struct SectionWrites {
  Span name;
  uint32_t section;  // index in the document, kNone when it is missing
  std::vector<const PendingWrite*> writes;
};

// Groups writes by section in the order of their first write; false when a
// write is not a plain set, goes to the nameless leading part or would add a
// header of its own, which only the general way handles.
bool groupSets(const Document& doc, const std::vector<PendingWrite>& writes,
               std::vector<SectionWrites>* groups) {
  for (const PendingWrite& w : writes) {
    Span name = trimmed(w.section.c_str()), key = trimmed(w.key.c_str());
    // A key that starts with '[' writes a line that reads as a header.
    if (w.kind != PendingWrite::kSet || name.size == 0 || (key.size && key.data[0] == '['))
      return false;
    auto g = std::find_if(groups->begin(), groups->end(),
                          [&](const SectionWrites& s) { return sameName(s.name, name); });
    if (g == groups->end())
      g = groups->insert(groups->end(), {name, findSection(doc, name, 0), {}});
    g->writes.push_back(&w);
  }
  std::stable_sort(groups->begin(), groups->end(),
                   [](const SectionWrites& a, const SectionWrites& b) { return a.section < b.section; });
  return true;
}

// Adds the pieces of a patch. Spans of the base that follow each other make
// one piece, so a file no write changed is one span of the whole.
class PatchBuilder {
 public:
  explicit PatchBuilder(Patch* patch) : patch_(patch) {}
  void span(size_t begin, size_t size) {
    if (size == 0) return;
    std::vector<Patch::Piece>& pieces = patch_->pieces;
    if (!pieces.empty() && pieces.back().text == kNone &&
        pieces.back().begin + pieces.back().size == begin)
      pieces.back().size += size;
    else
      pieces.push_back({kNone, begin, size});
  }
  void text(std::string bytes) {
    if (bytes.empty()) return;
    patch_->texts.push_back(std::move(bytes));
    patch_->pieces.push_back({static_cast<uint32_t>(patch_->texts.size() - 1), 0,
                              patch_->texts.back().size()});
  }
  bool changed() const { return !patch_->texts.empty(); }

 private:
  Patch* patch_;
};

// Whether the bytes a patch's pieces make so far end in a line ending (or
// hold nothing after the byte order mark, where no line needs ending).
bool endsLine(const Patch& patch, const std::string& base, uint32_t bodyStart) {
  size_t total = 0;
  for (const Patch::Piece& p : patch.pieces) total += p.size;
  if (total <= bodyStart) return true;
  const Patch::Piece& last = patch.pieces.back();
  const std::string& from = last.text == kNone ? base : patch.texts[last.text];
  char c = from[last.begin + last.size - 1];
  return c == '\n' || c == '\r';
}

// The sets, section by section: each section touched is cut out, edited on
// its own and put back; sections that are missing follow at the end in the
// order they were first written, as one set after another would add them.
void applySets(const Document& doc, const std::vector<SectionWrites>& groups, Patch* out) {
  const char* eol = dominantEnding(doc);
  PatchBuilder patch(out);
  std::string added;
  size_t copied = 0;
  for (const SectionWrites& g : groups) {
    if (g.section == kNone) {
      added += applyInTurn("[" + std::string(g.name.data, g.name.size) + "]" + eol, g.writes, eol);
      continue;
    }
    const Section& sec = doc.sections[g.section];
    size_t from = doc.lines[sec.header].begin;
    size_t to = sec.last < doc.lines.size() ? doc.lines[sec.last].begin : doc.bytes.size();
    patch.span(copied, from - copied);
    std::string edited = applyInTurn(doc.bytes.substr(from, to - from), g.writes, eol);
    if (doc.bytes.compare(from, to - from, edited) == 0)
      patch.span(from, to - from);
    else
      patch.text(std::move(edited));
    copied = to;
  }
  patch.span(copied, doc.bytes.size() - copied);
  if (added.empty()) return;
  if (!endsLine(*out, doc.bytes, doc.bodyStart)) patch.text(eol);
  patch.text(std::move(added));
}

// The patch over doc's bytes that writes make; kUnchanged when they leave
// every byte as it was.
Edit collectWrites(const Document& doc, const std::vector<PendingWrite>& writes, Patch* out) {
  std::vector<SectionWrites> groups;
  if (!hasMixedEndings(doc) && groupSets(doc, writes, &groups)) {
    applySets(doc, groups, out);
    return PatchBuilder(out).changed() ? Edit::kChanged : Edit::kUnchanged;
  }
  std::vector<const PendingWrite*> all;
  for (const PendingWrite& w : writes) all.push_back(&w);
  std::string result = applyInTurn(doc.bytes, all, nullptr);
  if (result == doc.bytes) return Edit::kUnchanged;
  PatchBuilder(out).text(std::move(result));
  return Edit::kChanged;
}
}  // namespace

size_t Patch::size() const {
  size_t total = 0;
  for (const Piece& p : pieces) total += p.size;
  return total;
}

Edit applyWrites(const Document& doc, const std::vector<PendingWrite>& writes,
                 std::string* out) {
  Patch patch;
  if (collectWrites(doc, writes, &patch) == Edit::kUnchanged) return Edit::kUnchanged;
  std::string result;
  result.reserve(patch.size());
  for (const Patch::Piece& p : patch.pieces)
    result.append(p.text == kNone ? doc.bytes.data() + p.begin : patch.data(p), p.size);
  *out = std::move(result);
  return Edit::kChanged;
}

Edit patchWrites(Document&& doc, const std::vector<PendingWrite>& writes, Patch* out) {
  *out = Patch();
  Edit edit = collectWrites(doc, writes, out);
  Document taken = std::move(doc);
  out->base = std::move(taken.bytes);
  return edit;
}

uint32_t getString(const Document& doc, const char* section, const char* key,
                   const char* def, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  if (!def) def = "";
  if (!section) return fillSectionNames(sectionNames(doc), out, size);
  if (!key) {
    uint32_t n = listKeys(doc, section, out, size);
    if (!out[0]) n = copyValue({def, std::strlen(def)}, out, size);
    return n;
  }
  uint32_t line = findKey(doc, section, key);
  if (line != kNone && doc.lines[line].hasValue) {
    const Line& l = doc.lines[line];
    return copyValue(fileText(doc, l.valueBegin, l.valueEnd), out, size);
  }
  return copyValue(trimmedDefault(def), out, size);
}

uint32_t getInt(const Document& doc, const char* section, const char* key, int32_t def) {
  // Windows reads the value into a buffer of 30 characters first.
  char text[30];
  uint32_t n = getString(doc, section, key, "", text, sizeof text);
  if (n == 0 || !text[0]) return static_cast<uint32_t>(def);
  return parseInteger(text);
}

namespace {
// Reads a number as the Windows profile does (see parseInteger); returns
// where the digits stopped, and whether there were any.
const unsigned char* scanInteger(const char* text, uint32_t* value, bool* anyDigits) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p && *p <= ' ') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'o' || p[1] == 'b')) {
    base = p[1] == 'x' ? 16 : p[1] == 'o' ? 8 : 2;
    p += 2;
  }
  const unsigned char* digits = p;
  uint32_t total = 0;
  for (int digit; (digit = digitValue(*p)) >= 0 && digit < base; ++p)
    total = total * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  *value = negative ? 0u - total : total;
  *anyDigits = p != digits;
  return p;
}
}  // namespace

bool isWholeInteger(const char* text) {
  uint32_t value;
  bool anyDigits;
  const unsigned char* p = scanInteger(text, &value, &anyDigits);
  while (*p && *p <= ' ') ++p;
  return anyDigits && *p == '\0';
}

uint32_t parseInteger(const char* text) {
  uint32_t value;
  bool anyDigits;
  scanInteger(text, &value, &anyDigits);
  return value;
}

}  // namespace ini
