// Query cycles end to end inside the process: the program through the test
// driver, on a virtual clock, against the scripted Time server on loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "app/appstate.h"
#include "linux/report.h"
#include "linux/runonly.h"
#include "platform/posix/winsock_seam.h"
#include "program/shell.h"
#include "tests/driver/driver.h"
#include "timeclient/answer.h"
#include "zones/environment.h"
#include "tests/support/support.h"
#include "tools/timeserver/timeserver.h"
#include "ui/applyanswer.h"
#include "ui/maincycle.h"
#include "ui/boxes.h"
#include "ui/res/resource.h"

#undef socket
#undef recv

namespace {
constexpr uint32_t epoch1900 = 2208988800u;
// The driver's wall clock starts at 1995-07-04 12:00:00; under EST5EDT (in
// daylight time) that is 16:00:00 UTC.
constexpr uint32_t localNow = 804873600u;

std::vector<Behaviour> script(const char* text) {
  std::vector<Behaviour> parsed;
  std::string error;
  EXPECT_TRUE(parseScript(text, &parsed, &error)) << error;
  return parsed;
}

std::string fixedAhead(int32_t seconds) {
  return "fixed:" + std::to_string(localNow + epoch1900 + static_cast<uint32_t>(seconds));
}

AppState* stateOf(const Driver& d) { return reinterpret_cast<AppState*>(GetWindowLongPtrA(d.host(), 0)); }

std::string utcText(const SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  return text;
}

// A Time server the test works by hand, for what the scripted one cannot do:
// answer, then close or hold the connection when the test says.
struct HandServer {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int peer = -1;
  uint16_t port = 0;
  HandServer() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(listener, 1), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~HandServer() {
    hangUp();
    close(listener);
  }
  // The program's blocking connect is done by now, waiting in the backlog.
  void answer(uint32_t value) {
    uint32_t wire = htonl(value);
    sendFirst(reinterpret_cast<const char*>(&wire), sizeof wire);
  }
  // Takes the connection and sends the first `size` bytes of an answer.
  void sendFirst(const char* bytes, size_t size) {
    pollfd p{listener, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_EQ(send(peer, bytes, size, 0), static_cast<ssize_t>(size));
  }
  void hangUp() {
    if (peer >= 0) close(peer);
    peer = -1;
  }
  // Whether the program has closed its end, waiting up to waitMs for it.
  bool programClosed(int waitMs) {
    pollfd p{peer, POLLIN, 0};
    char byte;
    return poll(&p, 1, waitMs) == 1 && ::recv(peer, &byte, 1, MSG_DONTWAIT) == 0;
  }
};

// A time server and a program pointed at it with the given settings.
struct Scenario {
  TimeServer server;
  Driver d;
  Scenario(const std::string& serve, const std::string& keys, int32_t showCmd = SW_SHOWNORMAL,
           BOOL clockSettable = TRUE)
      : server(script(serve.c_str())), d(options(keys, showCmd, startServer(server), clockSettable)) {}

  static uint16_t startServer(TimeServer& s) {
    EXPECT_TRUE(s.start()) << s.error();
    return s.port();
  }
  static DriverOptions options(const std::string& keys, int32_t showCmd, uint16_t port,
                               BOOL clockSettable) {
    DriverOptions o;
    o.setSystemTimeResult = clockSettable;
    o.iniText = "[kronsec]\n" + keys + "host=127.0.0.1\nTZ=EST5EDT\nuseTZ=0\nattempts=0\n";
    o.showCmd = showCmd;
    o.timePort = port;
    return o;
  }
  AppState* state() const { return stateOf(d); }
  bool queryRunning() const { return d.host() && state()->sock != INVALID_SOCKET; }
  // Runs until no query runs (or a box waits for the user).
  void finish() {
    EXPECT_TRUE(d.runUntil([this] { return d.exited() || d.box() || !queryRunning(); }));
  }
};

TEST(Query, CalibrationThenTheFinalAnswer) {
  Scenario s("real", "attempts=3\nreportOnly=1\n");
  s.d.tickPerReading(3);
  s.d.start();
  s.finish();
  EXPECT_EQ(s.server.accepted(), 4u);
  std::vector<std::string> shown = s.d.textHistory(IDC_DATE);
  ASSERT_EQ(shown.size(), 5u);
  EXPECT_EQ(shown[0], "Calibrating Net Lag ...");
  for (int i = 1; i <= 3; ++i)
    EXPECT_TRUE(std::regex_match(shown[i], std::regex("Calibrating Lag \\([0-9]+ ms\\)"))) << shown[i];
  EXPECT_EQ(s.state()->calibrateLeft, 0);
  EXPECT_TRUE(s.d.enabled(IDC_GETTIME));
  EXPECT_TRUE(s.d.enabled(IDC_CLOSE));
  EXPECT_TRUE(s.d.focused(IDC_GETTIME));  // Enter and Escape work again
  EXPECT_FALSE(s.d.busyCursorShown());
}

TEST(Query, NoCalibrationMeansOneConnection) {
  Scenario s(fixedAhead(10), "reportOnly=1\n");
  s.d.start();
  s.finish();
  EXPECT_EQ(s.server.accepted(), 1u);
  EXPECT_EQ(s.d.text(IDC_DATE), "Tue Jul 4, 1995");
  EXPECT_EQ(s.d.text(IDC_TIME), "12:00:10");
  EXPECT_EQ(s.d.text(IDC_DIFF), "-10 secs");
  EXPECT_EQ(s.d.text(IDC_LAG), "0 ms");
  EXPECT_EQ(s.d.caption(s.d.dialog()), " - Horavex - 12:00:10");
  EXPECT_EQ(s.d.caption(s.d.host()), " - Horavex - 12:00:10");
  EXPECT_TRUE(s.d.clockSets().empty());
  EXPECT_TRUE(s.d.sounds().empty());
}

const char* const noAnswerFromLoopback = "\r\nkronsec: no answer from host 127.0.0.1\r\n";

TEST(Query, ShortReadsAndResetsAreReportedAndLeaveNoProgress) {
  const struct {
    const char* serve;
    const char* text;  // a pattern: whether the server's close arrived with
                       // the bytes is the network's business
  } rows[] = {
      {"short:0", "\\(the server closed the connection after 0 bytes\\)\r\n"},
      {"short:3", "\\((the server closed the connection after|only) 3 bytes( had arrived when kronsec read)?\\)\r\n"},
      {"reset", " \\(10054\\)\r\nThe virtual circuit was reset by the remote side\r\n"},
  };
  for (const auto& row : rows) {
    Scenario s(row.serve, "attempts=2\n");
    s.d.tickPerReading(5);
    s.d.start();
    s.finish();
    EXPECT_FALSE(s.queryRunning()) << row.serve;
    ASSERT_NE(s.d.box(), nullptr) << row.serve;
    const BoxRecord& box = s.d.boxes().back();
    EXPECT_EQ(box.caption, "Winsock Error") << row.serve;
    EXPECT_EQ(box.owner, s.d.host()) << row.serve;
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION)) << row.serve;
    EXPECT_EQ(box.text.substr(0, std::strlen(noAnswerFromLoopback)), noAnswerFromLoopback) << row.serve;
    EXPECT_TRUE(std::regex_match(box.text.substr(std::strlen(noAnswerFromLoopback)), std::regex(row.text)))
        << row.serve << ": " << box.text;
    EXPECT_FALSE(s.d.enabled(IDC_GETTIME)) << row.serve;  // until the box is answered
    s.d.answer(IDOK);
    EXPECT_EQ(s.d.text(IDC_DATE), "no answer") << row.serve;  // not "Calibrating ..."
    EXPECT_GT(s.state()->readLag, 0) << row.serve;
    EXPECT_EQ(s.state()->calibrateLeft, 2) << row.serve;  // kept for the next Get time
    EXPECT_TRUE(s.d.enabled(IDC_GETTIME)) << row.serve;
    EXPECT_TRUE(s.d.focused(IDC_GETTIME)) << row.serve;
  }
}

// A short answer is known as one once the server closes or the time runs
// out; an answer in pieces is put together.
TEST(Query, AShortAnswerSaysWhetherTheServerClosed) {
  {
    HandServer server;
    Driver d(Scenario::options("", SW_SHOWNORMAL, server.port, TRUE));
    d.start();
    server.sendFirst("\xBC\x17", 2);
    d.run(100);
    EXPECT_EQ(send(server.peer, "\xC2\x00", 2, 0), 2);
    ASSERT_TRUE(d.runUntil([&] { return lastReport().decided; }, 2000));
    EXPECT_TRUE(d.boxes().empty());
    EXPECT_EQ(lastReport().server[0].answer, 3155673600u);
  }
  for (bool closes : {true, false}) {
    HandServer server;
    Driver d(Scenario::options("", SW_SHOWNORMAL, server.port, TRUE));
    d.start();
    server.sendFirst(closes ? "\x01\x02" : "\x01", closes ? 2 : 1);
    if (closes) server.hangUp();
    d.run(100);
    if (!closes) d.advance(answerTimeoutMs);
    ASSERT_TRUE(d.runUntil([&] { return d.box() != nullptr; }, 2000));
    EXPECT_EQ(d.boxes().back().text,
              std::string(noAnswerFromLoopback) +
                  (closes ? "(the server closed the connection after 2 bytes)\r\n"
                          : "(only 1 byte had arrived when the time ran out)\r\n"));
    EXPECT_EQ(lastReport().server[0].failure.serverClosed, closes);
    EXPECT_EQ(lastReport().server[0].use, ServerUse::kSilent);
    d.answer(IDOK);
    EXPECT_EQ(d.text(IDC_DATE), "no answer");
  }
}

// Every way a query can end without an answer shows its box first and then
// gives "&Get time" the keyboard focus back: Enter asks again.
TEST(Query, AfterEveryFailureBoxEnterAsksAgain) {
  const struct {
    const char* name;
    const char* serve;       // the first connection fails, the second answers
    uint32_t waitMs;         // virtual time before the failure shows
    bool selectError;        // the platform reports an error on the socket
  } rows[] = {
      {"the answer timed out", "silent,real", answerTimeoutMs, false},
      {"a socket error", "silent,real", 0, true},
      {"a short read", "short:2,real", 0, false},
      {"a refused connect", "refuse", 0, false},
  };
  for (const auto& row : rows) {
    Scenario s(row.serve, "reportOnly=1\n");
    s.d.start();
    s.d.run(100);
    if (row.selectError) PostMessageA(s.d.dialog(), WM_SOCKET_EVENT, s.state()->sock,
                                      WSAMAKESELECTREPLY(FD_READ, WSAECONNRESET));
    if (row.waitMs) s.d.advance(row.waitMs);
    s.finish();
    ASSERT_NE(s.d.box(), nullptr) << row.name;
    EXPECT_FALSE(s.d.focused(IDC_GETTIME)) << row.name;
    s.d.answer(IDOK);
    EXPECT_EQ(s.d.text(IDC_DATE), "no answer") << row.name;
    EXPECT_TRUE(s.d.focused(IDC_GETTIME)) << row.name;
    TimeServer second(script("real"));
    if (std::string(row.serve) == "refuse") {  // the refusing server holds its port
      ASSERT_TRUE(second.start());
      setTestNetwork(second.port(), true);
    }
    s.d.enter();
    s.finish();
    EXPECT_EQ(s.server.accepted() + second.accepted(), std::string(row.serve) == "refuse" ? 1u : 2u)
        << row.name;
    EXPECT_EQ(s.d.box(), nullptr) << row.name;
    EXPECT_TRUE(std::regex_match(s.d.text(IDC_DATE), std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]+, 20[0-9]{2}")))
        << row.name << ": " << s.d.text(IDC_DATE);
  }
}

TEST(Query, OnlyFourBytesOfALongerAnswerAreRead) {
  Scenario s("long:8", "reportOnly=1\n");  // the real time, then 8 more bytes
  s.d.start();
  s.finish();
  EXPECT_TRUE(std::regex_match(s.d.text(IDC_DATE), std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]+, 20[0-9]{2}")))
      << s.d.text(IDC_DATE);
  EXPECT_TRUE(s.d.boxes().empty());
}

TEST(Query, ARefusedConnectionIsReported) {
  Scenario s("refuse", "attempts=3\n");
  s.d.start();
  ASSERT_NE(s.d.box(), nullptr);
  const BoxRecord& box = s.d.boxes().back();
  EXPECT_EQ(box.caption, "Winsock Error");
  EXPECT_EQ(box.text,
            "\r\nkronsec: could not connect to host 127.0.0.1\r\n (10061)\r\n"
            "The attempt to connect was refused\r\n");
  EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(box.owner, s.d.host());
  s.d.answer(IDOK);
  EXPECT_EQ(s.state()->calibrateLeft, 3);  // the cycle stopped before its first answer
  EXPECT_TRUE(s.d.enabled(IDC_GETTIME));

  // With a server there, Get time carries on with the calibration left.
  TimeServer server(script("real"));
  ASSERT_TRUE(server.start());
  setTestNetwork(server.port(), true);
  s.d.click(IDC_GETTIME);
  s.finish();
  EXPECT_EQ(server.accepted(), 4u);
  EXPECT_EQ(s.state()->calibrateLeft, 0);
}

TEST(Query, AfterARefusedConnectEnterAsksAgain) {
  Scenario s("refuse", "");
  s.d.start();
  // The first refusal comes from the automatic start, the second from Enter
  // on "&Get time", whose disabling took the focus away.
  for (const char* when : {"at the start", "after Enter"}) {
    ASSERT_NE(s.d.box(), nullptr) << when;
    s.d.answer(IDOK);
    EXPECT_TRUE(s.d.focused(IDC_GETTIME)) << when;
    s.d.enter();
  }
  ASSERT_EQ(s.d.boxes().size(), 3u);  // each Enter asked again
  s.d.answer(IDOK);
  TimeServer server(script("real"));
  ASSERT_TRUE(server.start());
  setTestNetwork(server.port(), true);
  s.d.enter();
  s.finish();
  EXPECT_EQ(server.accepted(), 1u);
  EXPECT_TRUE(s.d.focused(IDC_GETTIME));
}

TEST(Query, AnUnknownHostIsReported) {
  Scenario s("real", "host=no.such.host\n");
  s.d.start();
  ASSERT_NE(s.d.box(), nullptr);
  EXPECT_EQ(s.d.boxes().back().text, "\r\nkronsec: no.such.host: unknown host (11001)\r\nunknown error\r\n");
  s.d.answer(IDOK);
  EXPECT_EQ(s.server.accepted(), 0u);
}

TEST(Query, ALongHostIsCutToFitTheMessage) {
  std::string host(510, 'h');
  Scenario s("real", "host=" + host + "\n");
  s.d.start();
  ASSERT_NE(s.d.box(), nullptr);
  const std::string& text = s.d.boxes().back().text;
  EXPECT_EQ(text.substr(0, 11), "\r\nkronsec: ");
  EXPECT_TRUE(contains(text, ": unknown host (11001)\r\nunknown error\r\n")) << text;
  EXPECT_LT(text.size(), 600u);
  s.d.answer(IDOK);
}

TEST(Query, GetTimeAndCloseWaitWhileAQueryRuns) {
  Scenario s("silent", "");
  s.d.start();
  s.d.run(100);
  ASSERT_TRUE(s.queryRunning());
  EXPECT_FALSE(s.d.enabled(IDC_GETTIME));
  EXPECT_FALSE(s.d.enabled(IDC_CLOSE));
  EXPECT_TRUE(s.d.busyCursorShown());
  s.d.click(IDC_GETTIME);
  EXPECT_EQ(s.server.accepted(), 1u);

  // A server that never answers: the query ends after 30 s with a report.
  s.d.advance(29999);
  EXPECT_TRUE(s.queryRunning());
  s.d.advance(1);
  ASSERT_NE(s.d.box(), nullptr);
  EXPECT_FALSE(s.queryRunning());
  EXPECT_EQ(s.d.boxes().back().text,
            "\r\nkronsec: no answer from host 127.0.0.1\r\n (10060)\r\nAttempt to connect timed out\r\n");
  s.d.answer(IDOK);

  // Asked again, Esc stops the query and leaves the dialog; a second closes it.
  s.d.enter();
  ASSERT_TRUE(s.queryRunning());
  s.d.escape();
  EXPECT_FALSE(s.queryRunning());
  EXPECT_TRUE(s.server.waitFinished(2, 2000));
  EXPECT_EQ(s.d.text(IDC_DATE), "no answer");  // Get time shows no progress to replace
  EXPECT_TRUE(s.d.enabled(IDC_CLOSE));
  EXPECT_EQ(s.d.boxes().size(), 1u);
  s.d.escape();
  EXPECT_TRUE(s.d.exited());
  EXPECT_EQ(s.d.exitCode(), 1);  // the last query got no answer
}

TEST(Query, AutoCloseEndsTheDialogEvenMidQuery) {
  Scenario s("silent", "");
  s.d.start();
  s.d.run(100);
  ASSERT_TRUE(s.queryRunning());
  s.d.click(IDC_AUTOCLOSE);
  s.d.advance(5000);
  EXPECT_EQ(s.d.dialog(), nullptr);
  s.d.advance(5000);
  EXPECT_TRUE(s.d.exited());
  EXPECT_TRUE(s.server.waitFinished(1, 2000));  // the exit closed the open socket
}

TEST(Query, StartedMinimisedTheCycleEndsTheProgram) {
  Scenario s("real", "attempts=3\nreportOnly=1\n", SW_SHOWMINNOACTIVE);
  s.d.start();
  EXPECT_TRUE(s.d.runUntil([&] { return s.d.dialog() == nullptr; }));
  EXPECT_EQ(s.server.accepted(), 4u);
  EXPECT_TRUE(s.d.iconic(s.d.host()));
  EXPECT_EQ(s.d.caption(s.d.host()).substr(0, 13), " - Horavex - ");
  s.d.advance(4999);
  EXPECT_FALSE(s.d.exited());
  s.d.advance(1);
  EXPECT_TRUE(s.d.exited());
  EXPECT_EQ(s.d.exitCode(), 0);
}

struct MinimisedRow {
  const char* name;
  bool platformShows;   // the dialog manager shows it normally at its first idle
  bool personRestores;  // the person restores it during the cycle
  bool endsByItself;
};

TEST(Query, StartedMinimisedOnlyThePersonKeepsTheDialog) {
  const MinimisedRow rows[] = {
      {"the dialog manager shows it normally", true, false, true},
      {"the person restores it", false, true, false},
      {"the dialog manager, then the person", true, true, false},
  };
  for (const MinimisedRow& row : rows) {
    // Answers that take 100 ms: the cycle is still running when the
    // dialog manager first finds the queue empty.
    Scenario s("delay:100:real", "attempts=3\nreportOnly=1\n", SW_SHOWMINNOACTIVE);
    s.d.start();
    ASSERT_TRUE(s.queryRunning()) << row.name;
    if (row.platformShows) s.d.showNormally();
    EXPECT_TRUE(s.d.iconic(s.d.dialog())) << row.name;
    if (row.personRestores) s.d.restore();
    EXPECT_EQ(s.d.iconic(s.d.dialog()), !row.personRestores) << row.name;
    EXPECT_TRUE(s.d.runUntil([&] { return s.d.dialog() == nullptr || s.server.finished() == 4; }));
    s.d.run(50);
    EXPECT_EQ(s.server.accepted(), 4u) << row.name;
    EXPECT_EQ(s.d.dialog() == nullptr, row.endsByItself) << row.name;
    if (!row.endsByItself) {
      EXPECT_TRUE(s.d.enabled(IDC_GETTIME)) << row.name;  // open, the cycle over
    }
  }
}

struct UnattendedRow {
  const char* name;
  const char* serve;
  const char* keys;
  BOOL clockSettable;
  int32_t showCmd;
  uint32_t boxAfterMs;   // virtual time before the box opens
  const char* caption;
  enum Person { kNobody, kRestores, kMinimises } person;  // while the box is open
  bool closesItself;
  size_t clockCalls;     // the Big Change question's Cancel makes none
  int status;            // the program's exit status: how the request ended
};

// A box of a minimised dialog closes itself 30 s after it opened with its
// safe answer, and the run ends; in front of a person it waits.
TEST(Query, UnattendedBoxesCloseThemselvesAndTheRunEnds) {
  const char* overLimit = "maxAdjust=60\nadjOpt=0\n";
  const UnattendedRow rows[] = {
      {"a silent server", "silent", "", TRUE, SW_SHOWMINNOACTIVE, answerTimeoutMs,
       "Winsock Error", UnattendedRow::kNobody, true, 0, 1},
      {"a refused connect", "refuse", "", TRUE, SW_SHOWMINNOACTIVE, 0, "Winsock Error",
       UnattendedRow::kNobody, true, 0, 1},
      {"an unknown host", "real", "host=no.such.host\n", TRUE, SW_SHOWMINNOACTIVE, 0,
       "Winsock Error", UnattendedRow::kNobody, true, 0, 1},
      {"a short answer", "short:2", "", TRUE, SW_SHOWMINNOACTIVE, 0, "Winsock Error",
       UnattendedRow::kNobody, true, 0, 1},
      {"the Big Change question", "ahead:100", overLimit, TRUE, SW_SHOWMINNOACTIVE, 0,
       "Big Change", UnattendedRow::kNobody, true, 0, 4},
      {"a refused clock setting", "ahead:10", "", FALSE, SW_SHOWMINNOACTIVE, 0, "kronsec Error",
       UnattendedRow::kNobody, true, 1, 3},
      {"a person restores the dialog", "silent", "", TRUE, SW_SHOWMINNOACTIVE, answerTimeoutMs,
       "Winsock Error", UnattendedRow::kRestores, false, 0, 1},
      {"a person at the dialog", "ahead:100", overLimit, TRUE, SW_SHOWNORMAL, 0, "Big Change",
       UnattendedRow::kNobody, false, 0, 0},
      {"a person minimises the dialog", "silent", "", TRUE, SW_SHOWNORMAL, answerTimeoutMs,
       "Winsock Error", UnattendedRow::kMinimises, true, 0, 1},
  };
  for (const UnattendedRow& row : rows) {
    std::string serve = row.serve;
    if (serve.compare(0, 6, "ahead:") == 0) serve = fixedAhead(std::stoi(serve.substr(6)));
    Scenario s(serve, row.keys, row.showCmd, row.clockSettable);
    s.d.start();
    s.d.run(100);
    if (row.boxAfterMs) s.d.advance(row.boxAfterMs);
    s.finish();
    ASSERT_NE(s.d.box(), nullptr) << row.name;
    EXPECT_EQ(s.d.boxes().back().caption, row.caption) << row.name;
    if (row.person == UnattendedRow::kRestores) s.d.restore(s.d.dialog());
    if (row.person == UnattendedRow::kMinimises) s.d.minimize(s.d.dialog());
    s.d.advance(unattendedBoxMs - 1);
    EXPECT_NE(s.d.box(), nullptr) << row.name;
    s.d.advance(1);
    if (!row.closesItself) {
      s.d.advance(2 * unattendedBoxMs);
      EXPECT_NE(s.d.box(), nullptr) << row.name << ": the box waits for the person";
      continue;
    }
    EXPECT_EQ(s.d.box(), nullptr) << row.name;
    EXPECT_EQ(s.d.dialog(), nullptr) << row.name << ": the unattended run ends";
    EXPECT_EQ(s.d.clockSets().size(), row.clockCalls) << row.name;
    s.d.advance(closeDelayMs);
    EXPECT_TRUE(s.d.exited()) << row.name;
    EXPECT_EQ(s.d.exitCode(), row.status) << row.name;
  }
}

// The Diff field is 41 dialog units wide: a long number keeps its digits
// and gives up its unit's letters; the lines a script reads keep " secs".
TEST(Query, TheDiffFieldNeverCutsItsNumber) {
  const struct {
    bool precise;
    int64_t diffUs;
    const char* shown;
  } rows[] = {
      {false, -3600000000, "-3600 secs"},        {false, -864000000000, "-864000 secs"},
      {false, 86400000000000, "86400000 s"},     {false, -864000000000000, "-864000000 s"},
      {false, -2147483648000000, "-2147483648"}, {true, 437000, "0.437 secs"},
      {true, -3600250000, "-3600.250 s"},        {true, -123456789000, "-123456.789"},
  };
  for (const auto& row : rows) {
    RunReport r{};
    r.decided = r.diffKnown = true;
    r.precise = row.precise;
    r.diffUs = row.diffUs;
    r.localSecs = static_cast<int32_t>(row.diffUs / 1000000);  // a server at 0
    EXPECT_STREQ(resultTexts(r, false).diff, row.shown) << row.shown;
    EXPECT_TRUE(std::string(resultTexts(r, true).diff).find(" secs") != std::string::npos) << row.shown;
  }
}

TEST(Query, AResultSetsTheClockInUtcAndSoundsReset) {
  Scenario s(fixedAhead(100), "");
  s.d.start();
  s.finish();
  ASSERT_EQ(s.d.clockSets().size(), 1u);
  const SYSTEMTIME& t = s.d.clockSets()[0];
  EXPECT_EQ(t.wYear, 1995);
  EXPECT_EQ(t.wMonth, 7);
  EXPECT_EQ(t.wDay, 4);
  EXPECT_EQ(t.wHour, 16);  // 12:01:40 EDT is 16:01:40 UTC
  EXPECT_EQ(t.wMinute, 1);
  EXPECT_EQ(t.wSecond, 40);
  EXPECT_EQ(t.wMilliseconds, 0);
  ASSERT_EQ(s.d.sounds().size(), 1u);
  EXPECT_EQ(s.d.sounds()[0].name, "kronsecReset");
  EXPECT_EQ(s.d.sounds()[0].flags, static_cast<UINT>(SND_ASYNC));
  EXPECT_EQ(s.d.text(IDC_DIFF), "-100 secs");
}

TEST(Query, EqualValuesSetNothingAndSoundNothing) {
  Scenario s(fixedAhead(0), "");
  s.d.start();
  s.finish();
  EXPECT_TRUE(s.d.clockSets().empty());
  EXPECT_TRUE(s.d.sounds().empty());
  EXPECT_EQ(s.d.text(IDC_DIFF), "0 secs");
}

TEST(Query, ARefusedClockSettingIsReportedAndTheRestGoesOn) {
  // The virtual clock refuses, as an unprivileged process's would.
  Scenario s(fixedAhead(5), "", SW_SHOWNORMAL, FALSE);
  s.d.start();
  s.finish();
  ASSERT_NE(s.d.box(), nullptr);
  EXPECT_EQ(s.d.boxes().back().caption, "kronsec Error");
  EXPECT_EQ(s.d.boxes().back().text, "Error setting system time");
  EXPECT_EQ(s.d.boxes().back().type, static_cast<UINT>(MB_OK));
  s.d.answer(IDOK);
  ASSERT_EQ(s.d.sounds().size(), 1u);
  EXPECT_EQ(s.d.sounds()[0].name, "kronsecReset");
  EXPECT_EQ(s.d.text(IDC_TIME), "12:00:05");
}

struct OverLimit {
  const char* name;
  int button;
  uint32_t promptMs;
  bool setsClock;
  const char* diff;
  const char* action;
  int32_t held;  // the change was not fully made: what the exit status tells
};

TEST(Query, OverTheLimitTheUserIsAsked) {
  const OverLimit rows[] = {
      {"yes", IDYES, 0, true, "-100 secs", "accept", 0},
      {"no", IDNO, 0, true, "-60 secs", "partial", 1},
      {"cancel", IDCANCEL, 0, false, "0 secs", "ignore", 1},
      {"yes after 7.9 s", IDYES, 7900, true, "-100 secs", "accept", 0},
  };
  for (const OverLimit& row : rows) {
    Scenario s(fixedAhead(100), "maxAdjust=60\nlogOpts=2\nlogPath=" + std::string("/tmp/kronsec-q-") +
                                    row.name + ".log\n");
    removeFile(std::string("/tmp/kronsec-q-") + row.name + ".log");
    s.d.start();
    s.finish();
    ASSERT_NE(s.d.box(), nullptr) << row.name;
    ASSERT_EQ(s.d.sounds().size(), 1u);
    EXPECT_EQ(s.d.sounds()[0].name, "kronsecMaxAdj");
    EXPECT_EQ(s.d.sounds()[0].flags, static_cast<UINT>(SND_SYNC));
    const BoxRecord& box = s.d.boxes().back();
    EXPECT_EQ(box.caption, "Big Change");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_YESNOCANCEL | MB_ICONEXCLAMATION));
    EXPECT_EQ(box.owner, s.d.dialog());
    EXPECT_EQ(box.text,
              "The difference between the time returned and the current local time (100 secs) is "
              "greater than the specified maximum adjustment (60 secs).  Do you want to override "
              "this maximum?");
    if (row.promptMs) s.d.advance(row.promptMs);
    s.d.answer(row.button);
    s.finish();
    EXPECT_EQ(s.d.clockSets().size(), row.setsClock ? 1u : 0u) << row.name;
    EXPECT_EQ(s.d.text(IDC_DIFF), row.diff) << row.name;
    EXPECT_TRUE(lastReport().decided) << row.name;
    EXPECT_EQ(changeHeld(lastReport()), row.held != 0) << row.name;
    std::string log = readFileBytes(std::string("/tmp/kronsec-q-") + row.name + ".log");
    EXPECT_TRUE(contains(log, std::string("\t") + row.action + "\r\n")) << log;
    if (row.promptMs) {  // both clocks moved on by the 7 whole seconds
      EXPECT_EQ(s.d.text(IDC_TIME), "12:01:47");
    }
    removeFile(std::string("/tmp/kronsec-q-") + row.name + ".log");
  }
}

TEST(Query, AFailedLogWriteIsReported) {
  Scenario s(fixedAhead(0), "logOpts=1\nlogPath=/nonexistent-dir/k.log\n");
  s.d.start();
  s.finish();
  ASSERT_NE(s.d.box(), nullptr);
  EXPECT_EQ(s.d.boxes().back().caption, "Log Error");
  EXPECT_EQ(s.d.boxes().back().text, "Error writing to log file /nonexistent-dir/k.log");
  s.d.answer(IDOK);
  EXPECT_EQ(s.d.text(IDC_TIME), "12:00:00");
}

TEST(Query, UseDstIsReadWhenTheAnswerArrives) {
  Scenario s(fixedAhead(0), "useDST=1\nreportOnly=1\n");
  s.d.start();
  s.finish();
  s.d.click(IDC_USEDST);  // unmarked: a daylight zone's answer loses an hour
  s.d.click(IDC_GETTIME);
  s.finish();
  EXPECT_EQ(s.state()->useDST, 0);
  EXPECT_EQ(s.d.text(IDC_TIME), "11:00:00");
  s.d.click(IDC_CLOSE);
  EXPECT_TRUE(contains(readFileBytes(s.d.configPath("orv.ini")), "useDST=0"));
}

TEST(Query, AnOpenBoxHoldsTheQueryUntilItIsAnswered) {
  for (bool serverCloses : {true, false}) {
    const char* name = serverCloses ? "the server closes" : "the server holds the connection";
    HandServer server;
    Driver d(Scenario::options("maxAdjust=60\nadjOpt=0\nautoClose=1\n", SW_SHOWNORMAL, server.port, TRUE));
    d.start();
    server.answer(localNow + epoch1900 + 100);
    ASSERT_TRUE(d.runUntil([&] { return d.box() != nullptr; })) << name;
    SOCKET sock = stateOf(d)->sock;
    if (serverCloses) server.hangUp();
    d.run(200);  // time enough for a close to reach a program that still listened
    // What Windows may still deliver from before the query stopped listening.
    PostMessageA(d.dialog(), WM_SOCKET_EVENT, sock, FD_READ);
    PostMessageA(d.dialog(), WM_TIMER, answerTimerId, 0);
    d.advance(60000);
    ASSERT_NE(d.box(), nullptr) << name;
    EXPECT_EQ(d.boxes().size(), 1u) << name;  // "Big Change" alone: no "no answer" box
    EXPECT_NE(d.dialog(), nullptr) << name;    // Auto Close has not ended it
    EXPECT_FALSE(d.enabled(IDC_GETTIME)) << name;
    EXPECT_FALSE(d.enabled(IDC_CLOSE)) << name;
    EXPECT_EQ(stateOf(d)->sock, sock) << name;
    EXPECT_EQ(socketCloseCalls(), 0u) << name;
    EXPECT_FALSE(server.programClosed(0)) << name;

    d.answer(IDYES);
    EXPECT_EQ(d.clockSets().size(), 1u) << name;
    EXPECT_EQ(stateOf(d)->sock, INVALID_SOCKET) << name;
    EXPECT_TRUE(d.enabled(IDC_GETTIME)) << name;
    EXPECT_EQ(socketCloseCalls(), 1u) << name;
    EXPECT_TRUE(serverCloses || server.programClosed(2000)) << name;
    d.advance(4999);  // Auto Close counts from the answer
    EXPECT_NE(d.dialog(), nullptr) << name;
    d.advance(1);
    EXPECT_EQ(d.dialog(), nullptr) << name;
    EXPECT_EQ(socketCloseCalls(), 1u) << name;
  }
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

struct HeldBoxAttempt {
  const char* name;
  void (*act)(Driver& d);
};

// With -p the run is report-only whatever the settings say: Report only
// shows ticked and disabled, no click, Alt+R or r (the focus on Get time)
// unticks it, every Get time logs "report" and leaves the clock, and the
// settings file keeps its own value.
TEST(Query, ReportOnlyForTheRunCannotBeUnticked) {
  const HeldBoxAttempt rows[] = {
      {"click", [](Driver& d) { d.click(IDC_REPORTONLY); }},
      {"Alt+R", [](Driver& d) { d.mnemonic('r'); }},
      {"r", [](Driver& d) { d.keys("r"); }},
  };
  for (const HeldBoxAttempt& row : rows) {
    std::string log = "/tmp/kronsec-runonly-" + std::to_string(&row - rows) + ".log";
    removeFile(log);
    Scenario s(fixedAhead(100), "reportOnly=0\nlogOpts=1\nlogPath=" + log + "\n");
    makeRunReportOnly();
    s.d.start();
    s.finish();
    EXPECT_TRUE(s.d.checked(IDC_REPORTONLY)) << row.name;
    EXPECT_FALSE(s.d.enabled(IDC_REPORTONLY)) << row.name;
    EXPECT_TRUE(s.d.focused(IDC_GETTIME)) << row.name;
    row.act(s.d);
    EXPECT_TRUE(s.d.checked(IDC_REPORTONLY)) << row.name;
    EXPECT_FALSE(s.d.enabled(IDC_REPORTONLY)) << row.name;
    s.d.click(IDC_GETTIME);
    s.finish();
    EXPECT_TRUE(s.d.clockSets().empty()) << row.name;
    EXPECT_EQ(countOf(readFileBytes(log), "\treport\r\n"), 2u) << row.name;
    s.d.click(IDC_CLOSE);
    EXPECT_TRUE(contains(readFileBytes(s.d.configPath("orv.ini")), "reportOnly=0")) << row.name;
    removeFile(log);
  }
}

struct RangeRow {
  uint32_t value;      // the server's count of seconds since 1900
  const char* keys;
  const char* box;     // the caption of the box the answer brings, "" for none
  const char* setTo;   // the clock set, UTC, "" when it is left alone
  const char* action;  // in the log line
};

TEST(Query, AnAnswerOutsideTheClocksRangeNeverSetsIt) {
  const RangeRow rows[] = {
      {2147483647u, "", "kronsec Error", "", "ignore"},  // 1968-01-20
      {2208988800u, "", "kronsec Error", "", "ignore"},  // 1970-01-01 00:00:00 UTC: 1969 in EST
      {2208988799u, "", "kronsec Error", "", "ignore"},
      {2147483647u, "maxAdjust=60\n", "kronsec Error", "", "ignore"},
      {2147483647u, "reportOnly=1\n", "", "", "report"},
      {86400u, "", "", "2036-02-08 06:28:16", "reset"},
      {4294967295u, "", "", "2036-02-07 06:28:15", "reset"},
      {61505151u, "", "", "2038-01-19 03:14:07", "reset"},
      {86400u, "maxAdjust=60\n", "Big Change", "2036-02-08 06:28:16", "accept"},
  };
  for (const RangeRow& row : rows) {
    std::string name = std::to_string(row.value) + " " + row.keys;
    std::string log = "/tmp/kronsec-range-" + std::to_string(&row - rows) + ".log";
    removeFile(log);
    Scenario s("fixed:" + std::to_string(row.value), std::string(row.keys) + "logOpts=1\nlogPath=" + log + "\n");
    s.d.start();
    s.finish();
    bool refused = std::string(row.box) == "kronsec Error";
    EXPECT_EQ(s.d.boxes().empty() ? "" : s.d.boxes().back().caption, row.box) << name;
    if (refused) {
      const BoxRecord& box = s.d.boxes().back();
      EXPECT_EQ(box.text,
                "The time from 127.0.0.1 is outside the range kronsec can set (1970 to 2038). "
                "The clock was not changed.");
      EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
      EXPECT_EQ(box.owner, s.d.dialog());
      EXPECT_TRUE(s.d.sounds().empty()) << name;  // no limit policy ran
    }
    if (s.d.box()) s.d.answer(refused ? IDOK : IDYES);
    s.finish();
    EXPECT_FALSE(s.queryRunning()) << name;
    ASSERT_EQ(s.d.clockSets().size(), row.setTo[0] ? 1u : 0u) << name;
    EXPECT_EQ(row.setTo[0] ? utcText(s.d.clockSets()[0]) : "", row.setTo) << name;
    EXPECT_EQ(clockNotSet(lastReport()), refused) << name;
    if (refused) {
      EXPECT_EQ(s.d.text(IDC_DATE), "(outside the clock's range)") << name;
    }
    EXPECT_TRUE(contains(readFileBytes(log), std::string("\t") + row.action + "\r\n")) << name;
    removeFile(log);
  }
}

}  // namespace

// On Linux the clock judged is the kernel's UTC: a correct clock reads Diff 0
// whatever the machine's zone and the place chosen, and what is set is UTC.
// Each row: the machine's zone (a POSIX TZ string, as /etc/localtime would
// give), a moment in UTC, the place's TZ text and the two corrections.
struct UtcRow {
  const char* name;
  const char* machineZone;
  int64_t utc;  // seconds since 1970
  const char* tz;
  int add30;
  int useDST;
};

const UtcRow utcRows[] = {
    // The places whose TZ text misses their civil time, in December.
    {"Honolulu (Hawaii)", "HST10", 1797336000, "HST11HDT", 0, 1},        // 2026-12-15 12:00
    {"Kolkata (Delhi)", "IST-5:30", 1797336000, "xST-5xDT", 0, 1},
    {"Kolkata, add 30", "IST-5:30", 1797336000, "xST-5xDT", 1, 1},
    {"Istanbul", "<+03>-3", 1797336000, "xST-2xDT", 0, 1},
    {"Madrid", "CET-1CEST,M3.5.0,M10.5.0/3", 1797336000, "xST-2xDT", 0, 1},
    // Daylight time where none is kept, in July; and with it unticked.
    {"Tokyo", "JST-9", 1815912000, "xST-9xDT", 0, 1},                    // 2027-07-18 12:00
    {"Tokyo, no daylight", "JST-9", 1815912000, "xST-9xDT", 0, 0},
    {"Phoenix (Denver)", "MST7", 1815912000, "MST7MDT", 0, 1},
    {"Brisbane", "AEST-10", 1815912000, "EST-10EDT", 0, 1},
    {"Johannesburg", "SAST-2", 1815912000, "xST-2xDT", 0, 1},
    // New York between the real change (March 14) and the fixed rule's.
    {"New York, March 20", "EST5EDT,M3.2.0,M11.1.0", 1805544000, "EST5EDT", 0, 1},
    // The edges of the real zone and of the fixed rule (first Sunday of
    // April, last of October, at 02:00 local).
    {"New York, before the real change", "EST5EDT,M3.2.0,M11.1.0", 1805007599, "EST5EDT", 0, 1},
    {"New York, at the real change", "EST5EDT,M3.2.0,M11.1.0", 1805007600, "EST5EDT", 0, 1},
    {"New York, before the fixed rule", "EST5EDT,M3.2.0,M11.1.0", 1806821999, "EST5EDT", 0, 1},
    {"New York, at the fixed rule", "EST5EDT,M3.2.0,M11.1.0", 1806822000, "EST5EDT", 0, 1},
    {"New York, fixed rule's end", "EST5EDT,M3.2.0,M11.1.0", 1824966000, "EST5EDT", 0, 1},
    {"New York, real end", "EST5EDT,M3.2.0,M11.1.0", 1825567200, "EST5EDT", 0, 1},
    {"Tokyo, New Year", "JST-9", 1830297599, "xST-9xDT", 0, 1},           // 2027-12-31 23:59:59
};

std::string utcKeys(const UtcRow& r, const char* policy) {
  return std::string("TZ=") + r.tz + "\nadd30=" + std::to_string(r.add30) +
         "\nuseDST=" + std::to_string(r.useDST) + "\n" + policy;
}

DriverOptions utcOptions(const UtcRow& r, const std::string& keys, uint16_t port) {
  DriverOptions o;
  o.machineZone = r.machineZone;
  o.utcSeconds = r.utc;
  // The first of a key wins: the row's TZ over the base's.
  o.iniText = "[kronsec]\n" + keys + "host=127.0.0.1\nuseTZ=0\nattempts=0\nreportOnly=0\n";
  o.timePort = port;
  return o;
}

std::string fixedUtc(int64_t utc) {
  return "fixed:" + std::to_string(static_cast<uint32_t>(utc) + epoch1900);
}

std::string utcTextOf(int64_t utc) {
  time_t t = static_cast<time_t>(utc);
  tm f{};
  gmtime_r(&t, &f);
  SYSTEMTIME s{static_cast<WORD>(f.tm_year + 1900), static_cast<WORD>(f.tm_mon + 1), 0,
               static_cast<WORD>(f.tm_mday), static_cast<WORD>(f.tm_hour),
               static_cast<WORD>(f.tm_min), static_cast<WORD>(f.tm_sec), 0};
  return utcText(s);
}

// Runs one row against a server offset seconds ahead of the true UTC,
// answering a Big Change question with button; returns the clock sets.
std::vector<std::string> utcRun(const UtcRow& r, int32_t offset, const char* policy, int button,
                                std::string* diff) {
  TimeServer server(script(fixedUtc(r.utc + offset).c_str()));
  EXPECT_TRUE(server.start()) << server.error();
  Driver d(utcOptions(r, utcKeys(r, policy), server.port()));
  d.start();
  auto running = [&] {
    AppState* st = stateOf(d);
    return d.host() && st->sock != INVALID_SOCKET;
  };
  EXPECT_TRUE(d.runUntil([&] { return d.box() || !running(); })) << r.name;
  if (d.box()) {
    EXPECT_EQ(d.boxes().back().caption, "Big Change") << r.name;
    d.answer(button);
    d.run();
  }
  *diff = d.text(IDC_DIFF);
  std::vector<std::string> sets;
  for (const SYSTEMTIME& t : d.clockSets()) sets.push_back(utcText(t));
  return sets;
}

TEST(Query, LinuxJudgesTheKernelsUtcWhateverTheZone) {
  for (const UtcRow& r : utcRows) {
    std::string diff;
    EXPECT_EQ(utcRun(r, 0, "", IDCANCEL, &diff), std::vector<std::string>{}) << r.name;
    EXPECT_EQ(diff, "0 secs") << r.name;
    // 120 s ahead, limit 60, answered No: UTC + 60 exactly.
    EXPECT_EQ(utcRun(r, 120, "maxAdjust=60\nadjOpt=0\n", IDNO, &diff),
              std::vector<std::string>{utcTextOf(r.utc + 60)})
        << r.name;
    EXPECT_EQ(diff, "-60 secs") << r.name;
    // Accepted: the server's UTC exactly.
    EXPECT_EQ(utcRun(r, 120, "maxAdjust=60\nadjOpt=2\n", IDYES, &diff),
              std::vector<std::string>{utcTextOf(r.utc + 120)})
        << r.name;
    EXPECT_EQ(diff, "-120 secs") << r.name;
  }
}

// ---- what reaches the clock and the kernel ------------------------------------

namespace {
DriverOptions clockOptions(const std::string& keys, uint16_t port) {
  DriverOptions o;
  o.iniText = "[kronsec]\n" + keys + "host=127.0.0.1\nTZ=EST5EDT\nuseTZ=0\nattempts=0\n";
  o.timePort = port;
  return o;
}

// Runs a query against a server `ahead` seconds ahead of the driver's clock,
// answering a Big Change question with button; returns the clock calls.
std::vector<std::string> clockCallsOf(DriverOptions o, const std::string& serve, int button = 0) {
  TimeServer server(script(serve.c_str()));
  EXPECT_TRUE(server.start()) << server.error();
  o.timePort = server.port();
  Driver d(o);
  d.start();
  EXPECT_TRUE(d.runUntil([&] { return d.box() || !(d.host() && stateOf(d)->sock != INVALID_SOCKET); }));
  if (d.box() && d.boxes().back().caption == "Big Change") d.answer(button);
  if (d.box()) d.answer(IDOK);
  d.run();
  return d.clockCalls();
}

using Calls = std::vector<std::string>;
}  // namespace

// After every change of the clock the kernel is told it is synchronised:
// STA_UNSYNC cleared, the error one second plus the lag (whole seconds),
// plus what a partial change left; the maximum error 100 ms more. Nothing
// in report-only or after a failed set; a refusal of the news is a warning.
TEST(ClockCalls, TheKernelIsToldAfterEveryChange) {
  struct Row {
    const char* name;
    const char* keys;
    int32_t ahead;
    int button;
    BOOL settable;
    bool statusRefused;
    Calls calls;
    int32_t notTold;
  } rows[] = {
      {"a step", "", 100, 0, TRUE, false,
       {"set 1995-07-04 16:01:40.000", "read", "status unsync=0 esterror=1000000 maxerror=1100000"}, 0},
      {"a step back", "", -5, 0, TRUE, false,
       {"set 1995-07-04 15:59:55.000", "read", "status unsync=0 esterror=1000000 maxerror=1100000"}, 0},
      {"accepted over the limit", "maxAdjust=60\n", 100, IDYES, TRUE, false,
       {"set 1995-07-04 16:01:40.000", "read", "status unsync=0 esterror=1000000 maxerror=1100000"}, 0},
      {"a partial change leaves 40 s", "maxAdjust=60\n", 100, IDNO, TRUE, false,
       {"set 1995-07-04 16:01:00.000", "read", "status unsync=0 esterror=41000000 maxerror=41100000"}, 0},
      {"report-only", "reportOnly=1\n", 100, 0, TRUE, false, {}, 0},
      {"held back", "maxAdjust=60\n", 100, IDCANCEL, TRUE, false, {}, 0},
      {"nothing to change", "", 0, 0, TRUE, false, {}, 0},
      {"a failed set", "", 100, 0, FALSE, false, {"set 1995-07-04 16:01:40.000"}, 0},
      {"the news refused", "", 100, 0, TRUE, true,
       {"set 1995-07-04 16:01:40.000", "read", "status unsync=0 esterror=1000000 maxerror=1100000"}, 1},
  };
  for (const Row& r : rows) {
    DriverOptions o = clockOptions(r.keys, 0);
    o.setSystemTimeResult = r.settable;
    o.kernelStatusRefused = r.statusRefused;
    EXPECT_EQ(clockCallsOf(o, fixedAhead(r.ahead), r.button), r.calls) << r.name;
    EXPECT_EQ(!kernelStatusLine(lastReport()).empty(), r.notTold != 0) << r.name;
    EXPECT_EQ(clockNotSet(lastReport()), !r.settable) << r.name;
  }
}

// Precise mode's changes with slew on: below half a second the kernel makes
// them gradually (adjtime's request), larger ones step; the kernel's news
// follows either, its error counting what a slew has still to make. The
// engine alone, on the driver's virtual clock.
TEST(ClockCalls, SmallPreciseChangesAreSlewed) {
  struct Row {
    const char* name;
    int32_t slew, reportOnly;
    int64_t offsetUs;
    bool slewed;
    Calls calls;
  } rows[] = {
      {"0.2 s slewed", 1, 0, 200000, true,
       {"slew +200000 us", "read", "status unsync=0 esterror=200800 maxerror=300800"}},
      {"-0.2 s slewed", 1, 0, -200000, true,
       {"slew -200000 us", "read", "status unsync=0 esterror=200800 maxerror=300800"}},
      {"0.499 s slewed", 1, 0, 499000, true,
       {"slew +499000 us", "read", "status unsync=0 esterror=499800 maxerror=599800"}},
      {"0.5 s stepped", 1, 0, 500000, false,
       {"set 1995-07-04 16:00:00.500", "read", "status unsync=0 esterror=800 maxerror=100800"}},
      {"0.7 s stepped", 1, 0, 700000, false,
       {"set 1995-07-04 16:00:00.700", "read", "status unsync=0 esterror=800 maxerror=100800"}},
      {"3 s stepped", 1, 0, 3000000, false,
       {"set 1995-07-04 16:00:03.000", "read", "status unsync=0 esterror=800 maxerror=100800"}},
      {"-0.2 s without slew steps", 0, 0, -200000, false,
       {"set 1995-07-04 15:59:59.800", "read", "status unsync=0 esterror=800 maxerror=100800"}},
      {"report-only untouched", 1, 1, 200000, false, {}},
  };
  for (const Row& r : rows) {
    Driver d;  // its virtual clock: 1995-07-04 16:00:00.000 UTC
    const char* zone = "TZ=xST0";
    envInitFrom(&zone, 1);
    AppState s{};
    s.useDST = 1;
    s.precise = 1;
    s.slew = r.slew;
    s.reportOnly = r.reportOnly;
    PreciseOffset found{r.offsetUs, 800, r.offsetUs - 800, r.offsetUs + 800};
    AnswerDecision a = decideAnswer(&s, 0, &found);
    ClockChange change{};
    if (a.d.setsClock) change = changeClock(a);
    EXPECT_EQ(d.clockCalls(), r.calls) << r.name;
    EXPECT_EQ(change.slewed, r.slewed) << r.name;
    EXPECT_EQ(change.made, !r.calls.empty()) << r.name;
  }
}

// A local clock that cannot be read (past 2038) against a server in 2026:
// the question names no difference, nothing shows or logs a time made up
// from it, whatever the answer and however long it took, and the usual
// decision stands (No leaves the clock alone, Yes sets the server's time).
TEST(UnreadableClock, NothingIsMadeUpFromIt) {
  constexpr int64_t in2040 = 2208988800;  // 2040-01-01 00:00:00 UTC
  constexpr uint32_t server2026 = 1796675597u;
  struct Row {
    const char* name;
    const char* keys;
    int32_t showCmd;
    int button;        // the question's answer, 0 when none is asked
    const char* date;  // the Date line after the answer
    const char* action;
    const char* set;   // the clock set, "" for none
  } rows[] = {
      {"Cancel", "maxAdjust=60\n", SW_SHOWNORMAL, IDCANCEL, "(local clock unreadable)", "ignore", ""},
      {"No", "maxAdjust=60\n", SW_SHOWNORMAL, IDNO, "(local clock unreadable)", "ignore", ""},
      {"Yes", "maxAdjust=60\n", SW_SHOWNORMAL, IDYES, "Mon Dec 7, 2026", "accept",
       "set 2026-12-07 20:33:20.000"},
      {"no limit", "", SW_SHOWNORMAL, 0, "Mon Dec 7, 2026", "reset", "set 2026-12-07 20:33:17.000"},
      {"headless", "maxAdjust=60\n", SW_SHOWMINNOACTIVE, IDCANCEL, "(local clock unreadable)",
       "ignore", ""},
  };
  for (const Row& r : rows) {
    std::string log = "/tmp/kronsec-unreadable-" + std::to_string(&r - rows) + ".log";
    removeFile(log);
    TimeServer server(script(("fixed:" + std::to_string(server2026 + epoch1900)).c_str()));
    ASSERT_TRUE(server.start()) << server.error();
    DriverOptions o;
    o.utcSeconds = in2040;
    o.showCmd = r.showCmd;
    o.timePort = server.port();
    // East of UTC, where -1 would break down to 1970-01-01 00:59:59.
    o.iniText = std::string("[kronsec]\n") + r.keys + "logOpts=2\nlogPath=" + log +
                "\nhost=127.0.0.1\nTZ=xST-1\nuseTZ=0\nattempts=0\n";
    Driver d(o);
    d.start();
    ASSERT_TRUE(d.runUntil([&] { return d.box() || d.exited() || stateOf(d)->sock == INVALID_SOCKET; }))
        << r.name;
    if (r.button) {
      ASSERT_NE(d.box(), nullptr) << r.name;
      EXPECT_EQ(d.boxes().back().text,
                "The difference between the time returned and the current local time (unknown: "
                "the local clock cannot be read) is greater than the specified maximum "
                "adjustment (60 secs).  Do you want to override this maximum?")
          << r.name;
      d.advance(3000);  // the question took 3 s
      d.answer(r.button);
      d.run();
    }
    std::string shown = lastReport().decided ? "" : "no answer";
    for (int id : {IDC_DATE, IDC_TIME, IDC_DIFF}) {
      std::vector<std::string> texts = d.textHistory(id);
      shown += (texts.empty() ? "" : texts.back()) + "|";
    }
    EXPECT_EQ(d.textHistory(IDC_DATE).back(), r.date) << r.name;
    EXPECT_EQ(d.textHistory(IDC_DIFF).back(), "unknown") << r.name;
    std::string line = readFileBytes(log);
    std::string report = resultLines(lastReport()) + clockProblemLines(lastReport());
    for (const std::string& seen : {shown, line, report}) {
      EXPECT_FALSE(contains(seen, "1970")) << r.name << ": " << seen;
      EXPECT_FALSE(contains(seen, "00:59:5")) << r.name << ": " << seen;
    }
    // No difference reckoned from the unknown clock is shown or reported.
    for (const std::string& seen : {shown, report})
      EXPECT_FALSE(contains(seen, "1796675")) << r.name << ": " << seen;
    // The log keeps its fields: the local time 00:00:00 and the local value -1.
    std::smatch f;
    EXPECT_TRUE(std::regex_match(line, f, std::regex("127\\.0\\.0\\.1\t([^\t]*)\txST-1\t([^\t]*)\t"
                                                     "00:00:00\t(-?\\d+)\t-1\t-?\\d+\t0 ms\t0 ms\t(\\w+)\r\n")))
        << r.name << ": " << line;
    if (!f.empty()) {
      EXPECT_EQ(f[1].str(), r.set[0] ? r.date : std::string("(none) (none) 0, 0")) << r.name;
      EXPECT_EQ(f[4].str(), r.action) << r.name;
    }
    Calls sets;
    for (const std::string& call : d.clockCalls())
      if (call.rfind("set ", 0) == 0) sets.push_back(call);
    EXPECT_EQ(sets, r.set[0] ? Calls{r.set} : Calls{}) << r.name;
    removeFile(log);
  }
}
