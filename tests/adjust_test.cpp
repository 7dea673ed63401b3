// What the clock becomes for an answer: every path of the decision, row by
// row, with the user's answers and the time they took given as inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "timeclient/adjust.h"
#include "timeclient/drift.h"

namespace {
constexpr uint32_t y2000 = 3155673600u;  // 2000-01-01 00:00:00 UTC since 1900
constexpr int32_t y2000Unix = 946684800;
constexpr Answer yes = Answer::kYes, no = Answer::kNo, cancel = Answer::kCancel;
constexpr int32_t est = 18000;  // EST5EDT's offset west of UTC
constexpr uint32_t y1970 = 2208988800u;
constexpr uint32_t last2038 = 61505151u;  // 2038-01-19 03:14:07 UTC, mod 2^32
constexpr int32_t int32Min = -2147483647 - 1;

ClockInputs base() {
  ClockInputs in{};
  in.answer = y2000;
  in.localSecs = y2000Unix;
  in.useDST = 1;
  return in;
}

struct Row {
  const char* name;
  ClockInputs in;
  bool asked;            // a PolicyOutcome is handed in (the over-limit path ran)
  PolicyOutcome outcome;
  int32_t server;        // expected serverSecs
  int32_t local;         // expected localSecs
  const char* action;
  bool overLimit;
  bool setsClock;
};

ClockInputs with(void (*change)(ClockInputs&)) {
  ClockInputs in = base();
  change(in);
  return in;
}

TEST(ClockDecision, EveryPathGivesItsValueAndAction) {
  const Row rows[] = {
      {"the 2000-01-01 bytes", with([](ClockInputs& i) { i.reportOnly = 1; }), false, {},
       y2000Unix, y2000Unix, "report", false, false},
      {"lag 1999 adds nothing", with([](ClockInputs& i) { i.readLagMs = 1999; i.localSecs = 0; }),
       false, {}, y2000Unix, 0, "reset", false, true},
      {"lag 2000 adds 1", with([](ClockInputs& i) { i.readLagMs = 2000; }), false, {},
       y2000Unix + 1, y2000Unix, "reset", false, true},
      {"lag 3999 adds 1", with([](ClockInputs& i) { i.readLagMs = 3999; }), false, {},
       y2000Unix + 1, y2000Unix, "reset", false, true},
      {"lag 4000 adds 2", with([](ClockInputs& i) { i.readLagMs = 4000; }), false, {},
       y2000Unix + 2, y2000Unix, "reset", false, true},
      {"add 30 and daylight unmarked in a daylight zone",
       with([](ClockInputs& i) { i.add30 = 1; i.zoneHasDst = 1; i.useDST = 0; }), false, {},
       y2000Unix + 1800 - 3600, y2000Unix, "reset", false, true},
      {"daylight unmarked in a zone without daylight",
       with([](ClockInputs& i) { i.zoneHasDst = 0; i.useDST = 0; }), false, {},
       y2000Unix, y2000Unix, "reset", false, false},
      {"equal values set nothing", base(), false, {}, y2000Unix, y2000Unix, "reset", false, false},
      {"limit 60 at +60", with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs -= 60; }), false,
       {}, y2000Unix, y2000Unix - 60, "reset", false, true},
      {"limit 60 at -60", with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs += 60; }), false,
       {}, y2000Unix, y2000Unix + 60, "reset", false, true},
      {"limit 4294967295", with([](ClockInputs& i) { i.maxAdjust = 4294967295u; i.localSecs = 1; }),
       false, {}, y2000Unix, 1, "reset", false, true},
      {"+61 over 60, Yes", with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs -= 61; }), true,
       {yes, 0}, y2000Unix, y2000Unix - 61, "accept", true, true},
      {"+100 over 60, No: moves 60", with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs -= 100; }),
       true, {no, 0}, y2000Unix - 40, y2000Unix - 100, "partial", true, true},
      {"-61 over 60, No: moves back 60", with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs += 61; }),
       true, {no, 0}, y2000Unix + 1, y2000Unix + 61, "partial", true, true},
      {"over, Cancel: ignored", with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs -= 100; }),
       true, {cancel, 0}, y2000Unix - 100, y2000Unix - 100, "ignore", true, false},
      {"over, no box shown", with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs -= 100; }),
       true, {Answer::kNone, 0}, y2000Unix, y2000Unix - 100, "reset", true, true},
      {"over, 7.9 s of sound and prompt",
       with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs -= 100; }), true, {yes, 7900},
       y2000Unix + 7, y2000Unix - 93, "accept", true, true},
      {"adjOpt 1 ignores", with([](ClockInputs& i) { i.maxAdjust = 60; i.adjOpt = 1; i.localSecs -= 100; }),
       true, {Answer::kNone, 0}, y2000Unix - 100, y2000Unix - 100, "ignore", true, false},
      {"adjOpt 5 accepts", with([](ClockInputs& i) { i.maxAdjust = 60; i.adjOpt = 5; i.localSecs -= 100; }),
       true, {Answer::kNone, 0}, y2000Unix, y2000Unix - 100, "accept", true, true},
      {"report only is never limited",
       with([](ClockInputs& i) { i.reportOnly = 1; i.maxAdjust = 60; i.localSecs -= 1000; }), false, {},
       y2000Unix, y2000Unix - 1000, "report", false, false},
      {"a local clock of -1 takes part",
       with([](ClockInputs& i) { i.maxAdjust = 60; i.adjOpt = 1; i.localSecs = -1; }), true, {Answer::kNone, 0},
       -1, -1, "ignore", true, false},
      {"no step of 60 from a local clock of -1",
       with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs = -1; }), true, {no, 0}, -1, -1,
       "ignore", true, false},
      {"an unknown clock stays unknown through 3 s of Cancel",
       with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs = -1; }), true, {cancel, 3000}, -1,
       -1, "ignore", true, false},
      {"an unknown clock stays unknown through 3 s of No",
       with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs = -1; }), true, {no, 3000}, -1, -1,
       "ignore", true, false},
      {"3 s of Yes move the server's value on, not the unknown clock",
       with([](ClockInputs& i) { i.maxAdjust = 60; i.localSecs = -1; }), true, {yes, 3000},
       y2000Unix + 3, -1, "accept", true, true},
      {"2147483647 is 1968: outside the clock's range",
       with([](ClockInputs& i) { i.answer = 2147483647u; i.zoneOffset = est; }), false, {},
       -61505153, y2000Unix, "ignore", false, false},
      {"1970-01-01 00:00:00 is before 1970 in a western zone",
       with([](ClockInputs& i) { i.answer = y1970; i.zoneOffset = est; }), false, {}, 0, y2000Unix,
       "ignore", false, false},
      {"1970-01-01 00:00:00 at UTC", with([](ClockInputs& i) { i.answer = y1970; }), false, {}, 0,
       y2000Unix, "reset", false, true},
      {"the western zone's first second",
       with([](ClockInputs& i) { i.answer = y1970 + est; i.zoneOffset = est; }), false, {}, est,
       y2000Unix, "reset", false, true},
      {"1969-12-31 23:59:59 east of UTC",
       with([](ClockInputs& i) { i.answer = y1970 - 1; i.zoneOffset = -3600; }), false, {}, -1,
       y2000Unix, "ignore", false, false},
      {"the protocol's 0 is 2036-02-07 06:28:16", with([](ClockInputs& i) { i.answer = 0; }), false,
       {}, 2085978496, y2000Unix, "reset", false, true},
      {"4294967295 is 2036-02-07 06:28:15", with([](ClockInputs& i) { i.answer = 4294967295u; }),
       false, {}, 2085978495, y2000Unix, "reset", false, true},
      {"2038-01-19 03:14:07", with([](ClockInputs& i) { i.answer = last2038; i.zoneOffset = est; }),
       false, {}, 2147483647, y2000Unix, "reset", false, true},
      {"the lag carries 2038-01-19 03:14:07 out of range",
       with([](ClockInputs& i) { i.answer = last2038; i.readLagMs = 2000; }), false, {}, int32Min,
       y2000Unix, "ignore", false, false},
      {"outside the range, a limit asks nothing",
       with([](ClockInputs& i) { i.answer = 2147483647u; i.maxAdjust = 60; }), false, {}, -61505153,
       y2000Unix, "ignore", false, false},
      {"2036 over a limit asks", with([](ClockInputs& i) { i.answer = 0; i.maxAdjust = 60; }), true,
       {yes, 0}, 2085978496, y2000Unix, "accept", true, true},
      {"outside the range, report-only reports",
       with([](ClockInputs& i) { i.answer = 2147483647u; i.reportOnly = 1; i.zoneOffset = est; }),
       false, {}, -61505153, y2000Unix, "report", false, false},
  };
  for (const Row& row : rows) {
    ClockDecision first = decideClock(row.in, nullptr);
    EXPECT_EQ(first.overLimit, row.overLimit) << row.name;
    EXPECT_EQ(first.asks, row.overLimit && row.in.adjOpt == 0) << row.name;
    ClockDecision d = row.asked ? decideClock(row.in, &row.outcome) : first;
    EXPECT_EQ(d.serverSecs, row.server) << row.name;
    EXPECT_EQ(d.localSecs, row.local) << row.name;
    EXPECT_STREQ(actionText(d.action), row.action) << row.name;
    EXPECT_EQ(d.setsClock, row.setsClock) << row.name;
    // The one "ignore" that no policy gave is a value outside the range.
    EXPECT_EQ(d.refused, !row.overLimit && std::strcmp(row.action, "ignore") == 0) << row.name;
    EXPECT_EQ(d.localUnknown, row.in.localSecs == -1) << row.name;
  }
}

TEST(ClockDecision, TheLimitAndTheQuestion) {
  ClockInputs in = base();
  in.maxAdjust = 60;
  in.localSecs = y2000Unix + 61;
  ClockDecision d = decideClock(in, nullptr);
  EXPECT_TRUE(d.asks);
  EXPECT_EQ(d.diffSecs, -61);
  EXPECT_EQ(d.limitSecs, y2000Unix + 1);  // local - 60
  in.adjOpt = 2;
  EXPECT_FALSE(decideClock(in, nullptr).asks);  // over the limit, but accepted without asking
}

TEST(ClockDecision, WrapsLikeThirtyTwoBitSeconds) {
  ClockInputs in = base();
  in.reportOnly = 1;
  in.answer = 0;  // 1900: far before 1970, wraps into the positive range
  EXPECT_EQ(static_cast<uint32_t>(decideClock(in, nullptr).serverSecs), 2085978496u);
  in.answer = 4294967295u;  // the protocol's last second, 2036-02-07 06:28:15
  EXPECT_EQ(decideClock(in, nullptr).serverSecs, 2085978495);
}

constexpr int64_t dayUs = 86400000000;

// Daily runs of a clock that gains ppm with the correction inForce in
// force, each offset measured to errorUs; report-only, so nothing moves.
std::vector<DriftSample> dailyRuns(int32_t runs, double ppm, int64_t errorUs, double inForce = 0) {
  std::vector<DriftSample> out;
  for (int32_t k = 0; k < runs; ++k)
    out.push_back(DriftSample{1796688000000000 + k * dayUs, -std::llround((ppm + inForce) * 86400 * k), errorUs,
                              0, inForce, inForce, true});
  return out;
}

// The drift learnt from the runs before: the estimate, the correction the
// kernel is told (within 50 ppm of the one in force, and 500 ppm), resets.
TEST(Drift, EstimatesFromTheRunsBefore) {
  using Samples = std::vector<DriftSample>;
  const struct {
    const char* name;
    Samples samples;
    DriftEstimate::Kind kind;
    double drift, correction;
    int32_t runs;
  } rows[] = {
      {"+30 ppm", dailyRuns(4, 30, 1000), DriftEstimate::kKnown, 30, -30, 4},
      {"-80 ppm: 50 at a time", dailyRuns(3, -80, 1000), DriftEstimate::kKnown, -80, 50, 3},
      {"-80 ppm, 50 already", dailyRuns(3, -80, 1000, 50), DriftEstimate::kKnown, -80, 80, 3},
      {"+5 ppm", dailyRuns(2, 5, 1000), DriftEstimate::kKnown, 5, -5, 2},
      {"one run", dailyRuns(1, 30, 1000), DriftEstimate::kLearning, 0, 0, 1},
      {"whole seconds a day apart", dailyRuns(3, 30, 1000000), DriftEstimate::kLearning, 0, 0, 3},
      {"a noisy run among good ones", [] {
         Samples s = dailyRuns(6, 30, 1000);
         s[3].offsetUs += 30000;
         s[3].errorUs = 40000;
         return s;
       }(), DriftEstimate::kKnown, 30, -30, 6},
      {"moved 600 s between runs", [] {
         Samples s = dailyRuns(4, 30, 1000);
         s[3].offsetUs += 600000000;
         return s;
       }(), DriftEstimate::kReset, 0, 0, 1},
      {"a restart between runs counts nothing", [] {
         Samples s = dailyRuns(3, 30, 1000);
         s[1].sameBoot = s[2].sameBoot = false;
         return s;
       }(), DriftEstimate::kLearning, 0, 0, 3},
      {"the kernel's 500 ppm", dailyRuns(3, 700, 1000, -480), DriftEstimate::kKnown, 700, -500, 3},
  };
  for (const auto& row : rows) {
    DriftEstimate e = estimateDrift(row.samples.data(), static_cast<int32_t>(row.samples.size()));
    EXPECT_EQ(e.kind, row.kind) << row.name;
    EXPECT_EQ(e.runs, row.runs) << row.name;
    if (row.kind != DriftEstimate::kKnown) continue;
    EXPECT_NEAR(e.driftPpm, row.drift, 0.05) << row.name;
    EXPECT_NEAR(e.correctionPpm, row.correction, 0.05) << row.name;
  }
}

// A month of daily runs of a clock gaining 30 ppm, its rate wandering by
// 0.5 ppm, each run correcting the clock and telling the kernel what it
// learnt: from the third run on, each offset found is within 50 ms.
TEST(Drift, AMonthOfDailyRunsKeepsTheClockWithin50Ms) {
  const double pi = std::acos(-1.0);
  std::vector<DriftSample> history;
  double correction = 0, offsetUs = 0, worst = 0;
  for (int32_t day = 0; day < 30; ++day) {
    if (day > 0) {
      double ppm = 30 + 0.5 * std::sin(2 * pi * day / 30);
      offsetUs -= (ppm + correction) * 86400;
    }
    if (day >= 2) worst = std::max(worst, std::fabs(offsetUs));
    int64_t measured = std::llround(offsetUs) + (day % 3 - 1) * 500;  // within its 1 ms
    history.push_back(DriftSample{1796688000000000 + day * dayUs, measured, 1000, measured, correction,
                                  correction, true});
    DriftEstimate e = estimateDrift(history.data(), static_cast<int32_t>(history.size()));
    history.back().setPpm = correction = e.correctionPpm;
    offsetUs -= static_cast<double>(measured);  // the run steps the clock by what it found
  }
  EXPECT_LE(worst, 50000) << "the largest offset from the third run on, in us";
}

}  // namespace
