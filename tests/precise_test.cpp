// Precise mode's arithmetic: what one answer says of the offset, when the
// next probe starts, and a run of probes against a simulated server.
#include <gtest/gtest.h>

#include <cstdint>

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
  EXPECT_EQ(probeCount(0), 8);
  EXPECT_EQ(probeCount(3), 8);
  EXPECT_EQ(probeCount(10), 10);
  EXPECT_EQ(probeCount(4294967295u), 12);
  EXPECT_EQ(roundedSeconds(437000), 0);
  EXPECT_EQ(roundedSeconds(500000), 1);
  EXPECT_EQ(roundedSeconds(-2250000), -2);
  EXPECT_EQ(roundedSeconds(-2500000), -3);
  EXPECT_FALSE(narrowEnough(OffsetInterval{true, 0, 1000}));
  EXPECT_TRUE(narrowEnough(OffsetInterval{true, 0, 999}));
}

// A server whose clock runs offsetUs ahead, stamping stampUs after a probe
// starts and answering arriveUs after it: a run of probes timed by
// nextProbeStartUs ends with the truth inside its bound, and narrow.
TEST(Precise, ProbesFindASimulatedServersOffset) {
  const int64_t offsets[] = {437000, -2250000, 999999, 1, -1, 0, 123456789};
  for (int64_t offset : offsets) {
    OffsetInterval interval{false, 0, 0};
    int64_t now = 1000 * second + 123457;
    const int64_t stampUs = 150, arriveUs = 300;
    for (int probe = 0; probe < 12 && !narrowEnough(interval); ++probe) {
      if (interval.known) now = nextProbeStartUs(interval, now + 2000, stampUs);
      int64_t serverAtStamp = now + stampUs + offset;
      int64_t serverSecs = serverAtStamp >= 0 ? serverAtStamp / second : -((-serverAtStamp + second - 1) / second);
      ASSERT_EQ(addProbe(&interval, serverSecs, ProbeTimes{now, now + 100, now + arriveUs}),
                ProbeVerdict::kNarrowed) << offset;
      now += arriveUs;
    }
    PreciseOffset p = offsetOf(interval);
    EXPECT_LE(p.offsetUs - p.boundUs, offset) << offset;
    EXPECT_GE(p.offsetUs + p.boundUs, offset) << offset;
    EXPECT_LT(p.boundUs, 1000) << offset;
  }
}
}  // namespace
