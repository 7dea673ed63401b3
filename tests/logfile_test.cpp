// The result log: exact bytes of plain and verbose lines, CR LF endings,
// appending, and every way a line can fail to reach the file.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include <cstring>
#include <string>

#include "app/appstate.h"
#include "app/names.h"
#include "base/memory.h"
#include "log/logfile.h"
#include "platform/win32.h"
#include "tests/support/support.h"
#include "zones/environment.h"
#include "zones/localtime.h"

namespace {

// Saturday 2026-12-05 14:03:07 EST = 19:03:07 UTC.
const int32_t exampleServer = 1796497387;
const int32_t exampleLocal = exampleServer + 2;  // 14:03:09

size_t countOf(const std::string& text, char c) {
  size_t n = 0;
  for (char x : text) n += x == c;
  return n;
}

class LogFile : public CleanSettings {
 protected:
  void SetUp() override {
    CleanSettings::SetUp();
    const char* const env[] = {"TZ=EST5EDT"};
    envInitFrom(env, 1);
    parseTz();
    // Loading the names also writes orv.ini; flushed, so the folder the log
    // goes into exists on every platform even when this test runs first.
    loadNameLists();
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "orv.ini");
    path = profilePath("kronsec-test.log");
    removeFile(path);
    std::memset(&state, 0, sizeof state);
    state.host = host;
    state.tz = tz;
    state.logPath = &path[0];
    state.logOpts = 1;
    state.readLag = 153;
    state.connectLag = 41;
  }
  void TearDown() override {
    removeFile(path);
    freeNameLists();
    envInitFrom(nullptr, 0);
    parseTz();
    CleanSettings::TearDown();
  }

  // Writes one line for the pair and returns the file's whole contents.
  std::string logged(int32_t server, int32_t local, const char* action) {
    EXPECT_EQ(writeLogLine(&state, server, local, action), 1);
    return readFileBytes(path);
  }

  char host[16] = "192.0.2.1";
  char tz[16] = "EST5EDT";
  std::string path;
  AppState state;
};

TEST_F(LogFile, ExampleLineByteForByte) {
  EXPECT_EQ(localToSeconds(126, 11, 4, 14, 3, 7), exampleServer);
  EXPECT_EQ(logged(exampleServer, exampleLocal, "reset"),
            "192.0.2.1\tSat Dec 5, 2026\tEST5EDT\t14:03:07\t14:03:09\t-2\t153 ms"
            "\treset\r\n");
}

TEST_F(LogFile, VerboseLineByteForByte) {
  state.logOpts = 2;
  EXPECT_EQ(logged(exampleServer, exampleLocal, "reset"),
            "192.0.2.1\tSat Dec 5, 2026\tEST5EDT\t14:03:07\t14:03:09\t1796497387"
            "\t1796497389\t-2\t153 ms\t41 ms\treset\r\n");
}

TEST_F(LogFile, PlainHasSevenTabsOtherValuesTen) {
  const int32_t rows[][2] = {{1, 7}, {2, 10}, {7, 10}, {-1, 10}};
  for (const auto& row : rows) {
    removeFile(path);
    state.logOpts = row[0];
    std::string line = logged(exampleServer, exampleLocal, "accept");
    EXPECT_EQ(countOf(line, '\t'), static_cast<size_t>(row[1])) << row[0];
    // The only CR is the one before the final LF.
    EXPECT_EQ(countOf(line, '\r'), 1u);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  }
}

TEST_F(LogFile, MissingTzIsWrittenAsNull) {
  state.tz = nullptr;
  EXPECT_EQ(logged(exampleServer, exampleLocal, "report"),
            "192.0.2.1\tSat Dec 5, 2026\t(null)\t14:03:07\t14:03:09\t-2\t153 ms"
            "\treport\r\n");
}

TEST_F(LogFile, MissingNameIsWrittenAsNull) {
  // What a failed copy at load leaves behind.
  heapFree(dayNames[6]);
  dayNames[6] = nullptr;
  EXPECT_EQ(logged(exampleServer, exampleLocal, "reset"),
            "192.0.2.1\t(null) Dec 5, 2026\tEST5EDT\t14:03:07\t14:03:09\t-2\t153 ms"
            "\treset\r\n");
}

TEST_F(LogFile, DifferenceIsServerMinusLocal) {
  const int32_t localOffsets[] = {-2, 0, 2, 3600};
  const char* const expected[] = {"\t2\t", "\t0\t", "\t-2\t", "\t-3600\t"};
  for (int i = 0; i < 4; ++i) {
    removeFile(path);
    std::string line =
        logged(exampleServer, exampleServer + localOffsets[i], "report");
    EXPECT_NE(line.find(expected[i]), std::string::npos) << line;
  }
}

TEST_F(LogFile, IgnoreHasNoDifferenceAndEqualTimes) {
  EXPECT_EQ(logged(exampleLocal, exampleLocal, "ignore"),
            "192.0.2.1\tSat Dec 5, 2026\tEST5EDT\t14:03:09\t14:03:09\t0\t153 ms"
            "\tignore\r\n");
}

TEST_F(LogFile, WaitingForTheUserShiftsBothTimesNotTheDifference) {
  EXPECT_EQ(logged(exampleServer + 5, exampleLocal + 5, "accept"),
            "192.0.2.1\tSat Dec 5, 2026\tEST5EDT\t14:03:12\t14:03:14\t-2\t153 ms"
            "\taccept\r\n");
}

TEST_F(LogFile, FileIsCreatedThenGrowsByOneLinePerCall) {
  ASSERT_FALSE(fileExists(path));
  std::string first = logged(exampleServer, exampleLocal, "reset");
  EXPECT_EQ(countOf(first, '\n'), 1u);
  std::string second = logged(exampleServer + 60, exampleLocal + 60, "partial");
  EXPECT_EQ(second.substr(0, first.size()), first);
  EXPECT_EQ(second.substr(first.size()),
            "192.0.2.1\tSat Dec 5, 2026\tEST5EDT\t14:04:07\t14:04:09\t-2\t153 ms"
            "\tpartial\r\n");
}

TEST_F(LogFile, ExistingBytesAreKept) {
  writeFileBytes(path, "someone else's text\nno newline at the end");
  std::string all = logged(exampleServer, exampleLocal, "reset");
  EXPECT_EQ(all, "someone else's text\nno newline at the end"
                 "192.0.2.1\tSat Dec 5, 2026\tEST5EDT\t14:03:07\t14:03:09\t-2\t153 ms"
                 "\treset\r\n");
}

TEST_F(LogFile, NoPathWritesNothing) {
  state.logPath = nullptr;
  EXPECT_EQ(writeLogLine(&state, exampleServer, exampleLocal, "reset"), 0);
  EXPECT_FALSE(fileExists(path));
}

TEST_F(LogFile, MissingDirectoryFails) {
  std::string missing = profilePath("kronsec-no-such-dir") + "/kronsec.log";
  state.logPath = &missing[0];
  EXPECT_EQ(writeLogLine(&state, exampleServer, exampleLocal, "reset"), 0);
  EXPECT_FALSE(fileExists(missing));
}

TEST_F(LogFile, SaturdayWithoutSeventhDayNameReadsError) {
  freeNameLists();
  writeIni("days=Sun:Mon:Tue:Wed:Thu:Fri\r\n");
  loadNameLists();
  EXPECT_EQ(logged(exampleServer, exampleLocal, "reset"),
            "192.0.2.1\terror Dec 5, 2026\tEST5EDT\t14:03:07\t14:03:09\t-2\t153 ms"
            "\treset\r\n");
}

TEST_F(LogFile, ValueWithoutLocalBreakdownWritesNoneAndZeros) {
  // 0 lies before the zone's 5 hours west; a negative value is past 2038.
  std::string line = logged(0, exampleLocal, "report");
  EXPECT_EQ(line, "192.0.2.1\t(none) (none) 0, 0\tEST5EDT\t00:00:00\t14:03:09\t" +
                      std::to_string(-exampleLocal) + "\t153 ms\treport\r\n");
  removeFile(path);
  line = logged(exampleServer, -5, "report");
  EXPECT_EQ(line, "192.0.2.1\tSat Dec 5, 2026\tEST5EDT\t14:03:07\t00:00:00\t" +
                      std::to_string(exampleServer + 5) + "\t153 ms\treport\r\n");
}

TEST_F(LogFile, LongHostAndZoneAreWrittenWhole) {
  std::string longHost(510, 'h');
  std::string longTz(510, 'z');
  state.host = &longHost[0];
  state.tz = &longTz[0];
  state.logOpts = 2;
  EXPECT_EQ(logged(exampleServer, exampleLocal, "reset"),
            longHost + "\tSat Dec 5, 2026\t" + longTz +
                "\t14:03:07\t14:03:09\t1796497387\t1796497389\t-2\t153 ms\t41 ms"
                "\treset\r\n");
}

TEST_F(LogFile, DifferenceWrapsInThirtyTwoBits) {
  state.logOpts = 2;
  // 2147483647 - (-5) does not fit: the difference wraps as 32 bits do.
  std::string line = logged(2147483647, -5, "report");
  EXPECT_NE(line.find("\t2147483647\t-5\t-2147483644\t"), std::string::npos)
      << line;
}

#ifndef _WIN32
// A file that may not grow takes the buffered write; the failure shows only
// when the line is flushed at close, and the line must not count as written.
TEST_F(LogFile, FailureAtCloseIsReported) {
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit tiny = {10, old.rlim_max};
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  int32_t result = writeLogLine(&state, exampleServer, exampleLocal, "reset");
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result, 0);
}

// Only a regular file or /dev/null takes a line; anything else fails at once,
// a FIFO without a reader too instead of waiting for one for ever.
TEST_F(LogFile, PathsThatAreNotFilesFail) {
  std::string fifo = profilePath("kronsec-test.fifo");
  std::string folder = profilePath("kronsec-test.dir");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const struct {
    std::string path;
    bool withReader;
    int32_t result;
  } rows[] = {{fifo, false, 0},        {fifo, true, 0},         {folder, false, 0},
              {"/dev/zero", false, 0}, {"/dev/full", false, 0}, {"/dev/null", false, 1}};
  for (const auto& row : rows) {
    int reader = row.withReader ? open(row.path.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    std::string path = row.path;
    state.logPath = &path[0];
    EXPECT_EQ(writeLogLine(&state, exampleServer, exampleLocal, "reset"), row.result) << path;
    if (reader < 0) continue;
    char byte;
    EXPECT_LE(read(reader, &byte, 1), 0) << "a line reached the FIFO";
    close(reader);
  }
  unlink(fifo.c_str());
  rmdir(folder.c_str());
}
#endif

}  // namespace
