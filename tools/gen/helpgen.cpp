// Builds the parts of kronsec's help that halibut cannot make from
// doc/kronsec.but:
//
//   helpgen pages SOURCE.but... OUT.cpp    the terminal viewer's topic table
//   helpgen hlpmap SOURCE.but... FILE.hlp  the sources' context numbers put
//                                          into halibut's FILE.hlp (rewritten
//                                          in place)
//   helpgen man IN.1 [SOURCE.but...] OUT.1 halibut's man page in man(7)'s
//                                          order, tidied for lint
//
// The sources are the ones halibut made that form from, in the same order.
//
// It reads only the halibut commands the help is written with and stops the
// build with a file:line message on anything else, so the terminal never
// shows a text that the other forms render differently.
#include "tools/gen/helpgen.h"
#include "tools/gen/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <regex>

namespace helpgen {
namespace {

// ---- the halibut source ------------------------------------------------------

// One paragraph of the source: its lines, joined later as its kind needs.
struct Paragraph {
  std::vector<std::string> lines;
  int line = 0;  // where it starts, for messages
};

bool isBlankLine(const std::string& s) { return s.find_first_not_of(" \t\r") == std::string::npos; }

std::vector<Paragraph> splitParagraphs(const std::string& source) {
  std::vector<Paragraph> paragraphs;
  Paragraph current;
  int number = 0;
  size_t start = 0;
  while (start <= source.size()) {
    size_t end = source.find('\n', start);
    if (end == std::string::npos) end = source.size();
    std::string line = source.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++number;
    if (isBlankLine(line)) {
      if (!current.lines.empty()) paragraphs.push_back(current);
      current = Paragraph();
    } else {
      if (current.lines.empty()) current.line = number;
      current.lines.push_back(line);
    }
    start = end + 1;
  }
  if (!current.lines.empty()) paragraphs.push_back(current);
  return paragraphs;
}

// The command a paragraph starts with ("U", "dt", "c", "cfg", "#"), or "".
std::string leadingCommand(const std::string& line) {
  if (line.size() < 2 || line[0] != '\\') return "";
  if (line[1] == '#') return line.size() > 2 && line[2] == '{' ? "" : "#";
  size_t end = 1;
  while (end < line.size() && std::isalpha(static_cast<unsigned char>(line[end]))) ++end;
  return line.substr(1, end - 1);
}

// The titles of the numbered (\C) chapters by their keywords: what a
// cross-reference (\k) shows outside kronsec.hlp.
using ChapterTitles = std::map<std::string, std::string>;

class Parser {
 public:
  // chapters: the chapters cross-references may name; learnChapters adds
  // this source's.
  Parser(const std::string& name, ChapterTitles* chapters) : name_(name), chapters_(chapters) {}
  void learnChapters(const std::string& source);
  std::vector<Topic> parse(const std::string& source);

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw Error(name_ + ":" + std::to_string(line_) + ": error: " + what);
  }
  void paragraph(const Paragraph& p);
  void chapterHeading(const Paragraph& p, const std::string& command);
  std::string numberedTitle(const Paragraph& p, std::string* keyword);
  void configure(const std::string& line);
  void addBlock(const std::string& block, bool listItem);
  std::string inlineText(const std::string& text);
  std::string argument(const std::string& text, size_t* pos);
  std::string joined(const Paragraph& p, size_t skip) const;

  std::string name_;
  int line_ = 0;
  std::vector<Topic> topics_;
  std::string term_;  // a \dt waiting for its \dd
  bool lastWasItem_ = false;
  ChapterTitles* chapters_;
};

// A cross-reference may name a chapter further on: the titles come first.
void Parser::learnChapters(const std::string& source) {
  for (const Paragraph& p : splitParagraphs(source)) {
    if (leadingCommand(p.lines[0]) != "C") continue;
    line_ = p.line;
    std::string keyword;
    std::string title = numberedTitle(p, &keyword);
    if (chapters_->count(keyword)) fail("the chapter keyword " + keyword + " is used twice");
    (*chapters_)[keyword] = title;
  }
}

std::vector<Topic> Parser::parse(const std::string& source) {
  topics_ = {Topic{"Contents", "", "", {}}};
  for (const Paragraph& p : splitParagraphs(source)) {
    line_ = p.line;
    paragraph(p);
  }
  if (!term_.empty()) fail("\\dt without its \\dd");
  return topics_;
}

// The paragraph's text from column `skip` of its first line on, its lines
// joined with blanks.
std::string Parser::joined(const Paragraph& p, size_t skip) const {
  std::string text = p.lines[0].substr(std::min(skip, p.lines[0].size()));
  for (size_t i = 1; i < p.lines.size(); ++i) text += " " + p.lines[i];
  return text;
}

// `\C{keyword} Title`: the title, with the keyword in *keyword.
std::string Parser::numberedTitle(const Paragraph& p, std::string* keyword) {
  std::string text = joined(p, 2);
  size_t pos = 0;
  *keyword = argument(text, &pos);
  if (keyword->empty()) fail("a chapter without a keyword");
  return inlineText(text.substr(pos));
}

// A chapter, numbered (\C, which cross-references name) or not (\U): a topic.
void Parser::chapterHeading(const Paragraph& p, const std::string& command) {
  std::string keyword;
  std::string title = command == "C" ? numberedTitle(p, &keyword) : inlineText(joined(p, 2));
  if (title.empty()) fail("a chapter without a title");
  topics_.push_back(Topic{title, "", "", {}, command == "C"});
  lastWasItem_ = false;
}

// The commands that may start a paragraph of running text.
bool startsText(const std::string& command) {
  static const char* const inlineCommands[] = {"e", "c", "q", "W", "i", "ii", "I", "k", "K"};
  for (const char* c : inlineCommands)
    if (command == c) return true;
  return command.empty();
}

void Parser::paragraph(const Paragraph& p) {
  std::string command = leadingCommand(p.lines[0]);
  // \IM says how index terms show in the index, which only kronsec.hlp has.
  if (command == "#" || command == "title" || command == "IM") return;
  if (!term_.empty() && command != "dd") fail("\\dt without its \\dd");
  if (command == "cfg") {
    for (const std::string& l : p.lines) {
      if (leadingCommand(l) != "cfg") fail("a \\cfg paragraph holds only \\cfg lines");
      configure(l);
    }
  } else if (command == "U" || command == "C") {
    chapterHeading(p, command);
  } else if (command == "b") {
    addBlock("- " + inlineText(joined(p, 2)), true);
  } else if (command == "dt") {
    term_ = inlineText(joined(p, 3));
    if (term_.empty()) fail("an empty \\dt");
  } else if (command == "dd") {
    addBlock(term_ + "\t" + inlineText(joined(p, 3)), true);
    term_.clear();
  } else if (command == "c" && (p.lines[0].size() == 2 || p.lines[0][2] == ' ')) {
    std::string code;
    for (const std::string& l : p.lines) {
      if (l.compare(0, 2, "\\c") != 0 || (l.size() > 2 && l[2] != ' '))
        fail("a code paragraph mixes in other lines");
      code += (code.empty() ? "" : "\n") + std::string("    ") + (l.size() > 3 ? l.substr(3) : "");
    }
    addBlock(code, false);
  } else if (!startsText(command)) {
    fail("\\" + command + " is not among the commands helpgen reads");
  } else {
    addBlock(inlineText(joined(p, 0)), false);
  }
}

// \cfg{key}{value}: the two keys that concern the help's structure; the rest
// are halibut's.
void Parser::configure(const std::string& l) {
  size_t pos = 4;
  std::string key = argument(l, &pos);
  std::string value = argument(l, &pos);
  if (key == "winhelp-topic") {
    if (value.empty() ||
        value.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._") != std::string::npos)
      fail("a WinHelp topic name is letters, digits, '.' and '_'");
    topics_.back().winhelpTopic = value;
  } else if (key == "kronsec-context") {
    char* end = nullptr;
    unsigned long number = std::strtoul(value.c_str(), &end, 10);
    if (value.empty() || *end || number > 0x7FFFFFFFul) fail("a context number is decimal digits");
    if (topics_.size() == 1) fail("a context number belongs in a chapter");
    topics_.back().contexts.push_back(static_cast<uint32_t>(number));
  } else if (key == "winhelp-contents-titlepage") {
    topics_.front().title = value;
  }
}

// A list item follows the one before it on the next line; anything else
// stands after a blank line.
void Parser::addBlock(const std::string& block, bool listItem) {
  std::string& text = topics_.back().text;
  if (!text.empty()) text += (listItem && lastWasItem_) ? "\n" : "\n\n";
  text += block;
  lastWasItem_ = listItem;
}

// The text inside the braces at *pos (which must be '{'), markup kept;
// *pos moves past the closing brace.
std::string Parser::argument(const std::string& text, size_t* pos) {
  if (*pos >= text.size() || text[*pos] != '{') fail("'{' expected");
  int depth = 0;
  for (size_t i = *pos; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      ++i;
      continue;
    }
    if (text[i] == '{') ++depth;
    if (text[i] == '}' && --depth == 0) {
      std::string inside = text.substr(*pos + 1, i - *pos - 1);
      *pos = i + 1;
      return inside;
    }
  }
  fail("'}' missing");
}

// Plain text for the terminal: emphasis and code lose their marks, quotes
// become ASCII, a link keeps its text; blanks collapse.
std::string Parser::inlineText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80)
      fail("the help is written in ASCII (use halibut's \\u only in \\cfg)");
    if (c == '{' || c == '}') fail(std::string("an unescaped '") + c + "'");
    if (c != '\\') {
      bool blank = c == ' ' || c == '\t';
      if (!blank || (!out.empty() && out.back() != ' ')) out += blank ? ' ' : c;
      ++i;
      continue;
    }
    if (i + 1 < text.size() && std::strchr("\\{}-_", text[i + 1])) {
      out += text[i + 1] == '_' ? ' ' : text[i + 1];
      i += 2;
      continue;
    }
    size_t pos = i + 1;
    while (pos < text.size() && std::isalpha(static_cast<unsigned char>(text[pos]))) ++pos;
    std::string command = text.substr(i + 1, pos - i - 1);
    if (command.empty() && pos < text.size() && text[pos] == '#') {
      ++pos;
      argument(text, &pos);
    } else if (command == "e" || command == "c") {
      out += inlineText(argument(text, &pos));
    } else if (command == "q") {
      out += "\"" + inlineText(argument(text, &pos)) + "\"";
    } else if (command == "W") {
      argument(text, &pos);
      out += inlineText(argument(text, &pos));
    } else if (command == "i" || command == "ii") {
      // An index term shows as its text; before \c or \e it only marks it.
      if (pos < text.size() && text[pos] == '{') out += inlineText(argument(text, &pos));
    } else if (command == "I") {
      argument(text, &pos);  // an index term that does not show
    } else if (command == "k" || command == "K") {
      std::string keyword = argument(text, &pos);
      auto found = chapters_->find(keyword);
      if (found == chapters_->end()) fail("\\k{" + keyword + "} names no \\C chapter");
      out += found->second;
    } else {
      fail("\\" + command + " is not among the commands helpgen reads");
    }
    i = pos;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// ---- the terminal table ----------------------------------------------------

// ---- the .hlp file -----------------------------------------------------------

const uint32_t kHlpMagic = 0x00035F3F;
const uint16_t kBtreeMagic = 0x293B;
const size_t kFileHeaderSize = 9;  // reserved space, used space, flags
const size_t kBtreeHeaderSize = 38;

uint32_t u32(const std::string& b, size_t at) {
  if (at + 4 > b.size()) throw Error("the help file ends early");
  const unsigned char* p = reinterpret_cast<const unsigned char*>(b.data()) + at;
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int16_t i16(const std::string& b, size_t at) {
  if (at + 2 > b.size()) throw Error("the help file ends early");
  const unsigned char* p = reinterpret_cast<const unsigned char*>(b.data()) + at;
  return static_cast<int16_t>(p[0] | p[1] << 8);
}

void put32(std::string* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

void append32(std::string* b, uint32_t v) {
  b->append(4, '\0');
  put32(b, b->size() - 4, v);
}

std::string zString(const std::string& b, size_t at) {
  size_t end = b.find('\0', at);
  if (end == std::string::npos) throw Error("a name in the help file has no end");
  return b.substr(at, end - at);
}

// Calls entry(position) for each leaf entry of the B+ tree in the internal
// file at fileOffset, in key order; entry returns where the next one starts.
void walkBtree(const std::string& b, uint32_t fileOffset,
               const std::function<size_t(size_t)>& entry) {
  size_t tree = fileOffset + kFileHeaderSize;
  if (static_cast<uint16_t>(i16(b, tree)) != kBtreeMagic) throw Error("not a B+ tree");
  size_t pageSize = static_cast<uint16_t>(i16(b, tree + 4));
  int16_t page = i16(b, tree + 26);
  int16_t totalPages = i16(b, tree + 30);
  int16_t levels = i16(b, tree + 32);
  size_t pages = tree + kBtreeHeaderSize;
  for (int level = 1; level < levels; ++level) page = i16(b, pages + page * pageSize + 4);
  for (int seen = 0; page != -1; ++seen) {
    if (page < 0 || page >= totalPages || seen >= totalPages) throw Error("a broken B+ tree");
    size_t at = pages + page * pageSize;
    int16_t count = i16(b, at + 2);
    size_t pos = at + 8;
    for (int i = 0; i < count; ++i) pos = entry(pos);
    page = i16(b, at + 6);
  }
}

uint32_t internalFile(const std::string& hlp, const char* name) {
  for (const DirectoryEntry& e : hlpDirectory(hlp))
    if (e.name == name) return e.offset;
  throw Error(std::string("the help file has no ") + name);
}

// The value WinHelp's hash gives one character of a context string.
int hashValue(char c) {
  if (c >= '1' && c <= '9') return c - '0';
  if (c == '0') return 10;
  if (std::isalpha(static_cast<unsigned char>(c)))
    return 0x11 + std::toupper(static_cast<unsigned char>(c)) - 'A';
  if (c == '.') return 0x0C;
  if (c == '_') return 0x0D;
  throw Error(std::string("'") + c + "' cannot stand in a WinHelp context string");
}

// ---- the man page ---------------------------------------------------------------

const size_t kManLineLimit = 80;

// Breaks a filled text line at plain blanks; a piece never starts with a
// control character ('.' or '\'') and never splits an escape.
// The line with each "chapter N" or "Chapter N" (a cross-reference) turned
// into the N-th title; numbers without a title stay.
std::string namedChapters(const std::string& line, const std::vector<std::string>& titles) {
  static const std::regex reference("\\b[Cc]hapter ([0-9]{1,4})\\b");
  std::string out;
  auto last = line.cbegin();
  for (std::sregex_iterator m(line.begin(), line.end(), reference), end; m != end; ++m) {
    size_t n = std::stoul((*m)[1].str());
    out.append(last, (*m)[0].first);
    out += n >= 1 && n <= titles.size() ? titles[n - 1] : (*m)[0].str();
    last = (*m)[0].second;
  }
  return out.append(last, line.cend());
}

void wrapManLine(const std::string& line, std::string* out) {
  std::string rest = line;
  while (rest.size() > kManLineLimit) {
    size_t cut = std::string::npos;
    for (size_t i = 1; i < rest.size() && (i <= kManLineLimit || cut == std::string::npos); ++i)
      if (rest[i] == ' ' && rest[i - 1] != '\\' && i + 1 < rest.size() && rest[i + 1] != '.' &&
          rest[i + 1] != '\'' && rest[i + 1] != ' ')
        cut = i;
    if (cut == std::string::npos) break;
    *out += rest.substr(0, cut) + "\n";
    rest = rest.substr(cut + 1);
  }
  *out += rest + "\n";
}

// The sections man(7) names, in the order it gives them; the help's other
// chapters follow them, and SEE ALSO ends the page.
const char* const kLeadingSections[] = {"NAME",  "SYNOPSIS",    "DESCRIPTION", "OPTIONS",
                                        "EXIT STATUS", "ENVIRONMENT", "FILES", "EXAMPLES"};
const char kClosingSection[] = "SEE ALSO";

// A heading line with its title's letters in capitals; escapes (\(hy,
// \[...], \x) are kept as they are.
std::string capitalHeading(const std::string& line) {
  std::string out = line;
  for (size_t i = 3; i < out.size(); ++i) {
    if (out[i] == '\\') {
      size_t skip = i + 1 < out.size() && out[i + 1] == '(' ? 3 : 1;
      if (i + 1 < out.size() && out[i + 1] == '[') skip = out.find(']', i) - i;
      i += skip;
      continue;
    }
    out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
  }
  return out;
}

// Where a section goes: its place among the leading ones, after them all
// for a chapter of the help, last for SEE ALSO.
size_t sectionRank(const std::string& heading) {
  const size_t leading = sizeof kLeadingSections / sizeof kLeadingSections[0];
  for (size_t i = 0; i < leading; ++i)
    if (heading == std::string(".SH \"") + kLeadingSections[i] + "\"") return i;
  return heading == std::string(".SH \"") + kClosingSection + "\"" ? leading + 1 : leading;
}

// The page with its sections in man(7)'s order and their headings in capitals.
std::string orderSections(const std::string& page) {
  std::string head;
  std::vector<std::pair<size_t, std::string>> sections;  // (rank, text)
  size_t start = 0;
  while (start < page.size()) {
    size_t end = page.find('\n', start);
    end = end == std::string::npos ? page.size() : end + 1;
    std::string line = page.substr(start, end - start);
    start = end;
    if (line.compare(0, 4, ".SH ") == 0) {
      std::string heading = capitalHeading(line.substr(0, line.find_last_not_of('\n') + 1));
      sections.emplace_back(sectionRank(heading), heading + "\n");
    } else {
      (sections.empty() ? head : sections.back().second) += line;
    }
  }
  std::stable_sort(sections.begin(), sections.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& s : sections) head += s.second;
  return head;
}

}  // namespace

std::vector<std::string> numberedChapterTitles(const std::vector<Topic>& topics) {
  std::vector<std::string> titles;
  for (const Topic& t : topics)
    if (t.numbered) titles.push_back(t.title);
  return titles;
}

std::vector<Topic> parseHelpSource(const std::string& source, const std::string& name) {
  return parseHelpSources({Source{name, source}});
}

std::vector<Topic> parseHelpSources(const std::vector<Source>& sources) {
  ChapterTitles chapters;  // a cross-reference may name a chapter of any source
  for (const Source& source : sources) Parser(source.name, &chapters).learnChapters(source.text);
  std::vector<Topic> topics;
  for (const Source& source : sources) {
    std::vector<Topic> more = Parser(source.name, &chapters).parse(source.text);
    if (topics.empty()) {
      topics = std::move(more);
      continue;
    }
    if (!more[0].text.empty())
      throw Error(source.name + ": error: text before the first chapter belongs in the first source");
    topics.insert(topics.end(), more.begin() + 1, more.end());
  }
  return topics;
}

std::string pagesSource(const std::vector<Topic>& topics, const std::string& from) {
  std::string out = "// Made by tools/gen/helpgen from " + from +
                    ": edit that file instead.\n"
                    "#include \"linux/tui/helptext.h\"\n\n"
                    "const std::vector<HelpTopic>& helpTopics() {\n"
                    "  static const std::vector<HelpTopic> topics = {\n";
  std::string contexts;
  for (size_t t = 0; t < topics.size(); ++t) {
    out += "    {" + cLiteral(topics[t].title) + ",\n        " + cLiteral(topics[t].text, true) + "},\n";
    for (uint32_t number : topics[t].contexts)
      contexts += "      {" + std::to_string(number) + "ul, " + std::to_string(t) + "},\n";
  }
  out +=
      "  };\n  return topics;\n}\n\n"
      "size_t helpTopicForContext(unsigned long context) {\n"
      "  static const struct {\n    unsigned long number;\n    size_t topic;\n  } contexts[] = "
      "{\n" +
      contexts +
      "      {0ul, 0},\n  };\n"
      "  for (const auto& c : contexts)\n"
      "    if (c.number == context) return c.topic;\n"
      "  return 0;\n}\n";
  return out;
}

uint32_t contextHash(const std::string& id) {
  uint32_t hash = 0;
  for (char c : id) hash = hash * 43u + static_cast<uint32_t>(hashValue(c));
  return hash;
}

std::vector<DirectoryEntry> hlpDirectory(const std::string& hlp) {
  if (u32(hlp, 0) != kHlpMagic) throw Error("not a WinHelp file");
  std::vector<DirectoryEntry> entries;
  walkBtree(hlp, u32(hlp, 4), [&](size_t pos) {
    std::string name = zString(hlp, pos);
    size_t field = pos + name.size() + 1;
    entries.push_back({name, u32(hlp, field), field});
    return field + 4;
  });
  return entries;
}

std::vector<std::pair<uint32_t, uint32_t>> hlpContexts(const std::string& hlp) {
  std::vector<std::pair<uint32_t, uint32_t>> contexts;
  walkBtree(hlp, internalFile(hlp, "|CONTEXT"), [&](size_t pos) {
    contexts.emplace_back(u32(hlp, pos), u32(hlp, pos + 4));
    return pos + 8;
  });
  return contexts;
}

std::vector<std::pair<uint32_t, std::string>> hlpTitles(const std::string& hlp) {
  std::vector<std::pair<uint32_t, std::string>> titles;
  walkBtree(hlp, internalFile(hlp, "|TTLBTREE"), [&](size_t pos) {
    std::string title = zString(hlp, pos + 4);
    titles.emplace_back(u32(hlp, pos), title);
    return pos + 4 + title.size() + 1;
  });
  return titles;
}

std::vector<std::string> hlpKeywords(const std::string& hlp) {
  std::vector<std::string> keywords;
  walkBtree(hlp, internalFile(hlp, "|KWBTREE"), [&](size_t pos) {
    keywords.push_back(zString(hlp, pos));
    return pos + keywords.back().size() + 1 + 2 + 4;  // the count and the data offset
  });
  return keywords;
}

std::vector<std::pair<uint32_t, uint32_t>> hlpContextMap(const std::string& hlp) {
  size_t at = internalFile(hlp, "|CTXOMAP") + kFileHeaderSize;
  std::vector<std::pair<uint32_t, uint32_t>> map;
  int count = static_cast<uint16_t>(i16(hlp, at));
  for (int i = 0; i < count; ++i)
    map.emplace_back(u32(hlp, at + 2 + 8 * i), u32(hlp, at + 6 + 8 * i));
  return map;
}

uint32_t hlpContentsTopic(const std::string& hlp) {
  size_t start = internalFile(hlp, "|SYSTEM");
  size_t end = start + kFileHeaderSize + u32(hlp, start + 4);
  // The records follow a 12-byte header: type, size, data.
  for (size_t at = start + kFileHeaderSize + 12; at + 4 <= end;) {
    uint16_t type = static_cast<uint16_t>(i16(hlp, at));
    uint16_t size = static_cast<uint16_t>(i16(hlp, at + 2));
    if (type == 3) return u32(hlp, at + 4);
    at += 4 + size;
  }
  throw Error("the help file names no contents topic");
}

// The new |CTXOMAP goes at the end of the file and the directory points to
// it; the old, smaller one is left where it was, unreferenced.
std::string withContextMap(const std::string& hlp, const std::vector<Topic>& topics) {
  std::map<uint32_t, uint32_t> offsets;
  for (const auto& c : hlpContexts(hlp)) offsets.emplace(c.first, c.second);
  std::string map(2, '\0');
  uint16_t count = 0;
  for (const Topic& t : topics) {
    for (uint32_t number : t.contexts) {
      if (t.winhelpTopic.empty())
        throw Error("topic \"" + t.title + "\" has a context number but no \\cfg{winhelp-topic}");
      auto found = offsets.find(contextHash(t.winhelpTopic));
      if (found == offsets.end())
        throw Error("the help file has no topic \"" + t.winhelpTopic + "\"");
      append32(&map, number);
      append32(&map, found->second);
      ++count;
    }
  }
  map[0] = static_cast<char>(count & 0xFF);
  map[1] = static_cast<char>(count >> 8);
  for (const DirectoryEntry& e : hlpDirectory(hlp)) {
    if (e.name != "|CTXOMAP") continue;
    std::string out = hlp;
    uint32_t at = static_cast<uint32_t>(out.size());
    append32(&out, static_cast<uint32_t>(kFileHeaderSize + map.size()));
    append32(&out, static_cast<uint32_t>(map.size()));
    out += out[e.offset + 8];  // the old file's flags
    out += map;
    put32(&out, e.offsetField, at);
    put32(&out, 12, static_cast<uint32_t>(out.size()));
    return out;
  }
  throw Error("the help file has no |CTXOMAP");
}

std::string tidyManPage(const std::string& halibutPage, const std::vector<std::string>& chapterTitles) {
  std::string page = orderSections(halibutPage);
  std::string out;
  std::string previous;
  bool filled = true;
  size_t start = 0;
  while (start < page.size()) {
    size_t end = page.find('\n', start);
    if (end == std::string::npos) end = page.size();
    std::string line = page.substr(start, end - start);
    start = end + 1;
    if (line == ".PP" && previous.compare(0, 3, ".SH") == 0) continue;
    if (line.compare(0, 3, ".TH") == 0) {
      for (size_t at; (at = line.find("\\(hy")) != std::string::npos;) line.replace(at, 4, "-");
    }
    if (line == ".nf") filled = false;
    if (line == ".fi") filled = true;
    bool text = !line.empty() && line[0] != '.' && line[0] != '\'';
    if (text) line = namedChapters(line, chapterTitles);
    if (text && filled)
      wrapManLine(line, &out);
    else
      out += line + "\n";
    previous = line;
  }
  return out;
}

}  // namespace helpgen
