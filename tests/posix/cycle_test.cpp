// The query cycle's engine on its own: no dialog, no window. A scripted Time
// server answers; the engine's news is read straight after each step.
#include <gtest/gtest.h>

#include <string>

#include "app/appstate.h"
#include "platform/posix/core.h"
#include "platform/posix/winsock_seam.h"
#include "timeclient/cycle.h"
#include "tools/timeserver/timeserver.h"

namespace {
std::vector<Behaviour> script(const std::string& text) {
  std::vector<Behaviour> out;
  std::string error;
  EXPECT_TRUE(parseScript(text, &out, &error)) << error;
  return out;
}

// The settings a cycle starts with, pointed at a port of this machine.
AppState settingsFor(uint16_t port, uint32_t attempts, const char* host = "127.0.0.1") {
  AppState s{};
  s.sock = INVALID_SOCKET;
  s.host = const_cast<char*>(host);
  s.port = port;
  s.attempts = attempts;
  return s;
}

struct EngineTest : testing::Test {
  void SetUp() override { resetWindowing(); }
  void TearDown() override { resetWindowing(); }
};

TEST_F(EngineTest, AnswerBytesGiveItsNews) {
  struct Row {
    const char* serve;
    CycleNews::Kind kind;
    uint32_t answer;      // kAnswer
    QueryStep step;       // kFailed
    int32_t code, bytes;
    bool closed;
  } rows[] = {
      {"fixed:3786825600", CycleNews::Kind::kAnswer, 3786825600u, {}, 0, 0, false},
      {"long:3", CycleNews::Kind::kAnswer, 0, {}, 0, 0, false},
      {"short:0", CycleNews::Kind::kFailed, 0, QueryStep::kShortRead, 0, 0, true},
      {"short:2", CycleNews::Kind::kFailed, 0, QueryStep::kShortRead, 0, 2, true},
      {"reset", CycleNews::Kind::kFailed, 0, QueryStep::kRead, WSAECONNRESET, 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.serve);
    TimeServer server(script(row.serve));
    ASSERT_TRUE(server.start()) << server.error();
    AppState s = settingsFor(server.port(), 0);
    QueryFailure failure{};
    ASSERT_NE(openQuery(&s, &failure), INVALID_SOCKET);
    server.waitFinished(1, 5000);
    CycleNews news = readAnswer(&s);
    EXPECT_EQ(news.kind, row.kind);
    if (row.kind == CycleNews::Kind::kAnswer && row.answer) {
      EXPECT_EQ(news.answer, row.answer);
    }
    if (row.kind == CycleNews::Kind::kFailed) {
      EXPECT_EQ(news.failure.step, row.step);
      EXPECT_EQ(news.failure.code, row.code);
      EXPECT_EQ(news.failure.bytes, row.bytes);
      EXPECT_EQ(news.failure.serverClosed, row.closed);
    }
    EXPECT_NE(s.sock, INVALID_SOCKET) << "the owner closes a final or failed query";
    closeQuery(&s);
  }
}

// Each calibration answer closes its socket and asks for the next query;
// the last one is the final answer.
TEST_F(EngineTest, CalibrationAnswersAskForTheNextQuery) {
  TimeServer server(script("fixed:100,fixed:200,fixed:300"));
  ASSERT_TRUE(server.start()) << server.error();
  AppState s = settingsFor(server.port(), 2);
  beginCycle(&s);
  const CycleNews::Kind expected[] = {CycleNews::Kind::kCalibrated, CycleNews::Kind::kCalibrated,
                                      CycleNews::Kind::kAnswer};
  for (CycleNews::Kind kind : expected) {
    QueryFailure failure{};
    ASSERT_NE(openQuery(&s, &failure), INVALID_SOCKET);
    CycleNews news = readAnswer(&s);
    EXPECT_EQ(news.kind, kind);
    EXPECT_EQ(s.sock == INVALID_SOCKET, kind == CycleNews::Kind::kCalibrated);
  }
  EXPECT_EQ(s.calibrateLeft, 0);
  closeQuery(&s);
}

// A connection that cannot be made names its step and the Winsock code it
// left, and leaves no socket.
TEST_F(EngineTest, AFailedConnectionNamesItsStepAndCode) {
  TimeServer refusing(script("refuse"));
  ASSERT_TRUE(refusing.start()) << refusing.error();
  setTestNetwork(0, true);
  struct Row {
    const char* host;
    uint16_t port;
    QueryStep step;
    int32_t code;
  } rows[] = {
      {"127.0.0.1", refusing.port(), QueryStep::kConnect, WSAECONNREFUSED},
      {"no-such-host.invalid", refusing.port(), QueryStep::kResolve, WSAHOST_NOT_FOUND},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.host);
    AppState s = settingsFor(row.port, 0, row.host);
    QueryFailure failure{};
    EXPECT_EQ(openQuery(&s, &failure), INVALID_SOCKET);
    EXPECT_EQ(s.sock, INVALID_SOCKET);
    EXPECT_EQ(failure.step, row.step);
    EXPECT_EQ(failure.code, row.code);
  }
  EXPECT_EQ(answerTimedOut().code, WSAETIMEDOUT);
}
}  // namespace
