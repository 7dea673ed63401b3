// The help viewer of the terminal front end: one topic at a time on the
// whole screen, with the list of topics as its Contents page.

#include <algorithm>
#include <string>
#include <vector>

#include "linux/tui/helptext.h"
#include "linux/tui/keys.h"
#include "linux/tui/pages.h"
#include "linux/tui/curses.h"  // last: its names are macros

namespace {

const int kWheelLines = 3;
const char kHowToPick[] =
    "Choose a topic with the arrow keys and Enter, by its number, or with a click:";

// What a click on a part of the footer does.
enum class FooterAction { None, Close, Contents, Open };

struct FooterPart {
  std::string text;
  FooterAction action;
  int left = 0, right = 0;  // screen columns once drawn, inclusive
};

class HelpPage : public Page {
 public:
  explicit HelpPage(size_t topic) { show(topic); }
  void draw(int rows, int cols) override;
  bool key(int ch) override;
  bool click(int row, int col) override;

 private:
  void show(size_t topic);
  bool layout();
  int bodyRows() const { return std::max(1, rows_ - 2); }
  int lastTop() const { return std::max(0, static_cast<int>(lines_.size()) - bodyRows()); }
  void scrollTo(int top) { top_ = std::clamp(top, 0, lastTop()); }
  void choose(size_t topic);
  bool contentsKey(KeyAction action, int ch);
  void scrollKey(KeyAction move);
  bool mouseEvent();
  bool act(FooterAction action);
  void drawTitle();
  void drawBody();
  void drawScrollBar();
  void drawFooter();

  size_t topic_ = 0;
  size_t chosen_ = 1;  // the topic marked on Contents
  int top_ = 0;        // first line shown
  int rows_ = 24, cols_ = 80;
  int wrappedFor_ = -1;  // the width lines_ were wrapped for
  std::vector<std::string> lines_;
  std::vector<size_t> lineTopic_;  // per line: the topic it opens, 0 for none
  std::vector<FooterPart> footer_;
  bool open_ = true;
};

void HelpPage::show(size_t topic) {
  topic_ = topic < helpTopics().size() ? topic : 0;
  if (topic_ != 0) chosen_ = topic_;  // back on Contents, the topic just read stays marked
  top_ = 0;
  wrappedFor_ = -1;
  layout();
  if (topic_ == 0) choose(chosen_);
}

// Wraps the topic for the screen width, Contents with its numbered list;
// false when the lines were already made for this width.
bool HelpPage::layout() {
  int width = std::max(1, cols_ - 3);  // one blank column left, the scroll bar right
  if (width == wrappedFor_) return false;
  wrappedFor_ = width;
  const std::vector<HelpTopic>& topics = helpTopics();
  lines_ = wrapHelpText(topics[topic_].text, width);
  lineTopic_.assign(lines_.size(), 0);
  if (topic_ == 0) {
    // The source's contents page is shared with the other forms of the help;
    // how to pick a topic is the terminal's own.
    std::string how = "\n" + std::string(kHowToPick) + "\n";
    std::vector<std::string> howLines = wrapHelpText(how.c_str(), width);
    lines_.insert(lines_.end(), howLines.begin(), howLines.end());
    lineTopic_.resize(lines_.size(), 0);
    for (size_t t = 1; t < topics.size(); ++t) {
      lines_.push_back("  " + std::to_string(t) + "  " + topics[t].title);
      lineTopic_.push_back(t);
    }
  }
  scrollTo(top_);
  return true;
}

// Marks a topic on Contents and scrolls so that its line shows.
void HelpPage::choose(size_t topic) {
  chosen_ = std::clamp<size_t>(topic, 1, helpTopics().size() - 1);
  int line = static_cast<int>(std::find(lineTopic_.begin(), lineTopic_.end(), chosen_) -
                              lineTopic_.begin());
  if (chosen_ == 1 && line < bodyRows()) scrollTo(0);  // keep the introduction in view
  if (line < top_) scrollTo(line);
  if (line >= top_ + bodyRows()) scrollTo(line - bodyRows() + 1);
}

void HelpPage::draw(int rows, int cols) {
  rows_ = std::max(rows, 3);
  cols_ = std::max(cols, 10);
  if (layout() && topic_ == 0) choose(chosen_);  // keep the marked topic in view
  scrollTo(top_);                                // the screen may have grown or shrunk
  werase(stdscr);
  drawTitle();
  drawBody();
  drawScrollBar();
  drawFooter();
}

// The topic's name, and where the screen is in a topic longer than it; a
// narrow screen drops the program's name first.
void HelpPage::drawTitle() {
  std::string topic = helpTopics()[topic_].title;
  std::string where;
  if (static_cast<int>(lines_.size()) > bodyRows()) {
    int last = std::min(static_cast<int>(lines_.size()), top_ + bodyRows());
    where = std::to_string(top_ + 1) + "-" + std::to_string(last) + " of " +
            std::to_string(lines_.size());
  }
  std::string title = "kronsec Help: " + topic;
  if (title.size() + where.size() + 3 > static_cast<size_t>(cols_)) title = "Help: " + topic;
  mvhline(0, 0, ' ' | A_REVERSE, cols_);
  attron(A_REVERSE | A_BOLD);
  mvaddnstr(0, 1, title.c_str(), cols_ - 2);
  attroff(A_BOLD);
  int col = cols_ - 1 - static_cast<int>(where.size());
  if (!where.empty() && col > static_cast<int>(title.size()) + 1) mvaddstr(0, col, where.c_str());
  attroff(A_REVERSE);
}

void HelpPage::drawBody() {
  int width = cols_ - 3;
  for (int r = 0; r < bodyRows(); ++r) {
    size_t line = static_cast<size_t>(top_ + r);
    if (line >= lines_.size()) break;
    bool marked = topic_ == 0 && lineTopic_[line] == chosen_;
    if (marked) mvhline(1 + r, 1, ' ' | A_REVERSE, width);
    attr_t attr = marked ? A_REVERSE : (lineTopic_[line] ? A_BOLD : A_NORMAL);
    attron(attr);
    mvaddnstr(1 + r, 1, lines_[line].c_str(), width);
    attroff(attr);
  }
}

// A bar in the last column, only when the topic is longer than the screen.
void HelpPage::drawScrollBar() {
  int body = bodyRows();
  if (static_cast<int>(lines_.size()) <= body) return;
  mvvline(1, cols_ - 1, ACS_VLINE, body);
  int thumb = lastTop() == 0 ? 0 : top_ * (body - 1) / lastTop();
  mvaddch(1 + thumb, cols_ - 1, ACS_BLOCK);
}

void HelpPage::drawFooter() {
  if (topic_ == 0)
    footer_ = {{"Esc/q close", FooterAction::Close},
               {"Enter/1-" + std::to_string(helpTopics().size() - 1) + " open", FooterAction::Open},
               {"Up/Down choose", FooterAction::None}};
  else  // most needed first: a narrow screen cuts the end
    footer_ = {{"Esc/q close", FooterAction::Close},
               {"Backspace/b contents", FooterAction::Contents},
               {"PgUp/PgDn/Home/End scroll", FooterAction::None}};
  int row = rows_ - 1;
  mvhline(row, 0, ' ' | A_REVERSE, cols_);
  attron(A_REVERSE);
  int col = 1;
  for (FooterPart& part : footer_) {
    part.left = col;
    part.right = col + static_cast<int>(part.text.size()) - 1;
    if (col < cols_) mvaddnstr(row, col, part.text.c_str(), cols_ - col);
    col = part.right + 4;
  }
  attroff(A_REVERSE);
}

bool HelpPage::act(FooterAction action) {
  if (action == FooterAction::Close) open_ = false;
  if (action == FooterAction::Contents) show(0);
  if (action == FooterAction::Open) show(chosen_);
  return open_;
}

bool HelpPage::key(int ch) {
  if (!open_) return false;
  if (ch == KEY_MOUSE) return mouseEvent();
  KeyAction action = keyAction(topic_ == 0 ? helpContentsKeys() : helpTopicKeys(), ch);
  if (action == KeyAction::Cancel) return act(FooterAction::Close);
  if (action == KeyAction::Contents) return act(FooterAction::Contents);
  if (topic_ == 0 && contentsKey(action, ch)) return true;
  scrollKey(action);
  return true;
}

// Choosing and opening topics on Contents; false for keys it leaves alone.
bool HelpPage::contentsKey(KeyAction action, int ch) {
  size_t count = helpTopics().size();
  if (action == KeyAction::OpenTopic) {
    size_t topic = static_cast<size_t>(ch - '0');
    if (topic < count) show(topic);
  } else if (action == KeyAction::Confirm) {
    show(chosen_);
  } else if (isListMove(action) && action != KeyAction::PageUp && action != KeyAction::PageDown) {
    // The topics are the list here, numbered from 1; a page key still scrolls.
    int topics = static_cast<int>(count) - 1;
    choose(static_cast<size_t>(1 + movedRow(action, static_cast<int>(chosen_) - 1, topics, 1)));
  } else {
    return false;
  }
  return true;
}

// A list's moves scroll the topic; a page keeps one line of the last.
void HelpPage::scrollKey(KeyAction move) {
  if (isListMove(move)) scrollTo(movedRow(move, top_, lastTop() + 1, std::max(1, bodyRows() - 1)));
}

// The front end may pass KEY_MOUSE on unread: the wheel scrolls, a press clicks.
bool HelpPage::mouseEvent() {
  MEVENT event;
  if (getmouse(&event) != OK) return open_;
  if (event.bstate & BUTTON4_PRESSED) scrollTo(top_ - kWheelLines);
#ifdef BUTTON5_PRESSED
  if (event.bstate & BUTTON5_PRESSED) scrollTo(top_ + kWheelLines);
#endif
  if (event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) return click(event.y, event.x);
  return open_;
}

bool HelpPage::click(int row, int col) {
  if (!open_) return false;
  if (row == rows_ - 1) {
    for (const FooterPart& part : footer_)
      if (col >= part.left && col <= part.right) return act(part.action);
    return true;
  }
  size_t line = static_cast<size_t>(top_ + row - 1);
  if (topic_ == 0 && row >= 1 && row <= bodyRows() && line < lines_.size() && lineTopic_[line])
    show(lineTopic_[line]);
  return true;
}

}  // namespace

std::unique_ptr<Page> makeHelpPage(UINT command, ULONG_PTR data) {
  if (command == HELP_QUIT) return nullptr;
  size_t topic = command == HELP_CONTEXT ? helpTopicForContext(data) : 0;
  return std::make_unique<HelpPage>(topic);
}
