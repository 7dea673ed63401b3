#include "linux/tui/wrap.h"

#include <algorithm>

namespace {
void endLine(std::string line, std::vector<std::string>* out) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  out->push_back(line);
}
}  // namespace

void wrapWords(std::string line, const std::string& words, size_t hang, size_t width,
               std::vector<std::string>* out) {
  bool hasWord = false;
  size_t pos = 0;
  while (pos < words.size()) {
    size_t end = words.find(' ', pos);
    if (end == std::string::npos) end = words.size();
    std::string word = words.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty() && !hasWord) continue;  // no blanks at the start of a line
    while (true) {
      size_t need = line.size() + (hasWord ? 1 : 0) + word.size();
      if (need <= width) {
        line += (hasWord ? " " : "") + word;
        hasWord = true;
        break;
      }
      if (!hasWord && line.size() < width) {  // a word wider than the line
        size_t room = width - line.size();
        out->push_back(line + word.substr(0, room));
        word.erase(0, room);
      } else {
        endLine(line, out);
      }
      line = std::string(hang, ' ');
      hasWord = false;
      if (word.empty()) break;
    }
  }
  if (hasWord || line.find_first_not_of(' ') != std::string::npos) out->push_back(line);
}

std::vector<std::string> wrapText(const std::string& text, int width) {
  size_t columns = static_cast<size_t>(std::max(width, 1));
  std::string all = text;
  all.erase(std::remove(all.begin(), all.end(), '\r'), all.end());
  std::vector<std::string> lines;
  for (size_t start = 0; start <= all.size();) {
    size_t end = std::min(all.find('\n', start), all.size());
    std::string paragraph = all.substr(start, end - start);
    if (paragraph.find_first_not_of(' ') == std::string::npos)
      lines.emplace_back();
    else
      wrapWords("", paragraph, 0, columns, &lines);
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}
