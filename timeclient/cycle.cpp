#include "timeclient/cycle.h"

#include <cstring>

#include "app/appstate.h"
#include "zones/localtime.h"

namespace {
constexpr int answerBytes = 4;
constexpr const char* timeService = "time";

int32_t msSinceStart(const AppState* state) {
  return static_cast<int32_t>(GetTickCount() - state->startTick);
}

// Whether the server's end of s is closed: a peek that finds the end of the
// stream (nothing has been read past the short answer).
bool serverHasClosed(SOCKET s) {
  char next;
  return recv(s, &next, 1, MSG_PEEK) == 0;
}

CycleNews failed(QueryFailure failure) {
  CycleNews news{};
  news.kind = CycleNews::Kind::kFailed;
  news.failure = failure;
  return news;
}

// A read that did not bring the four bytes: a failed read keeps its Winsock
// code, a short one says how much arrived and whether the server had closed.
CycleNews shortRead(SOCKET s, int n) {
  if (n < 0) return failed(QueryFailure{QueryStep::kRead, WSAGetLastError(), 0, false});
  bool closed = n == 0 || serverHasClosed(s);
  return failed(QueryFailure{QueryStep::kShortRead, 0, n, closed});
}

// A probe's answer narrows the offset; the run then waits for the moment of
// the next probe, ends with the offset found, or gives up when the answers
// cannot all be true.
CycleNews probeAnswered(AppState* state, uint32_t answer) {
  ProbeStep step = takeProbeAnswer(answer);
  CycleNews news{};
  if (step.kind == ProbeStep::kDone) {
    news.kind = CycleNews::Kind::kAnswer;
    news.answer = answer;
    news.precise = true;
    news.offset = step.result;
  } else if (step.kind == ProbeStep::kGiveUp) {
    news = failed(QueryFailure{QueryStep::kContradiction, 0, 0, false});
  } else {
    closeQuery(state);
    news.kind = CycleNews::Kind::kProbeWait;
    news.waitMs = step.waitMs;
  }
  return news;
}
}  // namespace

void beginCycle(AppState* state) { state->calibrateLeft = static_cast<int32_t>(state->attempts); }

SOCKET openQuery(AppState* state, QueryFailure* failure) {
  if (state->precise && !probeRunActive()) {
    // Where the clock is read through the TZ text, the probes read it under
    // the TZ now in force, as the final answer's decision will.
    parseTz();
    beginProbeRun(state->attempts, state->probeSpacing);
  }
  state->startTick = GetTickCount();
  if (probeRunActive()) markProbeStart();
  Connection c = connectToHost(state->host, state->port, timeService);
  if (probeRunActive()) markProbeConnected();
  state->sock = c.sock;
  if (c.sock == INVALID_SOCKET) *failure = c.failure;
  return c.sock;
}

void noteConnected(AppState* state) { state->connectLag = msSinceStart(state); }

CycleNews readAnswer(AppState* state) {
  char bytes[answerBytes] = {};
  int n = recv(state->sock, bytes, answerBytes, 0);
  // A read notification can be stale (queued before its socket was closed and
  // its number reused): nothing to read yet is not a failed answer.
  if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return CycleNews{};
  state->readLag = msSinceStart(state);
  if (n != answerBytes) return shortRead(state->sock, n);
  uint32_t networkOrder;
  std::memcpy(&networkOrder, bytes, sizeof networkOrder);
  uint32_t answer = ntohl(networkOrder);
  if (probeRunActive()) return probeAnswered(state, answer);
  CycleNews news{};
  if (state->calibrateLeft != 0) {
    closeQuery(state);
    --state->calibrateLeft;
    news.kind = CycleNews::Kind::kCalibrated;
    news.lagMs = state->readLag;
    return news;
  }
  news.kind = CycleNews::Kind::kAnswer;
  news.answer = answer;
  return news;
}

QueryFailure answerTimedOut() { return QueryFailure{QueryStep::kTimeout, WSAETIMEDOUT, 0, false}; }

void closeQuery(AppState* state) {
  if (state->sock != INVALID_SOCKET) closesocket(state->sock);
  state->sock = INVALID_SOCKET;
}

void endCycleRun() { endProbeRun(); }
