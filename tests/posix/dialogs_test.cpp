// The main, Advanced and About dialogs as a user meets them, through the
// test driver (no time server: nothing here starts a query).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/appstate.h"
#include "tests/driver/driver.h"
#include "tests/support/support.h"
#include "ui/res/resource.h"
#include "zones/environment.h"

namespace {

AppState* stateOf(const Driver& d) {
  return reinterpret_cast<AppState*>(GetWindowLongPtrA(d.host(), 0));
}

// Settings from `keys`; the host is empty unless keys name one (the first
// key wins), so no query starts unless a test asks for it.
DriverOptions withIni(const std::string& keys, std::vector<std::string> env = {}) {
  DriverOptions o;
  o.iniText = "[kronsec]\n" + keys + "host=\n";
  o.environment = std::move(env);
  return o;
}

struct Placement {
  int32_t showCmd;
  int32_t screenHeight;
  RECT expected;  // outer rectangle; the dialog is 173 x 192 pixels here
  bool minimised;
  bool focusOnGetTime;
};

TEST(MainDialog, PlacementFollowsTheShowCommand) {
  const Placement rows[] = {
      {SW_SHOWNORMAL, 480, {233, 96, 406, 288}, false, true},
      {SW_SHOWMAXIMIZED, 480, {233, 96, 406, 288}, false, true},
      {SW_SHOWMINNOACTIVE, 480, {19, 23, 192, 215}, true, false},   // the template's place
      {SW_SHOWNORMAL, 151, {233, -13, 406, 179}, false, true},       // -41 / 3 truncates
  };
  for (const Placement& row : rows) {
    DriverOptions o;
    o.showCmd = row.showCmd;
    o.screenHeight = row.screenHeight;
    Driver d(o);
    d.start();
    RECT r = d.windowRect(d.dialog());
    EXPECT_EQ(r.left, row.expected.left) << row.showCmd;
    EXPECT_EQ(r.top, row.expected.top) << row.showCmd << " " << row.screenHeight;
    EXPECT_EQ(r.right, row.expected.right);
    EXPECT_EQ(r.bottom, row.expected.bottom);
    EXPECT_EQ(d.iconic(d.dialog()), row.minimised);
    EXPECT_EQ(d.focused(IDC_GETTIME), row.focusOnGetTime);
  }
}

TEST(MainDialog, PickingAPlacePutsItsTzAndReplacesTheEntry) {
  Driver d(withIni("", {"HOME=/root"}));
  d.start();
  ASSERT_EQ(d.listItems(IDC_ZONELIST).size(), 126u);
  EXPECT_EQ(d.listItems(IDC_ZONELIST)[40], "Pheonix");
  d.select(IDC_ZONELIST, 57);
  EXPECT_STREQ(envGet("TZ"), "EST-10EST");
  EXPECT_STREQ(stateOf(d)->tz, "EST-10EST");
  EXPECT_EQ(stateOf(d)->TZindex, 57);
  EXPECT_EQ(d.text(IDC_TZINUSE), "EST-10EST");
  int32_t entries = envCount();
  d.select(IDC_ZONELIST, 57);
  EXPECT_EQ(envCount(), entries);  // replaced, not added
  d.select(IDC_ZONELIST, 0);
  EXPECT_STREQ(envGet("TZ"), "NST3NDT");
  d.click(IDC_CLOSE);
  EXPECT_TRUE(contains(readFileBytes(d.configPath("orv.ini")), "TZ=NST3NDT"));
}

struct TypeAhead {
  std::vector<std::pair<uint32_t, std::string>> typed;  // ms since the last key, then keys
  const char* chosen;
};

// Letters typed within a second of each other make one prefix; a letter
// after a pause (or the same letter again) moves on to the next place that
// starts with it. Each row starts on GMT+12, row 101.
TEST(MainDialog, TheListOfPlacesFindsWhatIsTypedQuickly) {
  const TypeAhead rows[] = {
      {{{0, "GMT+1"}}, "GMT+12"},
      {{{0, "GMT+00"}}, "GMT+00"},
      {{{0, "gmt-1"}}, "GMT-10"},  // letter case aside
      {{{0, "te"}}, "Teheran"},
      {{{0, "t"}, {999, "o"}}, "Toronto"},
      {{{0, "t"}, {1000, "o"}}, "Oklahoma City"},
      {{{0, "t"}, {1500, "o"}}, "Oklahoma City"},
      {{{0, "tt"}}, "Tasmania"},
      {{{0, "tx"}}, "Toronto"},  // nothing starts with "tx": the place stays
      {{{0, "g"}, {2000, "g"}}, "GMT+10"},
  };
  for (const TypeAhead& row : rows) {
    Driver d(withIni(""));
    d.start();
    d.select(IDC_ZONELIST, 101);
    std::string name;
    for (const auto& step : row.typed) {
      d.advance(step.first);
      d.keys(step.second);
      name += "/" + step.second;
    }
    int32_t at = d.listSelection(IDC_ZONELIST);
    ASSERT_GE(at, 0) << name;
    EXPECT_EQ(d.listItems(IDC_ZONELIST)[static_cast<size_t>(at)], row.chosen) << name;
  }
}

struct TzStart {
  const char* name;
  std::string ini;
  std::vector<std::string> env;
  bool boxEnabled, boxChecked, listVisible;
  const char* shown;    // labels 110 and 114
  const char* envTz;    // the environment's TZ afterwards, nullptr for none
  int32_t selection;
};

TEST(MainDialog, TheZoneSettlesAgainstTheInheritedEnvironment) {
  const TzStart rows[] = {
      {"no TZ, useTZ 1, tz PST8PDT", "useTZ=1\nTZ=PST8PDT\n", {}, false, false, true, "PST8PDT",
       "PST8PDT", -1},
      {"inherited TZ with useTZ 1", "useTZ=1\nTZ=PST8PDT\n", {"tz=CST6CDT"}, true, true, false,
       "CST6CDT", "CST6CDT", -1},
      {"no TZ at all", "", {}, false, false, true, "(none)", nullptr, -1},
      {"inherited TZ, list in charge, no tz", "useTZ=0\n", {"TZ=MST7MDT"}, true, false, true,
       "MST7MDT", "MST7MDT", -1},
      {"TZindex 126 selects nothing", "TZindex=126\n", {}, false, false, true, "(none)", nullptr, -1},
      {"TZindex -2 selects nothing", "TZindex=-2\n", {}, false, false, true, "(none)", nullptr, -1},
      {"TZindex 125 selects the last row", "TZindex=125\n", {}, false, false, true, "(none)", nullptr,
       125},
  };
  for (const TzStart& row : rows) {
    Driver d(withIni(row.ini, row.env));
    d.start();
    EXPECT_EQ(d.enabled(IDC_USETZ), row.boxEnabled) << row.name;
    EXPECT_EQ(d.checked(IDC_USETZ), row.boxChecked) << row.name;
    EXPECT_EQ(d.visible(IDC_ZONELIST), row.listVisible) << row.name;
    EXPECT_EQ(d.visible(IDC_TZVAR), !row.listVisible) << row.name;
    EXPECT_EQ(d.text(IDC_TZVAR), row.shown) << row.name;
    EXPECT_EQ(d.text(IDC_TZINUSE), row.shown) << row.name;
    const char* tz = envGet("TZ");
    if (row.envTz) EXPECT_STREQ(tz, row.envTz) << row.name;
    else EXPECT_EQ(tz, nullptr) << row.name;
    EXPECT_EQ(d.listSelection(IDC_ZONELIST), row.selection) << row.name;
    EXPECT_EQ(d.text(IDC_DATE), "") << row.name;  // no query started
  }
}

TEST(MainDialog, TickingUseTzHidesTheListAndKeepsTz) {
  Driver d(withIni("useTZ=0\nTZ=PST8PDT\n", {"TZ=CST6CDT"}));
  d.start();
  EXPECT_STREQ(envGet("TZ"), "PST8PDT");  // the list's zone is in charge
  d.click(IDC_USETZ);
  EXPECT_EQ(stateOf(d)->useTZ, 1);
  EXPECT_FALSE(d.visible(IDC_ZONELIST));
  EXPECT_EQ(d.text(IDC_TZVAR), "PST8PDT");
  EXPECT_STREQ(stateOf(d)->tz, "PST8PDT");
  d.click(IDC_USETZ);
  EXPECT_TRUE(d.visible(IDC_ZONELIST));
}

TEST(MainDialog, UseDstReachesTheSettingsOnlyWithAnAnswer) {
  Driver d(withIni("useDST=1\n"));
  d.start();
  EXPECT_TRUE(d.checked(IDC_USEDST));
  d.click(IDC_USEDST);
  EXPECT_FALSE(d.checked(IDC_USEDST));
  d.click(IDC_REPORTONLY);
  d.click(IDC_ADD30);
  d.click(IDC_CLOSE);
  std::string ini = readFileBytes(d.configPath("orv.ini"));
  EXPECT_TRUE(contains(ini, "useDST=1")) << ini;
  EXPECT_TRUE(contains(ini, "reportOnly=1")) << ini;
  EXPECT_TRUE(contains(ini, "add30=1")) << ini;
}

TEST(MainDialog, AutoCloseEndsTheDialogFiveSecondsLater) {
  Driver d;
  d.start();
  d.click(IDC_AUTOCLOSE);
  d.advance(4999);
  EXPECT_NE(d.dialog(), nullptr);
  d.advance(1);
  EXPECT_EQ(d.dialog(), nullptr);  // ended with 1: the host window stands minimised
  ASSERT_NE(d.host(), nullptr);
  EXPECT_TRUE(d.iconic(d.host()));
  EXPECT_FALSE(d.exited());
  d.advance(5000);
  EXPECT_TRUE(d.exited());
  EXPECT_EQ(d.exitCode(), 0);
  EXPECT_TRUE(contains(readFileBytes(d.configPath("orv.ini")), "autoClose=1"));
}

TEST(MainDialog, UncheckingAutoCloseWithinFiveSecondsCancelsIt) {
  Driver d;
  d.start();
  d.click(IDC_AUTOCLOSE);
  d.advance(3000);
  d.click(IDC_AUTOCLOSE);
  d.advance(10000);
  EXPECT_NE(d.dialog(), nullptr);
}

TEST(MainDialog, AnEmptyHostStartsNothing) {
  Driver d(withIni("host=\nTZ=EST5EDT\n"));
  d.start();
  EXPECT_EQ(d.text(IDC_DATE), "");
  d.click(IDC_GETTIME);  // an empty field starts nothing either
  EXPECT_TRUE(d.enabled(IDC_GETTIME));
  EXPECT_STREQ(stateOf(d)->host, "");
}

// Help is opened by its full path: kronsec.hlp beside the running program,
// whatever the current folder.
std::string helpBesideProgram() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kronsec.hlp").string();
}

// Help and F1 in each dialog open the same topic: the main dialog's the
// contents, Advanced Options' its own. The About box has no topic: its
// owner, the main dialog, answers F1 there.
TEST(Dialogs, HelpButtonAndF1OpenTheDialogsTopic) {
  const struct {
    const char* name;
    int opens;      // the button that opens the dialog from the main one, or 0
    bool byF1;
    UINT command;
    ULONG_PTR data;
  } rows[] = {
      {"main dialog, Help", 0, false, HELP_CONTENTS, 0},
      {"main dialog, F1", 0, true, HELP_CONTENTS, 0},
      {"Advanced Options, Help", IDC_ADVANCED, false, HELP_CONTEXT, IDH_ADVANCED},
      {"Advanced Options, F1", IDC_ADVANCED, true, HELP_CONTEXT, IDH_ADVANCED},
      {"About, F1", IDC_ABOUT, true, HELP_CONTENTS, 0},
  };
  for (const auto& row : rows) {
    Driver d;
    d.start();
    if (row.opens) d.click(row.opens);
    if (row.byF1) d.pressF1();
    else d.click(IDC_HELPBUTTON);
    ASSERT_EQ(d.helps().size(), 1u) << row.name;
    EXPECT_EQ(d.helps()[0].file, helpBesideProgram()) << row.name;
    EXPECT_EQ(d.helps()[0].command, row.command) << row.name;
    EXPECT_EQ(d.helps()[0].data, row.data) << row.name;
  }
}

TEST(MainDialog, About) {
  Driver d;
  d.start();
  d.click(IDC_ABOUT);
  EXPECT_EQ(d.caption(d.dialog()), "About Kronsec");
  d.enter();
  EXPECT_EQ(d.caption(d.dialog()), "Kronsec");
  d.mnemonic('a');
  d.escape();
  EXPECT_EQ(d.caption(d.dialog()), "Kronsec");
  d.click(IDC_ABOUT);
  d.click(IDC_OK);
  EXPECT_EQ(d.caption(d.dialog()), "Kronsec");
}

// Opens Advanced Options over a main dialog started from `ini`.
struct AdvancedFixture {
  Driver d;
  explicit AdvancedFixture(const std::string& ini) : d(withIni(ini)) {
    d.start();
    d.click(IDC_ADVANCED);
  }
  AppState* state() { return stateOf(d); }
};

TEST(AdvancedDialog, OutOfRangePolicyOpensOnPromptAndCancelKeepsIt) {
  for (int button : {IDC_CANCEL, IDC_OK}) {
    AdvancedFixture f("adjOpt=5\n");
    EXPECT_EQ(f.d.caption(f.d.dialog()), "Advanced Options");
    EXPECT_TRUE(f.d.checked(IDC_ADJPROMPT));
    f.d.click(button);
    EXPECT_EQ(f.state()->adjOpt, button == IDC_OK ? 0 : 5);
  }
}

TEST(AdvancedDialog, LogOptionsShowAndStore) {
  const struct {
    const char* ini;
    bool useLog, verbose;
    int32_t afterOk;
  } rows[] = {{"logOpts=2\nlogPath=k.log\n", true, true, 2},
              {"logOpts=7\nlogPath=k.log\n", true, false, 1},
              {"logOpts=0\n", false, false, 0}};
  for (const auto& row : rows) {
    AdvancedFixture f(row.ini);
    EXPECT_EQ(f.d.checked(IDC_USELOG), row.useLog) << row.ini;
    EXPECT_EQ(f.d.checked(IDC_VERBOSE), row.verbose) << row.ini;
    EXPECT_FALSE(f.d.enabled(IDC_CUSTOMTZ));
    f.d.click(IDC_OK);
    EXPECT_EQ(f.state()->logOpts, row.afterOk) << row.ini;
  }
}

// The caret of an edit of the open dialog.
DWORD caretOf(const Driver& d, int id) {
  DWORD start = 0, end = 0;
  SendMessageA(GetDlgItem(d.dialog(), id), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  return end;
}

uint32_t storedNumber(AdvancedFixture& f, int id) {
  return id == IDC_MAXADJUST ? f.state()->maxAdjust : f.state()->attempts;
}

struct NumberEntry {
  int id;
  const char* typed;
  bool accepted;
  const char* shown;  // the field afterwards
  uint32_t stored;
};

TEST(AdvancedDialog, NumbersAreCheckedAsTheyAreTyped) {
  const NumberEntry rows[] = {
      {IDC_MAXADJUST, "-120", false, "60", 60},
      {IDC_MAXADJUST, "7x", false, "60", 60},
      {IDC_MAXADJUST, "+5", false, "60", 60},
      {IDC_MAXADJUST, " 5", false, "60", 60},
      {IDC_MAXADJUST, "4294967296", false, "60", 60},
      {IDC_MAXADJUST, "", false, "60", 60},
      {IDC_MAXADJUST, "4294967295", true, "4294967295", 4294967295u},
      {IDC_MAXADJUST, "007", true, "007", 7},
      {IDC_ATTEMPTS, "3x", false, "3", 3},
      {IDC_ATTEMPTS, "-1", false, "3", 3},
      {IDC_ATTEMPTS, "", false, "3", 3},
      {IDC_ATTEMPTS, "12", true, "12", 12},
  };
  for (const NumberEntry& row : rows) {
    AdvancedFixture f("attempts=3\nmaxAdjust=60\n");
    f.d.type(row.id, row.typed);
    EXPECT_EQ(f.d.beeps(), row.accepted ? 0 : 1) << row.typed;
    EXPECT_EQ(f.d.text(row.id), row.shown) << row.typed;
    EXPECT_EQ(storedNumber(f, row.id), row.stored) << row.typed;
    if (!row.accepted) {
      EXPECT_EQ(caretOf(f.d, row.id), std::string(row.shown).size()) << row.typed;
    }
    f.d.click(IDC_CANCEL);  // Cancel puts back what the dialog opened with
    EXPECT_EQ(storedNumber(f, row.id), row.id == IDC_MAXADJUST ? 60u : 3u) << row.typed;
  }
}

// Keys typed over the field's selected number, as after Tab: a refused key
// beeps and changes nothing, neither the text nor the selection or caret, so
// the keys after it go where they would have gone without it.
struct KeyEntry {
  int id;
  const char* keys;
  const char* shown;  // the field afterwards
  uint32_t stored;
  int beeps;
  DWORD from, to;  // its selection afterwards
};

TEST(AdvancedDialog, ARefusedKeyLeavesTheFieldAsItWas) {
  const KeyEntry rows[] = {
      {IDC_ATTEMPTS, "-120", "120", 120, 1, 3, 3},
      {IDC_ATTEMPTS, "-", "3", 3, 1, 0, 1},  // still selected: the next digit replaces it
      {IDC_MAXADJUST, "7x2", "72", 72, 1, 2, 2},
      {IDC_MAXADJUST, "7x", "7", 7, 1, 1, 1},
      {IDC_MAXADJUST, "+-5", "5", 5, 2, 1, 1},
      {IDC_MAXADJUST, "42949672950", "4294967295", 4294967295u, 1, 10, 10},  // too large
      {IDC_MAXADJUST, "12", "12", 12, 0, 2, 2},
  };
  for (const KeyEntry& row : rows) {
    AdvancedFixture f("attempts=3\nmaxAdjust=60\n");
    f.d.typeKeys(row.id, row.keys);
    EXPECT_EQ(f.d.text(row.id), row.shown) << row.keys;
    EXPECT_EQ(storedNumber(f, row.id), row.stored) << row.keys;
    EXPECT_EQ(f.d.beeps(), row.beeps) << row.keys;
    EXPECT_EQ(f.d.selection(row.id), std::make_pair(row.from, row.to)) << row.keys;
  }
}

TEST(AdvancedDialog, LogPathBlanksAreTrimmedAndABlankPathRefused) {
  {
    AdvancedFixture f("logPath=old.log\n");
    f.d.click(IDC_USELOG);
    f.d.type(IDC_LOGPATH, " \t ");
    f.d.click(IDC_OK);
    EXPECT_EQ(f.d.caption(f.d.dialog()), "Advanced Options");  // still open
    EXPECT_TRUE(f.d.focused(IDC_LOGPATH));
    EXPECT_GE(f.d.beeps(), 1);
    EXPECT_EQ(f.state()->logOpts, 0);  // a refused OK stores nothing
    f.d.type(IDC_LOGPATH, "  name ");
    f.d.click(IDC_OK);
    EXPECT_STREQ(f.state()->logPath, "name");
  }
  // A refused OK, then Esc: every choice as it was.
  AdvancedFixture g("");
  g.d.click(IDC_ADJIGNORE);
  g.d.click(IDC_USELOG);
  g.d.enter();
  g.d.escape();
  EXPECT_EQ(g.d.caption(g.d.dialog()), "Kronsec");
  EXPECT_EQ(g.state()->adjOpt, 0);
  EXPECT_EQ(g.state()->logOpts, 0);
}

TEST(AdvancedDialog, LoggingOffLeavesThePath) {
  AdvancedFixture f("logOpts=1\nlogPath=keep.log\n");
  f.d.click(IDC_USELOG);
  f.d.type(IDC_LOGPATH, "other.log");
  f.d.click(IDC_OK);
  EXPECT_EQ(f.state()->logOpts, 0);
  EXPECT_STREQ(f.state()->logPath, "keep.log");
}

TEST(AdvancedDialog, TheChooserStartsFromThePathAndItsAnswerIsShown) {
  const struct {
    const char* path;
    const char* folder;
    const char* file;
  } rows[] = {{"c:\\Logs\\kron.log", "c:\\Logs", "kron.log"}, {"kron.log", "", "kron.log"}};
  for (const auto& row : rows) {
    AdvancedFixture f("");
    f.d.type(IDC_LOGPATH, row.path);
    f.d.chooseFile("C:\\My Logs\\KRON.LOG");
    f.d.click(IDC_LOGBROWSE);
    ASSERT_EQ(f.d.fileChoosers().size(), 1u);
    const FileChooserRecord& c = f.d.fileChoosers()[0];
    EXPECT_EQ(c.initialDir, row.folder);
    EXPECT_EQ(c.initialFile, row.file);
    EXPECT_EQ(c.title, "Select Log File");
    EXPECT_EQ(c.filter, "Logs (*.log)|*.log|All files (*.*)|*.*|");
    EXPECT_EQ(c.flags, 0x800u);
    EXPECT_EQ(c.bufferSize, 256u);
    // Linux names are case-sensitive: the chosen path is kept as it is.
    EXPECT_EQ(f.d.text(IDC_LOGPATH), "C:\\My Logs\\KRON.LOG");
    EXPECT_EQ(f.state()->logPath, nullptr);  // only OK stores it
  }
  AdvancedFixture cancelled("");
  cancelled.d.type(IDC_LOGPATH, "keep");
  cancelled.d.chooseFile("");
  cancelled.d.click(IDC_LOGBROWSE);
  EXPECT_EQ(cancelled.d.text(IDC_LOGPATH), "keep");
}

}  // namespace
