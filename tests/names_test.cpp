// The month and day name lists: defaults, write-back and the split, natively
// against kronsec's own INI store and under wine against the Windows one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/names.h"
#include "base/memory.h"
#include "platform/win32.h"
#include "tests/support/support.h"

namespace {

std::vector<std::string> entries(char* const* names, int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(names[i] ? names[i] : "<none>");
  return out;
}

std::vector<std::string> months() { return entries(monthNames, 12); }
std::vector<std::string> days() { return entries(dayNames, 7); }

const std::vector<std::string> defaultMonthList = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const std::vector<std::string> defaultDayList = {"Sun", "Mon", "Tue", "Wed",
                                                 "Thu", "Fri", "Sat"};

class NameLists : public CleanSettings {
 protected:
  void TearDown() override {
    freeNameLists();
    CleanSettings::TearDown();
  }
};

TEST_F(NameLists, NoKeysGiveDefaultsAndWriteBothKeys) {
  loadNameLists();
  EXPECT_EQ(months(), defaultMonthList);
  EXPECT_EQ(days(), defaultDayList);
  EXPECT_EQ(iniValue("months"), "Jan:Feb:Mar:Apr:May:Jun:Jul:Aug:Sep:Oct:Nov:Dec:");
  EXPECT_EQ(iniValue("days"), "Sun:Mon:Tue:Wed:Thu:Fri:Sat");
}

TEST_F(NameLists, TextIsWrittenBackUnchanged) {
  writeIni("days=Mo:Tu\r\nmonths=a::b:c:d:e:f:g:h:i:j:k:l:m\r\n");
  loadNameLists();
  EXPECT_EQ(iniValue("days"), "Mo:Tu");
  EXPECT_EQ(iniValue("months"), "a::b:c:d:e:f:g:h:i:j:k:l:m");
}

struct SplitRow {
  const char* body;  // orv.ini lines after the section header
  std::vector<std::string> months;
  std::vector<std::string> days;
};

TEST_F(NameLists, SplitRules) {
  const SplitRow rows[] = {
      // Two names, one separator: the rest are "error".
      {"days=Mo:Tu\r\n", defaultMonthList,
       {"Mo", "Tu", "error", "error", "error", "error", "error"}},
      // Present but empty: nothing to split.
      {"months=\r\n", std::vector<std::string>(12, "error"), defaultDayList},
      // Adjacent separators hold an empty name.
      {"days=Su::Tu:We:Th:Fr:Sa\r\n", defaultMonthList,
       {"Su", "", "Tu", "We", "Th", "Fr", "Sa"}},
      // A thirteenth name is ignored.
      {"months=1:2:3:4:5:6:7:8:9:10:11:12:13\r\n",
       {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"},
       defaultDayList},
      // The last name needs no separator after it.
      {"days=A:B:C:D:E:F:G\r\n", defaultMonthList,
       {"A", "B", "C", "D", "E", "F", "G"}},
      // One name without a separator.
      {"days=Only\r\n", defaultMonthList,
       {"Only", "error", "error", "error", "error", "error", "error"}},
      // A trailing separator on the last day changes nothing.
      {"days=A:B:C:D:E:F:G:\r\n", defaultMonthList,
       {"A", "B", "C", "D", "E", "F", "G"}},
  };
  for (const SplitRow& row : rows) {
    writeIni(row.body);
    loadNameLists();
    EXPECT_EQ(months(), row.months) << row.body;
    EXPECT_EQ(days(), row.days) << row.body;
    freeNameLists();
  }
}

TEST_F(NameLists, FreeNullsEveryEntry) {
  loadNameLists();
  freeNameLists();
  for (char* name : monthNames) EXPECT_EQ(name, nullptr);
  for (char* name : dayNames) EXPECT_EQ(name, nullptr);
  freeNameLists();  // a second release finds nothing to free
}

TEST_F(NameLists, FailedCopyAtFirstLoadLeavesNone) {
  heapFailAfter(0);  // January's copy fails
  loadNameLists();
  EXPECT_EQ(monthNames[0], nullptr);
  EXPECT_STREQ(monthNames[1], "Feb");
  EXPECT_EQ(days(), defaultDayList);
}

TEST_F(NameLists, FailedCopyKeepsThePreviousName) {
  loadNameLists();
  writeIni("months=Ene:Febr:Mar:Abr:May:Jun:Jul:Ago:Sep:Oct:Nov:Dic:\r\n"
           "days=Do:Lu:Ma:Mi:Ju:Vi:Sa\r\n");
  heapFailAfter(13);  // twelve months and Sunday copy, Monday fails
  loadNameLists();
  EXPECT_STREQ(monthNames[0], "Ene");
  EXPECT_STREQ(monthNames[11], "Dic");
  EXPECT_STREQ(dayNames[0], "Do");
  EXPECT_STREQ(dayNames[1], "Mon");
  EXPECT_STREQ(dayNames[2], "Ma");
}

}  // namespace
