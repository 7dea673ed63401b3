// kronsec --check over settings files: the bytes of a file in, the lines it
// prints and its status out, and the file left byte for byte as it was.
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "linux/settingscheck.h"
#include "tests/support/support.h"

namespace {
using namespace std::string_literals;

// A folder of the test's own, with zone files for the TZ rows in zones/.
class CheckFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/kronsec-check-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
    for (const char* sub : {"/zones", "/zones/Europe", "/zones/Asia", "/cfg"})
      ASSERT_EQ(mkdir((folder_ + sub).c_str(), 0700), 0);
    writeFileBytes(folder_ + "/zones/Europe/Testville", zoneFile("CET-1CEST,M3.5.0,M10.5.0/3"));
    writeFileBytes(folder_ + "/zones/Asia/Halfway", zoneFile("IST-5:30"));
    writeFileBytes(folder_ + "/zones/Asia/Quoted", zoneFile("<+03>-3"));
    const char* old = std::getenv("TZDIR");
    hadZones_ = old != nullptr;
    if (old) oldZones_ = old;
    setenv("TZDIR", (folder_ + "/zones").c_str(), 1);
    const char* tz = std::getenv("TZ");
    if (tz) oldTz_ = tz;
    hadTz_ = tz != nullptr;
  }
  void TearDown() override {
    if (hadZones_) setenv("TZDIR", oldZones_.c_str(), 1);
    else unsetenv("TZDIR");
    if (hadTz_) setenv("TZ", oldTz_.c_str(), 1);
    else unsetenv("TZ");
    nftw(folder_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path); },
         16, FTW_DEPTH | FTW_PHYS);
  }

  // A zone file as the system's end: a version 2 header, the rule last.
  static std::string zoneFile(const char* rule) {
    return std::string("TZif2") + std::string(39, '\0') + "\n" + rule + "\n";
  }

  std::string folder_;
  bool hadZones_ = false, hadTz_ = false;
  std::string oldZones_, oldTz_;
};

// Runs the check of path; returns what it printed and *status.
std::string checkOutput(const std::string& path, int* status) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  *status = checkSettingsFile(path, out);
  std::fclose(out);
  std::string printed(text, size);
  std::free(text);
  return printed;
}

std::string withPath(std::string text, const std::string& path) {
  for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, path);
  return text;
}

const char kMissing[] = "<no file>";
const char kFolder[] = "<a folder>";
const char kFifo[] = "<a FIFO>";

struct CheckRow {
  const char* name;
  std::string bytes;
  int status;
  const char* printed;  // "@" stands for the file's path
  const char* tz = nullptr;  // the environment's TZ
};

const CheckRow checkRows[] = {
    {"clean, LF", "[kronsec]\nhost=time.example.net\nTZ=EST5EDT\nuseTZ=0\nreportOnly=1\nmaxAdjust=60\n"
     "adjOpt=1\nattempts=0x3\n",
     0, "@: no problems found\n"},
    {"clean, CR LF, comments, other sections, several hosts, quotes, letter case",
     "; my settings\r\n[Kronsec]\r\nHOST=a.example.net 192.0.2.1,b.example\r\n;TZ=xST0\r\n"
     "# TZ=xST0\r\ntz=\"xST-1xDT\"\r\n\r\nlogPath=/var/log/kronsec/k.log\r\n[other]\r\nreport_only=1\r\n",
     0, "@: no problems found\n"},
    {"unknown keys, CR LF", "[kronsec]\r\nreport_only=1\r\nMaxAdjst=60\r\nattempst=3\r\ncolour=red\r\n"
     "rep\x1bort=1\r\nTZ=xST0\r\n",
     1,
     "@:2: report_only is not a key kronsec reads: did you mean reportOnly?\n"
     "@:3: MaxAdjst is not a key kronsec reads: did you mean maxAdjust?\n"
     "@:4: attempst is not a key kronsec reads: did you mean attempts?\n"
     "@:5: colour is not a key kronsec reads\n"
     "@:6: rep\\033ort is not a key kronsec reads\n"},
    {"a key given twice", "[kronsec]\nreportOnly=0\nhost=a.example\nREPORTONLY=1\nTZ=xST0\n", 1,
     "@:4: REPORTONLY is given again here: kronsec reads the first, on line 2, and ignores this one\n"},
    {"text in numbers", "[kronsec]\nmaxAdjust=sixty\nreportOnly=yes\nlogOpts=1x\ngmtOffset=0x10\nTZ=xST0\n", 1,
     "@:2: maxAdjust=sixty is not a number: kronsec reads it as 0 (no limit)\n"
     "@:3: reportOnly=yes is not a number: kronsec reads it as 1 (on: the clock is never set)\n"
     "@:4: logOpts=1x is not a number: kronsec reads it as 1 (plain lines)\n"
     "@:5: gmtOffset=0x10 is not a number: kronsec reads it as 0\n"},
    {"numbers outside their ranges",
     "[kronsec]\nadjOpt=5\nTZindex=126\nattempts=-1\nprobeSpacing=60001\nuseDST=2\nslew=1\n"
     "maxAdjust=4294967296\nTZ=xST0\n",
     1,
     "@:2: adjOpt=5 is outside its range, 0 to 2: it counts as Accept\n"
     "@:3: TZindex=126 is outside its range, -1 to 125: no place is picked\n"
     "@:4: attempts=-1 is outside its range, 0 to 4294967295: kronsec reads it as 4294967295\n"
     "@:5: probeSpacing=60001 is outside its range, 0 to 60000: kronsec reads it as 0\n"
     "@:6: useDST=2 is outside its range, 0 to 1: it counts as on\n"
     "@:8: maxAdjust=4294967296 is outside its range, 0 to 4294967295: kronsec reads it as 0 (no "
     "limit)\n"},
    {"a zone name", "[kronsec]\nTZ=Europe/Testville\n", 1,
     "@:2: TZ=Europe/Testville is a zone name, which kronsec does not read (it counts as EST5EDT): "
     "write TZ=CET-1CEST instead, the TZ text of Europe/Testville\n"},
    {"a zone half an hour off", "[kronsec]\nTZ=:Asia/Halfway\n", 1,
     "@:2: TZ=:Asia/Halfway is a zone name, which kronsec does not read (it counts as EST5EDT): "
     "write TZ=IST-5 and add30=1 instead, the TZ text of :Asia/Halfway\n"},
    {"a zone without letters", "[kronsec]\nTZ=Asia/Quoted\n", 1,
     "@:2: TZ=Asia/Quoted is a zone name, which kronsec does not read (it counts as EST5EDT): "
     "write TZ=xST-3 instead, the TZ text of Asia/Quoted\n"},
    {"a zone not on this system", "[kronsec]\nTZ=Mars/Olympus\n", 1,
     "@:2: TZ=Mars/Olympus is a zone name, which kronsec does not read (it counts as EST5EDT): "
     "write the place's TZ text in kronsec's form instead, such as xST-1xDT for UTC+1 with "
     "daylight saving\n"},
    {"a TZ text kronsec cannot read", "[kronsec]\nTZ=CET\n", 1,
     "@:2: TZ=CET is not a TZ text kronsec can read (it counts as EST5EDT): write three letters, "
     "the hours west of UTC and an optional daylight name, such as EST5EDT, xST0 or xST-1xDT\n"},
    {"a malformed IPv6 host", "[kronsec]\nhost=2001:db8::zz\nTZ=xST0\n", 1,
     "@:2: host=2001:db8::zz: \"2001:db8::zz\" is not a well-formed IPv6 address\n"},
    {"IPv6 hosts", "[kronsec]\nhost=::1 [2001:db8::37] fe80::1%eth0\nTZ=xST0\n", 0,
     "@: no problems found\n"},
    {"an empty host", "[kronsec]\nhost=\nTZ=xST0\n", 1,
     "@:2: host=: no Time server is named, so no query can start: write host=NAME, or remove the "
     "line for time.nist.gov\n"},
    {"a broken address", "[kronsec]\nhost=300.1.2.3\nTZ=xST0\n", 1,
     "@:2: host=300.1.2.3: \"300.1.2.3\" is neither a host name nor an address\n"},
    {"a host with a stray byte", "[kronsec]\nhost=time.example.net;backup\nTZ=xST0\n", 1,
     "@:2: host=time.example.net;backup: \"time.example.net;backup\" is neither a host name nor an "
     "address\n"},
    {"a comment among several hosts", "[kronsec]\nhost=127.0.0.1 ; lab server\nTZ=xST0\n", 1,
     "@:2: host=127.0.0.1 ; lab server: \";\" is neither a host name nor an address: kronsec "
     "asks no server of this host text (a comment goes on a line of its own, starting with ;)\n"},
    {"a host written twice", "[kronsec]\nhost=127.0.0.2 b.example 127.0.0.1,B.Example\nTZ=xST0\n", 1,
     "@:2: host=127.0.0.2 b.example 127.0.0.1,B.Example: b.example is written twice; kronsec asks "
     "it once\n"},
    {"eight hosts", "[kronsec]\nhost=a,b,c,d,e,f,g,h\nTZ=xST0\n", 0, "@: no problems found\n"},
    {"nine hosts", "[kronsec]\nhost=a b c d e f g h i\nTZ=xST0\n", 1,
     "@:2: host=a b c d e f g h i names 9 servers; kronsec asks at most 8\n"},
    {"comments after values",
     "[kronsec]\nTZ=xST0 ; UTC\nmaxAdjust=60 # one minute\nlogPath=/var/log/k.log\t;the log\n",
     1,
     "@:2: TZ=xST0 ; UTC: \"; UTC\" looks like a comment, but a value runs to the end of its line: "
     "kronsec reads TZ as \"xST0 ; UTC\" (put a comment on a line of its own, starting with ;)\n"
     "@:3: maxAdjust=60 # one minute: \"# one minute\" looks like a comment, but a value runs to "
     "the end of its line: kronsec reads maxAdjust as 60 (put a comment on a line of its own, "
     "starting with ;)\n"
     "@:4: logPath=/var/log/k.log\\011;the log: \";the log\" looks like a comment, but a value runs "
     "to the end of its line: kronsec reads logPath as \"/var/log/k.log\\011;the log\" (put a comment "
     "on a line of its own, starting with ;)\n"},
    {"a second section", "[kronsec]\nTZ=xST0\n[sounds]\nx=1\n[ KRONSEC ]\nreportOnly=1\n", 1,
     "@:5: a second [kronsec] section: kronsec reads only the first, on line 1, so the keys below "
     "are ignored\n"},
    {"a key without a value", "[kronsec]\nreportOnly\nTZ=xST0\n", 1,
     "@:2: reportOnly has no '=' and no value: kronsec reads it as not set\n"},
    {"CR lines after a byte order mark", "\xEF\xBB\xBF[kronsec]\rhost=a.example\rreport_only=1\rTZ=xST0\r", 1,
     "@:3: report_only is not a key kronsec reads: did you mean reportOnly?\n"},
    {"keys outside [kronsec]", "reportOnly=1\n[kronsec]\nTZ=xST0\n[sounds]\nhost=b.example\nx=1\n", 1,
     "@:1: reportOnly above [kronsec] is not read: move it below the section line\n"
     "@:5: host in [sounds] is not read: move it into [kronsec]\n"},
    {"NUL and control bytes", "[kronsec]\nreportOnly=\0" "1\nTZ=xST0\0junk\nlogPath=/k\x1b.log\n\xff=1\n"s, 1,
     "@:2: reportOnly=\\0001: a NUL byte ends the value there, so kronsec reads reportOnly as empty: "
     "its default, 0 (off: the clock is set)\n"
     "@:3: TZ=xST0\\000junk: a NUL byte ends the value there, so kronsec reads TZ as \"xST0\"\n"
     "@:4: logPath=/k\\033.log: the value holds the control byte \\033: kronsec reads logPath as "
     "\"/k\\033.log\" (remove the byte)\n"
     "@:5: \\377 is not a key kronsec reads\n"},
    {"no [kronsec] section", "host=a.example\nTZ=xST0\n", 1,
     "@: there is no [kronsec] section, so a run reads every setting as its default: write a line "
     "[kronsec] above the settings\n"},
    {"a misspelt section", "[kronsek]\nTZ=xST0\n", 1,
     "@:1: [kronsek] is not a section kronsec reads: did you mean [kronsec]? Until then a run reads "
     "every setting as its default\n"},
    {"a section line without ']'", "[kronsec\nTZ=xST0\n", 1,
     "@:1: \"[kronsec\" has no closing ']', so kronsec reads it as a key, not as a section line: "
     "write [kronsec]. Until then a run reads every setting as its default\n"},
    {"an empty file", "", 1,
     "@: the file is empty, so a run reads every setting as its default: write a line [kronsec], "
     "and below it host=NAME (without it, time.nist.gov), TZ=xST0 (UTC) and useTZ=0\n"},
    {"useTZ=1 without TZ", "[kronsec]\nuseTZ=1\n", 1,
     "@: useTZ=1 takes the TZ variable of the environment, which has none here, and the file has "
     "no TZ text: a run asks no server: write TZ=xST0 and useTZ=0 under [kronsec] (xST0 is UTC; "
     "your place's TZ text, such as EST5EDT, serves as well)\n"},
    {"a place without its TZ text", "[kronsec]\nTZindex=5\nTZ=\n", 1,
     "@: the file has no TZ text, and the environment has no TZ: a run asks no server: write "
     "TZ=MST7MDT and useTZ=0 under [kronsec] (the TZ text of TZindex=5, Calgary, which picks only "
     "the list's place)\n"},
    {"the environment's TZ", "[kronsec]\nuseTZ=1\n", 0,
     "@: note: the file has no TZ text, so a run takes the environment's TZ, here \"EST5EDT\"; one "
     "started without TZ (kronsec.service, cron) asks no server: write TZ=EST5EDT and useTZ=0 under "
     "[kronsec] to keep a TZ text in the file\n@: no problems found\n",
     "EST5EDT"},
    {"more calibrations than a run makes", "[kronsec]\nTZ=xST0\nattempts=11\n", 1,
     "@:3: attempts=11: a run makes at most 10 calibration queries per server; the value stays as "
     "written\n"},
    {"a missing file", kMissing, 1,
     "@: no such file: a run reads every setting as its default, and without a TZ text it asks "
     "no server\n"},
    {"a folder in the file's place", kFolder, 1, "@: is a directory, not a file\n"},
    {"a FIFO in the file's place", kFifo, 1, "@: is a FIFO, not a file\n"},
};

TEST_F(CheckFolder, EveryMistakeIsOneLineAndTheFileStaysAsItWas) {
  std::string path = folder_ + "/cfg/orv.ini";
  for (const CheckRow& row : checkRows) {
    SCOPED_TRACE(row.name);
    if (row.tz) setenv("TZ", row.tz, 1);
    else unsetenv("TZ");
    remove(path.c_str());
    rmdir(path.c_str());
    bool isFile = row.bytes != kMissing && row.bytes != kFolder && row.bytes != kFifo;
    if (isFile) writeFileBytes(path, row.bytes);
    if (row.bytes == kFolder) {
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    }
    if (row.bytes == kFifo) {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    }
    struct stat before {};
    stat(path.c_str(), &before);
    int status = -1;
    EXPECT_EQ(checkOutput(path, &status), withPath(row.printed, path));
    EXPECT_EQ(status, row.status);
    if (!isFile) continue;
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(readFileBytes(path), row.bytes);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_ino, before.st_ino);
  }
  // The check makes nothing beside the file (no win.ini, no temporary file).
  EXPECT_FALSE(fileExists(folder_ + "/cfg/win.ini"));
}

// What stops a run, from the read its profile calls make of the file.
TEST_F(CheckFolder, AnUnusableFileIsToldFromTheProfileCallsRead) {
  std::string path = folder_ + "/cfg/orv.ini";
  const struct {
    const char* make;  // "@" stands for the file's path
    const char* reason;
  } rows[] = {
      {"true", ""},
      {"printf '[kronsec]\\nTZ=xST0\\n' >@", ""},
      {"mkdir @", "is a directory, not a file"},
      {"mkfifo @", "is a FIFO, not a file"},
      {"ln -s /dev/null @", "is a device, not a file"},
      {"ln -s /proc/self/mem @", "cannot be read: Input/output error"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.make);
    remove(path.c_str());
    rmdir(path.c_str());
    ASSERT_EQ(std::system(withPath(row.make, path).c_str()), 0);
    EXPECT_EQ(unreadableProfileReason(path.c_str()), row.reason);
    EXPECT_EQ(settingsWarnings(path, "kronsec --check"), "");
  }
  // A file that reached the size limit reads as empty, as it always has.
  EXPECT_EQ(unreadableReason(ini::ReadResult::kFailed, {0, S_IFREG}), "");
  EXPECT_EQ(unreadableReason(ini::ReadResult::kFailed, {0, S_IFSOCK}), "is not a regular file");
}

// A run warns of the first problems and counts the rest.
TEST_F(CheckFolder, ARunWarnsOfTwentyAndCountsTheRest) {
  std::string path = folder_ + "/cfg/orv.ini";
  std::string bytes = "[kronsec]\n";
  for (int i = 0; i < 25; ++i) bytes += "unknown" + std::to_string(i) + "=1\n";
  bytes += "TZ=xST0\n";
  writeFileBytes(path, bytes);
  std::string printed = settingsWarnings(path, "kronsec --check -c DIR");
  size_t lines = 0;
  for (char c : printed) lines += c == '\n';
  EXPECT_EQ(lines, mostWarnings + 1);
  EXPECT_EQ(printed.find("kronsec: " + path + ":2: unknown0 is not a key kronsec reads\n"), 0u);
  EXPECT_TRUE(contains(printed, "kronsec: " + path + ": 5 more problems; kronsec --check -c DIR lists them all\n"));
  EXPECT_EQ(readFileBytes(path), bytes);
}

}  // namespace
