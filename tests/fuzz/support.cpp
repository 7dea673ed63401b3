#include "tests/fuzz/support.h"

#include <ftw.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/clock.h"
#include "zones/environment.h"
#include "zones/localtime.h"

namespace {
std::string baseFolder;  // the mkdtemp folder; the profile's files are in kronsec/

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

void removeBaseFolder() { nftw(baseFolder.c_str(), removeEntry, 8, FTW_DEPTH | FTW_PHYS); }

// No input may reach the machine's clock: every target runs on a stopped
// virtual clock, and an attempt to set it is a finding.
DWORD stoppedTick() { return 0; }
void stoppedLocalTime(SYSTEMTIME* out) { *out = SYSTEMTIME{2024, 6, 6, 1, 12, 0, 0, 0}; }
BOOL refuseSetting(const SYSTEMTIME*) {
  fuzzCheckFailed("no clock setting from a fuzz target", __FILE__, __LINE__);
}
int adjustRead(struct timex* t) {
  if (t->modes != 0) fuzzCheckFailed("no clock adjustment from a fuzz target", __FILE__, __LINE__);
  return 0;
}
int64_t stoppedCount() { return 0; }
const ClockDriver stoppedClock{stoppedTick,  stoppedLocalTime, stoppedLocalTime,
                               stoppedCount, nullptr,          refuseSetting,
                               adjustRead};
struct UseStoppedClock {
  UseStoppedClock() { useClockDriver(&stoppedClock); }
} useStoppedClock;
}  // namespace

void fuzzCheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

void usePrivateConfigFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kronsec-fuzz-XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    std::perror(pattern.c_str());
    std::exit(1);
  }
  baseFolder = pattern;
  std::atexit(removeBaseFolder);
  mkdir((baseFolder + "/kronsec").c_str(), 0700);
  setenv("XDG_CONFIG_HOME", baseFolder.c_str(), 1);
}

void writeSettingsFile(const uint8_t* data, size_t size) {
  // A new file renamed into place, as a save replaces it, so a store that
  // keeps what it read until the file changes sees the change.
  std::string input = baseFolder + "/input";
  FILE* file = std::fopen(input.c_str(), "wb");
  bool written = file && std::fwrite(data, 1, size, file) == size;
  if (file && std::fclose(file) != 0) written = false;
  if (!written || std::rename(input.c_str(), (baseFolder + "/kronsec/orv.ini").c_str()) != 0) {
    std::perror(input.c_str());
    std::exit(1);
  }
}

bool isProfileBlank(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0d) || u == 0x1a || u == 0x20;
}

bool isValueKeptAsIs(const char* text) {
  size_t n = std::strlen(text);
  if (n == 0) return true;
  bool quoted = n >= 2 && (text[0] == '"' || text[0] == '\'') && text[n - 1] == text[0];
  return !quoted && !isProfileBlank(text[0]) && !isProfileBlank(text[n - 1]) &&
         !std::strpbrk(text, "\r\n");
}

void useTz(const char* text) {
  std::string entry = std::string("TZ=") + text;
  const char* entries[] = {entry.c_str()};
  envInitFrom(entries, 1);
  parseTz();
}

void checkFields(const BrokenDownTime& t) {
  FUZZ_CHECK(t.second >= 0 && t.second <= 59);
  FUZZ_CHECK(t.minute >= 0 && t.minute <= 59);
  FUZZ_CHECK(t.hour >= 0 && t.hour <= 23);
  FUZZ_CHECK(t.monthDay >= 1 && t.monthDay <= 31);
  FUZZ_CHECK(t.month >= 0 && t.month <= 11);
  FUZZ_CHECK(t.weekDay >= 0 && t.weekDay <= 6);
  FUZZ_CHECK(t.yearDay >= 0 && t.yearDay <= 365);
  FUZZ_CHECK(t.year >= 70);
  FUZZ_CHECK(t.isDst == 0 || t.isDst == 1);
}
