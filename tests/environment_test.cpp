#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/memory.h"
#include "tests/support/support.h"
#include "zones/environment.h"
#include "zones/localtime.h"

namespace {

TEST(Environment, InheritedNamesAreUpperCasedValuesKept) {
  const char* inherited[] = {"tz=est5edt", "Path=/bin:/Usr", "x\xe4y=1", "=C:=C:\\"};
  envInitFrom(inherited, 4);
  EXPECT_STREQ(envGet("TZ"), "est5edt");
  EXPECT_EQ(envGet("tz"), nullptr);  // lookups are exact bytes
  EXPECT_STREQ(envGet("PATH"), "/bin:/Usr");
  EXPECT_STREQ(envGet("X\xe4Y"), "1");  // only a-z change case
  EXPECT_STREQ(envGet(""), "C:=C:\\");
  EXPECT_EQ(envGet("PAT"), nullptr);  // a prefix of a name is no match
}

TEST(Environment, FailedCopyEndsTheList) {
  const char* inherited[] = {"A=1", "B=2", "C=3"};
  heapFailAfter(3);  // the array, the owner list, then one copy succeed
  envInitFrom(inherited, 3);
  heapFailAfter(-1);
  EXPECT_EQ(envCount(), 1);
  EXPECT_STREQ(envGet("A"), "1");
  EXPECT_EQ(envGet("B"), nullptr);
}

TEST(Environment, PutReplacesRemovesAndAppends) {
  const char* inherited[] = {"A=1", "TZ=old", "B=2"};
  envInitFrom(inherited, 3);
  static char first[] = "TZ=EST-10EST";
  ASSERT_EQ(envPut(first), 0);
  EXPECT_EQ(envCount(), 3);
  EXPECT_EQ(envGet("TZ"), first + 3);  // a reference, not a copy
  first[3] = 'X';
  EXPECT_STREQ(envGet("TZ"), "XST-10EST");

  static const char second[] = "TZ=PST8PDT";
  ASSERT_EQ(envPut(second), 0);
  EXPECT_EQ(envCount(), 3);  // replaced, not added
  EXPECT_STREQ(envGet("TZ"), "PST8PDT");

  ASSERT_EQ(envPut("TZ="), 0);  // an empty value removes the entry
  EXPECT_EQ(envCount(), 2);
  EXPECT_EQ(envGet("TZ"), nullptr);
  EXPECT_STREQ(envGet("B"), "2");

  ASSERT_EQ(envPut("NEW="), 0);  // no match: appended, even when empty
  EXPECT_EQ(envCount(), 3);
  EXPECT_STREQ(envGet("NEW"), "");
  EXPECT_EQ(envPut("NOEQUALS"), -1);
  EXPECT_EQ(envCount(), 3);
}

TEST(Environment, PutFailsWhenTheListCannotGrow) {
  const char* inherited[] = {"A=1"};
  envInitFrom(inherited, 1);
  // Fill the list to its capacity (it grows by doubling from 32).
  for (int i = 0; i < 63; ++i) {
    static char names[63][8];
    std::snprintf(names[i], sizeof names[i], "V%d=1", i);
    envPut(names[i]);
  }
  int32_t before = envCount();
  ASSERT_EQ(before, 64);
  heapFailAfter(0);
  EXPECT_EQ(envPut("LATE=1"), -1);
  heapFailAfter(-1);
  EXPECT_EQ(envCount(), before);
  EXPECT_EQ(envGet("LATE"), nullptr);
}

TEST(Environment, PutReachesTheOperatingSystemAndTheZoneParse) {
  envInitFrom(nullptr, 0);
  static const char put[] = "KRONSEC_TEST_VAR=abc";
  ASSERT_EQ(envPut(put), 0);
  bool present = false;
  EXPECT_EQ(osEnvironment("KRONSEC_TEST_VAR", &present), "abc");
  EXPECT_TRUE(present);
  ASSERT_EQ(envPut("KRONSEC_TEST_VAR="), 0);
  osEnvironment("KRONSEC_TEST_VAR", &present);
  EXPECT_FALSE(present);

  static const char zone[] = "TZ=xST-12";
  ASSERT_EQ(envPut(zone), 0);
  parseTz();
  EXPECT_EQ(zoneOffset, -43200);
  EXPECT_EQ(zoneHasDst, 0);
}

TEST(Environment, InheritedLowerCaseTzIsTheZone) {
  const char* inherited[] = {"tz=NST3NDT"};
  envInitFrom(inherited, 1);
  parseTz();
  EXPECT_EQ(zoneOffset, 10800);
  EXPECT_EQ(zoneHasDst, 1);
}

TEST(Environment, InitFromTheProcessEnvironment) {
  envInit();
  bool present = false;
  std::string path = osEnvironment("PATH", &present);
  if (present) {
    ASSERT_NE(envGet("PATH"), nullptr);
    EXPECT_EQ(envGet("PATH"), path);
  }
  EXPECT_GT(envCount(), 0);
}

}  // namespace
