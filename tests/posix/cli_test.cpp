// The Linux command line and what a script reads at the end of a run: the
// options, the exit status, the stderr lines, run-only settings and the
// warnings about numbers that are not numbers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "linux/cli.h"
#include "linux/frontends.h"
#include "linux/report.h"
#include "linux/timeservices.h"
#include "platform/posix/ini/store.h"
#include "tests/support/support.h"

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
      {{"--host", "::1"}, CommandLine::kUsageError,
       "::1 is an IPv6 address; kronsec speaks IPv4 only"},
      {{"-H", "[fe80::1%eth0]"}, CommandLine::kUsageError,
       "[fe80::1%eth0] is an IPv6 address; kronsec speaks IPv4 only"},
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

QueryOutcome outcome(int32_t asked, int32_t answered, int32_t clockNotSet, int32_t held,
                     int32_t logFailed) {
  QueryOutcome o{};
  o.asked = asked;
  o.answered = answered;
  o.clockNotSet = clockNotSet;
  o.changeHeld = held;
  o.logFailed = logFailed;
  o.lastRead = noRead;
  return o;
}

TEST(ExitStatus, FirstOfOneThreeFourFiveWins) {
  struct Row {
    QueryOutcome o;
    bool headless;
    int status;
    bool lockBusy = false;  // the settings' save gave up on another's lock
  } rows[] = {
      {outcome(0, 0, 0, 0, 0), true, 1},   // nothing could be asked
      {outcome(0, 0, 0, 0, 0), false, 0},  // the person asked nothing
      {outcome(1, 0, 0, 0, 1), true, 1},
      {outcome(1, 1, 0, 0, 0), true, 0},
      {outcome(1, 1, 1, 1, 1), false, 3},
      {outcome(1, 1, 0, 1, 1), true, 4},
      {outcome(1, 1, 0, 0, 1), true, 5},
      {outcome(1, 1, 0, 0, 0), true, 1, true},
      {outcome(0, 0, 0, 0, 0), false, 1, true},
      {outcome(1, 1, 1, 1, 1), true, 1, true},
  };
  for (const Row& r : rows) EXPECT_EQ(exitStatusFor(r.o, r.headless, r.lockBusy), r.status);
}

TEST(HeadlessLines, NoAnswerSaysWhy) {
  struct Row {
    int32_t lastRead, readError, serverClosed, reported;
    const char* host;
    const char* line;
  } rows[] = {
      {noRead, 0, 0, 0, "10.0.0.1", ""},  // a box said it already
      {0, 0, 1, 0, "10.0.0.1",
       "kronsec: no answer from 10.0.0.1 (the server closed the connection after 0 bytes)\n"},
      {2, 0, 1, 0, "10.0.0.1",
       "kronsec: no answer from 10.0.0.1 (the server closed the connection after 2 bytes)\n"},
      {2, 0, 1, 1, "10.0.0.1", ""},  // the dialog's box said it
      {1, 0, 0, 0, "10.0.0.1",
       "kronsec: no answer from 10.0.0.1 (only 1 byte had arrived when kronsec read)\n"},
      {readFailed, 10054, 0, 0, "10.0.0.1",
       "kronsec: no answer from 10.0.0.1 (the connection was reset by the server)\n"},
      {readFailed, 10060, 0, 0, "10.0.0.1",
       "kronsec: no answer from 10.0.0.1 (the read failed: Attempt to connect timed out (10060))\n"},
      {readFailed, 10054, 0, 1, "10.0.0.1", ""},
      // Hostile names reach stderr without their control bytes.
      {0, 0, 1, 0, "no\x1b[31mx",
       "kronsec: no answer from no?[31mx (the server closed the connection after 0 bytes)\n"},
      {0, 0, 1, 0, "127.0.0.1\tx\r\n",
       "kronsec: no answer from 127.0.0.1?x?? (the server closed the connection after 0 bytes)\n"},
  };
  for (const Row& r : rows) {
    QueryOutcome o = outcome(1, 0, 0, 0, 0);
    std::snprintf(o.host, sizeof o.host, "%s", r.host);
    o.lastRead = r.lastRead;
    o.readError = r.readError;
    o.serverClosed = r.serverClosed;
    o.reported = r.reported;
    EXPECT_EQ(noAnswerLine(o), r.line);
  }
}

ClockAction actionNamed(const std::string& name) {
  for (ClockAction a : {ClockAction::kReport, ClockAction::kReset, ClockAction::kAccept,
                        ClockAction::kPartial, ClockAction::kIgnore})
    if (name == actionText(a)) return a;
  ADD_FAILURE() << "no action " << name;
  return ClockAction::kReport;
}

// What was done with the clock, in the summary and, for a change held back
// or refused, on stderr.
TEST(HeadlessLines, EveryOutcomeSaidPlainly) {
  struct Row {
    const char* action;
    int32_t diff, moved, overLimit, refused, setAsked, clockNotSet, adjOpt, setError;
    const char* summary;
    const char* problems;
    int64_t movedUs = 0;  // precise mode's move
    int32_t unknown = 0;  // the local clock could not be read
    int32_t slewOn = 0, slewed = 0, notTold = 0;
    int statusError = 0;  // errno of the kernel status call
  } rows[] = {
      {"report", 5, 5, 0, 0, 0, 0, 0, 0, "Action:   report\n", ""},
      {"reset", 3, 3, 0, 0, 1, 0, 0, 0, "Action:   set (+3 s)\n", ""},
      {"reset", -7, -7, 0, 0, 1, 0, 0, 0, "Action:   set (-7 s)\n", ""},
      {"reset", 0, 0, 0, 0, 0, 0, 0, 0, "Action:   nothing to change\n", ""},
      {"reset", 0, 0, 0, 0, 1, 0, 0, 0, "Action:   set (-0.437 s)\n", "", -437000},
      {"accept", 3600, 3600, 1, 0, 1, 0, 2, 0, "Action:   set (+3600 s)\n", ""},
      {"ignore", 3600, 0, 1, 0, 0, 0, 1, 0, "Action:   held back (over maxAdjust=60; Ignore)\n",
       "kronsec: 127.0.0.1 is 3600 s ahead, over maxAdjust=60: clock left alone\n"},
      {"ignore", -3600, 0, 1, 0, 0, 0, 0, 0, "Action:   not set (the question was answered Cancel)\n",
       "kronsec: 127.0.0.1 is 3600 s behind, over maxAdjust=60: clock left alone (the question "
       "was answered Cancel)\n"},
      {"partial", 3600, 60, 1, 0, 1, 0, 0, 0, "Action:   partial (moved 60 s toward it)\n",
       "kronsec: 127.0.0.1 is 3600 s ahead, over maxAdjust=60: moved 60 s toward it\n"},
      {"reset", 5, 5, 0, 0, 1, 1, 0, EPERM, "Action:   not set (setting the clock failed)\n",
       "kronsec: Operation not permitted: setting the clock needs root or CAP_SYS_TIME\n"},
      {"ignore", 5, 0, 0, 1, 0, 1, 0, 0,
       "Action:   not set (the time is outside the range kronsec can set)\n", ""},
      // Slewing: below half a second the kernel makes the change, at 0.5 ms a second.
      {"reset", 0, 0, 0, 0, 1, 0, 0, 0, "Action:   slewed (+0.200 s, over about 400 s)\n", "",
       200000, 0, 1, 1},
      {"reset", 0, 0, 0, 0, 1, 0, 0, 0, "Action:   slewed (-0.200 s, over about 400 s)\n", "",
       -200000, 0, 1, 1},
      {"reset", 1, 1, 0, 0, 1, 0, 0, 0, "Action:   set (+0.700 s, stepped)\n", "", 700000, 0, 1},
      {"reset", 3, 3, 0, 0, 1, 0, 0, 0, "Action:   set (+3 s, stepped)\n", "", 0, 0, 1},
      // The kernel not told: the set stands, with a warning.
      {"reset", 3, 3, 0, 0, 1, 0, 0, 0, "Action:   set (+3 s)\n",
       "kronsec: warning: the clock was changed, but the kernel was not told it is "
       "synchronised: Operation not permitted\n",
       0, 0, 0, 0, 1, EPERM},
      // An unreadable local clock: no distance is made up from it.
      {"reset", 1796675599, 1796675599, 0, 0, 1, 0, 0, 0,
       "Action:   set (the local clock could not be read)\n", "", 0, 1},
      {"ignore", 1796675599, 0, 1, 0, 0, 0, 0, 0,
       "Action:   not set (the question was answered Cancel)\n",
       "kronsec: the local clock cannot be read: the time from 127.0.0.1 counts as over "
       "maxAdjust=60: clock left alone (the question was answered Cancel)\n",
       0, 1},
      {"ignore", 1796675599, 0, 1, 0, 0, 0, 1, 0, "Action:   held back (over maxAdjust=60; Ignore)\n",
       "kronsec: the local clock cannot be read: the time from 127.0.0.1 counts as over "
       "maxAdjust=60: clock left alone\n",
       0, 1},
  };
  for (const Row& r : rows) {
    QueryOutcome o = outcome(1, 1, r.clockNotSet, 0, 0);
    std::snprintf(o.host, sizeof o.host, "127.0.0.1");
    o.action = actionNamed(r.action);
    o.diffSecs = r.diff;
    o.movedSecs = r.moved;
    o.overLimit = r.overLimit;
    o.refused = r.refused;
    o.setAsked = r.setAsked;
    o.adjOpt = r.adjOpt;
    o.maxAdjust = 60;
    o.movedUs = r.movedUs;
    o.localUnknown = r.unknown;
    o.slewOn = r.slewOn;
    o.slewed = r.slewed;
    o.kernelNotTold = r.notTold;
    EXPECT_EQ(actionLine(o), r.summary) << r.summary;
    EXPECT_EQ(clockProblemLines(o, r.setError, r.statusError), r.problems) << r.summary;
  }
  EXPECT_EQ(stoppedLine(SIGTERM), "kronsec: stopped by SIGTERM\n");
}

// Two Winsock Error boxes whose table texts mislead get a plain line after
// them: a silent server on a connection that stood, and a name server that
// did not answer. The others are left as they are.
TEST(HeadlessLines, WinsockCodesThatMisleadAreSaidPlainly) {
  struct Row {
    int code;
    int32_t reported;  // the query's connection stood and the dialog ended it
    const char* line;
  } rows[] = {
      {WSAETIMEDOUT, 1,
       "kronsec: 127.0.0.1 took the connection but its answer did not come in time (30 s)\n"},
      {WSAETIMEDOUT, 0, ""},  // the connect itself timed out, as the box says
      {WSATRY_AGAIN, 0,
       "kronsec: the name server could not be reached to look up 127.0.0.1: check this "
       "computer's network and its name servers (/etc/resolv.conf), or try again later\n"},
      {WSAHOST_NOT_FOUND, 0, ""},
      {WSAECONNREFUSED, 0, ""},
      {WSAECONNRESET, 1, ""},
  };
  for (const Row& r : rows) {
    QueryOutcome o = outcome(1, 0, 0, 0, 0);
    std::snprintf(o.host, sizeof o.host, "127.0.0.1");
    o.reported = r.reported;
    EXPECT_EQ(winsockPlainLine(r.code, o), r.line) << r.code;
  }
}

// An IPv6 address from the settings gets an unknown-host box; the line says why.
TEST(HeadlessLines, AnIpv6HostIsSaidToBeOne) {
  struct Row {
    const char* host;
    const char* line;
  } rows[] = {
      {"::1", "kronsec: ::1 is an IPv6 address; kronsec speaks IPv4 only\n"},
      {"2001:db8::5", "kronsec: 2001:db8::5 is an IPv6 address; kronsec speaks IPv4 only\n"},
      {"[::ffff:192.0.2.1]",
       "kronsec: [::ffff:192.0.2.1] is an IPv6 address; kronsec speaks IPv4 only\n"},
      {"fe80::1%eth0", "kronsec: fe80::1%eth0 is an IPv6 address; kronsec speaks IPv4 only\n"},
      {"192.0.2.1", ""},
      {"no.such.invalid", ""},
      {"a:b", ""},
  };
  for (const Row& r : rows) {
    QueryOutcome o = outcome(1, 0, 0, 0, 0);
    std::snprintf(o.host, sizeof o.host, "%s", r.host);
    EXPECT_EQ(noAnswerLine(o), r.line) << r.host;
  }
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
  QueryOutcome o = outcome(0, 0, 0, 0, 0);
  o.missing = QueryOutcome::kNoTz;
  EXPECT_EQ(noStartAdvice(o, "/etc/kronsec/orv.ini", 3600),
            "kronsec: no TZ text is known, so no query was made: put TZ=xST-1 and useTZ=0 under "
            "[kronsec] in /etc/kronsec/orv.ini (xST-1 is this machine's offset from UTC now)\n");
  EXPECT_TRUE(contains(noStartAdvice(o, "/f", 19800), "xST-5 is this machine's offset from UTC "
                                                      "now; add30=1 adds its half hour)\n"));
  o.missing = QueryOutcome::kNoHost;
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
