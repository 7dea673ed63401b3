// How the terminal front end lays out kronsec's help: the topics themselves
// are made from doc/kronsec.but at build time (tools/gen/helpgen).
#include "linux/tui/helptext.h"

#include <algorithm>

#include "linux/tui/wrap.h"

namespace {

// A term longer than this many columns gets a line of its own.
const size_t kTermColumn = 22;
// Four leading blanks mark a line shown as it is (examples, file lines),
// indented by two.
const size_t kVerbatimIndent = 4;
// Narrower screens are cut by the drawing; wrapping stays readable.
const int kNarrowest = 10;

std::string blanks(size_t n) { return std::string(n, ' '); }

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
      wrapWords(blanks(indent), term, indent, width, out);
    return wrapWords(first, body.substr(tab + 1), hang, width, out);
  }
  if (body.compare(0, 2, "- ") == 0)
    return wrapWords(blanks(indent) + "- ", body.substr(2), indent + 2, width, out);
  wrapWords(blanks(indent), body, indent, width, out);
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
