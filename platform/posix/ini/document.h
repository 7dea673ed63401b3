// The INI document: the bytes of one profile file, parsed for the profile
// calls (see store.h for the file side).
//
// The file is kept as the bytes read from disk and nothing else of its size:
// lines are found by scanning the bytes when a call asks, and only what the
// calls asked for is remembered (the sections looked up, and an index of
// the first keys of each, up to a fixed number of names), so a file of any
// shape costs its own size and little more. Every edit copies the untouched
// bytes around the changed spans, so comments, blank lines, odd lines,
// binary bytes and each line's own ending survive a write unchanged.
//
// The syntax is the one Windows reads:
// - A line ends at CR LF, LF or a lone CR.
// - Each line is trimmed of blanks: tab, LF, VT, FF, CR, space and ^Z.
// - "[name]" starts a section; the name is what lies between the '[' and the
//   last ']' of the line, trimmed. A '[' line without ']' is a key line.
// - Any other non-blank line is a key: the text before the first '=' is its
//   name, the text after it (leading blanks dropped) its value. A line with
//   no '=' is a key without a value; it reads as missing but still shadows
//   later keys of the same name.
// - There is no comment syntax as such: "; text" is a key line like any
//   other, which only key listings (a null key) leave out.
// - Lines before the first header form a section with the empty name "".
// - Names match ASCII case-insensitively, after trimming the caller's names;
//   the first matching section is the one read and written, and within it
//   the first matching key.
// - A NUL byte ends a name or value where it appears (Windows reads the file
//   into C strings); the bytes after it are kept but never read.
// - A UTF-8 byte order mark at the start is skipped and kept. UTF-16 files
//   are not understood: they read as holding no usable keys, and
//   profile.cpp refuses to write to them.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace ini {

// Files at or above this size read as empty and refuse writes: offsets are
// 32 bits to keep the line records small on big files.
constexpr size_t kMaxFileSize = size_t{1} << 30;
constexpr uint32_t kNone = UINT32_MAX;

// One line of a document, found by lineAt; offsets are into the bytes.
struct Line {
  enum Kind : uint8_t { kBlank, kSection, kKey };
  uint32_t begin;      // first byte of the line
  uint32_t end;        // first byte of its terminator (== next when none)
  uint32_t next;       // first byte of the following line
  uint32_t nameBegin;  // section name inside the brackets, or key name
  uint32_t nameEnd;
  uint32_t valueBegin;  // a key's value, trimmed; empty span when no '='
  uint32_t valueEnd;
  Kind kind;
  bool hasValue;  // a key line with '='
};

// A section as byte offsets: its header line (kNone for the leading part),
// and the span [first, last) of the lines below it.
struct Section {
  uint32_t header;
  uint32_t first;
  uint32_t last;
};

// What the lookups of one document have found so far. Bounded: one entry
// per section name asked, each with at most kIndexedKeys key names.
struct Lookups {
  struct KeyIndex {
    bool built = false;
    std::unordered_map<std::string, uint32_t> first;  // folded name -> line
    uint32_t coveredTo = 0;  // every key line before this offset is in first
  };
  struct Entry {
    std::string name;  // folded
    bool found;
    Section section;
    KeyIndex keys;
  };
  std::vector<Entry> sections;
};
constexpr size_t kIndexedKeys = 4096;

struct Document {
  std::string bytes;
  uint32_t bodyStart = 0;  // 3 when the file starts with a UTF-8 BOM
  mutable Lookups lookups;
};

// Returns the document over bytes, which must be shorter than kMaxFileSize.
// Nothing is scanned until a call asks.
Document parse(std::string bytes);

// Returns the line of doc that starts at byte at (bodyStart, or a line's
// next; at < bytes.size()).
Line lineAt(const Document& doc, uint32_t at);

// Returns the line of text that starts at byte at, read on its own.
Line lineIn(const std::string& text, uint32_t at);

// Returns the first byte of the first key line named key in the first
// section named section, or kNone.
uint32_t findKey(const Document& doc, const char* section, const char* key);

// Returns the value of the key line that starts at byte line: up to the
// first NUL, "" when the line has no '='.
std::string keyValue(const Document& doc, uint32_t line);

// Returns a key line's value as a profile read gives it: up to the first
// NUL, one pair of enclosing quotes removed, not cut.
std::string valueAsRead(const Document& doc, const Line& line);

// Returns a line's name (a section's or a key's) up to the first NUL.
std::string lineName(const Document& doc, const Line& line);

// What an edit did to the document.
enum class Edit { kUnchanged, kChanged };

// Sets key in section to value (leading blanks dropped), adding the key at the
// end of the section or the section at the end of the file when missing; an
// added line ends with eol, by default the one most of the file's lines use.
// On kChanged *out holds the new file bytes.
Edit setValue(const Document& doc, const char* section, const char* key,
              const char* value, std::string* out, const char* eol = nullptr);

// Removes the first key line named key from the sections named section.
Edit removeKey(const Document& doc, const char* section, const char* key,
               std::string* out);

// Removes the first section named section, header and lines.
Edit removeSection(const Document& doc, const char* section, std::string* out);

// One write of a profile call, kept until the file is written out.
struct PendingWrite {
  enum Kind { kSet, kRemoveKey, kRemoveSection };
  Kind kind;
  std::string section, key, value;
};

// Applies writes in their order, with the result one setValue, removeKey or
// removeSection after another would give, but in one pass over the file when
// all of them set keys in named sections and its lines end alike: only the
// lines they touch are edited, and the rest of the file is never copied.
// On kChanged *out holds the new file bytes.
Edit applyWrites(const Document& doc, const std::vector<PendingWrite>& writes,
                 std::string* out);

// A file's new bytes as pieces written one after another: spans of the bytes
// it was made from (base) and texts of its own, the lines a save edited.
// A save of a big file writes it from this and never holds it twice.
struct Patch {
  struct Piece {
    uint32_t text;  // index into texts; kNone: a span of base
    size_t begin, size;
  };
  std::string base;
  std::vector<std::string> texts;
  std::vector<Piece> pieces;
  const char* data(const Piece& piece) const {
    return (piece.text == kNone ? base : texts[piece.text]).data() + piece.begin;
  }
  size_t size() const;
};

// applyWrites for a save: takes doc over and leaves the new bytes in *out as
// a patch over doc's bytes (writes the quick way cannot take are applied to
// the bytes themselves, which then hold the file only once more).
Edit patchWrites(Document&& doc, const std::vector<PendingWrite>& writes, Patch* out);

// GetPrivateProfileStringA over a document: the value of key, or def, with one
// pair of enclosing quotes removed, cut to size - 1 bytes and terminated.
// A null section lists the section names, a null key the section's key names
// (each terminated, the list ended by an extra NUL). Returns the bytes
// stored, not counting the final terminator; out may be null when size is 0.
uint32_t getString(const Document& doc, const char* section, const char* key,
                   const char* def, char* out, uint32_t size);

// GetPrivateProfileIntA over a document: def when the key is missing or its
// value reads as empty, otherwise parseInteger of the value.
uint32_t getInt(const Document& doc, const char* section, const char* key, int32_t def);

// Returns text read as a number the way the Windows profile reads one:
// leading bytes up to the space skipped, one '+' or '-', a "0x", "0o" or
// "0b" prefix choosing base 16, 8 or 2 (decimal otherwise), then digits up
// to the first byte that is not one; modulo 2^32, no digits giving 0.
uint32_t parseInteger(const char* text);

// Returns text read as parseInteger reads it, but in 64 bits and held
// within 2^40 either way, so a number past 32 bits shows as what it is.
int64_t wideInteger(const char* text);

// Returns whether text, as a profile value, is wholly a number that
// parseInteger reads: blanks around it allowed, nothing else after it.
bool isWholeInteger(const char* text);

}  // namespace ini
