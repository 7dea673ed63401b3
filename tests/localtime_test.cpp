#include "zones/localtime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "zones/environment.h"

namespace {

// Makes text the environment's TZ (nullptr: no TZ at all) and parses it.
void useTz(const char* text) {
  if (!text) {
    envInitFrom(nullptr, 0);
  } else {
    std::string entry = std::string("TZ=") + text;
    const char* entries[] = {entry.c_str()};
    envInitFrom(entries, 1);
  }
  parseTz();
}

std::string show(const std::optional<BrokenDownTime>& t) {
  if (!t) return "none";
  char text[64];
  std::snprintf(text, sizeof text,
                "%04d-%02d-%02d %02d:%02d:%02d w%d d%d dst%d", t->year + 1900,
                t->month + 1, t->monthDay, t->hour, t->minute, t->second,
                t->weekDay, t->yearDay, t->isDst);
  return text;
}

TEST(TzParse, ReadsWholeHoursAndADaylightName) {
  struct Row {
    const char* tz;
    int32_t offset;
    int32_t hasDst;
  } rows[] = {
      {"EST5EDT", 18000, 1},
      {"NST3NDT", 10800, 1},
      {"AST10ADT", 36000, 1},
      {"EST-10EST", -36000, 1},
      {"xST-8xDT", -28800, 1},
      {"xST-12", -43200, 0},
      {"xST0", 0, 0},
      {"GMT0BST", 0, 1},
      {"EST+5EDT", 18000, 1},
      {"EST5:30EDT", 18000, 1},
      {"EST5edt", 18000, 1},
      {"EST5E", 18000, 0},
      {"EST5E1DT", 18000, 0},
      {"EST5\xc4"
       "DT",
       18000, 0},
      // Unreadable texts fall back to EST5EDT.
      {nullptr, 18000, 1},
      {"", 18000, 1},
      {"PST", 18000, 1},
      {"P1T8PDT", 18000, 1},
      {"EST-EDT", 18000, 1},
      {"EST 5EDT", 18000, 1},
      {"E\xc4T5EDT", 18000, 1},
      {"xST+", 18000, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.tz ? row.tz : "(absent)");
    zoneOffset = 1;  // so that the fallback is seen to write both fields
    zoneHasDst = 0;
    useTz(row.tz);
    EXPECT_EQ(zoneOffset, row.offset);
    EXPECT_EQ(zoneHasDst, row.hasDst);
  }
}

TEST(DaylightRule, ChangesOnTheRightSundayAndHour) {
  struct Row {
    uint32_t hour, day, month, years, expected;
  } rows[] = {
      // 1970-1986: the last Sunday of April; 27 April 1986.
      {1, 26, 4, 16, 0},
      {2, 26, 4, 16, 1},
      {23, 25, 4, 16, 0},
      // From 1987 the first Sunday; 5 April 1987.
      {1, 4, 4, 17, 0},
      {2, 4, 4, 17, 1},
      {23, 3, 4, 17, 0},
      // 1995: 2 April to 29 October.
      {1, 1, 4, 25, 0},
      {2, 1, 4, 25, 1},
      {0, 29, 4, 25, 1},
      {1, 28, 10, 25, 1},
      {2, 28, 10, 25, 0},
      {23, 27, 10, 25, 1},
      {0, 29, 10, 25, 0},
      // The same days given as days of the year (month 0).
      {1, 91, 0, 25, 0},
      {2, 91, 0, 25, 1},
      {1, 301, 0, 25, 1},
      {2, 301, 0, 25, 0},
      // Leap 1996: 7 April (day 97) to 27 October (day 300).
      {2, 6, 4, 26, 1},
      {1, 97, 0, 26, 0},
      {2, 97, 0, 26, 1},
      {1, 300, 0, 26, 1},
      {2, 300, 0, 26, 0},
      {12, 59, 0, 26, 0},
      // Whole months.
      {12, 30, 3, 25, 0},
      {0, 0, 5, 25, 1},
      {12, 29, 9, 25, 1},
      {12, 0, 11, 25, 0},
      {12, 0, 1, 25, 0},
      {12, 30, 12, 25, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << "hour " << row.hour << " day " << row.day << " month "
                 << row.month << " years " << row.years);
    EXPECT_EQ(isDaylightTime(row.hour, row.day, row.month, row.years),
              row.expected);
  }
}

TEST(LocalTimeUtcFields, BreaksDownWithoutDaylight) {
  useTz("EST5EDT");  // the zone must not matter
  struct Row {
    int32_t seconds;
    const char* expected;
  } rows[] = {
      {0, "1970-01-01 00:00:00 w4 d0 dst0"},
      {951782400, "2000-02-29 00:00:00 w2 d59 dst0"},
      {951868800, "2000-03-01 00:00:00 w3 d60 dst0"},
      {804873600, "1995-07-04 16:00:00 w2 d184 dst0"},
      {2147483647, "2038-01-19 03:14:07 w2 d18 dst0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.seconds);
    EXPECT_EQ(show(utcFields(row.seconds)), row.expected);
  }
}

TEST(LocalTimeLocalFields, ShowsStandardOrDaylightWallClock) {
  struct Row {
    const char* tz;
    int32_t seconds;
    const char* expected;
  } rows[] = {
      {"EST5EDT", 804873600, "1995-07-04 12:00:00 w2 d184 dst1"},
      {"xST-8xDT", 804826800, "1995-07-04 12:00:00 w2 d184 dst1"},
      {"xST-12", 804873600, "1995-07-05 04:00:00 w3 d185 dst0"},
      // Daylight time starts 2 April 1995 at 02:00 standard time...
      {"EST5EDT", 796805999, "1995-04-02 01:59:59 w0 d91 dst0"},
      {"EST5EDT", 796806000, "1995-04-02 03:00:00 w0 d91 dst1"},
      // ...and ends 29 October at 02:00 standard time, 03:00 daylight.
      {"EST5EDT", 814949999, "1995-10-29 02:59:59 w0 d301 dst1"},
      {"EST5EDT", 814950000, "1995-10-29 02:00:00 w0 d301 dst0"},
      {"EST5EDT", 17999, "none"},
      {"EST5EDT", 18000, "1970-01-01 00:00:00 w4 d0 dst0"},
      {"EST-10EST", 2147483647, "2038-01-19 13:14:07 w2 d18 dst0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.tz << " " << row.seconds);
    useTz(row.tz);
    EXPECT_EQ(show(localFields(row.seconds)), row.expected);
  }
}

TEST(LocalTimeLocalFields, EachCallReturnsItsOwnValue) {
  useTz("EST5EDT");
  BrokenDownTime utc = utcFields(0);
  std::optional<BrokenDownTime> local = localFields(804873600);
  EXPECT_EQ(utc.year, 70);
  EXPECT_EQ(local->year, 95);
}

TEST(LocalToSeconds, ReadsWallClockFields) {
  struct Row {
    const char* tz;
    int32_t year, month, day, hour, minute, second;
    int32_t expected;
  } rows[] = {
      {"EST5EDT", 95, 6, 3, 12, 0, 0, 804873600},
      {"xST-8xDT", 95, 6, 3, 12, 0, 0, 804826800},
      // 02:30 on the April change day is counted as daylight time.
      {"EST5EDT", 95, 3, 1, 2, 30, 0, 796804200},
      // On the October change day the wall-clock hour decides.
      {"EST5EDT", 95, 9, 28, 1, 59, 59, 814946399},
      {"EST5EDT", 95, 9, 28, 2, 0, 0, 814950000},
      // The ends of the range.
      {"EST5EDT", 69, 11, 30, 23, 59, 59, -1},
      {"EST5EDT", 138, 0, 17, 22, 14, 7, 2147483647},
      {"EST5EDT", 138, 0, 18, 0, 0, 0, -1},
      {"EST5EDT", 139, 0, 0, 0, 0, 0, -1},
      {"xST0", 70, 0, 0, 0, 0, 0, -1},
      {"xST0", 70, 0, 0, 0, 0, 1, 1},
      // Carries; the year is tested before the month carries into it.
      {"EST5EDT", 95, 13, 0, 0, 0, 0, 823150800},
      {"EST5EDT", 96, 1, 0, 0, 0, 0, 823150800},
      {"EST5EDT", 96, 1, 28, 0, 0, 0, 825570000},
      {"EST5EDT", 96, 1, 29, 0, 0, 0, 825656400},
      {"EST5EDT", 95, 1, 28, 0, 0, 0, 794034000},
      {"EST5EDT", 95, 11, 31, 0, 0, 0, 820472400},
      {"EST5EDT", 95, 6, 3, 11, 59, 60, 804873600},
      {"EST5EDT", 95, 6, 2, 36, 0, 0, 804873600},
      {"EST5EDT", 69, 12, 0, 0, 0, 0, -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << row.tz << " " << row.year << "/" << row.month << "/"
                 << row.day << " " << row.hour << ":" << row.minute << ":"
                 << row.second);
    useTz(row.tz);
    EXPECT_EQ(localToSeconds(row.year, row.month, row.day, row.hour, row.minute,
                             row.second),
              row.expected);
  }
}

// Reading back the fields of any value gives the value again, except for
// the hour that October's wall clock shows twice: it reads as the later,
// standard-time one.
TEST(LocalTimeRoundTrip, FieldsReadBackAsTheSameSeconds) {
  const int32_t step = 3607;  // prime, so every hour and minute is visited
  for (const char* tz : {"EST5EDT", "EST-10EST", "xST-12"}) {
    SCOPED_TRACE(tz);
    useTz(tz);
    int32_t failures = 0;
    for (int32_t s = zoneOffset > 0 ? zoneOffset : 1;
         s <= 2147483647 - step && failures < 5; s += step) {
      BrokenDownTime t = *localFields(s);
      int32_t back = localToSeconds(t.year, t.month, t.monthDay - 1, t.hour,
                                    t.minute, t.second);
      bool repeated = t.isDst && t.month == 9 && t.monthDay >= 25 &&
                      t.weekDay == 0 && t.hour == 2;
      int32_t expected = repeated ? s + 3600 : s;
      if (back != expected) {
        ADD_FAILURE() << s << " -> " << show(t) << " -> " << back;
        ++failures;
      }
    }
  }
}

}  // namespace
