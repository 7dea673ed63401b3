#include "timeclient/cycle.h"

#include <cstring>

#include "app/appstate.h"
#include "app/settingkeys.h"
#include "base/units.h"
#include "timeclient/frame.h"
#include "zones/localtime.h"

namespace {
constexpr int answerBytes = 4;
constexpr const char* timeService = "time";
// How much earlier each next server's precise probes are aimed (us).
constexpr int64_t probeStaggerUs = 1500;

int32_t msSince(uint32_t tick) { return static_cast<int32_t>(GetTickCount() - tick); }

CycleNews failed(QueryFailure failure) {
  CycleNews news{};
  news.kind = CycleNews::Kind::kFailed;
  news.failure = failure;
  return news;
}

// A read that ended the answer short: a failed read keeps its Winsock
// code; the server's close after some bytes, or none, is a short answer.
CycleNews shortRead(int n, int32_t got) {
  if (n < 0) return failed(QueryFailure{QueryStep::kRead, WSAGetLastError(), 0, false, 0});
  return failed(QueryFailure{QueryStep::kShortRead, 0, got, true, 0});
}

// The settings record shows the socket of a query that runs, if any.
void showRunningSocket(const QueryCycle& cycle, AppState* state) {
  state->sock = INVALID_SOCKET;
  for (int32_t i = 0; i < cycle.count && state->sock == INVALID_SOCKET; ++i)
    state->sock = cycle.servers[i].sock;
}

// A probe's answer narrows the offset; the run then waits for the moment of
// the next probe, ends with the offset found, or gives up when the answers
// cannot all be true.
CycleNews probeAnswered(QueryCycle* cycle, int32_t i, AppState* state, uint32_t answer) {
  ProbeStep step = takeProbeAnswer(&cycle->servers[i].run, answer);
  CycleNews news{};
  if (step.kind == ProbeStep::kDone) {
    news.kind = CycleNews::Kind::kAnswer;
    news.answer = answer;
    news.precise = true;
    news.offset = step.result;
  } else if (step.kind == ProbeStep::kGiveUp) {
    news = failed(QueryFailure{QueryStep::kContradiction, 0, 0, false, 0});
  } else {
    closeQuery(cycle, i, state);
    news.kind = CycleNews::Kind::kProbeWait;
    news.waitMs = step.waitMs;
  }
  return news;
}
}  // namespace

void prepareCycle(QueryCycle* cycle, AppState* state, bool wholeCycle) {
  if (wholeCycle) state->calibrateLeft = static_cast<int32_t>(state->attempts);
  // Counted as unsigned, as attempts is: -3 written is 4294967293 queries.
  if (static_cast<uint32_t>(state->calibrateLeft) > mostCalibrations)
    state->calibrateLeft = static_cast<int32_t>(mostCalibrations);
  ServerList list = resolveServers(state->host, state->family);
  *cycle = QueryCycle{};
  cycle->count = list.count;
  cycle->names = list.names;
  cycle->leftOut = list.leftOut;
  cycle->notes = list.notes;
  for (int32_t i = 0; i < list.count; ++i) {
    ServerQuery& q = cycle->servers[i];
    q.where = list.servers[i];
    q.sock = INVALID_SOCKET;
    q.calibrateLeft = state->calibrateLeft;
  }
}

SOCKET openQuery(QueryCycle* cycle, int32_t i, AppState* state, QueryFailure* failure) {
  ServerQuery& q = cycle->servers[i];
  if (!q.where.resolved) {
    *failure = q.where.failure;
    return INVALID_SOCKET;
  }
  if (state->precise && !probeRunActive(q.run)) {
    // Where the clock is read through the TZ text, the probes read it under
    // the TZ now in force, as the final answer's decision will.
    parseTz();
    beginProbeRun(&q.run, state->probeSpacing);
    q.run.staggerUs = i * probeStaggerUs;
  }
  if (probeRunActive(q.run)) markProbeStart(&q.run, &cycle->probeWaitEndedUs);
  // The lag is the connection's time, after any wait for the probe's moment.
  q.got = 0;
  q.startTick = GetTickCount();
  Connection c = connectToAddress(q.where.address, state->port, timeService);
  if (probeRunActive(q.run)) markProbeConnected(&q.run);
  q.sock = c.sock;
  showRunningSocket(*cycle, state);
  if (c.sock == INVALID_SOCKET) *failure = c.failure;
  return c.sock;
}

int32_t serverOfSocket(const QueryCycle& cycle, SOCKET s) {
  for (int32_t i = 0; i < cycle.count; ++i)
    if (s != INVALID_SOCKET && cycle.servers[i].sock == s) return i;
  return -1;
}

void noteConnected(QueryCycle* cycle, int32_t i) {
  cycle->servers[i].connectLag = msSince(cycle->servers[i].startTick);
}

CycleNews readAnswer(QueryCycle* cycle, int32_t i, AppState* state) {
  ServerQuery& q = cycle->servers[i];
  // Bytes that come in pieces are kept until the four have come, or the
  // server closes, or the time-out: only then is a short answer known as
  // one, and whether the server closed is known for sure.
  int n;
  while ((n = recv(q.sock, q.partial + q.got, answerBytes - q.got, 0)) > 0 && (q.got += n) < answerBytes) {
  }
  // Nothing more to read yet: the rest may come, or the notification was
  // stale (queued before its socket was closed and its number reused).
  if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return CycleNews{};
  q.readLag = msSince(q.startTick);
  state->readLag = q.readLag;
  state->connectLag = q.connectLag;
  if (q.got < answerBytes) return shortRead(n, q.got);
  q.got = 0;
  uint32_t networkOrder;
  std::memcpy(&networkOrder, q.partial, sizeof networkOrder);
  uint32_t answer = ntohl(networkOrder);
  // Any answer of such a server, a calibration's too, says it has no time to give.
  if (knowsNoTime(answer, judgedClockMs())) return failed(QueryFailure{QueryStep::kNoTime, 0, 0, false, answer});
  if (probeRunActive(q.run)) return probeAnswered(cycle, i, state, answer);
  CycleNews news{};
  if (q.calibrateLeft != 0) {
    closeQuery(cycle, i, state);
    --q.calibrateLeft;
    if (i == 0) state->calibrateLeft = q.calibrateLeft;
    news.kind = CycleNews::Kind::kCalibrated;
    news.lagMs = q.readLag;
    return news;
  }
  // Precise probes bound their own lag; a whole-second answer this late
  // would be moved by half of it, on a guess.
  if (q.readLag > mostLagMs) return failed(QueryFailure{QueryStep::kLate, 0, 0, false, static_cast<uint32_t>(q.readLag)});
  news.kind = CycleNews::Kind::kAnswer;
  news.answer = answer;
  q.arrivedMs = judgedClockMs();
  return news;
}

QueryFailure answerTimedOut(const QueryCycle& cycle, int32_t i) {
  int32_t got = cycle.servers[i].got;
  if (got > 0) return QueryFailure{QueryStep::kShortRead, 0, got, false, 0};
  return QueryFailure{QueryStep::kTimeout, WSAETIMEDOUT, 0, false, 0};
}

uint32_t calibrationWaitMs(const QueryCycle& cycle, int32_t i, const AppState* state) {
  uint32_t since = GetTickCount() - cycle.servers[i].startTick;
  return since < state->probeSpacing ? state->probeSpacing - since : 0;
}

bool knowsNoTime(uint32_t answer, int64_t localMs) {
  constexpr int64_t day = secondsPerDay;
  // The local clock's distance from the nearest start of the protocol's count.
  int64_t sinceWrap = localMs < 0 ? -1 : floorDiv(localMs, msPerSecond) + protocolEpochOffset;
  int64_t era = int64_t{1} << 32;
  int64_t fromWrap = sinceWrap < 0 ? era : sinceWrap % era;
  if (fromWrap > era / 2) fromWrap = era - fromWrap;
  return answer == 0 || (answer < day && fromWrap > day);
}

int32_t serversAsking(const QueryCycle& cycle) {
  int32_t n = 0;
  for (int32_t i = 0; i < cycle.count; ++i) n += cycle.servers[i].state == ServerQuery::State::kAsking;
  return n;
}

void stopWaitingFor(QueryCycle* cycle, AppState* state) {
  for (int32_t i = 0; i < cycle->count; ++i) {
    ServerQuery& q = cycle->servers[i];
    if (q.state != ServerQuery::State::kAsking) continue;
    closeQuery(cycle, i, state);
    endProbeRun(&q.run);
    q.spacing = false;
    q.state = ServerQuery::State::kNotWaitedFor;
  }
}

void closeQuery(QueryCycle* cycle, int32_t i, AppState* state) {
  ServerQuery& q = cycle->servers[i];
  if (q.sock != INVALID_SOCKET) closesocket(q.sock);
  q.sock = INVALID_SOCKET;
  showRunningSocket(*cycle, state);
}

void settleServer(QueryCycle* cycle, int32_t i, const CycleNews& news) {
  ServerQuery& q = cycle->servers[i];
  q.result = news;
  q.state = news.kind == CycleNews::Kind::kAnswer ? ServerQuery::State::kAnswered
                                                  : ServerQuery::State::kFailed;
  endProbeRun(&q.run);
}

ServerInterval intervalOf(const ServerQuery& q) {
  if (q.state != ServerQuery::State::kAnswered) return ServerInterval{false, 0, 0};
  const CycleNews& r = q.result;
  if (r.precise) return ServerInterval{true, r.offset.lowUs, r.offset.highUs};
  int64_t serverSecs = serverSecondsNear(r.answer, q.arrivedMs * usPerMs);
  return wholeSecondInterval(serverSecs, q.arrivedMs, q.readLag);
}

bool cycleDone(const QueryCycle& cycle) {
  for (int32_t i = 0; i < cycle.count; ++i)
    if (cycle.servers[i].state == ServerQuery::State::kAsking) return false;
  return true;
}

void endCycleRuns(QueryCycle* cycle) {
  for (int32_t i = 0; i < cycle->count; ++i) endProbeRun(&cycle->servers[i].run);
}
