#include "zones/localtime.h"

#include "base/units.h"
#include "platform/win32.h"
#include "zones/environment.h"

// Until the first parse the zone is the fallback one.
int32_t zoneOffset = 18000;
int32_t zoneHasDst = 1;

namespace {

constexpr int32_t secondsPerMinute = 60;
constexpr int32_t minutesPerHour = 60;
constexpr int32_t hoursPerDay = 24;
constexpr int32_t monthsPerYear = 12;
constexpr uint32_t daysPerCommonYear = 365;
constexpr uint32_t hoursPerCommonYear = 8760;
constexpr uint32_t hoursPerLeapYear = 8784;
constexpr uint32_t hoursPerFourYears = 35064;
constexpr uint32_t daysPerFourYears = 1461;
constexpr uint32_t leapCycleYears = 4;
constexpr uint32_t daysPerWeek = 7;

// A zone name is three letters; the offset follows it.
constexpr int zoneNameLength = 3;

// Years are counted from 1900 in the fields and from 1970 in the arithmetic.
constexpr int32_t epochYear = 70;
constexpr int32_t lastYear = 138;
// 1 January 1970 was a Thursday.
constexpr uint32_t epochWeekDay = 4;
// The day of the year of 29 February in a leap year, 0-based and 1-based.
constexpr uint32_t leapDayOfYear = 59;
constexpr int32_t leapDayNumber = 60;
constexpr int32_t leapFebruaryDays = 29;

// Months counted from 0, as BrokenDownTime and the month tables count them.
constexpr int32_t january = 0;
constexpr int32_t february = 1;
constexpr int32_t april = 3;
constexpr int32_t may = 4;
constexpr int32_t october = 9;
constexpr int32_t november = 10;
// The clocks change at 02:00; the first-Sunday April rule began in 1987.
constexpr uint32_t changeHour = 2;
constexpr uint32_t lastYearOfLateApril = 16;
constexpr uint32_t firstSundayAnchor = 7;

// Anything unreadable is taken as "EST5EDT".
constexpr int32_t fallbackOffset = 5 * secondsPerHour;

// A common year; February 29 is handled where it matters.
const int32_t cumulativeDays[13] = {0,   31,  59,  90,  120, 151, 181,
                                    212, 243, 273, 304, 334, 365};
const uint8_t monthLengths[12] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};


bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isLeapYear(uint32_t yearsSince1970) {
  return (yearsSince1970 + epochYear) % leapCycleYears == 0;
}

// Two's-complement sum without signed overflow: fields out of their usual
// ranges wrap as 32-bit machine arithmetic would.
int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) +
                              static_cast<uint32_t>(b));
}

// Minutes are never read, so "5:30" is five hours; the product wraps like the
// 32-bit arithmetic it stands for.
int32_t readOffsetSeconds(const char* text) {
  bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  uint32_t hours = 0;
  for (; isDigit(*text); ++text)
    hours = hours * 10 + static_cast<uint32_t>(*text - '0');
  if (negative) hours = 0u - hours;
  return static_cast<int32_t>(hours * static_cast<uint32_t>(secondsPerHour));
}

// Only the first letter after the offset is looked at: the daylight name
// must start there with three letters.
int32_t namesDaylightZone(const char* text) {
  while (*text && !isLetter(*text)) ++text;
  if (!*text) return 0;
  return isLetter(text[1]) && isLetter(text[2]) ? 1 : 0;
}

// The month (0-11) holding a 0-based day of the year.
int32_t monthOfYearDay(uint32_t yearDay, bool leap) {
  uint32_t t = yearDay;
  if (leap && t >= leapDayOfYear) --t;
  int32_t month = january;
  while (month + 1 < monthsPerYear &&
         t >= static_cast<uint32_t>(cumulativeDays[month + 1]))
    ++month;
  return month;
}

// The day of the year of the Sunday on which the clocks change in April or
// October of the given year.
uint32_t transitionDay(int32_t month, uint32_t years, bool leap) {
  uint32_t anchor;
  if (month == october)
    anchor = cumulativeDays[november];
  else if (years > lastYearOfLateApril)
    anchor = cumulativeDays[april] + firstSundayAnchor;
  else
    anchor = cumulativeDays[may];
  if (!leap) --anchor;
  uint32_t weekDay = (years * daysPerCommonYear + (years + 1) / leapCycleYears +
                      anchor + epochWeekDay) %
                     daysPerWeek;
  return anchor - weekDay;
}

// Carries whole months out of day; February 29 exists in leap years only.
void carryDaysIntoMonths(int32_t& year, int32_t& month, int32_t& day) {
  while (day >= monthLengths[month]) {
    bool leap = isLeapYear(static_cast<uint32_t>(year - epochYear));
    if (month == february && leap) {
      if (day < leapFebruaryDays) break;
      day -= leapFebruaryDays;
    } else {
      day -= monthLengths[month];
    }
    if (++month == monthsPerYear) {
      month = january;
      ++year;
    }
  }
}

// Fills the date fields from a 0-based day of the year.
void setDateFromYearDay(BrokenDownTime& t, bool leap) {
  int32_t d = t.yearDay + 1;
  if (leap && d == leapDayNumber) {
    t.month = february;
    t.monthDay = leapFebruaryDays;
    return;
  }
  if (leap && d > leapDayNumber) --d;
  t.month = january;
  while (t.month < monthsPerYear - 1 && d > monthLengths[t.month])
    d -= monthLengths[t.month++];
  t.monthDay = d;
}

}  // namespace

// The text must look like three letters and a whole-hour offset; a sign
// counts only when a digit follows it.
bool isAcceptedTz(const char* tz) {
  if (!tz) return false;
  for (int i = 0; i < zoneNameLength; ++i)
    if (!isLetter(tz[i])) return false;
  const char* offset = tz + zoneNameLength;
  if (isDigit(offset[0])) return true;
  return (offset[0] == '+' || offset[0] == '-') && isDigit(offset[1]);
}

void parseTz() {
  const char* tz = envGet("TZ");
  if (!isAcceptedTz(tz)) {
    zoneOffset = fallbackOffset;
    zoneHasDst = 1;
    return;
  }
  zoneOffset = readOffsetSeconds(tz + zoneNameLength);
  zoneHasDst = namesDaylightZone(tz + zoneNameLength);
}

uint32_t isDaylightTime(uint32_t hour, uint32_t day, uint32_t month,
                        uint32_t years) {
  if (month > monthsPerYear) return 0;
  bool leap = isLeapYear(years);
  uint32_t yearDay = day;
  // The caller's month counts from 1, with 0 for "from the day of the year".
  int32_t m;
  if (month == 0) {
    m = monthOfYearDay(day, leap);
  } else {
    m = static_cast<int32_t>(month) - 1;
    yearDay = day + cumulativeDays[m] + (leap && m > february ? 1 : 0);
  }
  if (m != april && m != october) return m > april && m < october ? 1 : 0;
  uint32_t change = transitionDay(m, years, leap);
  // In April daylight time begins on the change day, in October it ends.
  bool afterChange =
      yearDay > change || (yearDay == change && hour >= changeHour);
  return (m == april) == afterChange ? 1 : 0;
}

namespace {
// Wall-clock fields with every field carried into range: month 0-11, day
// 0-based, years counted from 1970.
struct WallFields {
  uint32_t years;
  int32_t month, day, hour, minute, second;
};

// Returns false for a year outside 70..138 or a negative month.
bool carryFields(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                 int32_t second, WallFields* out) {
  // A negative month would index outside the month tables.
  if (year < epochYear || year > lastYear || month < 0) return false;
  minute = wrapAdd(minute, second / secondsPerMinute);
  second %= secondsPerMinute;
  hour = wrapAdd(hour, minute / minutesPerHour);
  minute %= minutesPerHour;
  day = wrapAdd(day, hour / hoursPerDay);
  hour %= hoursPerDay;
  year += month / monthsPerYear;
  month %= monthsPerYear;
  carryDaysIntoMonths(year, month, day);
  *out = WallFields{static_cast<uint32_t>(year - epochYear), month, day, hour, minute, second};
  return true;
}

// The fields read as UTC, in seconds since 1970, modulo 2^32.
uint32_t fieldSeconds(const WallFields& f) {
  uint32_t leapDays = (f.years + 2) / leapCycleYears;
  if (isLeapYear(f.years) && f.month < 2) --leapDays;
  uint32_t days = f.years * daysPerCommonYear + leapDays + cumulativeDays[f.month] +
                  static_cast<uint32_t>(f.day);
  return days * secondsPerDay + static_cast<uint32_t>(f.hour) * static_cast<uint32_t>(secondsPerHour) +
         static_cast<uint32_t>(f.minute) * secondsPerMinute + static_cast<uint32_t>(f.second);
}
}  // namespace

int32_t localToSeconds(int32_t year, int32_t month, int32_t day, int32_t hour,
                       int32_t minute, int32_t second) {
  WallFields f;
  if (!carryFields(year, month, day, hour, minute, second, &f)) return -1;
  uint32_t r = fieldSeconds(f) + static_cast<uint32_t>(zoneOffset);
  // The wall-clock hour decides, so 02:30 on the April change day is daylight.
  if (zoneHasDst &&
      isDaylightTime(static_cast<uint32_t>(f.hour), static_cast<uint32_t>(f.day),
                     static_cast<uint32_t>(f.month) + 1, f.years))
    r -= static_cast<uint32_t>(secondsPerHour);
  int32_t result = static_cast<int32_t>(r);
  return result < 1 ? -1 : result;
}

int32_t utcToSeconds(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                     int32_t second) {
  WallFields f;
  if (!carryFields(year, month, day, hour, minute, second, &f)) return -1;
  int32_t result = static_cast<int32_t>(fieldSeconds(f));
  return result < 0 ? -1 : result;
}

BrokenDownTime breakDownSeconds(uint32_t seconds, int32_t applyDaylight) {
  BrokenDownTime t{};
  t.second = static_cast<int32_t>(seconds % secondsPerMinute);
  seconds /= secondsPerMinute;
  t.minute = static_cast<int32_t>(seconds % minutesPerHour);
  uint32_t h = seconds / minutesPerHour;

  uint32_t cycles = h / hoursPerFourYears;
  uint32_t years = leapCycleYears * cycles;
  uint32_t elapsedDays = daysPerFourYears * cycles;
  h %= hoursPerFourYears;
  for (;;) {
    uint32_t yearHours =
        isLeapYear(years) ? hoursPerLeapYear : hoursPerCommonYear;
    if (h < yearHours) break;
    elapsedDays += yearHours / hoursPerDay;
    ++years;
    h -= yearHours;
  }

  // The rule sees the standard-time hour, so October's change falls at
  // 02:00 standard time.
  t.isDst = 0;
  if (applyDaylight && zoneHasDst &&
      isDaylightTime(h % hoursPerDay, h / hoursPerDay, 0, years)) {
    ++h;
    t.isDst = 1;
  }
  t.hour = static_cast<int32_t>(h % hoursPerDay);
  t.yearDay = static_cast<int32_t>(h / hoursPerDay);
  t.weekDay = static_cast<int32_t>(
      (elapsedDays + static_cast<uint32_t>(t.yearDay) + epochWeekDay) %
      daysPerWeek);
  t.year = static_cast<int32_t>(years + epochYear);
  setDateFromYearDay(t, isLeapYear(years));
  return t;
}

BrokenDownTime utcFields(int32_t seconds) {
  return breakDownSeconds(static_cast<uint32_t>(seconds), 0);
}

std::optional<BrokenDownTime> localFields(int32_t seconds) {
  if (seconds < zoneOffset) return std::nullopt;
  uint32_t standard =
      static_cast<uint32_t>(seconds) - static_cast<uint32_t>(zoneOffset);
  return breakDownSeconds(standard, 1);
}

int32_t localClockSeconds(int32_t* out) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  // Milliseconds are dropped: the result counts whole seconds.
  int32_t r = localToSeconds(now.wYear - 1900, now.wMonth - 1, now.wDay - 1,
                             now.wHour, now.wMinute, now.wSecond);
  if (out) *out = r;
  return r;
}
