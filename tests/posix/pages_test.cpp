// The help viewer and the file chooser of the terminal front end, drawn on a
// curses screen whose output goes nowhere and read back cell by cell.
#include "platform/tui/pages.h"

#include <curses.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

using HelpPageTest = PageScreen;

TEST_F(HelpPageTest, OpensAtTheTopicOfTheCommand) {
  struct Case {
    UINT command;
    ULONG_PTR data;
    const char* title;
  } cases[] = {
      {HELP_CONTENTS, 0, "Contents"},
      {HELP_CONTEXT, 1000, "Advanced options"},
      {HELP_CONTEXT, 42, "Contents"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Page> page = makeHelpPage(c.command, c.data);
    ASSERT_TRUE(page);
    draw(*page);
    EXPECT_NE(row(0).find(std::string("Help: ") + c.title), std::string::npos) << row(0);
  }
  EXPECT_EQ(makeHelpPage(HELP_QUIT, 0), nullptr);
}

TEST_F(HelpPageTest, ContentsListsTheTopicsToPick) {
  std::unique_ptr<Page> page = makeHelpPage(HELP_CONTENTS, 0);
  draw(*page);
  for (const char* topic : {"1  Getting the time", "2  Time zones", "4  Advanced options",
                            "6  Settings file", "8  Keys"})
    EXPECT_TRUE(shows(topic)) << topic;
}

TEST_F(HelpPageTest, ATopicIsPickedByNumberArrowsOrClick) {
  struct Case {
    std::vector<int> keys;
    const char* clickOn;  // the line to click, or nullptr
    const char* title;
  } cases[] = {
      {{'2'}, nullptr, "Time zones"},
      {{'\n'}, nullptr, "Getting the time"},
      {{KEY_DOWN, KEY_DOWN, '\n'}, nullptr, "Options"},
      {{KEY_END, KEY_UP, '\r'}, nullptr, "Running without a terminal"},
      {{}, "5  The log file", "The log file"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Page> page = makeHelpPage(HELP_CONTENTS, 0);
    draw(*page);
    for (int k : c.keys) EXPECT_TRUE(page->key(k));
    if (c.clickOn) {
      EXPECT_TRUE(page->click(rowOf(c.clickOn), 4));
    }
    draw(*page);
    EXPECT_NE(row(0).find(std::string("Help: ") + c.title), std::string::npos) << row(0);
  }
}

TEST_F(HelpPageTest, BackGoesToContentsAndEscOrQCloses) {
  for (int back : {int{KEY_BACKSPACE}, 127, int{'b'}}) {
    std::unique_ptr<Page> page = makeHelpPage(HELP_CONTEXT, 1000);
    EXPECT_TRUE(page->key(back));
    draw(*page);
    EXPECT_NE(row(0).find("Help: Contents"), std::string::npos) << back;
    EXPECT_TRUE(shows("4  Advanced options"));  // the topic just left stays marked
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
  resizeterm(12, 40);
  std::unique_ptr<Page> page = makeHelpPage(HELP_CONTEXT, 1000);
  draw(*page);
  for (int r = 1; r < LINES - 1; ++r) EXPECT_LE(row(r).size(), 40u) << row(r);
  EXPECT_EQ(row(1).find(" Advanced ... opens"), 0u) << row(1);
  std::string title = row(0);
  EXPECT_NE(title.find("1-10 of"), std::string::npos) << title;

  page->key(KEY_END);
  draw(*page);
  EXPECT_EQ(row(1).find(" Advanced ... opens"), std::string::npos);
  EXPECT_TRUE(shows("were.")) << screenText();  // the topic's last words
  page->key(KEY_PPAGE);
  page->key(KEY_HOME);
  draw(*page);
  EXPECT_EQ(row(1).find(" Advanced ... opens"), 0u);
  page->key(KEY_NPAGE);
  draw(*page);
  EXPECT_NE(row(0).find("10-19 of"), std::string::npos) << row(0);

  resizeterm(30, 100);  // wider: fewer lines, redrawn to the new size
  draw(*page);
  EXPECT_NE(row(0).find("Help: Advanced options"), std::string::npos);
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

}  // namespace
