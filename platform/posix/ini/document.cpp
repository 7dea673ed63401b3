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

// A name as the lookups remember it: ASCII letters in lower case.
std::string folded(Span name) {
  std::string out(name.data, name.size);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return out;
}

// A caller's name, trimmed as Windows trims it before looking it up.
Span trimmed(const char* text) {
  size_t begin = 0, end = std::strlen(text);
  while (begin < end && isProfileBlank(text[begin])) ++begin;
  while (end > begin && isProfileBlank(text[end - 1])) --end;
  return {text + begin, end - begin};
}

// Bytes of text as a name or value is read: up to the first NUL.
Span fileText(const std::string& text, uint32_t begin, uint32_t end) {
  const char* p = text.data() + begin;
  const void* nul = std::memchr(p, 0, end - begin);
  return {p, nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : end - begin};
}

Span nameOf(const std::string& text, const Line& line) {
  return fileText(text, line.nameBegin, line.nameEnd);
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

// Calls visit with each line of text that starts in [from, to), in order,
// until it returns false. Returns where it stopped: the first byte of the
// line visit refused, or to.
template <typename Visit>
uint32_t eachLine(const std::string& text, uint32_t from, uint32_t to, Visit visit) {
  for (uint32_t at = from; at < to;) {
    Line line = lineIn(text, at);
    if (!visit(line)) return at;
    at = line.next;
  }
  return to;
}

// Where the section whose lines start at first ends: the next header line,
// or the end of the file.
uint32_t sectionEnd(const std::string& s, uint32_t first) {
  return eachLine(s, first, static_cast<uint32_t>(s.size()),
                  [](const Line& line) { return line.kind != Line::kSection; });
}

// Finds the first section named name whose header starts at or after byte
// from; withLeading: the nameless leading part comes first.
bool scanSection(const Document& doc, Span name, uint32_t from, bool withLeading, Section* out) {
  const std::string& s = doc.bytes;
  if (withLeading && name.size == 0) {
    *out = {kNone, doc.bodyStart, sectionEnd(s, doc.bodyStart)};
    return true;
  }
  bool found = false;
  eachLine(s, std::max(from, doc.bodyStart), static_cast<uint32_t>(s.size()), [&](const Line& line) {
    if (line.kind != Line::kSection || !sameName(nameOf(s, line), name)) return true;
    *out = {line.begin, line.next, sectionEnd(s, line.next)};
    found = true;
    return false;
  });
  return found;
}

// The first section named name, from what the lookups remember or found now
// and remembered. The entry stays valid until the next new name is asked.
Lookups::Entry& sectionEntry(const Document& doc, Span name) {
  std::string key = folded(name);
  for (Lookups::Entry& e : doc.lookups.sections)
    if (e.name == key) return e;
  Lookups::Entry entry;
  entry.name = std::move(key);
  entry.found = scanSection(doc, name, 0, true, &entry.section);
  doc.lookups.sections.push_back(std::move(entry));
  return doc.lookups.sections.back();
}

uint32_t scanKey(const Document& doc, uint32_t from, uint32_t to, Span name) {
  uint32_t found = kNone;
  eachLine(doc.bytes, from, to, [&](const Line& line) {
    if (line.kind != Line::kKey || !sameName(nameOf(doc.bytes, line), name)) return true;
    found = line.begin;
    return false;
  });
  return found;
}

// Indexes the first line of each key name of section, up to kIndexedKeys
// names; the lines after the last one indexed are searched when asked.
void buildIndex(const Document& doc, const Section& section, Lookups::KeyIndex* index) {
  index->built = true;
  index->coveredTo = eachLine(doc.bytes, section.first, section.last, [&](const Line& line) {
    if (line.kind != Line::kKey) return true;
    std::string name = folded(nameOf(doc.bytes, line));
    if (index->first.count(name)) return true;
    if (index->first.size() >= kIndexedKeys) return false;
    index->first.emplace(std::move(name), line.begin);
    return true;
  });
}

// The first key line named name in section; index: the section's, or
// nullptr for a section the lookups do not remember.
uint32_t findKeyIn(const Document& doc, const Section& section, Span name,
                   Lookups::KeyIndex* index) {
  if (!index) return scanKey(doc, section.first, section.last, name);
  if (!index->built) buildIndex(doc, section, index);
  auto hit = index->first.find(folded(name));
  if (hit != index->first.end()) return hit->second;
  return scanKey(doc, index->coveredTo, section.last, name);
}

struct EndingCounts {
  size_t crlf = 0, lf = 0, cr = 0;
};

EndingCounts countEndings(const Document& doc) {
  EndingCounts n;
  const std::string& s = doc.bytes;
  for (size_t at = 0; at < s.size(); ++at) {
    if (s[at] == '\n') {
      ++n.lf;
    } else if (s[at] == '\r') {
      bool pair = at + 1 < s.size() && s[at + 1] == '\n';
      ++(pair ? n.crlf : n.cr);
      at += pair;
    }
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

// Returns text with [from, to) replaced by insert.
std::string splice(const std::string& text, size_t from, size_t to, const std::string& insert) {
  std::string out;
  out.reserve(text.size() - (to - from) + insert.size());
  out.append(text, 0, from);
  out.append(insert);
  out.append(text, to, std::string::npos);
  return out;
}

std::string keyLine(Span key, const char* value) {
  return std::string(key.data, key.size) + "=" + value;
}

Edit replaceValue(const std::string& text, const Line& line, const char* value,
                  std::string* out) {
  if (!line.hasValue) {
    *out = splice(text, line.nameEnd, line.nameEnd, std::string("=") + value);
    return Edit::kChanged;
  }
  Span old = fileText(text, line.valueBegin, line.valueEnd);
  if (old.size == std::strlen(value) && std::memcmp(old.data, value, old.size) == 0)
    return Edit::kUnchanged;
  *out = splice(text, line.valueBegin, line.valueEnd, value);
  return Edit::kChanged;
}

// The line a key added to section goes after: its last non-blank line, or
// its header; false for a leading part with nothing in it.
bool anchorLine(const Document& doc, const Section& section, Line* anchor) {
  bool found = false;
  eachLine(doc.bytes, section.first, section.last, [&](const Line& line) {
    if (line.kind != Line::kBlank) {
      *anchor = line;
      found = true;
    }
    return true;
  });
  if (found || section.header == kNone) return found;
  *anchor = lineAt(doc, section.header);
  return true;
}

// Adds the key after the section's last non-blank line, so that blank lines
// between it and the next section stay where they are.
Edit appendKey(const Document& doc, const Section& section, Span key, const char* value,
               const char* eol, std::string* out) {
  std::string text = keyLine(key, value) + eol;
  uint32_t at = doc.bodyStart;  // an empty leading part: top of the file
  Line anchor;
  if (anchorLine(doc, section, &anchor)) {
    at = anchor.next;
    if (anchor.next == anchor.end) text = eol + text;  // last line had no ending
  }
  *out = splice(doc.bytes, at, at, text);
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
  *out = splice(s, s.size(), s.size(), text);
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

// Collects names into *names until they fill size bytes with their
// terminators: the names after those cannot be stored in any case.
bool collectName(std::vector<Span>* names, size_t* used, Span name, uint32_t size) {
  names->push_back(name);
  *used += name.size + 1;
  return *used < size;
}

std::vector<Span> sectionNames(const Document& doc, uint32_t size) {
  std::vector<Span> names;
  size_t used = 0;
  eachLine(doc.bytes, doc.bodyStart, static_cast<uint32_t>(doc.bytes.size()), [&](const Line& line) {
    Span name = nameOf(doc.bytes, line);
    return line.kind != Line::kSection || name.size == 0 || collectName(&names, &used, name, size);
  });
  return names;
}

// Key names listed for a null key: keys with '=', comments (';') left out.
uint32_t listKeys(const Document& doc, const char* section, char* out, uint32_t size) {
  const Lookups::Entry& entry = sectionEntry(doc, trimmed(section));
  if (!entry.found) {
    out[0] = '\0';
    if (size > 1) out[1] = '\0';
    return 0;
  }
  std::vector<Span> names;
  size_t used = 0;
  eachLine(doc.bytes, entry.section.first, entry.section.last, [&](const Line& line) {
    if (line.kind != Line::kKey || !line.hasValue) return true;
    Span name = nameOf(doc.bytes, line);
    return (name.size && name.data[0] == ';') || collectName(&names, &used, name, size);
  });
  return fillKeyNames(names, out, size);
}

// The default as Windows uses it: trailing spaces dropped, but never its
// first byte, so an all-space default reads as one space.
Span trimmedDefault(const char* def) {
  size_t n = std::strlen(def);
  while (n > 1 && def[n - 1] == ' ') --n;
  return {def, n};
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
  if (doc.bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) doc.bodyStart = 3;
  return doc;
}

Line lineIn(const std::string& text, uint32_t at) {
  const uint32_t size = static_cast<uint32_t>(text.size());
  Line line;
  line.begin = at;
  uint32_t end = at;
  while (end < size && text[end] != '\r' && text[end] != '\n') ++end;
  line.end = end;
  line.next = end;
  if (end < size) line.next += (text[end] == '\r' && end + 1 < size && text[end + 1] == '\n') ? 2 : 1;
  classify(text, at, end, &line);
  return line;
}

Line lineAt(const Document& doc, uint32_t at) { return lineIn(doc.bytes, at); }

uint32_t findKey(const Document& doc, const char* section, const char* key) {
  Lookups::Entry& entry = sectionEntry(doc, trimmed(section));
  return entry.found ? findKeyIn(doc, entry.section, trimmed(key), &entry.keys) : kNone;
}

std::string keyValue(const Document& doc, uint32_t line) {
  Line l = lineAt(doc, line);
  if (!l.hasValue) return std::string();
  Span value = fileText(doc.bytes, l.valueBegin, l.valueEnd);
  return std::string(value.data, value.size);
}

std::string valueAsRead(const Document& doc, const Line& line) {
  if (!line.hasValue) return std::string();
  Span value = fileText(doc.bytes, line.valueBegin, line.valueEnd);
  std::string out(value.size + 1, '\0');
  out.resize(copyValue(value, &out[0], static_cast<uint32_t>(out.size())));
  return out;
}

std::string lineName(const Document& doc, const Line& line) {
  Span name = nameOf(doc.bytes, line);
  return std::string(name.data, name.size);
}

Edit setValue(const Document& doc, const char* section, const char* key,
              const char* value, std::string* out, const char* eol) {
  Span sectionSpan = trimmed(section), keySpan = trimmed(key);
  while (isProfileBlank(*value)) ++value;
  Lookups::Entry& entry = sectionEntry(doc, sectionSpan);
  if (!entry.found) return appendSection(doc, sectionSpan, keySpan, value, out);
  uint32_t line = findKeyIn(doc, entry.section, keySpan, &entry.keys);
  if (line == kNone)
    return appendKey(doc, entry.section, keySpan, value, eol ? eol : dominantEnding(doc), out);
  return replaceValue(doc.bytes, lineAt(doc, line), value, out);
}

// Like Windows, a key missing from the first section of the name is looked
// for in the later ones before giving up.
Edit removeKey(const Document& doc, const char* section, const char* key,
               std::string* out) {
  Span sectionSpan = trimmed(section), keySpan = trimmed(key);
  Lookups::Entry& entry = sectionEntry(doc, sectionSpan);
  if (!entry.found) return Edit::kUnchanged;
  Section current = entry.section;
  uint32_t line = findKeyIn(doc, current, keySpan, &entry.keys);
  while (line == kNone) {
    if (!scanSection(doc, sectionSpan, current.last, false, &current)) return Edit::kUnchanged;
    line = findKeyIn(doc, current, keySpan, nullptr);
  }
  Line l = lineAt(doc, line);
  *out = splice(doc.bytes, l.begin, l.next, std::string());
  return Edit::kChanged;
}

Edit removeSection(const Document& doc, const char* section, std::string* out) {
  const Lookups::Entry& entry = sectionEntry(doc, trimmed(section));
  if (!entry.found) return Edit::kUnchanged;
  const Section& sec = entry.section;
  uint32_t from = sec.header == kNone ? doc.bodyStart : sec.header;
  if (from == sec.last) return Edit::kUnchanged;
  *out = splice(doc.bytes, from, sec.last, std::string());
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

// Applies writes one after another to a document of its own, which holds
// bytes; leaves its final bytes in bytes and returns whether any write
// changed them.
bool applyInTurn(std::string* bytes, const std::vector<const PendingWrite*>& writes,
                 const char* eol) {
  Document d = parse(std::move(*bytes));
  bool changed = false;
  for (const PendingWrite* w : writes) {
    std::string next;
    if (applyOne(d, *w, &next, eol) != Edit::kChanged) continue;
    changed = true;
    d = Document();  // the old bytes go before the new ones are parsed
    d = parse(std::move(next));
  }
  *bytes = std::move(d.bytes);
  return changed;
}

bool hasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

struct SectionWrites {
  Span name;
  bool found;
  Section section;  // when found
  std::vector<const PendingWrite*> writes;
};

// Whether a set is one the quick way takes: it goes to a named section, its
// key cannot write a line that reads as a header ("[x]=1") and no name or
// value holds a line break.
bool isPlainSet(const PendingWrite& w) {
  Span name = trimmed(w.section.c_str()), key = trimmed(w.key.c_str());
  return w.kind == PendingWrite::kSet && name.size != 0 && !(key.size && key.data[0] == '[') &&
         !hasLineBreak(w.section) && !hasLineBreak(w.key) && !hasLineBreak(w.value);
}

// Groups writes by section in file order, missing sections last in the
// order of their first write; false when a write is not a plain set, which
// only the general way handles.
bool groupSets(const Document& doc, const std::vector<PendingWrite>& writes,
               std::vector<SectionWrites>* groups) {
  for (const PendingWrite& w : writes) {
    if (!isPlainSet(w)) return false;
    Span name = trimmed(w.section.c_str());
    auto g = std::find_if(groups->begin(), groups->end(),
                          [&](const SectionWrites& s) { return sameName(s.name, name); });
    if (g == groups->end()) {
      const Lookups::Entry& entry = sectionEntry(doc, name);
      g = groups->insert(groups->end(), {name, entry.found, entry.section, {}});
    }
    g->writes.push_back(&w);
  }
  auto place = [](const SectionWrites& s) { return s.found ? s.section.header : kNone; };
  std::stable_sort(groups->begin(), groups->end(),
                   [&](const SectionWrites& a, const SectionWrites& b) { return place(a) < place(b); });
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

// The key line text holds (a whole line) with its value set as one setValue
// of it would.
std::string setInLine(const std::string& text, const char* value) {
  std::string out;
  return replaceValue(text, lineIn(text, 0), value, &out) == Edit::kChanged ? out : text;
}

// What the sets of one existing section make of it: its key lines with new
// texts (each a whole line, ending included), and the key lines it gains.
struct SectionEdit {
  std::vector<std::pair<uint32_t, std::string>> changed;
  std::vector<std::string> added;
};

// Applies one set to edit, as setValue would to the section as edited so
// far: the key's first line among the section's own lines, else among those
// added, else a new line at the end.
void setInSection(const Document& doc, Lookups::Entry& entry, const PendingWrite& w,
                  const char* eol, SectionEdit* edit) {
  const char* value = w.value.c_str();
  while (isProfileBlank(*value)) ++value;
  Span key = trimmed(w.key.c_str());
  uint32_t line = findKeyIn(doc, entry.section, key, &entry.keys);
  if (line != kNone) {
    auto same = [line](const std::pair<uint32_t, std::string>& c) { return c.first == line; };
    auto it = std::find_if(edit->changed.begin(), edit->changed.end(), same);
    if (it == edit->changed.end()) {
      Line l = lineAt(doc, line);
      it = edit->changed.insert(edit->changed.end(), {line, doc.bytes.substr(line, l.next - line)});
    }
    it->second = setInLine(it->second, value);
    return;
  }
  for (std::string& added : edit->added) {
    Line l = lineIn(added, 0);
    if (l.kind != Line::kKey || !sameName(nameOf(added, l), key)) continue;
    added = setInLine(added, value);
    return;
  }
  edit->added.push_back(keyLine(key, value) + eol);
}

// Puts one existing section, edited by its writes, into the patch; *copied
// is how far the base has been copied.
void patchSection(const Document& doc, const SectionWrites& g, const char* eol,
                  PatchBuilder& patch, size_t* copied) {
  Lookups::Entry& entry = sectionEntry(doc, g.name);
  SectionEdit edit;
  for (const PendingWrite* w : g.writes) setInSection(doc, entry, *w, eol, &edit);
  std::sort(edit.changed.begin(), edit.changed.end());
  for (auto& c : edit.changed) {
    uint32_t next = lineAt(doc, c.first).next;
    if (doc.bytes.compare(c.first, next - c.first, c.second) == 0) continue;
    patch.span(*copied, c.first - *copied);
    patch.text(std::move(c.second));
    *copied = next;
  }
  if (edit.added.empty()) return;
  Line anchor;
  anchorLine(doc, entry.section, &anchor);
  std::string block = anchor.next == anchor.end ? eol : "";
  for (const std::string& added : edit.added) block += added;
  patch.span(*copied, anchor.next - *copied);
  patch.text(std::move(block));
  *copied = anchor.next;
}

// The sets, section by section: the lines they touch in sections that are
// there are edited in place; sections that are missing follow at the end in
// the order they were first written, as one set after another would add them.
void applySets(const Document& doc, const std::vector<SectionWrites>& groups, Patch* out) {
  const char* eol = dominantEnding(doc);
  PatchBuilder patch(out);
  std::string added;
  size_t copied = 0;
  for (const SectionWrites& g : groups) {
    if (g.found) {
      patchSection(doc, g, eol, patch, &copied);
      continue;
    }
    std::string text = "[" + std::string(g.name.data, g.name.size) + "]" + eol;
    applyInTurn(&text, g.writes, eol);
    added += text;
  }
  patch.span(copied, doc.bytes.size() - copied);
  if (added.empty()) return;
  if (!endsLine(*out, doc.bytes, doc.bodyStart)) patch.text(eol);
  patch.text(std::move(added));
}

// The quick way of applyWrites, when the writes allow it: a patch over doc's
// bytes in *out. Returns false, with *out untouched, when they do not.
bool patchSets(const Document& doc, const std::vector<PendingWrite>& writes, Patch* out) {
  std::vector<SectionWrites> groups;
  if (hasMixedEndings(doc) || !groupSets(doc, writes, &groups)) return false;
  applySets(doc, groups, out);
  return true;
}

std::vector<const PendingWrite*> pointersTo(const std::vector<PendingWrite>& writes) {
  std::vector<const PendingWrite*> all;
  for (const PendingWrite& w : writes) all.push_back(&w);
  return all;
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
  if (!patchSets(doc, writes, &patch)) {
    std::string result = doc.bytes;
    applyInTurn(&result, pointersTo(writes), nullptr);
    if (result == doc.bytes) return Edit::kUnchanged;
    *out = std::move(result);
    return Edit::kChanged;
  }
  if (!PatchBuilder(&patch).changed()) return Edit::kUnchanged;
  std::string result;
  result.reserve(patch.size());
  for (const Patch::Piece& p : patch.pieces)
    result.append(p.text == kNone ? doc.bytes.data() + p.begin : patch.data(p), p.size);
  *out = std::move(result);
  return Edit::kChanged;
}

Edit patchWrites(Document&& doc, const std::vector<PendingWrite>& writes, Patch* out) {
  *out = Patch();
  Document taken = std::move(doc);
  if (patchSets(taken, writes, out)) {
    out->base = std::move(taken.bytes);
    return PatchBuilder(out).changed() ? Edit::kChanged : Edit::kUnchanged;
  }
  // The general way holds the file being edited and its next state, never
  // the original beside them.
  std::string bytes = std::move(taken.bytes);
  taken = Document();
  if (!applyInTurn(&bytes, pointersTo(writes), nullptr)) return Edit::kUnchanged;
  PatchBuilder(out).text(std::move(bytes));
  return Edit::kChanged;
}

uint32_t getString(const Document& doc, const char* section, const char* key,
                   const char* def, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  if (!def) def = "";
  if (!section) return fillSectionNames(sectionNames(doc, size), out, size);
  if (!key) {
    uint32_t n = listKeys(doc, section, out, size);
    if (!out[0]) n = copyValue({def, std::strlen(def)}, out, size);
    return n;
  }
  uint32_t line = findKey(doc, section, key);
  if (line != kNone) {
    Line l = lineAt(doc, line);
    if (l.hasValue) return copyValue(fileText(doc.bytes, l.valueBegin, l.valueEnd), out, size);
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
// A wide read stops growing here: far past any 32-bit value, far from overflow.
constexpr int64_t wideBound = int64_t{1} << 40;

struct IntegerScan {
  uint32_t value;  // modulo 2^32, as the profile reads it
  int64_t wide;    // the same, held within +-wideBound
  bool anyDigits;
  const unsigned char* end;  // where the digits stopped
};

// Reads a number as the Windows profile does (see parseInteger).
IntegerScan scanInteger(const char* text) {
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
  int64_t wide = 0;
  for (int digit; (digit = digitValue(*p)) >= 0 && digit < base; ++p) {
    total = total * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    wide = std::min(wide * base + digit, wideBound);
  }
  return {negative ? 0u - total : total, negative ? -wide : wide, p != digits, p};
}
}  // namespace

bool isWholeInteger(const char* text) {
  IntegerScan scan = scanInteger(text);
  const unsigned char* p = scan.end;
  while (*p && *p <= ' ') ++p;
  return scan.anyDigits && *p == '\0';
}

uint32_t parseInteger(const char* text) { return scanInteger(text).value; }

int64_t wideInteger(const char* text) { return scanInteger(text).wide; }

}  // namespace ini
