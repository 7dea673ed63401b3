// Precise mode's arithmetic: what one answer says of the offset, when the
// next probe starts, and a run of probes against a simulated server.
#include <gtest/gtest.h>

#include <cstdint>

#include "base/units.h"
#include "timeclient/precise.h"

namespace {
constexpr int64_t second = 1000000;

TEST(Precise, OneAnswerBoundsTheOffset) {
  struct Row {
    const char* name;
    OffsetInterval before;
    int64_t serverSecs;
    ProbeTimes t;
    ProbeVerdict verdict;
    int64_t low, high;
  } rows[] = {
      // The server stamped between start and arrival, its clock in [S, S+1).
      {"first answer", {false, 0, 0}, 100, {99 * second, 99 * second + 10, 99 * second + 40},
       ProbeVerdict::kNarrowed, second - 40, 2 * second},
      // The turn of the server's second aimed at the middle: either answer
      // halves the interval.
      {"the old second", {true, 0, second}, 99, {99 * second + 600000, 0, 99 * second + 600100},
       ProbeVerdict::kNarrowed, 0, 400000},
      {"the new second", {true, 0, second}, 100, {99 * second + 600000, 0, 99 * second + 600100},
       ProbeVerdict::kNarrowed, 399900, second},
      {"a stepped clock", {true, 0, 1000}, 200, {100 * second, 0, 100 * second + 100},
       ProbeVerdict::kContradicts, 0, 1000},
      {"before 1970 on the local side", {false, 0, 0}, 0, {-500000, 0, -400000},
       ProbeVerdict::kNarrowed, 400000, 1500000},
  };
  for (const Row& r : rows) {
    OffsetInterval interval = r.before;
    EXPECT_EQ(addProbe(&interval, r.serverSecs, r.t), r.verdict) << r.name;
    EXPECT_EQ(interval.lowUs, r.low) << r.name;
    EXPECT_EQ(interval.highUs, r.high) << r.name;
  }
}

TEST(Precise, TheNextProbeAimsTheServersSecondAtTheMiddle) {
  struct Row {
    int64_t low, high, earliest, lead, start;
  } rows[] = {
      // Middle 0.5 s: the server's clock is half a second ahead, so its
      // second turns when the local clock reads .5; the stamp 200 us after
      // the start.
      {0, second, 10 * second, 200, 10 * second + 500000 - 200},
      {0, second, 10 * second + 600000, 200, 11 * second + 500000 - 200},
      {-2250000, -2249000, 5 * second, 0, 5 * second + 249500},
  };
  for (const auto& r : rows)
    EXPECT_EQ(nextProbeStartUs(OffsetInterval{true, r.low, r.high}, r.earliest, r.lead), r.start);
}

TEST(Precise, CountsAndRounding) {
  // Answers stand for the second nearest the local clock, across 2036 and 2038.
  const int64_t y2038 = 2147483648LL * second;
  EXPECT_EQ(serverSecondsNear(2147483648u + protocolEpochOffset, y2038 - 5 * second), 2147483648LL);
  EXPECT_EQ(serverSecondsNear(2147483640u + protocolEpochOffset, y2038 + 5 * second), 2147483640LL);
  EXPECT_EQ(serverSecondsNear(5u, 4294967290LL * second - protocolEpochOffset * second),
            4294967301LL - protocolEpochOffset);
  EXPECT_EQ(roundedSeconds(437000), 0);
  EXPECT_EQ(roundedSeconds(500000), 1);
  EXPECT_EQ(roundedSeconds(-2250000), -2);
  EXPECT_EQ(roundedSeconds(-2500000), -3);
  EXPECT_FALSE(narrowEnough(OffsetInterval{true, 0, 1000}));
  EXPECT_TRUE(narrowEnough(OffsetInterval{true, 0, 999}));
}

// A server whose clock runs offset ahead answers each probe after a wait
// (none, or a jittered 20-80 ms), stamping just before it sends: a run of
// probes timed by nextProbeStartUs ends with the truth inside its bound.
struct Simulated {
  int64_t offset;
  int64_t waitLow, waitHigh;  // the server's wait before it stamps
  int64_t largestError;       // what the run may miss the truth by
};

PreciseOffset simulate(const Simulated& s, uint32_t* seed) {
  OffsetInterval sure{false, 0, 0}, likely{false, 0, 0};
  int64_t now = 1000 * second + 123457, leadSum = 0;
  const int64_t oneWay = 50;
  for (int probe = 0; probe < 12 && !narrowEnough(sure); ++probe) {
    if (probe > 0) now = nextProbeStartUs(likely.known ? likely : sure, now + 2000, leadSum / probe);
    *seed = *seed * 1103515245u + 12345u;
    int64_t wait = s.waitLow + static_cast<int64_t>(*seed >> 8) % (s.waitHigh - s.waitLow + 1);
    int64_t stamp = now + 3 * oneWay + wait;
    int64_t server = stamp + s.offset;
    int64_t serverSecs = server >= 0 ? server / second : -((-server + second - 1) / second);
    ProbeTimes t{now, now + 2 * oneWay, stamp + oneWay};
    EXPECT_EQ(addProbe(&sure, serverSecs, t), ProbeVerdict::kNarrowed) << s.offset;
    ProbeTimes window = likelyStampWindow(t);
    if (addProbe(&likely, serverSecs, window) != ProbeVerdict::kNarrowed) {
      likely.known = false;
      addProbe(&likely, serverSecs, window);
    }
    leadSum += window.connectedUs - t.startUs;
    now = t.arrivedUs;
  }
  return offsetOf(sure, likely);
}

TEST(Precise, ProbesFindASimulatedServersOffset) {
  const Simulated rows[] = {
      {437000, 0, 0, 1000},        {-2250000, 0, 0, 1000}, {999999, 0, 0, 1000},
      {1, 0, 0, 1000},             {-1, 0, 0, 1000},       {123456789, 0, 0, 1000},
      {437000, 20000, 80000, 15000}, {-2250000, 20000, 80000, 15000},
      {-81000, 20000, 80000, 15000}, {2999000, 20000, 80000, 15000},
  };
  uint32_t seed = 7;
  for (const Simulated& r : rows) {
    PreciseOffset p = simulate(r, &seed);
    int64_t error = p.offsetUs > r.offset ? p.offsetUs - r.offset : r.offset - p.offsetUs;
    EXPECT_LE(error, p.boundUs) << r.offset << " " << r.waitHigh;  // the truth is inside
    EXPECT_LE(error, r.largestError) << r.offset << " " << r.waitHigh;
  }
}
}  // namespace
