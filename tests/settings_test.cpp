// The settings store through the platform's profile calls: natively against
// kronsec's own INI store, under wine against the real Windows one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/appstate.h"
#include "base/memory.h"
#include "base/text.h"
#include "tests/support/support.h"
#include "zones/environment.h"

namespace {

class Settings : public CleanSettings {
 protected:
  void SetUp() override {
    CleanSettings::SetUp();
    envInitFrom(nullptr, 0);
  }
};

TEST_F(Settings, FirstRunTakesDefaultsAndWritesEveryKey) {
  AppState* s = loadSettings();
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s->host, "time.nist.gov");
  EXPECT_EQ(s->attempts, 3u);
  EXPECT_EQ(s->useDST, 1);
  EXPECT_EQ(s->useTZ, 0);
  EXPECT_EQ(s->TZindex, -1);
  EXPECT_EQ(s->add30 | s->autoClose | s->reportOnly | s->adjOpt | s->logOpts, 0);
  EXPECT_EQ(s->maxAdjust, 0u);
  EXPECT_EQ(s->sock, INVALID_SOCKET);
  EXPECT_EQ(s->port, 37);
  EXPECT_EQ(s->tz, nullptr);
  EXPECT_EQ(s->logPath, nullptr);
  EXPECT_EQ(s->customZone, nullptr);
  saveSettings(s);

  const char* const written[][2] = {
      {"host", "time.nist.gov"}, {"attempts", "3"}, {"useDST", "1"},
      {"useTZ", "0"},  {"add30", "0"},   {"autoClose", "0"},
      {"reportOnly", "0"}, {"TZindex", "-1"}, {"maxAdjust", "0"},
      {"adjOpt", "0"},  {"logOpts", "0"}, {"useCustom", "0"},
      {"logPath", "<missing>"}, {"TZ", "<missing>"}, {"Label", "<missing>"}};
  for (const auto& row : written) EXPECT_EQ(iniValue(row[0]), row[1]) << row[0];
}

TEST_F(Settings, ValuesRoundTripThroughTheFile) {
  writeIni("useDST=7\r\nmaxAdjust=4294967295\r\nattempts=2147483648\r\n"
           "TZindex=-2\r\nadjOpt=5\r\nlogOpts=7\r\nlogPath=c:\\logs\\k.log\r\n"
           "TZ=PST8PDT\r\nhost=\r\n");
  AppState* s = loadSettings();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->useDST, 7);
  EXPECT_EQ(s->maxAdjust, 4294967295u);
  EXPECT_EQ(s->attempts, 2147483648u);
  EXPECT_EQ(s->TZindex, -2);
  EXPECT_STREQ(s->tz, "PST8PDT");  // written as "TZ", read as "tz"
  EXPECT_STREQ(s->logPath, "c:\\logs\\k.log");
  EXPECT_STREQ(s->host, "");  // an empty host is kept as set
  saveSettings(s);
  EXPECT_EQ(iniValue("useDST"), "1");
  EXPECT_EQ(iniValue("maxAdjust"), "4294967295");
  EXPECT_EQ(iniValue("attempts"), "2147483648");
  EXPECT_EQ(iniValue("TZindex"), "-2");
  EXPECT_EQ(iniValue("adjOpt"), "5");
  EXPECT_EQ(iniValue("tz"), "PST8PDT");
  EXPECT_EQ(iniValue("host"), "");
}

// A hand-edited report-only flag that is not a plain number means report-only,
// on every platform: the safe reading of "true".
TEST_F(Settings, ReportOnlyThatIsNotANumberIsOn) {
  const char* const rows[][2] = {
      {"true", "1"}, {"yes", "1"}, {"on", "1"}, {"0x0", "1"}, {"1x", "1"},
      {"0", "0"},    {" 1 ", "1"}, {"", "0"},   {"+0", "0"},  {"2", "2"},
  };
  for (const auto& row : rows) {
    writeIni(std::string("reportOnly=") + row[0] + "\r\n");
    AppState* s = loadSettings();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::to_string(s->reportOnly), row[1]) << "reportOnly=" << row[0];
    freeSettings(s);
  }
}

// Precise mode's keys and slew reach the file once they are in use, and stay.
TEST_F(Settings, PreciseKeysAreWrittenOnceUsed) {
  struct Row {
    const char* file;
    const char* precise;
    const char* spacing;
    const char* slew;
  } rows[] = {
      {"", "<missing>", "<missing>", "<missing>"},
      {"precise=1\r\n", "1", "<missing>", "<missing>"},
      {"precise=0\r\nprobeSpacing=4000\r\n", "0", "4000", "<missing>"},
      {"slew=1\r\n", "<missing>", "<missing>", "1"},
      {"slew=0\r\n", "<missing>", "<missing>", "0"},
  };
  for (const Row& r : rows) {
    writeIni(r.file);
    AppState* s = loadSettings();
    ASSERT_NE(s, nullptr);
    saveSettings(s);
    EXPECT_EQ(iniValue("precise"), r.precise) << r.file;
    EXPECT_EQ(iniValue("probeSpacing"), r.spacing) << r.file;
    EXPECT_EQ(iniValue("slew"), r.slew) << r.file;
  }
}

std::vector<std::string> rangeNotes;
void noteRange(const char* key, const char* text, int32_t low, int32_t high, int32_t used) {
  rangeNotes.push_back(std::string(key) + "=" + text + " " + std::to_string(low) + ".." +
                       std::to_string(high) + " -> " + std::to_string(used));
}

// The keys with a documented range: a number outside it is named and read
// as the default, and the file then gets the value used.
TEST_F(Settings, KeysOutsideTheirRangeAreNamedAndReadAsTheDefault) {
  struct Row {
    const char* file;
    uint32_t spacing;
    int32_t slew;
    const char* note;  // "" when none
    const char* written;
  } rows[] = {
      {"probeSpacing=-1\r\n", 0, 0, "probeSpacing=-1 0..60000 -> 0", "0"},
      {"probeSpacing=60001\r\n", 0, 0, "probeSpacing=60001 0..60000 -> 0", "0"},
      {"probeSpacing=4294967295\r\n", 0, 0, "probeSpacing=4294967295 0..60000 -> 0", "0"},
      {"probeSpacing=text\r\n", 0, 0, "", "0"},
      {"probeSpacing=4000\r\n", 4000, 0, "", "4000"},
      {"probeSpacing=60000\r\n", 60000, 0, "", "60000"},
      {"slew=1\r\n", 0, 1, "", "<missing>"},
      {"slew=2\r\n", 0, 0, "slew=2 0..1 -> 0", "<missing>"},
      {"slew=-1\r\n", 0, 0, "slew=-1 0..1 -> 0", "<missing>"},
  };
  settingOutOfRange = noteRange;
  for (const Row& r : rows) {
    rangeNotes.clear();
    writeIni(r.file);
    AppState* s = loadSettings();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->probeSpacing, r.spacing) << r.file;
    EXPECT_EQ(s->slew, r.slew) << r.file;
    EXPECT_EQ(rangeNotes, r.note[0] ? std::vector<std::string>{r.note} : std::vector<std::string>{})
        << r.file;
    saveSettings(s);
    EXPECT_EQ(iniValue("probeSpacing"), r.written) << r.file;
  }
  settingOutOfRange = nullptr;
}

TEST_F(Settings, EmptyOptionalTextsStayUnset) {
  writeIni("logPath=\r\ntz=\r\n");
  AppState* s = loadSettings();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->logPath, nullptr);
  EXPECT_EQ(s->tz, nullptr);
  saveSettings(s);
  EXPECT_EQ(iniValue("logPath"), "");  // left as it was, not rewritten
}

TEST_F(Settings, UseTzDefaultFollowsTheInheritedEnvironment) {
  const struct {
    const char* inherited;
    int32_t useTZ;
  } rows[] = {{"TZ=EST5EDT", 1}, {"tz=EST5EDT", 1}, {"Tz=x", 1}, {"TZONE=1", 0}};
  for (const auto& row : rows) {
    envInitFrom(&row.inherited, 1);
    AppState* s = loadSettings();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->useTZ, row.useTZ) << row.inherited;
    saveSettings(s);
    removeFile(profilePath("orv.ini"));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "orv.ini");
  }
}

TEST_F(Settings, DecimalParseOfGmtOffset) {
  const struct {
    const char* line;
    int32_t value;
  } rows[] = {{"gmtOffset=-3600", -3600}, {"gmtOffset=  +42x", 42},
              {"gmtOffset=abc", 0},       {"gmtOffset=", 0},
              {"other=1", 18000},         {"gmtOffset=- 5", 0},
              {"gmtOffset=4294967295", -1}};
  for (const auto& row : rows) {
    writeIni(std::string(row.line) + "\r\n");
    EXPECT_EQ(readLongSetting("gmtOffset", "18000"), row.value) << row.line;
  }
}

TEST_F(Settings, CustomZoneWithoutKeysGetsEveryDefault) {
  writeIni("useCustom=1\r\n");
  AppState* s = loadSettings();
  ASSERT_NE(s, nullptr);
  ASSERT_NE(s->customZone, nullptr);
  EXPECT_EQ(s->customZone->gmtOffset, 18000);
  EXPECT_STREQ(s->customZone->Label, "custom");
  saveSettings(s);
  const char* const written[][2] = {
      {"useCustom", "1"}, {"gmtOffset", "18000"}, {"Label", "custom"},
      {"Prefix", "EST"},  {"Suffix", "EDT"},      {"sMonth", "3"},
      {"swDay", "0"},     {"sRule", "0"},         {"sAdjust", "3600"},
      {"eMonth", "9"},    {"ewDay", "0"},         {"eRule", "1"},
      {"eAdjust", "0"}};
  for (const auto& row : written) EXPECT_EQ(iniValue(row[0]), row[1]) << row[0];
}

TEST_F(Settings, CustomZoneIsCarriedUnchanged) {
  writeIni("useCustom=3\r\nLabel=Home\r\ngmtOffset=-7200\r\neRule=4\r\n");
  AppState* s = loadSettings();
  ASSERT_NE(s, nullptr);
  saveSettings(s);
  EXPECT_EQ(iniValue("useCustom"), "1");
  EXPECT_EQ(iniValue("Label"), "Home");
  EXPECT_EQ(iniValue("gmtOffset"), "-7200");
  EXPECT_EQ(iniValue("eRule"), "4");
}

TEST_F(Settings, SoundEntriesAreAddedOnlyWhereMissingOrEmpty) {
  WriteProfileStringA("sounds", "kronsecReset", "chime.wav,My reset");
  WriteProfileStringA("sounds", "kronsecMaxAdj", "");
  saveSettings(loadSettings());
  char out[256];
  GetProfileStringA("sounds", "kronsecConnect", "", out, sizeof out);
  EXPECT_STREQ(out, ",kronsec Connect");
  GetProfileStringA("sounds", "kronsecReset", "", out, sizeof out);
  EXPECT_STREQ(out, "chime.wav,My reset");
  GetProfileStringA("sounds", "kronsecMaxAdj", "", out, sizeof out);
  EXPECT_STREQ(out, ",kronsec Max Adjust");
}

TEST_F(Settings, AllocationFailuresLeaveFieldsUnset) {
  heapFailAfter(0);
  EXPECT_EQ(loadSettings(), nullptr);

  writeIni("host=my.server\r\nuseCustom=1\r\nlogPath=a.log\r\n");
  heapFailAfter(1);  // the record succeeds, the host copy fails
  AppState* s = loadSettings();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->host, nullptr);
  EXPECT_STREQ(s->logPath, "a.log");
  ASSERT_NE(s->customZone, nullptr);
  saveSettings(s);
  EXPECT_EQ(iniValue("host"), "my.server");  // not forgotten

  heapFailAfter(2);  // record, host; the log path copy fails
  s = loadSettings();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->logPath, nullptr);
  saveSettings(s);
  EXPECT_EQ(iniValue("logPath"), "a.log");
}

TEST_F(Settings, FailedCustomZoneAllocationWritesUseCustomZeroOnly) {
  writeIni("useCustom=1\r\nLabel=Mine\r\n");
  heapFailAfter(2);  // record and host succeed; the zone record fails
  AppState* s = loadSettings();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->customZone, nullptr);
  saveSettings(s);
  EXPECT_EQ(iniValue("useCustom"), "0");
  EXPECT_EQ(iniValue("Label"), "Mine");
}

TEST_F(Settings, TextsAreWrittenUpToTheirFirstLineBreak) {
  const struct {
    const char* value;
    const char* written;
  } rows[] = {{"EST5EDT\ninjected=1", "EST5EDT"},
              {"EST5EDT\r\ninjected=1", "EST5EDT"},
              {"EST5EDT\rinjected=1", "EST5EDT"},
              {"\ninjected=1", ""},
              {"EST5EDT\n", "EST5EDT"},
              {"EST5EDT", "EST5EDT"}};
  for (const auto& row : rows) {
    writeIni("useCustom=1\r\n");
    AppState* s = loadSettings();
    ASSERT_NE(s, nullptr);
    ASSERT_NE(s->customZone, nullptr);
    for (char** field : {&s->host, &s->tz, &s->logPath, &s->customZone->Label})
      *field = replaceString(*field, row.value);
    saveSettings(s);
    for (const char* key : {"host", "TZ", "logPath", "Label"})
      EXPECT_EQ(iniValue(key), row.written) << key << " from " << testing::PrintToString(row.value);
    EXPECT_EQ(iniValue("injected"), "<missing>") << testing::PrintToString(row.value);
  }
}

TEST_F(Settings, ACutTextThatCannotBeCopiedLeavesTheKeyAsItWas) {
  writeIni("TZ=OLD0\r\n");
  AppState* s = loadSettings();
  ASSERT_NE(s, nullptr);
  s->tz = replaceString(s->tz, "EST5EDT\ninjected=1");
  heapFailAfter(0);
  saveSettings(s);
  EXPECT_EQ(iniValue("TZ"), "OLD0");
  EXPECT_EQ(iniValue("injected"), "<missing>");
}

TEST(ReplaceString, CopiesOrKeepsTheOldText) {
  char* field = replaceString(nullptr, "first");
  ASSERT_STREQ(field, "first");
  heapFailAfter(0);
  EXPECT_EQ(replaceString(field, "second"), field);
  EXPECT_STREQ(field, "first");
  field = replaceString(field, "third");
  EXPECT_STREQ(field, "third");
  heapFree(field);
}

}  // namespace
