// How the terminal front end lays out kronsec's help: the topics themselves
// are made from doc/kronsec.but at build time (tools/gen/helpgen).
#include "linux/tui/helptext.h"

#include <algorithm>

namespace {

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
