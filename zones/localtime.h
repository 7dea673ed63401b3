// kronsec's own local-time rules: a TZ text of the form "EST5EDT" (whole-hour
// offset west of UTC, optional daylight name), one fixed daylight-saving rule,
// and conversions between wall-clock fields and seconds since 1970 UTC.
//
// Integer-only 32-bit arithmetic, no allocation. Seconds values run from 0 to
// 2147483647 (2038-01-19 03:14:07 UTC); -1 means no value.
#pragma once
#include <cstdint>
#include <optional>

// Calendar fields; month 0-11, year since 1900, weekDay 0 = Sunday.
struct BrokenDownTime {
  int32_t second;
  int32_t minute;
  int32_t hour;
  int32_t monthDay;
  int32_t month;
  int32_t year;
  int32_t weekDay;
  int32_t yearDay;
  int32_t isDst;
};

// Zone state, written only by parseTz: standard local time = UTC - zoneOffset.
extern int32_t zoneOffset;
extern int32_t zoneHasDst;

// Sets the zone state from the environment's "TZ"; anything it cannot read
// gives the fallback of "EST5EDT" (18000 seconds west, daylight on).
void parseTz();

// Returns whether parseTz reads tz (nullptr: none) as the zone it names:
// three letters and a whole-hour offset. Any other text gives the fallback.
bool isAcceptedTz(const char* tz);

// Returns 1 when daylight time is in force at the given hour of the given day.
// month is 1-12 with day the 0-based day of that month, or 0 with day the
// 0-based day of the year; years counts from 1970.
uint32_t isDaylightTime(uint32_t hour, uint32_t day, uint32_t month,
                        uint32_t years);

// Returns the seconds since 1970 UTC for local wall-clock fields (year since
// 1900, month 0-based, day 0-based), or -1 outside 1..2147483647 or for a year
// outside 70..138. Fields beyond their usual ranges carry upward.
int32_t localToSeconds(int32_t year, int32_t month, int32_t day, int32_t hour,
                       int32_t minute, int32_t second);

// Returns the seconds since 1970 of UTC fields (year since 1900, month
// 0-based, day 0-based), or -1 outside 0..2147483647 or for a year outside
// 70..138. Fields beyond their usual ranges carry upward.
int32_t utcToSeconds(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                     int32_t second);

// Returns the breakdown of seconds, one hour later (isDst 1) when
// applyDaylight is set and the daylight rule holds.
BrokenDownTime breakDownSeconds(uint32_t seconds, int32_t applyDaylight);

// Returns seconds as UTC fields (isDst 0).
BrokenDownTime utcFields(int32_t seconds);

// Returns seconds as local fields, or nothing when seconds is smaller than
// zoneOffset (local time has no breakdown there).
std::optional<BrokenDownTime> localFields(int32_t seconds);

// Returns the machine's local clock (GetLocalTime) as seconds since 1970 UTC
// under the zone state, or -1; also stores the result through out when given.
int32_t localClockSeconds(int32_t* out = nullptr);
