// The Linux command line and what a script reads at the end of a run: the
// options, the exit status, the stderr lines, run-only settings and the
// warnings about numbers that are not numbers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "linux/cli.h"
#include "linux/frontends.h"
#include "linux/report.h"
#include "linux/timeservices.h"
#include "platform/posix/ini/store.h"
#include "tests/support/support.h"
#include "timeclient/client.h"

namespace {
CommandLine parse(std::vector<std::string> args) {
  args.insert(args.begin(), "kronsec");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return parseCommandLine(static_cast<int>(args.size()), argv.data());
}

TEST(CommandLine, OptionsAndMistakes) {
  struct Row {
    std::vector<std::string> args;
    CommandLine::Action action;
    const char* error;
  } rows[] = {
      {{}, CommandLine::kRun, ""},
      {{"-h"}, CommandLine::kHelp, ""},
      {{"--help"}, CommandLine::kHelp, ""},
      {{"-V"}, CommandLine::kVersion, ""},
      {{"--version"}, CommandLine::kVersion, ""},
      {{"-p", "-H", "time.example.net"}, CommandLine::kRun, ""},
      {{"--host=a.example", "--report-only", "--headless"}, CommandLine::kRun, ""},
      {{"--hlep"}, CommandLine::kUsageError, "unknown option '--hlep'"},
      {{"--bogus=3"}, CommandLine::kUsageError, "unknown option '--bogus'"},
      {{"-x"}, CommandLine::kUsageError, "unknown option '-x'"},
      {{"-px"}, CommandLine::kUsageError, "unknown option '-x'"},
      {{"--host"}, CommandLine::kUsageError, "option '--host' needs a value"},
      {{"-H"}, CommandLine::kUsageError, "option '-H' needs a value"},
      {{"-c"}, CommandLine::kUsageError, "option '-c' needs a value"},
      {{"--host="}, CommandLine::kUsageError, "the host given with --host is empty"},
      {{"now"}, CommandLine::kUsageError, "unexpected argument 'now'"},
      {{"-p", "now", "-h"}, CommandLine::kUsageError, "unexpected argument 'now'"},
      {{"-c", "/dev/null"}, CommandLine::kUsageError, "'/dev/null' is not a folder"},
      {{"--no-save", "-p"}, CommandLine::kRun, ""},
      {{"--headless=1"}, CommandLine::kUsageError, "option '--headless' doesn't allow an argument"},
      {{"--report-only=yes"}, CommandLine::kUsageError,
       "option '--report-only' doesn't allow an argument"},
      {{"--no-save=0"}, CommandLine::kUsageError, "option '--no-save' doesn't allow an argument"},
      {{"--term=x"}, CommandLine::kUsageError, "option '--terminal' doesn't allow an argument"},
      {{"--\xe8"}, CommandLine::kUsageError, "unknown option '--\\350'"},
      {{"-c", ""}, CommandLine::kUsageError, "the folder given with --config is empty"},
      {{"--config="}, CommandLine::kUsageError, "the folder given with --config is empty"},
      {{"--headless", "--terminal"}, CommandLine::kUsageError,
       "--headless and --terminal cannot be used together"},
      {{"--terminal", "-p", "--headless"}, CommandLine::kUsageError,
       "--headless and --terminal cannot be used together"},
      {{"--headless", "--headless"}, CommandLine::kRun, ""},
      {{"--host", "::1"}, CommandLine::kRun, ""},
      {{"-H", "[fe80::1%eth0]", "-6"}, CommandLine::kRun, ""},
      {{"-4", "--ipv6"}, CommandLine::kUsageError, "-4 and -6 cannot be used together"},
      {{"-H", "192.0.2.1"}, CommandLine::kRun, ""},
      {{"-H", "time.example.net:37"}, CommandLine::kRun, ""},
      {{"bad\x1b[2Jarg"}, CommandLine::kUsageError, "unexpected argument 'bad\\033[2Jarg'"},
      {{"--check"}, CommandLine::kCheck, ""},
      {{"--check", "-c", "/tmp"}, CommandLine::kCheck, ""},
      {{"--check", "-p"}, CommandLine::kUsageError, "--check takes no option but -c/--config"},
      {{"--headless", "--check"}, CommandLine::kUsageError, "--check takes no option but -c/--config"},
      {{"--check", "-H", "a.example"}, CommandLine::kUsageError,
       "--check takes no option but -c/--config"},
      {{"--check", "--help"}, CommandLine::kHelp, ""},
      {{"--check=1"}, CommandLine::kUsageError, "option '--check' doesn't allow an argument"},
  };
  for (const Row& r : rows) {
    CommandLine c = parse(r.args);
    std::string shown = r.args.empty() ? "(none)" : r.args[0];
    EXPECT_EQ(c.action, r.action) << shown;
    EXPECT_EQ(c.error, r.error) << shown;
  }
}

TEST(CommandLine, ValuesReachTheRun) {
  CommandLine c = parse({"-p", "--host", "h.example", "--terminal", "-c", "conf"});
  EXPECT_FALSE(c.noSave);
  EXPECT_TRUE(parse({"--no-save"}).noSave);
  EXPECT_TRUE(c.reportOnly);
  EXPECT_TRUE(c.hasHost);
  EXPECT_EQ(c.host, "h.example");
  EXPECT_EQ(c.frontEnd, CommandLine::kTerminal);
  ASSERT_FALSE(c.configFolder.empty());
  EXPECT_EQ(c.configFolder[0], '/');  // relative to where kronsec started
  EXPECT_EQ(c.configFolder.substr(c.configFolder.size() - 5), "/conf");
}

// A record of one request to 127.0.0.1: asked or not, decided or not, and
// what was done to the clock.
RunReport report(bool asked, bool decided, ClockDone clock = ClockDone::kStepped,
                 ClockAsk ask = ClockAsk::kSet, LogOutcome log = LogOutcome::kOff) {
  RunReport r{};
  r.asked = asked;
  r.decided = decided;
  r.clock = clock;
  r.ask = ask;
  r.overLimit = ask == ClockAsk::kHold || ask == ClockAsk::kPartial;
  r.log = log;
  r.servers = 1;
  r.diffKnown = true;
  r.kernelTold = true;
  r.maxAdjust = 60;
  std::snprintf(r.host, sizeof r.host, "127.0.0.1");
  return r;
}

TEST(ExitStatus, FirstOfOneThreeFourFiveWins) {
  const LogOutcome failed = LogOutcome::kFailed;
  struct Row {
    RunReport r;
    bool headless;
    int status;
    bool lockBusy = false;  // the settings' save gave up on another's lock
  } rows[] = {
      {report(false, false), true, 1},   // nothing could be asked
      {report(false, false), false, 0},  // the person asked nothing
      {report(true, false), true, 1},
      {report(true, true), true, 0},
      {report(true, true, ClockDone::kFailed, ClockAsk::kSet, failed), false, 3},
      {report(true, true, ClockDone::kOutOfRange, ClockAsk::kSet, failed), false, 3},
      {report(true, true, ClockDone::kUntouched, ClockAsk::kHold, failed), true, 4},
      {report(true, true, ClockDone::kStepped, ClockAsk::kPartial, failed), true, 4},
      {report(true, true, ClockDone::kStepped, ClockAsk::kSet, failed), true, 5},
      {report(true, true), true, 1, true},
      {report(false, false), false, 1, true},
  };
  for (const Row& r : rows) EXPECT_EQ(exitStatusFor(r.r, r.headless, r.lockBusy), r.status);
}

// What was done with the clock, in the summary and, for a change held back
// or refused, on stderr.
TEST(HeadlessLines, EveryOutcomeSaidPlainly) {
  using A = ClockAsk;
  using D = ClockDone;
  struct Row {
    A ask;
    D done;
    int32_t diff, moved, adjOpt, setError;  // diff: the server minus the clock
    const char* summary;
    const char* problems;
    int64_t movedUs = 0;  // precise mode's move
    int32_t unknown = 0;  // the local clock could not be read
    int32_t slewOn = 0, notTold = 0;
    int statusError = 0;  // errno of the kernel status call
  } rows[] = {
      {A::kReport, D::kUntouched, 5, 5, 0, 0, "report", ""},
      {A::kSet, D::kStepped, 3, 3, 0, 0, "set (+3 s)", ""},
      {A::kSet, D::kStepped, -7, -7, 0, 0, "set (-7 s)", ""},
      {A::kSet, D::kUnchanged, 0, 0, 0, 0, "nothing to change", ""},
      {A::kSet, D::kStepped, 0, 0, 0, 0, "set (-0.437 s)", "", -437000},
      {A::kSet, D::kStepped, 3600, 3600, 2, 0, "set (+3600 s)", ""},
      {A::kHold, D::kUntouched, 3600, 0, 1, 0, "held back (over maxAdjust=60; Ignore)",
       "kronsec: 127.0.0.1 is 3600 s ahead, over maxAdjust=60: clock left alone\n"},
      {A::kHold, D::kUntouched, -3600, 0, 0, 0, "not set (the question was answered Cancel)",
       "kronsec: 127.0.0.1 is 3600 s behind, over maxAdjust=60: clock left alone (the question "
       "was answered Cancel)\n"},
      {A::kPartial, D::kStepped, 3600, 60, 0, 0, "partial (moved 60 s toward it)",
       "kronsec: 127.0.0.1 is 3600 s ahead, over maxAdjust=60: moved 60 s toward it\n"},
      {A::kSet, D::kFailed, 5, 5, 0, EPERM, "not set (setting the clock failed)",
       "kronsec: Operation not permitted: setting the clock needs root or CAP_SYS_TIME\n"},
      {A::kSet, D::kOutOfRange, 5, 0, 0, 0, "not set (the time is outside the range kronsec can set)", ""},
      // Slewing: below half a second the kernel makes the change, at 0.5 ms a second.
      {A::kSet, D::kSlewed, 0, 0, 0, 0, "slewed (+0.200 s, over about 400 s)", "", 200000, 0, 1},
      {A::kSet, D::kSlewed, 0, 0, 0, 0, "slewed (-0.200 s, over about 400 s)", "", -200000, 0, 1},
      {A::kSet, D::kStepped, 1, 1, 0, 0, "set (+0.700 s, stepped)", "", 700000, 0, 1},
      {A::kSet, D::kStepped, 3, 3, 0, 0, "set (+3 s, stepped)", "", 0, 0, 1},
      // The kernel not told: the set stands, with a warning.
      {A::kSet, D::kStepped, 3, 3, 0, 0, "set (+3 s)",
       "kronsec: warning: the clock was changed, but the kernel was not told it is "
       "synchronised: Operation not permitted\n",
       0, 0, 0, 1, EPERM},
      // An unreadable local clock: no distance is made up from it.
      {A::kSet, D::kStepped, 1796675599, 1796675599, 0, 0, "set (the local clock could not be read)", "", 0, 1},
      {A::kHold, D::kUntouched, 1796675599, 0, 0, 0, "not set (the question was answered Cancel)",
       "kronsec: the local clock cannot be read: the time from 127.0.0.1 counts as over "
       "maxAdjust=60: clock left alone (the question was answered Cancel)\n",
       0, 1},
      {A::kHold, D::kUntouched, 1796675599, 0, 1, 0, "held back (over maxAdjust=60; Ignore)",
       "kronsec: the local clock cannot be read: the time from 127.0.0.1 counts as over "
       "maxAdjust=60: clock left alone\n",
       0, 1},
  };
  for (const Row& row : rows) {
    RunReport r = report(true, true, row.done, row.ask);
    r.diffUs = -int64_t{row.diff} * 1000000;
    r.precise = row.movedUs != 0;
    r.movedUs = r.precise ? row.movedUs : int64_t{row.moved} * 1000000;
    r.adjOpt = row.adjOpt;
    r.clockError = row.setError;
    r.diffKnown = !row.unknown;
    r.slewOn = row.slewOn;
    r.kernelTold = !row.notTold;
    r.kernelError = row.statusError;
    EXPECT_EQ(actionSummary(r), row.summary) << row.summary;
    EXPECT_EQ(clockProblemLines(r), row.problems) << row.summary;
  }
  EXPECT_EQ(stoppedLine(SIGTERM, false), "kronsec: stopped by SIGTERM\n");
  EXPECT_EQ(stoppedLine(SIGTERM, true), "kronsec: stopped by SIGTERM; settings not saved\n");
}

// Two Winsock Error boxes whose table texts mislead get a plain line after
// them: a silent server on a connection that stood, and a name server that
// did not answer. The others are left as they are.
TEST(HeadlessLines, WinsockCodesThatMisleadAreSaidPlainly) {
  struct Row {
    QueryStep step;
    int code;
    const char* line;
  } rows[] = {
      {QueryStep::kTimeout, WSAETIMEDOUT,
       "kronsec: 127.0.0.1 took the connection but its answer did not come in time (30 s)\n"},
      {QueryStep::kConnect, WSAETIMEDOUT, ""},  // the connect itself timed out, as the box says
      {QueryStep::kResolve, WSATRY_AGAIN,
       "kronsec: the name server could not be reached to look up 127.0.0.1: check this "
       "computer's network and its name servers (/etc/resolv.conf), or try again later\n"},
      {QueryStep::kResolve, WSAHOST_NOT_FOUND, ""},
      {QueryStep::kConnect, WSAECONNREFUSED, ""},
      {QueryStep::kRead, WSAECONNRESET, ""},
  };
  for (const Row& row : rows) {
    RunReport r = report(true, false);
    r.server[0].use = ServerUse::kSilent;
    r.server[0].failure = QueryFailure{row.step, row.code, 0, false, 0};
    EXPECT_EQ(plainFailureLine(r), row.line) << row.code;
  }
}

// The items of a host text: names, IPv4 and IPv6 addresses (bare, in
// brackets, with a zone), and what is none of them.
TEST(HeadlessLines, HostItemsOfBothFamilies) {
  const struct {
    const char* item;
    HostItem kind;
  } rows[] = {
      {"::1", HostItem::kIpv6},           {"[::1]", HostItem::kIpv6},
      {"fe80::1%eth0", HostItem::kIpv6},  {"[fe80::1%eth0]", HostItem::kIpv6},
      {"2001:db8::37", HostItem::kIpv6},  {"::ffff:192.0.2.1", HostItem::kIpv6},
      {"1:2:3:4:5:6:7:8", HostItem::kIpv6}, {"1:2:3:4:5:6:192.0.2.1", HostItem::kIpv6},
      {"2001:db8::zz", HostItem::kNotAHost}, {"1::2::3", HostItem::kNotAHost},
      {"1:2:3:4:5:6:7:8:9", HostItem::kNotAHost}, {":1", HostItem::kNotAHost},
      {"fe80::1%", HostItem::kNotAHost},  {"a:b", HostItem::kNotAHost},
      {"192.0.2.1", HostItem::kAddress},  {"time.example.net", HostItem::kName},
  };
  for (const auto& r : rows) EXPECT_EQ(classifyHostItem(r.item, std::strlen(r.item)), r.kind) << r.item;
}

// A time service is known by its process name; anything else runs beside kronsec.
TEST(HeadlessLines, AnotherTimeServiceIsFoundByItsProcessName) {
  const struct {
    const char* comm;
    const char* found;
  } rows[] = {{"systemd-timesyn", "systemd-timesyncd"}, {"chronyd", "chronyd"}, {"ntpd", "ntpd"},
              {"chronyc", ""}, {"ntpdate", ""}};
  std::string root = testing::TempDir() + "kronsec-proc";
  for (const auto& r : rows) {
    std::system(("rm -rf " + root + " && mkdir -p " + root + "/1 " + root + "/self").c_str());
    writeFileBytes(root + "/1/comm", std::string(r.comm) + "\n");
    EXPECT_EQ(runningTimeService(root), r.found) << r.comm;
  }
  EXPECT_TRUE(contains(timeServiceLine("chronyd"), "systemctl disable --now chrony stops chronyd"));
}

TEST(HeadlessLines, WhatUsersTypedNeverSendsRawBytes) {
  struct Row {
    std::string typed, shown;
  } rows[] = {
      {"plain", "plain"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x95\x90", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x95\x90"},
      {"\xe8", "\\350"},
      {"a\x1b]0;title\x07", "a\\033]0;title\\007"},
      {"\xc2\x9b" "2J", "\\302\\2332J"},  // C1 CSI
      {"del\x7f", "del\\177"},
      {"cut \xe2\x82", "cut \\342\\202"},
  };
  for (const Row& r : rows) EXPECT_EQ(escapedText(r.typed), r.shown) << r.typed;
}

TEST(HeadlessLines, BoxTextOnOneLine) {
  struct Row {
    const char* caption;
    const char* text;
    const char* line;
  } rows[] = {
      {"Winsock Error",
       "\r\nkronsec: could not connect to host 127.0.0.1\r\n (10061)\r\nThe attempt to connect "
       "was refused\r\n",
       "kronsec: Winsock Error: could not connect to host 127.0.0.1 (10061) The attempt to "
       "connect was refused\n"},
      {"Log Error", "Error writing to log file /x/k.log",
       "kronsec: Log Error: Error writing to log file /x/k.log\n"},
      {"Big Change", "a  b\t\tc\r\n", "kronsec: Big Change: a b c\n"},
      {"kronsec Error", "", "kronsec: kronsec Error: \n"},
      {"Winsock Error", "no\x1b[2Jx: unknown host", "kronsec: Winsock Error: no?[2Jx: unknown host\n"},
  };
  for (const Row& r : rows) EXPECT_EQ(headlessBoxLine(r.caption, r.text), r.line);
}

// One line that says what is missing and which file to edit (the journal of
// a fresh service shows it last).
TEST(HeadlessLines, NoStartAdviceNamesFileKeysAndZone) {
  RunReport o = report(false, false);
  o.missing = Missing::kNoTz;
  EXPECT_EQ(noStartAdvice(o, "/etc/kronsec/orv.ini", 3600),
            "kronsec: no TZ text is known, so no query was made: put TZ=xST-1 and useTZ=0 under "
            "[kronsec] in /etc/kronsec/orv.ini (xST-1 is this machine's offset from UTC now)\n");
  EXPECT_TRUE(contains(noStartAdvice(o, "/f", 19800), "xST-5 is this machine's offset from UTC "
                                                      "now; add30=1 adds its half hour)\n"));
  o.missing = Missing::kNoHost;
  EXPECT_EQ(noStartAdvice(o, "/f", 0),
            "kronsec: no Time server host is set, so no query was made: put host=NAME under "
            "[kronsec] in /f, or run kronsec --host NAME\n");
  struct Row {
    long offset;
    const char* text;
  } zones[] = {{0, "xST0"}, {3600, "xST-1"}, {-18000, "xST5"}, {19800, "xST-5"}};
  for (const auto& z : zones) EXPECT_EQ(tzTextForOffset(z.offset), z.text);
}

std::vector<std::string> warnings;
void keepWarning(const std::string& path, const std::string& text) {
  warnings.push_back(path + ": " + text);
}

class RunSettings : public CleanSettings {
 protected:
  void TearDown() override {
    ini::clearRunOverrides();
    ini::setNumberWarning(nullptr);
    CleanSettings::TearDown();
  }
};

TEST_F(RunSettings, OverridesAreReadButNeverWritten) {
  writeFileBytes(profilePath("orv.ini"), "[kronsec]\nhost=old.example\nreportOnly=0\n");
  ini::setRunOverride("orv.ini", "kronsec", "reportOnly", "1");
  ini::setRunOverride("orv.ini", "kronsec", "host", "new.example");
  char text[64];
  GetPrivateProfileStringA("KRONSEC", "Host", "", text, sizeof text, "orv.ini");
  EXPECT_STREQ(text, "new.example");
  EXPECT_EQ(GetPrivateProfileIntA("kronsec", "reportonly", 7, "orv.ini"), 1u);
  EXPECT_TRUE(WritePrivateProfileStringA("kronsec", "host", "typed.example", "orv.ini"));
  EXPECT_TRUE(WritePrivateProfileStringA("kronsec", "reportOnly", "0", "orv.ini"));
  EXPECT_TRUE(WritePrivateProfileStringA("kronsec", "attempts", "5", "orv.ini"));
  EXPECT_TRUE(ini::flushProfiles());
  EXPECT_EQ(readFileBytes(profilePath("orv.ini")),
            "[kronsec]\nhost=old.example\nreportOnly=0\nattempts=5\n");
}

TEST_F(RunSettings, TextWhereANumberBelongsIsToldOnce) {
  writeFileBytes(profilePath("orv.ini"),
                 "[kronsec]\nreportOnly=true\nuseDST=yes\nattempts=7x\nadd30= 1 \nlogOpts=0x1\n"
                 "adjOpt=\nmaxAdjust=-5\n");
  ini::setNumberWarning(keepWarning);
  warnings.clear();
  struct Row {
    const char* key;
    UINT value;
    const char* warning;  // "" when the value is a number
  } rows[] = {
      {"reportOnly", 0, "reportOnly=\"true\" is not a number; kronsec uses 0"},
      {"useDST", 0, "useDST=\"yes\" is not a number; kronsec uses 0"},
      {"attempts", 7, "attempts=\"7x\" is not a number; kronsec uses 7"},
      {"add30", 1, ""},
      {"logOpts", 1, ""},
      {"adjOpt", 9, ""},  // empty: the default, as on Windows
      {"maxAdjust", static_cast<UINT>(-5), ""},
  };
  for (const Row& r : rows) {
    warnings.clear();
    EXPECT_EQ(GetPrivateProfileIntA("kronsec", r.key, 9, "orv.ini"), r.value) << r.key;
    GetPrivateProfileIntA("kronsec", r.key, 9, "orv.ini");  // a second read stays quiet
    ASSERT_EQ(warnings.size(), *r.warning ? 1u : 0u) << r.key;
    if (*r.warning) {
      EXPECT_EQ(warnings[0], profilePath("orv.ini") + ": " + r.warning);
    }
  }
}
}  // namespace
