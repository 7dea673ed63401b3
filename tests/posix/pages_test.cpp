// The help viewer and the file chooser of the terminal front end, drawn on a
// curses screen whose output goes nowhere and read back cell by cell.
#include "linux/tui/pages.h"

#include <curses.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "linux/tui/cursestable.h"
#include "linux/tui/helptext.h"
#include "linux/tui/keys.h"
#include "linux/tui/wrap.h"

namespace {

const int kEscape = 27;

// A fresh 24 x 80 curses screen for each test, given back afterwards.
class PageScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = std::fopen("/dev/null", "w");
    in_ = std::fopen("/dev/null", "r");
    screen_ = newterm("xterm", out_, in_);
    ASSERT_NE(screen_, nullptr);
    set_term(screen_);
    resizeterm(24, 80);
  }
  void TearDown() override {
    if (screen_) {
      endwin();
      delscreen(screen_);
    }
    std::fclose(out_);
    std::fclose(in_);
  }

  static std::string row(int r) {
    char text[512] = {};
    mvinnstr(r, 0, text, COLS);
    std::string s = text;
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
  static std::string screenText() {
    std::string all;
    for (int r = 0; r < LINES; ++r) all += row(r) + "\n";
    return all;
  }
  static bool shows(const std::string& text) {
    return screenText().find(text) != std::string::npos;
  }
  static int rowOf(const std::string& text) {
    for (int r = 0; r < LINES; ++r)
      if (row(r).find(text) != std::string::npos) return r;
    return -1;
  }
  static void draw(Page& page) { page.draw(LINES, COLS); }

 private:
  FILE* out_ = nullptr;
  FILE* in_ = nullptr;
  SCREEN* screen_ = nullptr;
};

// ---- help -------------------------------------------------------------------
// The topics come from doc/kronsec.but; these tests take their titles and
// texts from the generated table, and tests/posix/help_test.cpp holds the
// table to the source.

using HelpPageTest = PageScreen;

std::string title(size_t topic) { return helpTopics()[topic].title; }
bool startsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}
std::string listLine(size_t topic) { return std::to_string(topic) + "  " + title(topic); }

// The chapters of doc/kronsec.but and doc/linux.but, read straight from the
// sources: (title, its context numbers).
std::vector<std::pair<std::string, std::vector<unsigned long>>> sourceChapters() {
  std::stringstream in;
  for (const char* file : {"/doc/kronsec.but", "/doc/linux.but"})
    in << std::ifstream(std::string(KRONSEC_SOURCE_DIR) + file).rdbuf();
  std::vector<std::pair<std::string, std::vector<unsigned long>>> chapters;
  const std::string context = "\\cfg{kronsec-context}{";
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 3, "\\U ") == 0) chapters.push_back({line.substr(3), {}});
    if (line.compare(0, 3, "\\C{") == 0) chapters.push_back({line.substr(line.find("} ") + 2), {}});
    if (line.compare(0, context.size(), context) == 0 && !chapters.empty())
      chapters.back().second.push_back(std::stoul(line.substr(context.size())));
  }
  return chapters;
}

// Each chapter is a topic of the viewer, reached from Contents by moving
// down to it and by its number.
// The pages reach ncurses through the table the program loads; where
// ncurses is linked (here), the table holds the very functions and variables
// the test's own calls use.
TEST(CursesTable, HoldsTheLinkedLibrarysOwnFunctionsAndVariables) {
  ASSERT_TRUE(cursesLoaded());
  EXPECT_EQ(cursesCalls().newterm, &newterm);
  EXPECT_EQ(cursesCalls().stdscr, &stdscr);
  EXPECT_EQ(cursesCalls().LINES, &LINES);
}

TEST_F(HelpPageTest, EveryChapterOfTheSourceIsReachedFromContents) {
  auto chapters = sourceChapters();
  ASSERT_EQ(helpTopics().size(), chapters.size() + 1);
  for (size_t t = 1; t < helpTopics().size(); ++t) {
    std::unique_ptr<Page> byArrows = makeHelpPage(HELP_CONTENTS, 0);
    draw(*byArrows);
    for (size_t down = 1; down < t; ++down) byArrows->key(KEY_DOWN);
    byArrows->key('\n');
    draw(*byArrows);
    EXPECT_NE(row(0).find("Help: " + chapters[t - 1].first), std::string::npos) << row(0);
    if (t > 9) continue;
    std::unique_ptr<Page> byNumber = makeHelpPage(HELP_CONTENTS, 0);
    byNumber->key(static_cast<int>('0' + t));
    draw(*byNumber);
    EXPECT_NE(row(0).find("Help: " + chapters[t - 1].first), std::string::npos) << row(0);
  }
}

// A context number opens the chapter that declares it: 1000, the Advanced
// Options dialog's Help, opens Advanced options.
TEST_F(HelpPageTest, ContextNumbersOpenTheirChapter) {
  bool advanced = false;
  for (const auto& chapter : sourceChapters()) {
    for (unsigned long number : chapter.second) {
      std::unique_ptr<Page> page = makeHelpPage(HELP_CONTEXT, number);
      draw(*page);
      EXPECT_NE(row(0).find("Help: " + chapter.first), std::string::npos)
          << number << ": " << row(0);
      advanced = advanced || (number == 1000 && chapter.first == "Advanced options");
    }
  }
  EXPECT_TRUE(advanced) << "no \\cfg{kronsec-context}{1000} in the chapter Advanced options";
}

TEST_F(HelpPageTest, OpensAtTheTopicOfTheCommand) {
  struct Case {
    UINT command;
    ULONG_PTR data;
    size_t topic;
  } cases[] = {
      {HELP_CONTENTS, 0, 0},
      {HELP_CONTEXT, 1000, helpTopicForContext(1000)},
      {HELP_CONTEXT, 42, 0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Page> page = makeHelpPage(c.command, c.data);
    ASSERT_TRUE(page);
    draw(*page);
    EXPECT_NE(row(0).find("Help: " + title(c.topic)), std::string::npos) << row(0);
  }
  EXPECT_EQ(makeHelpPage(HELP_QUIT, 0), nullptr);
}

TEST_F(HelpPageTest, ContentsListsTheTopicsToPick) {
  std::unique_ptr<Page> page = makeHelpPage(HELP_CONTENTS, 0);
  draw(*page);
  EXPECT_TRUE(shows("Choose a topic"));
  // More topics than rows scroll: the topic marked always shows.
  for (size_t t = 1; t < helpTopics().size(); ++t) {
    EXPECT_TRUE(shows(listLine(t))) << t;
    page->key(KEY_DOWN);
    draw(*page);
  }
}

TEST_F(HelpPageTest, ATopicIsPickedByNumberArrowsOrClick) {
  size_t last = helpTopics().size() - 1;
  struct Case {
    std::vector<int> keys;
    bool click;  // on the list line of `topic`
    size_t topic;
  } cases[] = {
      {{'2'}, false, 2},
      {{'\n'}, false, 1},
      {{KEY_DOWN, KEY_DOWN, '\n'}, false, 3},
      {{KEY_END, KEY_UP, '\r'}, false, last - 1},
      {{KEY_DOWN, ' '}, false, 2},
      {{}, true, 5},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Page> page = makeHelpPage(HELP_CONTENTS, 0);
    draw(*page);
    for (int k : c.keys) EXPECT_TRUE(page->key(k));
    if (c.click) {
      EXPECT_TRUE(page->click(rowOf(listLine(c.topic)), 4));
    }
    draw(*page);
    EXPECT_NE(row(0).find("Help: " + title(c.topic)), std::string::npos) << row(0);
  }
}

TEST_F(HelpPageTest, BackGoesToContentsAndEscOrQCloses) {
  for (int back : {int{KEY_BACKSPACE}, 127, int{'b'}}) {
    std::unique_ptr<Page> page = makeHelpPage(HELP_CONTEXT, 1000);
    EXPECT_TRUE(page->key(back));
    draw(*page);
    EXPECT_NE(row(0).find("Help: " + title(0)), std::string::npos) << back;
    EXPECT_TRUE(shows(listLine(helpTopicForContext(1000))));  // the topic just left stays marked
  }
  for (int close : {kEscape, int{'q'}}) {
    std::unique_ptr<Page> page = makeHelpPage(HELP_CONTENTS, 0);
    EXPECT_FALSE(page->key(close));
    EXPECT_FALSE(page->key('1'));  // closed for good
  }
  std::unique_ptr<Page> page = makeHelpPage(HELP_CONTENTS, 0);
  draw(*page);
  int footer = LINES - 1;
  EXPECT_FALSE(page->click(footer, static_cast<int>(row(footer).find("Esc/q close")) + 1));
}

TEST_F(HelpPageTest, WrapsToTheScreenAndScrolls) {
  resizeterm(12, 40);  // 10 body lines of 37 columns
  size_t topic = helpTopicForContext(1000);
  std::vector<std::string> lines = wrapHelpText(helpTopics()[topic].text, 37);
  ASSERT_GT(lines.size(), 20u);
  std::string of = " of " + std::to_string(lines.size());
  std::unique_ptr<Page> page = makeHelpPage(HELP_CONTEXT, 1000);
  draw(*page);
  for (int r = 1; r < LINES - 1; ++r) EXPECT_LE(row(r).size(), 40u) << row(r);
  EXPECT_TRUE(startsWith(row(1), " " + lines[0])) << row(1);
  EXPECT_NE(row(0).find("1-10" + of), std::string::npos) << row(0);

  page->key(KEY_END);
  draw(*page);
  EXPECT_FALSE(startsWith(row(1), " " + lines[0])) << row(1);
  EXPECT_TRUE(startsWith(row(LINES - 2), " " + lines.back())) << screenText();
  page->key(KEY_PPAGE);
  page->key(KEY_HOME);
  draw(*page);
  EXPECT_TRUE(startsWith(row(1), " " + lines[0])) << row(1);
  page->key(KEY_NPAGE);
  draw(*page);
  EXPECT_NE(row(0).find("10-19" + of), std::string::npos) << row(0);
  page->key(' ');
  draw(*page);
  EXPECT_NE(row(0).find("19-28" + of), std::string::npos) << row(0);

  resizeterm(30, 100);  // wider: fewer lines, redrawn to the new size
  draw(*page);
  EXPECT_NE(row(0).find("Help: " + title(topic)), std::string::npos);
  EXPECT_NE(row(29).find("Esc/q close"), std::string::npos) << row(29);
}

TEST_F(HelpPageTest, TheMouseWheelScrolls) {
  resizeterm(12, 40);
  std::unique_ptr<Page> page = makeHelpPage(HELP_CONTEXT, 1000);
  MEVENT wheel = {};
#ifdef BUTTON5_PRESSED
  wheel.bstate = BUTTON5_PRESSED;
  mousemask(ALL_MOUSE_EVENTS, nullptr);
  ASSERT_EQ(ungetmouse(&wheel), OK);
  EXPECT_TRUE(page->key(KEY_MOUSE));
  draw(*page);
  EXPECT_NE(row(0).find("4-13 of"), std::string::npos) << row(0);
#endif
}

// ---- file chooser ------------------------------------------------------------

const char kFilter[] = "Logs (*.log)\0*.log\0All files (*.*)\0*.*\0";

// A folder with a.log, b.txt, .hidden.log and sub/ (holding c.log), and an
// open-file record over a 256-byte buffer that starts in it.
class ChooserPageTest : public PageScreen {
 protected:
  void SetUp() override {
    PageScreen::SetUp();
    char pattern[] = "/tmp/kronpages.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    for (const char* f : {"a.log", "b.txt", ".hidden.log"}) std::ofstream(dir_ + "/" + f) << "x";
    std::filesystem::create_directory(dir_ + "/sub");
    std::ofstream(dir_ + "/sub/c.log") << "x";
    std::snprintf(file_, sizeof file_, "%s", "kronsec.log");
    ofn_.lStructSize = sizeof ofn_;
    ofn_.lpstrFilter = kFilter;
    ofn_.nFilterIndex = 1;
    ofn_.lpstrFile = file_;
    ofn_.nMaxFile = sizeof file_;
    ofn_.lpstrInitialDir = dir_.c_str();
    ofn_.lpstrTitle = "Select Log File";
    ofn_.Flags = OFN_PATHMUSTEXIST;
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    PageScreen::TearDown();
  }

  std::unique_ptr<Page> open() {
    std::unique_ptr<Page> page = makeFileChooserPage(&ofn_, &confirmed_);
    draw(*page);
    return page;
  }
  // Clears the name field and types `text` into it.
  static void type(Page& page, const std::string& text) {
    for (int i = 0; i < 300; ++i) page.key(KEY_BACKSPACE);
    for (char c : text) page.key(static_cast<unsigned char>(c));
  }
  // The row of a list entry (the list starts at column 2), or -1.
  static int entryRow(const std::string& name) {
    for (int r = 3; r < LINES - 6; ++r) {
      std::string text = row(r) + " ";
      if (text.compare(2, name.size() + 1, name + " ") == 0) return r;
    }
    return -1;
  }

  std::string dir_;
  char file_[256] = {};
  OPENFILENAMEA ofn_ = {};
  bool confirmed_ = true;  // so that a cancel visibly clears it
};

TEST_F(ChooserPageTest, ShowsTheFolderFilteredByTheChosenType) {
  std::unique_ptr<Page> page = open();
  EXPECT_NE(row(0).find("Select Log File"), std::string::npos);
  EXPECT_NE(row(1).find(dir_), std::string::npos) << row(1);
  EXPECT_EQ(entryRow(".."), 3);
  EXPECT_EQ(entryRow("sub/"), 4);
  EXPECT_EQ(entryRow("a.log"), 5);
  EXPECT_EQ(entryRow("b.txt"), -1);
  EXPECT_EQ(entryRow(".hidden.log"), -1);
  EXPECT_TRUE(shows("< Logs (*.log) >"));
  EXPECT_TRUE(shows("File name:     kronsec.log"));

  page->key(KEY_F(2));
  draw(*page);
  EXPECT_TRUE(shows("< All files (*.*) >"));
  EXPECT_EQ(entryRow("a.log"), 5);
  EXPECT_EQ(entryRow("b.txt"), 6);
  page->key(KEY_F(3));
  draw(*page);
  EXPECT_EQ(entryRow(".hidden.log"), 5);

  ofn_.nFilterIndex = 2;  // the record's index picks the first type
  page = open();
  EXPECT_EQ(entryRow("b.txt"), 6);
}

TEST_F(ChooserPageTest, EnterOrASecondClickOpensAFolder) {
  struct Case {
    bool byClick;
  } cases[] = {{false}, {true}};
  for (const Case& c : cases) {
    std::unique_ptr<Page> page = open();
    if (c.byClick) {
      EXPECT_TRUE(page->click(entryRow("sub/"), 5));
      draw(*page);
      EXPECT_EQ(entryRow("c.log"), -1);  // one click only selects
      EXPECT_TRUE(page->click(entryRow("sub/"), 5));
    } else {
      page->key(KEY_DOWN);
      EXPECT_TRUE(page->key('\n'));
    }
    draw(*page);
    EXPECT_NE(row(1).find(dir_ + "/sub"), std::string::npos) << row(1);
    EXPECT_EQ(entryRow("c.log"), 4);
    page->key(KEY_UP);
    page->key(KEY_HOME);
    page->key('\n');  // ".." goes back, with sub/ selected
    draw(*page);
    EXPECT_EQ(row(1).find(dir_ + "/sub"), std::string::npos) << row(1);
    EXPECT_EQ(entryRow("a.log"), 5);
  }
}

TEST_F(ChooserPageTest, ConfirmingDeliversTheFullPath) {
  struct Case {
    std::string typed;
    DWORD flags;
    std::string delivered;  // empty: refused, with `message` on the page
    std::string message;
  } cases[] = {
      {"x.log", OFN_PATHMUSTEXIST, dir_ + "/x.log", ""},
      {"sub/y.log", OFN_PATHMUSTEXIST, dir_ + "/sub/y.log", ""},
      {dir_ + "/sub/../z.log", OFN_PATHMUSTEXIST, dir_ + "/z.log", ""},
      {"a.log", OFN_PATHMUSTEXIST, dir_ + "/a.log", ""},
      {"missing/q.log", OFN_PATHMUSTEXIST, "", "The folder " + dir_ + "/missing does not exist."},
      {"missing/q.log", 0, dir_ + "/missing/q.log", ""},
      {"nothing.log", OFN_FILEMUSTEXIST, "", "does not exist"},
      {"", OFN_PATHMUSTEXIST, "", "Type a file name"},
  };
  for (const Case& c : cases) {
    ofn_.Flags = c.flags;
    std::snprintf(file_, sizeof file_, "%s", "before");
    confirmed_ = false;
    std::unique_ptr<Page> page = open();
    type(*page, c.typed);
    bool stillOpen = page->key('\n');
    EXPECT_EQ(stillOpen, c.delivered.empty()) << c.typed;
    EXPECT_EQ(confirmed_, !c.delivered.empty()) << c.typed;
    EXPECT_EQ(std::string(file_), c.delivered.empty() ? "before" : c.delivered) << c.typed;
    if (!stillOpen) continue;
    draw(*page);
    EXPECT_NE(row(LINES - 3).find(c.message), std::string::npos) << row(LINES - 3);
  }
}

TEST_F(ChooserPageTest, TypingAFolderNameOpensIt) {
  std::unique_ptr<Page> page = open();
  type(*page, "sub");
  EXPECT_TRUE(page->key('\n'));
  draw(*page);
  EXPECT_NE(row(1).find(dir_ + "/sub"), std::string::npos);
  EXPECT_EQ(row(LINES - 5).find("sub"), std::string::npos) << row(LINES - 5);
  page->key(KEY_DOWN);  // c.log: its name goes into the field
  EXPECT_FALSE(page->key('\n'));
  EXPECT_EQ(std::string(file_), dir_ + "/sub/c.log");
  EXPECT_EQ(ofn_.nFileOffset, dir_.size() + 5);
}

// File name is edited as the dialogs' fields are: the name is selected when
// the page opens and whenever the focus comes in, so typing replaces it.
TEST_F(ChooserPageTest, TheNameIsEditedAsTheDialogsFieldsAre) {
  const int ctrlU = 21;
  struct Case {
    std::vector<int> keys;
    std::string typed;
    std::string delivered;  // under dir_
  } cases[] = {
      {{}, "x.log", "x.log"},
      {{KEY_END}, "x", "kronsec.logx"},
      {{KEY_HOME}, "x", "xkronsec.log"},
      {{KEY_END, KEY_LEFT, KEY_LEFT, KEY_BACKSPACE}, "", "kronsec.og"},
      {{KEY_HOME, KEY_DC}, "", "ronsec.log"},
      {{ctrlU}, "a", "a"},
      {{KEY_END, '\t', KEY_BTAB}, "b", "b"},  // back into the field: selected again
      {{KEY_DOWN}, "c", "c"},                 // typing in the list goes to the name
      {{KEY_DOWN, KEY_DOWN}, "d", "d"},       // a.log chosen, then replaced
  };
  for (const Case& c : cases) {
    std::snprintf(file_, sizeof file_, "%s", "kronsec.log");
    std::unique_ptr<Page> page = open();
    for (int k : c.keys) EXPECT_TRUE(page->key(k));
    for (char t : c.typed) EXPECT_TRUE(page->key(static_cast<unsigned char>(t)));
    EXPECT_FALSE(page->key('\n')) << c.typed;
    EXPECT_EQ(std::string(file_), dir_ + "/" + c.delivered) << c.typed;
  }
}

// The terminal's cursor shows the caret while File name has the focus; the
// selected name is in reverse video.
TEST_F(ChooserPageTest, TheNameShowsItsCaretAndSelection) {
  std::unique_ptr<Page> page = open();
  int caretRow = getcury(stdscr), caretCol = getcurx(stdscr);  // before reading moves it
  int nameRow = rowOf("File name:");
  const int field = 16;
  EXPECT_TRUE(page->showsCaret());
  EXPECT_EQ(caretRow, nameRow);
  EXPECT_EQ(caretCol, field + 11);  // after "kronsec.log"
  EXPECT_TRUE(mvinch(nameRow, field) & A_REVERSE);
  page->key(KEY_HOME);
  draw(*page);
  EXPECT_EQ(getcurx(stdscr), field);
  EXPECT_FALSE(mvinch(nameRow, field) & A_REVERSE);
  page->key('\t');
  draw(*page);
  EXPECT_FALSE(page->showsCaret());
}

TEST_F(ChooserPageTest, EscapeLeavesTheBufferUntouched) {
  for (int way = 0; way < 2; ++way) {
    std::unique_ptr<Page> page = open();
    type(*page, "other.log");
    if (way == 0) {
      EXPECT_FALSE(page->key(kEscape));
    } else {
      int cancelRow = rowOf("[Cancel]");
      EXPECT_FALSE(page->click(cancelRow, static_cast<int>(row(cancelRow).find("[Cancel]")) + 2));
    }
    EXPECT_FALSE(confirmed_);
    EXPECT_STREQ(file_, "kronsec.log");
  }
}

TEST_F(ChooserPageTest, APathTooLongForTheBufferIsRefused) {
  std::string exact = dir_ + "/x.log";
  for (DWORD size : {static_cast<DWORD>(exact.size()), static_cast<DWORD>(exact.size() + 1)}) {
    ofn_.nMaxFile = size;
    confirmed_ = false;
    std::unique_ptr<Page> page = open();
    type(*page, "x.log");
    bool fits = size > exact.size();
    EXPECT_EQ(page->key('\n'), !fits);
    EXPECT_EQ(confirmed_, fits);
    EXPECT_EQ(std::string(file_), fits ? exact : "kronsec.log");
    if (fits) continue;
    draw(*page);
    EXPECT_NE(row(LINES - 3).find("too long"), std::string::npos) << row(LINES - 3);
  }
}

TEST_F(ChooserPageTest, TheStartFolderMayBeWindowsStyleOrMissing) {
  std::string backslashed = dir_;
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  std::string here = std::filesystem::current_path().string();
  struct Case {
    std::string initial;
    std::string file;
    std::string folder;
  } cases[] = {
      {backslashed, "kronsec.log", dir_},
      {dir_ + "/nowhere", "kronsec.log", here},
      {"", dir_ + "/sub/c.log", dir_ + "/sub"},  // the file's own folder
      {"", "kronsec.log", here},
  };
  for (const Case& c : cases) {
    ofn_.lpstrInitialDir = c.initial.c_str();
    std::snprintf(file_, sizeof file_, "%s", c.file.c_str());
    std::unique_ptr<Page> page = open();
    EXPECT_EQ(row(1), " Folder: " + c.folder) << c.initial;
  }
}

// ---- text wrapping and list moves ------------------------------------------

TEST(WrapText, BreaksAtBlanksAndCutsOnlyWordsLongerThanALine) {
  struct Case {
    std::string text;
    int width;
    std::vector<std::string> lines;
  } cases[] = {
      {"the current local time", 15, {"the current", "local time"}},
      {"maximum adjustment (60 secs).  Do you", 30, {"maximum adjustment (60 secs).", "Do you"}},
      {"a.  b", 10, {"a.  b"}},  // a run of blanks within a line stays
      {"aaaa  bbbb", 4, {"aaaa", "bbbb"}},
      {"abcdefghij xy", 4, {"abcd", "efgh", "ij", "xy"}},
      {"/etc/kronsec/orv.ini:\r\ncannot be read", 30, {"/etc/kronsec/orv.ini:", "cannot be read"}},
      {"one\n\ntwo\n\n", 10, {"one", "", "two"}},
      {"", 10, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(wrapText(c.text, c.width), c.lines) << c.text;
}

// The question "Big Change" asks, in a box's 60 columns: every word whole.
TEST(WrapText, TheBigChangeQuestionKeepsItsWordsWhole) {
  std::string text =
      "The difference between the time returned and the current local time (-3600 secs) is "
      "greater than the specified maximum adjustment (60 secs).  Do you want to override this "
      "maximum?";
  std::vector<std::string> lines = wrapText(text, 60);
  std::string words, joined;
  for (const std::string& line : lines) {
    EXPECT_LE(line.size(), 60u) << line;
    EXPECT_NE(line.front(), ' ') << line;
    EXPECT_NE(line.back(), ' ') << line;
    joined += (joined.empty() ? "" : " ") + line;
  }
  std::istringstream in(text), out(joined);
  std::vector<std::string> wordsIn{std::istream_iterator<std::string>(in), {}};
  std::vector<std::string> wordsOut{std::istream_iterator<std::string>(out), {}};
  EXPECT_EQ(wordsOut, wordsIn);
}

TEST(ListMoves, OneRuleForEveryList) {
  using A = KeyAction;
  struct Case {
    A move;
    int current, count, page, row;
  } cases[] = {
      {A::LineUp, 0, 5, 2, 0},   {A::LineUp, 3, 5, 2, 2},   {A::LineDown, 4, 5, 2, 4},
      {A::PageDown, 1, 5, 2, 3}, {A::PageDown, 4, 5, 2, 4}, {A::PageUp, 1, 5, 2, 0},
      {A::First, 3, 5, 2, 0},    {A::Last, 0, 5, 2, 4},     {A::LineDown, -1, 5, 2, 0},
      {A::Last, -1, 5, 2, 0},    {A::LineDown, 0, 0, 2, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(movedRow(c.move, c.current, c.count, c.page), c.row)
        << static_cast<int>(c.move) << " from " << c.current;
}

}  // namespace
