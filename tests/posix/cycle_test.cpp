// The query cycle's engine on its own: no dialog, no window. A scripted Time
// server answers; the engine's news is read straight after each step.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "app/appstate.h"
#include "base/units.h"
#include "platform/posix/clock.h"
#include "platform/posix/core.h"
#include "platform/posix/winsock_seam.h"
#include "timeclient/agreement.h"
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
    QueryCycle cycle;
    prepareCycle(&cycle, &s, true);
    QueryFailure failure{};
    ASSERT_NE(openQuery(&cycle, 0, &s, &failure), INVALID_SOCKET);
    server.waitFinished(1, 5000);
    CycleNews news = readAnswer(&cycle, 0, &s);
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
    closeQuery(&cycle, 0, &s);
  }
}

// Each calibration answer closes its socket and asks for the next query;
// the last one is the final answer.
TEST_F(EngineTest, CalibrationAnswersAskForTheNextQuery) {
  TimeServer server(script("fixed:3000000100,fixed:3000000200,fixed:3000000300"));
  ASSERT_TRUE(server.start()) << server.error();
  AppState s = settingsFor(server.port(), 2);
  QueryCycle cycle;
  prepareCycle(&cycle, &s, true);
  const CycleNews::Kind expected[] = {CycleNews::Kind::kCalibrated, CycleNews::Kind::kCalibrated,
                                      CycleNews::Kind::kAnswer};
  for (CycleNews::Kind kind : expected) {
    QueryFailure failure{};
    ASSERT_NE(openQuery(&cycle, 0, &s, &failure), INVALID_SOCKET);
    CycleNews news = readAnswer(&cycle, 0, &s);
    EXPECT_EQ(news.kind, kind);
    EXPECT_EQ(s.sock == INVALID_SOCKET, kind == CycleNews::Kind::kCalibrated);
  }
  EXPECT_EQ(s.calibrateLeft, 0);
  closeQuery(&cycle, 0, &s);
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
    QueryCycle cycle;
    prepareCycle(&cycle, &s, true);
    QueryFailure failure{};
    EXPECT_EQ(openQuery(&cycle, 0, &s, &failure), INVALID_SOCKET);
    EXPECT_EQ(s.sock, INVALID_SOCKET);
    EXPECT_EQ(failure.step, row.step);
    EXPECT_EQ(failure.code, row.code);
  }
  EXPECT_EQ(answerTimedOut(QueryCycle{}, 0).code, WSAETIMEDOUT);
}

// A host text names its servers: blanks and commas between names, every
// address of a name one server, at most eight, a name that does not resolve
// kept with its failure.
TEST_F(EngineTest, AHostTextNamesItsServers) {
  setTestNetwork(0, true);
  struct Row {
    const char* text;
    int32_t count, leftOut;
    const char* labels;  // each server's label, then "!" when it did not resolve
    int32_t family = KRON_ANY_FAMILY;
  } rows[] = {
      // IPv6 addresses: bare, in brackets, with a zone; one server each;
      // malformed, or of the family not asked for, they do not resolve.
      {"::1 [::1] 127.0.0.1", 2, 0, "::1 127.0.0.1"},
      {"fe80::1%lo", 1, 0, "fe80::1%lo"},
      {"2001:db8::zz", 1, 0, "2001:db8::zz!"},
      {"::1", 1, 0, "::1!", KRON_IPV4_ONLY},
      {"127.0.0.1", 1, 0, "127.0.0.1!", KRON_IPV6_ONLY},
      {"127.0.0.1", 1, 0, "127.0.0.1"},
      {" 127.0.0.1 ,127.0.0.2\t127.0.0.3", 3, 0, "127.0.0.1 127.0.0.2 127.0.0.3"},
      {"127.0.0.1 nowhere.invalid", 2, 0, "127.0.0.1 nowhere.invalid!"},
      {"1.1.1.1 2.2.2.2 3.3.3.3 4.4.4.4 5.5.5.5 6.6.6.6 7.7.7.7 8.8.8.8 9.9.9.9 10.0.0.1", 8, 2,
       "1.1.1.1 2.2.2.2 3.3.3.3 4.4.4.4 5.5.5.5 6.6.6.6 7.7.7.7 8.8.8.8"},
      {" , ", 1, 0, "!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    ServerList list = resolveServers(row.text, row.family);
    EXPECT_EQ(list.count, row.count);
    EXPECT_EQ(list.leftOut, row.leftOut);
    std::string labels;
    for (int32_t i = 0; i < list.count; ++i)
      labels += (i ? " " : "") + std::string(list.servers[i].label) + (list.servers[i].resolved ? "" : "!");
    EXPECT_EQ(labels, row.labels);
  }
}
}  // namespace

namespace {
// Intervals in milliseconds for short rows; "-" is a server that did not answer.
ServerInterval ms(int64_t low, int64_t high) { return ServerInterval{true, low * 1000, high * 1000}; }
const ServerInterval silent{false, 0, 0};

// The majority's common part, its middle and half-width, and who is outside.
TEST(Agreement, TheLargestGroupSharingAPointDecides) {
  struct Row {
    const char* name;
    std::vector<ServerInterval> servers;
    bool found;
    int64_t offsetMs, boundMs;
    uint32_t members;
  } rows[] = {
      {"one server", {ms(100, 300)}, true, 200, 100, 0b1},
      {"three agree", {ms(0, 1000), ms(200, 1200), ms(100, 900)}, true, 550, 350, 0b111},
      {"one false ticker", {ms(10000, 11000), ms(10200, 11100), ms(-50000, -49000)}, true, 10600, 400,
       0b011},
      {"touching intervals share their point", {ms(0, 10), ms(10, 20), ms(500, 600)}, true, 10, 0, 0b011},
      {"no two meet", {ms(0, 1000), ms(5000, 6000), ms(10000, 11000)}, false, 0, 0, 0},
      {"half is no majority", {ms(0, 10), ms(5, 15), ms(100, 110), ms(105, 115)}, false, 0, 0, 0},
      {"a tie of different groups", {ms(0, 2), ms(1, 5), ms(4, 6)}, false, 0, 0, 0},
      {"one of three answering decides", {silent, ms(40, 60), silent}, true, 50, 10, 0b010},
      {"the silent are not counted", {ms(0, 10), silent, ms(5, 20), ms(100, 200)}, true, 7, 3, 0b0101},
      {"none answered", {silent, silent}, false, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Agreement a = agree(row.servers.data(), static_cast<int32_t>(row.servers.size()));
    EXPECT_EQ(a.found, row.found);
    if (!row.found) continue;
    EXPECT_EQ(a.offsetUs / 1000, row.offsetMs);
    EXPECT_EQ((a.boundUs + 999) / 1000, row.boundMs);
    EXPECT_EQ(a.members, row.members);
  }
  EXPECT_EQ(distanceFrom(ms(100, 200), 50 * 1000), 50 * 1000);
  EXPECT_EQ(distanceFrom(ms(100, 200), 250 * 1000), -50 * 1000);
  EXPECT_EQ(distanceFrom(ms(100, 200), 150 * 1000), 0);
}

// A whole-second answer: the truncated second, widened by the lag.
TEST(Agreement, AWholeSecondAnswerAllowsItsSecondAndTheLag) {
  ServerInterval v = wholeSecondInterval(1000, 990250, 100);
  EXPECT_EQ(v.lowUs, 1000 * 1000000LL - 990250 * 1000LL);
  EXPECT_EQ(v.highUs, 1001 * 1000000LL - 990150 * 1000LL);
}
}  // namespace

namespace {
uint32_t nextRandom(uint32_t* seed) { return *seed = *seed * 1103515245u + 12345u; }

// A simulated local clock for precise mode's probe runs: every reading of
// the performance counter moves it on a microsecond, so waits end. On a
// loaded machine one reading in jumpOneIn (none when 0) is held up by 1 to
// 5 ms, as a preemption would hold it.
int64_t simulatedUs = 0;
uint32_t jumpOneIn = 0, jumpSeed = 1;
int64_t simulatedCounter() {
  if (jumpOneIn && (nextRandom(&jumpSeed) >> 8) % jumpOneIn == 0)
    simulatedUs += 1000 + (nextRandom(&jumpSeed) >> 8) % 4000;
  return simulatedUs++;
}
int64_t simulatedUtcUs() { return simulatedUs; }
void simulatedUtc(SYSTEMTIME* utc) {
  time_t seconds = static_cast<time_t>(simulatedUs / 1000000);
  tm fields{};
  gmtime_r(&seconds, &fields);
  *utc = SYSTEMTIME{static_cast<WORD>(fields.tm_year + 1900), static_cast<WORD>(fields.tm_mon + 1),
                    static_cast<WORD>(fields.tm_wday), static_cast<WORD>(fields.tm_mday),
                    static_cast<WORD>(fields.tm_hour), static_cast<WORD>(fields.tm_min),
                    static_cast<WORD>(fields.tm_sec), static_cast<WORD>(simulatedUs / 1000 % 1000)};
}
DWORD simulatedTick() { return static_cast<DWORD>(simulatedUs / 1000); }
BOOL refuseToSet(const SYSTEMTIME*) { return FALSE; }
int refuseToAdjust(struct timex*) { return -1; }
// Linux reads the wall clock to the microsecond, Windows to the millisecond.
const ClockDriver simulatedClocks[] = {
    {simulatedTick, simulatedUtc, simulatedUtc, simulatedCounter, simulatedUtcUs, refuseToSet,
     refuseToAdjust},
    {simulatedTick, simulatedUtc, simulatedUtc, simulatedCounter, nullptr, refuseToSet,
     refuseToAdjust}};

// A server that misbehaves: its offset (us) for the n-th answer stamped at
// local time t. A slow one is steady, but every third answer is read late,
// as when the program was busy with another server. A nudged one steps by
// a few milliseconds after a few answers, late in the narrowing.
struct Hostile {
  enum Kind { kSteady, kSlow, kSteps, kAlternates, kFrozen, kNudged } kind;
  int64_t before, after, stepAtUs;  // kSteps: the offset, then after stepAtUs
  int32_t stepAfter;                // kNudged: after that many answers
  int64_t offsetOf(int32_t n, int64_t t) const {
    if (kind == kSteady || kind == kSlow) return before;
    if (kind == kAlternates) return n % 2 ? after : before;
    if (kind == kNudged) return n < stepAfter ? before : after;
    return t < stepAtUs ? before : after;
  }
};

// One precise run against the server, probe by probe on the simulated clock.
// Returns the run's last step and, through lastOffsetUs, the offset the
// server answered its last probe with, and through confirmingUs how long
// the confirmations took. staggerUs is the run's place among servers asked
// side by side.
ProbeStep runAgainst(const Hostile& h, int64_t staggerUs, uint32_t* seed, int64_t* lastOffsetUs,
                     int64_t* confirmingUs) {
  simulatedUs = 1796680000LL * 1000000 + (nextRandom(seed) >> 8) % 1000000;
  int64_t startedAt = simulatedUs;
  ProbeRun run{};
  int64_t waitEnded = 0;
  EXPECT_TRUE(beginProbeRun(&run, 0));
  run.staggerUs = staggerUs;
  const uint32_t frozen = static_cast<uint32_t>(simulatedUs / 1000000) + protocolEpochOffset;
  for (int32_t n = 0; n < 64; ++n) {
    if (run.nextStartUs > simulatedUs) simulatedUs = run.nextStartUs - 3;
    markProbeStart(&run, &waitEnded);
    int64_t oneWay = 50 + (nextRandom(seed) >> 8) % 200;
    simulatedUs += 2 * oneWay;
    markProbeConnected(&run);
    int64_t stamp = simulatedUs + oneWay;
    *lastOffsetUs = h.offsetOf(n, stamp - startedAt);
    int64_t server = stamp + *lastOffsetUs;
    uint32_t answer = h.kind == Hostile::kFrozen ? frozen
                                                 : static_cast<uint32_t>(server / 1000000) + protocolEpochOffset;
    simulatedUs = stamp + oneWay + (h.kind == Hostile::kSlow && n % 3 == 1 ? 5000 : 0);
    bool narrowing = run.phase == ProbeRun::kNarrowing;
    ProbeStep step = takeProbeAnswer(&run, answer);
    if (narrowing) *confirmingUs = -simulatedUs;
    if (step.kind != ProbeStep::kNext) {
      *confirmingUs += simulatedUs;
      return step;
    }
  }
  ADD_FAILURE() << "the run did not end";
  return ProbeStep{};
}

// Servers that step, flip or freeze: every run refuses, or its bound holds
// the offset of the server's last answer, whether the run is the first,
// second or third of three servers, the wall clock is read to the
// microsecond or the millisecond, and the counter's readings are held up
// now and then or not. A steady server is never refused on an idle
// machine, and its run is not drawn out by confirmations a second apart.
TEST(PreciseHostile, ARunRefusesOrItsBoundHoldsTheLastAnswer) {
  uint32_t seed = 2026;
  const char* names[] = {"steady", "slow", "steps", "alternates", "frozen", "nudged"};
  for (Hostile::Kind kind : {Hostile::kSteady, Hostile::kSlow, Hostile::kSteps, Hostile::kAlternates,
                             Hostile::kFrozen, Hostile::kNudged}) {
    int32_t refused = 0, runs = 0;
    int64_t widest = 0;
    for (int32_t i = 0; i < 400; ++i, ++runs) {
      useClockDriver(&simulatedClocks[i % 2]);
      jumpOneIn = i % 4 < 2 ? 0 : 16;
      int64_t before = static_cast<int64_t>((nextRandom(&seed) >> 8) % 6000000) - 3000000;
      int64_t step = static_cast<int64_t>((nextRandom(&seed) >> 8) % 1800000) - 900000;
      Hostile h{kind, before, before + (step < 0 ? step - 20000 : step + 20000),
                static_cast<int64_t>((nextRandom(&seed) >> 8) % 16000000), 5 + i % 5};
      if (kind == Hostile::kNudged)  // by 1 to 10 ms either way
        h.after = before + (step < 0 ? -1 : 1) *
                               (1000 + static_cast<int64_t>((nextRandom(&seed) >> 8) % 9001));
      int64_t last = 0, confirming = 0;
      ProbeStep end = runAgainst(h, (i % 3) * 1500, &seed, &last, &confirming);
      if (end.kind == ProbeStep::kGiveUp) {
        EXPECT_TRUE(jumpOneIn || (kind != Hostile::kSteady && kind != Hostile::kSlow))
            << "a steady server was refused: " << h.before;
        ++refused;
        continue;
      }
      // The four confirmations surround one turnover of the server's second.
      if (kind == Hostile::kSteady && !jumpOneIn) {
        EXPECT_LT(confirming, 1100000) << h.before;
      }
      EXPECT_NE(kind, Hostile::kFrozen) << "a frozen server was believed";
      int64_t error = end.result.offsetUs - last;
      EXPECT_LE(error < 0 ? -error : error, end.result.boundUs)
          << names[kind] << " run " << i << " offsets " << h.before << " " << h.after << " step at " << h.stepAtUs;
      EXPECT_TRUE(last >= end.result.lowUs && last <= end.result.highUs) << names[kind] << " run " << i;
      if (end.result.boundUs > widest) widest = end.result.boundUs;
    }
    RecordProperty(std::string(names[kind]) + "_runs", runs);
    RecordProperty(std::string(names[kind]) + "_refused", refused);
    RecordProperty(std::string(names[kind]) + "_widest_bound_us", static_cast<int>(widest));
  }
  jumpOneIn = 0;
  useClockDriver(nullptr);
}
}  // namespace
