// The Linux INI store: byte-for-byte preservation on writes, robustness on
// odd and large files, atomic replacement, and where files live.
#include "platform/posix/ini/store.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/core.h"
#include "platform/win32.h"
#include "tests/support/support.h"

namespace {

// A fresh folder for one test, removed with its contents afterwards.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/kronsec-ini-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) std::abort();
    path_ = made;
  }
  ~TempFolder() {
    ini::dropProfileCache();  // nothing pending may bring the folder back
    nftw(
        path_.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  const std::string& path() const { return path_; }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets or unsets an environment variable for one scope.
class EnvSetting {
 public:
  EnvSetting(const char* name, const char* value) : name_(name) {
    profilePath("orv.ini");  // settles the suite's own config folder first
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvSetting() {
    if (hadOld_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool hadOld_;
  std::string old_;
};

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (struct dirent* entry = readdir(dir))
    if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
      names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

// A profile write and the flush that puts it on disk; true when both held.
bool writeNow(const char* section, const char* key, const char* value, const char* file) {
  BOOL queued = WritePrivateProfileStringA(section, key, value, file);
  return ini::flushProfiles() && queued;
}

std::string readAt(const std::string& path, const char* section, const char* key,
                   const char* def = "?") {
  char out[512];
  DWORD n = GetPrivateProfileStringA(section, key, def, out, sizeof out, path.c_str());
  return std::string(out, n);
}

// --- Writes keep every byte they do not change ---------------------------

struct EditRow {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

const std::string kBusy =
    "; kronsec settings\r\n"
    "\r\n"
    "[other]\r\n"
    "foo = bar \r\n"
    "\r\n"
    "[kronsec]\r\n"
    "; the server\r\n"
    "host = old.example \r\n"
    "unknown=1\r\n"
    "\r\n"
    "\r\n"
    "[tail]\r\n"
    "z=9\r\n";

std::string busyWith(const std::string& from, const std::string& to) {
  std::string text = kBusy;
  text.replace(text.find(from), from.size(), to);
  return text;
}

const EditRow editRows[] = {
    {"value replaced in place, spacing and the rest kept", kBusy, "kronsec", "host",
     "new.example", busyWith("host = old.example ", "host = new.example ")},
    {"new key after the last key, before the blank lines", kBusy, "kronsec", "TZ",
     "EST5EDT", busyWith("unknown=1\r\n", "unknown=1\r\nTZ=EST5EDT\r\n")},
    {"new section at the end", kBusy, "sounds", "a", "b", kBusy + "[sounds]\r\na=b\r\n"},
    {"key removed with its line ending", kBusy, "kronsec", "unknown", nullptr,
     busyWith("unknown=1\r\n", "")},
    {"section removed up to the next header", kBusy, "other", nullptr, nullptr,
     busyWith("[other]\r\nfoo = bar \r\n\r\n", "")},
    {"LF file gets LF lines", "[a]\nx=1\n", "a", "y", "2", "[a]\nx=1\ny=2\n"},
    {"CR file gets CR lines", "[a]\rx=1\r", "b", "y", "2", "[a]\rx=1\r[b]\ry=2\r"},
    {"mostly-LF file gets LF", "[a]\r\nx=1\ny=1\n", "b", "z", "2",
     "[a]\r\nx=1\ny=1\n[b]\nz=2\n"},
    {"each line keeps its own ending", "[a]\r\nx=1\ny=1\r\n", "a", "x", "22",
     "[a]\r\nx=22\ny=1\r\n"},
    {"missing final line end kept on replace", "[a]\r\nx=1", "a", "x", "2", "[a]\r\nx=2"},
    {"line end added before a new key", "[a]\r\nx=1", "a", "y", "2",
     "[a]\r\nx=1\r\ny=2\r\n"},
    {"line end added before a new section", "[a]\nx=1", "b", "y", "2",
     "[a]\nx=1\n[b]\ny=2\n"},
    {"duplicate key: the first is set", "[a]\r\nx=1\r\nX=2\r\n", "a", "x", "3",
     "[a]\r\nx=3\r\nX=2\r\n"},
    {"duplicate key: the first is removed", "[a]\r\nx=1\r\nX=2\r\n", "a", "x", nullptr,
     "[a]\r\nX=2\r\n"},
    {"keys before any section stay", "top=1\r\n[a]\r\nx=1\r\n", "a", "top", "2",
     "top=1\r\n[a]\r\nx=1\r\ntop=2\r\n"},
    {"section \"\" gets keys before the first header", "top=1\r\n\r\n[a]\r\n", "", "k",
     "v", "top=1\r\nk=v\r\n\r\n[a]\r\n"},
    {"key without '=' gets one", "[a]\r\n  flag  \r\n", "a", "FLAG", "1",
     "[a]\r\n  flag=1  \r\n"},
    {"'[' line without ']' kept as a key", "[a]\r\n[broken\r\nx=1\r\n", "a", "x", "2",
     "[a]\r\n[broken\r\nx=2\r\n"},
    {"binary bytes elsewhere kept",
     std::string("[bin]\r\nblob=\x01\x02\xff\0\xfe\r\n[a]\r\nx=1\r\n", 29), "a", "x", "2",
     std::string("[bin]\r\nblob=\x01\x02\xff\0\xfe\r\n[a]\r\nx=2\r\n", 29)},
    {"value after a NUL replaced whole", std::string("[a]\r\nx=ab\0cd\r\n", 14), "a", "x",
     "z", "[a]\r\nx=z\r\n"},
    {"long lines kept", "[a]\r\nlong=" + std::string(2000, 'v') + "\r\nx=1\r\n", "a", "x",
     "2", "[a]\r\nlong=" + std::string(2000, 'v') + "\r\nx=2\r\n"},
    {"byte order mark kept", "\xEF\xBB\xBF[a]\r\nx=1\r\n", "a", "x", "2",
     "\xEF\xBB\xBF[a]\r\nx=2\r\n"},
    {"key put after a byte order mark", "\xEF\xBB\xBF[a]\r\n", "", "k", "v",
     "\xEF\xBB\xBFk=v\r\n[a]\r\n"},
    {"comment and ^Z lines kept", "[a]\r\n;x=0\r\n\x1a\r\nx=1\r\n", "a", "x", "2",
     "[a]\r\n;x=0\r\n\x1a\r\nx=2\r\n"},
    {"removing the last line without a line end", "[a]\r\nx=1\r\ny=2", "a", "y", nullptr,
     "[a]\r\nx=1\r\n"},
    {"new key into an empty last section", "[a]\r\nx=1\r\n[b]", "b", "y", "2",
     "[a]\r\nx=1\r\n[b]\r\ny=2\r\n"},
};

TEST(IniFileTest, WritesKeepEveryOtherByte) {
  TempFolder folder;
  std::string path = folder.file("t.ini");
  for (const EditRow& row : editRows) {
    SCOPED_TRACE(row.name);
    writeFileBytes(path, row.before);
    EXPECT_TRUE(
        writeNow(row.section, row.key, row.value, path.c_str()));
    EXPECT_EQ(readFileBytes(path), row.after);
  }
}

// A line break would put lines of its own into the file; a file without
// write permission is read-only, as Windows keeps one.
TEST(IniFileTest, RefusedWritesLeaveTheFileAsItWas) {
  struct Row {
    const char* name;
    const char* key;
    const char* value;
    mode_t mode;
  } rows[] = {
      {"LF in a value", "x", "1\ny=2", 0600},
      {"CR in a value", "x", "1\r[b]", 0600},
      {"line break in a key", "x\ny", "1", 0600},
      {"read-only file", "x", "2", 0444},
  };
  TempFolder folder;
  std::string path = folder.file("t.ini");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writeFileBytes(path, "[a]\r\nx=1\r\n");
    ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
    EXPECT_FALSE(writeNow("a", row.key, row.value, path.c_str()));
    EXPECT_EQ(readFileBytes(path), "[a]\r\nx=1\r\n");
    chmod(path.c_str(), 0600);
  }
}

TEST(IniFileTest, UnchangedWriteLeavesTheFileAlone) {
  TempFolder folder;
  std::string path = folder.file("t.ini");
  writeFileBytes(path, "[a]\r\nx =  1  \r\n");
  struct stat before, after;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  EXPECT_TRUE(writeNow("A", "X", " 1", path.c_str()));
  EXPECT_TRUE(writeNow("a", "missing", nullptr, path.c_str()));
  EXPECT_TRUE(writeNow("missing", nullptr, nullptr, path.c_str()));
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "the file was replaced";
  EXPECT_EQ(readFileBytes(path), "[a]\r\nx =  1  \r\n");
}

TEST(IniFileTest, LinesAreFoundWhereTheyStart) {
  ini::Document doc = ini::parse("top\r\n[ s ]\nk = v \r\n\r");
  ini::Line top = ini::lineAt(doc, 0);
  EXPECT_EQ(top.kind, ini::Line::kKey);
  EXPECT_FALSE(top.hasValue);
  ini::Line header = ini::lineAt(doc, top.next);
  EXPECT_EQ(header.kind, ini::Line::kSection);
  EXPECT_EQ(header.begin, 5u);
  EXPECT_EQ(header.end, 10u);
  EXPECT_EQ(header.next, 11u);
  EXPECT_EQ(header.nameBegin, 7u);
  EXPECT_EQ(header.nameEnd, 8u);
  ini::Line key = ini::lineAt(doc, header.next);
  EXPECT_EQ(key.valueBegin, 15u);
  EXPECT_EQ(key.valueEnd, 16u);
  EXPECT_EQ(key.next, 19u);
  ini::Line last = ini::lineAt(doc, key.next);
  EXPECT_EQ(last.kind, ini::Line::kBlank);
  EXPECT_EQ(last.next, doc.bytes.size());
  EXPECT_EQ(ini::findKey(doc, "S", "K"), 11u);
  EXPECT_EQ(ini::keyValue(doc, ini::findKey(doc, "S", "K")), "v");
  EXPECT_EQ(ini::findKey(doc, "s", "top"), ini::kNone);
  EXPECT_EQ(ini::findKey(doc, "", "top"), 0u);
}

// The lookups remember the first few thousand key names of a section; a key
// past them, or missing, is still found as the first of its name.
TEST(IniFileTest, KeysPastTheIndexAreFound) {
  std::string text = "[a]\n";
  for (size_t i = 0; i < ini::kIndexedKeys + 10; ++i) text += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  text += "K5=again\nlast=1\n[b]\nlast=2\n";
  ini::Document doc = ini::parse(text);
  for (const char* key : {"k5", "K4100", "last", "missing", "k5"}) {
    uint32_t found = ini::findKey(doc, "a", key);
    uint32_t expected = ini::kNone;
    for (uint32_t at = 0; at < doc.bytes.size() && expected == ini::kNone;) {
      ini::Line line = ini::lineAt(doc, at);
      if (line.kind == ini::Line::kSection && ini::lineName(doc, line) == "b") break;
      if (line.kind == ini::Line::kKey && strcasecmp(ini::lineName(doc, line).c_str(), key) == 0)
        expected = at;
      at = line.next;
    }
    EXPECT_EQ(found, expected) << key;
  }
  EXPECT_EQ(ini::keyValue(doc, ini::findKey(doc, "a", "k5")), "5");
  EXPECT_EQ(ini::keyValue(doc, ini::findKey(doc, "a", "last")), "1");
}

// Windows documents two terminators after a list cut short; we always
// store both (its ANSI calls leave the last byte untouched).
TEST(IniFileTest, NameListsCutShortEndWithTwoNuls) {
  ini::Document doc = ini::parse("[a]\r\nabc=1\r\nde=2\r\n[bcd]\r\n");
  char out[8];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(ini::getString(doc, "a", nullptr, "d", out, 5), 3u);
  EXPECT_EQ(std::string(out, 6), std::string("abc\0\0#", 6));
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(ini::getString(doc, nullptr, nullptr, "d", out, 5), 3u);
  EXPECT_EQ(std::string(out, 6), std::string("a\0b\0\0#", 6));
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(ini::getString(doc, "a", nullptr, "dflt", out, 2), 1u);
  EXPECT_EQ(std::string(out, 3), std::string("d\0#", 3));
  EXPECT_EQ(ini::getString(doc, nullptr, nullptr, "d", out, 1), 0u);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(ini::getString(doc, "a", "abc", "d", nullptr, 0), 0u);
}

struct NumberRow {
  const char* text;
  uint32_t value;
};

const NumberRow numberRows[] = {
    {"", 0},
    {"0", 0},
    {"-1", 0xFFFFFFFFu},
    {"4294967295", 0xFFFFFFFFu},
    {"2147483648", 0x80000000u},
    {"4294967297", 1},
    {"\t\v 8", 8},
    {"+-3", 0},
    {"0x1F", 31},
    {"0xZ", 0},
    {"0b12", 1},
    {"0o9", 0},
    {"-0b1", 0xFFFFFFFFu},
    {"7\xff", 7},
    {"\xff\x37", 0},  // 0xff, then '7'
};

TEST(IniFileTest, NumbersAsWindowsReadsThem) {
  for (const NumberRow& row : numberRows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ini::parseInteger(row.text), row.value);
  }
}

// --- Odd and large files ---------------------------------------------------

// How long one step took, recorded as the test's property NAME in
// milliseconds; tools/bench/test_timings.sh reads it. No bound is asserted:
// a loaded machine makes any near bound flaky.
void timed(const char* name, void (*work)(const std::string&), const std::string& path) {
  auto start = std::chrono::steady_clock::now();
  work(path);
  auto took = std::chrono::steady_clock::now() - start;
  ::testing::Test::RecordProperty(
      name, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

std::string bigFile() {
  std::string text;
  text.reserve(10u << 20);
  char line[128];
  for (int section = 0; text.size() < (10u << 20); ++section) {
    text += "[s" + std::to_string(section) + "]\r\n";
    for (int key = 0; key < 40; ++key) {
      std::snprintf(line, sizeof line, "key%d = value %d of section %d; padding\r\n", key,
                    key * section, section);
      text += line;
    }
  }
  return text + "[kronsec]\r\nhost=last\r\n";
}

TEST(IniFileTest, TenMegabyteFile) {
  TempFolder folder;
  std::string path = folder.file("big.ini");
  writeFileBytes(path, bigFile());
  const std::string before = readFileBytes(path);
  timed("read_ms", [](const std::string& p) {
    EXPECT_EQ(readAt(p, "kronsec", "host"), "last");
    EXPECT_EQ(readAt(p, "s100", "key7"), "value 700 of section 100; padding");
  }, path);
  timed("replace_ms", [](const std::string& p) {
    EXPECT_TRUE(writeNow("kronsec", "host", "new", p.c_str()));
  }, path);
  timed("add_ms", [](const std::string& p) {
    EXPECT_TRUE(writeNow("s3", "extra", "1", p.c_str()));
  }, path);
  timed("remove_and_restore_ms", [](const std::string& p) {
    EXPECT_TRUE(writeNow("s3", "extra", nullptr, p.c_str()));
    EXPECT_TRUE(writeNow("kronsec", "host", "last", p.c_str()));
  }, path);
  EXPECT_TRUE(readFileBytes(path) == before);
}

TEST(IniFileTest, HugeSingleLine) {
  TempFolder folder;
  std::string path = folder.file("line.ini");
  writeFileBytes(path, "[a]\r\nx=" + std::string(10u << 20, 'x'));
  char out[512];
  EXPECT_EQ(GetPrivateProfileStringA("a", "x", "", out, sizeof out, path.c_str()), 511u);
  EXPECT_EQ(GetPrivateProfileIntA("a", "x", 5, path.c_str()), 0u);
  EXPECT_TRUE(writeNow("a", "y", "1", path.c_str()));
  EXPECT_EQ(readAt(path, "a", "y"), "1");
  EXPECT_EQ(readFileBytes(path).size(), 5 + 2 + (10u << 20) + 2 + 5);
}

// Random bytes rich in the characters the syntax cares about.
std::string randomIni(uint32_t* seed) {
  static const char alphabet[] = "[]=\r\n\0 \t;\"'abAB\x1a\xff";
  auto next = [seed] {
    *seed = *seed * 1664525u + 1013904223u;
    return *seed >> 8;
  };
  std::string text(next() % 200, ' ');
  for (char& c : text) c = alphabet[next() % (sizeof alphabet - 1)];
  return text;
}

// Every (section, key) pair the document names, as a reader would ask.
std::vector<std::pair<std::string, std::string>> namePairs(const ini::Document& doc) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string section;
  for (uint32_t at = doc.bodyStart; at < doc.bytes.size();) {
    ini::Line line = ini::lineAt(doc, at);
    if (line.kind == ini::Line::kSection) section = ini::lineName(doc, line);
    if (line.kind == ini::Line::kKey) pairs.emplace_back(section, ini::lineName(doc, line));
    at = line.next;
  }
  return pairs;
}

std::string readDoc(const ini::Document& doc, const std::string& section,
                    const std::string& key) {
  char out[256];
  uint32_t n = ini::getString(doc, section.c_str(), key.c_str(), "?", out, sizeof out);
  return std::string(out, n);
}

// An edit of (a, b) changes what (a, b) reads and nothing else.
void checkEdit(const ini::Document& doc, const char* value) {
  std::string edited;
  ini::Edit edit = value ? ini::setValue(doc, "a", "b", value, &edited)
                         : ini::removeKey(doc, "a", "b", &edited);
  ini::Document after = ini::parse(edit == ini::Edit::kChanged ? edited : doc.bytes);
  if (value) {
    EXPECT_EQ(readDoc(after, "a", "b"), value);
  }
  for (const auto& pair : namePairs(doc)) {
    if (ini::findKey(doc, pair.first.c_str(), pair.second.c_str()) ==
        ini::findKey(doc, "a", "b"))
      continue;
    EXPECT_EQ(readDoc(after, pair.first, pair.second),
              readDoc(doc, pair.first, pair.second))
        << "[" << pair.first << "] " << pair.second;
  }
}

TEST(IniFileTest, RandomBytesNeverBreakIt) {
  uint32_t seed = 12345;
  for (int round = 0; round < 3000; ++round) {
    std::string text = randomIni(&seed);
    SCOPED_TRACE(::testing::PrintToString(text));
    ini::Document doc = ini::parse(text);
    char out[16];
    ini::getString(doc, nullptr, nullptr, "", out, sizeof out);
    ini::getString(doc, "a", nullptr, "", out, sizeof out);
    ini::getInt(doc, "a", "b", 0);
    checkEdit(doc, "v");
    checkEdit(doc, nullptr);
    std::string gone;
    if (ini::removeSection(doc, "a", &gone) == ini::Edit::kChanged) {
      ini::Document rest = ini::parse(gone);
      EXPECT_EQ(readDoc(rest, "a", "b"), readDoc(rest, "A", "B"));
    }
  }
}

// The pending writes of a save, applied in one pass, give the bytes that one
// write after another would, the quick way (sets only, one kind of line
// ending) and the general one.
TEST(IniFileTest, WritesTogetherEqualWritesInTurn) {
  const char* sections[] = {"a", "A", " b ", "c", "\x1a"};
  const char* keys[] = {"a", "B", "x", " b"};
  const char* values[] = {"1", "v v", "  2", ""};
  uint32_t seed = 777;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int round = 0; round < 6000; ++round) {
    std::string text = randomIni(&seed);
    // Half the files end every line alike, which the quick way takes.
    if (round % 2) std::replace(text.begin(), text.end(), '\r', '\n');
    std::vector<ini::PendingWrite> writes(1 + next() % 6);
    for (ini::PendingWrite& w : writes)
      w = {next() % 8 ? ini::PendingWrite::kSet : ini::PendingWrite::kRemoveKey,
           sections[next() % 5], keys[next() % 4], values[next() % 4]};
    std::string inTurn = text;
    for (const ini::PendingWrite& w : writes) {
      std::string edited;
      ini::Document doc = ini::parse(inTurn);
      ini::Edit e = w.kind == ini::PendingWrite::kSet
                        ? ini::setValue(doc, w.section.c_str(), w.key.c_str(), w.value.c_str(), &edited)
                        : ini::removeKey(doc, w.section.c_str(), w.key.c_str(), &edited);
      if (e == ini::Edit::kChanged) inTurn = edited;
    }
    std::string together;
    if (ini::applyWrites(ini::parse(text), writes, &together) == ini::Edit::kUnchanged)
      together = text;
    ASSERT_EQ(together, inTurn) << ::testing::PrintToString(text) << " round " << round;
  }
}

// --- Atomic replacement ---------------------------------------------------

int writeCalls = 0;

// Writes part of the first chunk, then reports a full disk.
ssize_t diskFillsUp(int fd, const void* data, size_t size) {
  if (writeCalls++ == 0) return write(fd, data, size / 2 + 1);
  errno = ENOSPC;
  return -1;
}

ssize_t oneByteAtATime(int fd, const void* data, size_t size) {
  ++writeCalls;
  return write(fd, data, size ? 1 : 0);
}

TEST(IniFileTest, FailedWriteKeepsTheOldFile) {
  TempFolder folder;
  std::string path = folder.file("t.ini");
  writeFileBytes(path, "[a]\r\nx=1\r\n");
  writeCalls = 0;
  ini::setWriteStep(diskFillsUp);
  BOOL written =
      writeNow("a", "x", "a much longer value", path.c_str());
  ini::setWriteStep(nullptr);
  EXPECT_FALSE(written);
  EXPECT_EQ(writeCalls, 2);
  EXPECT_EQ(readFileBytes(path), "[a]\r\nx=1\r\n");
  EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"t.ini"});
}

TEST(IniFileTest, ShortWritesAreCompleted) {
  TempFolder folder;
  std::string path = folder.file("t.ini");
  writeCalls = 0;
  ini::setWriteStep(oneByteAtATime);
  BOOL written = writeNow("a", "x", "1", path.c_str());
  ini::setWriteStep(nullptr);
  EXPECT_TRUE(written);
  EXPECT_EQ(writeCalls, 10);
  EXPECT_EQ(readFileBytes(path), "[a]\r\nx=1\r\n");
}

TEST(IniFileTest, UncreatableFileFails) {
  TempFolder folder;
  writeFileBytes(folder.file("plain"), "not a folder");
  std::string path = folder.file("plain/t.ini");
  EXPECT_FALSE(writeNow("a", "x", "1", path.c_str()));
  EXPECT_EQ(readAt(path, "a", "x", "dflt"), "dflt");
  EXPECT_EQ(readFileBytes(folder.file("plain")), "not a folder");
  EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"plain"});
}

// Something we cannot read is never replaced: its contents would be lost.
TEST(IniFileTest, UnreadableFileReadsEmptyAndIsNotReplaced) {
  TempFolder folder;
  std::string path = folder.file("t.ini");
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  EXPECT_EQ(readAt(path, "a", "x", "dflt"), "dflt");
  EXPECT_EQ(GetPrivateProfileIntA("a", "x", 7, path.c_str()), 7u);
  EXPECT_FALSE(writeNow("a", "x", "1", path.c_str()));
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST(IniFileTest, Utf16FileIsNotRewritten) {
  TempFolder folder;
  std::string path = folder.file("t.ini");
  const std::string utf16("\xFF\xFE[\0a\0]\0\r\0\n\0x\0=\0\x31\0", 18);
  writeFileBytes(path, utf16);
  EXPECT_EQ(readAt(path, "a", "x", "dflt"), "dflt");
  EXPECT_FALSE(writeNow("a", "x", "2", path.c_str()));
  EXPECT_EQ(readFileBytes(path), utf16);
}

TEST(IniFileTest, PermissionsSurviveAWrite) {
  TempFolder folder;
  std::string path = folder.file("t.ini");
  writeFileBytes(path, "[a]\r\nx=1\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  EXPECT_TRUE(writeNow("a", "x", "2", path.c_str()));
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(readFileBytes(path), "[a]\r\nx=2\r\n");
}

// A settings file that is a symbolic link stays one: the save goes to the
// file its links end at, and makes it when it is missing (a dangling link).
TEST(IniFileTest, LinksSurviveAWriteAndDanglingOnesGetTheirTarget) {
  struct Row {
    const char* name;
    std::vector<std::pair<const char*, const char*>> links;  // (link, what it holds)
    const char* before;  // the target's bytes; nullptr: it is missing
    const char* target;
    bool written;
  } rows[] = {
      {"link to a file", {{"t.ini", "real.ini"}}, "[a]\r\nx=1\r\n", "real.ini", true},
      {"dangling link", {{"t.ini", "real.ini"}}, nullptr, "real.ini", true},
      {"link to a link", {{"t.ini", "mid.ini"}, {"mid.ini", "sub/real.ini"}}, nullptr,
       "sub/real.ini", true},
      {"link from a folder's link", {{"t.ini", "sub/../real.ini"}}, "[a]\r\n", "real.ini", true},
      {"dangling into no folder", {{"t.ini", "none/real.ini"}}, nullptr, "none/real.ini", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    ASSERT_EQ(mkdir(folder.file("sub").c_str(), 0700), 0);
    for (const auto& link : row.links)
      ASSERT_EQ(symlink(link.second, folder.file(link.first).c_str()), 0);
    if (row.before) writeFileBytes(folder.file(row.target), row.before);
    EXPECT_EQ(writeNow("a", "x", "2", folder.file("t.ini").c_str()), row.written);
    for (const auto& link : row.links) {
      struct stat info;
      ASSERT_EQ(lstat(folder.file(link.first).c_str(), &info), 0);
      EXPECT_TRUE(S_ISLNK(info.st_mode)) << link.first;
    }
    if (row.written) {
      EXPECT_EQ(readFileBytes(folder.file(row.target)), "[a]\r\nx=2\r\n");
      EXPECT_EQ(readAt(folder.file("t.ini"), "a", "x"), "2");
    }
  }
}

// The save reads the file only once it holds the folder's lock: an editor
// that changes the file while it holds that lock loses nothing.
TEST(IniFileTest, TheSaveReadsTheFileUnderTheFolderLock) {
  TempFolder folder;
  std::string path = folder.file("t.ini");
  writeFileBytes(path, "[a]\r\nx=1\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("a", "ours", "1", path.c_str()));
  int editor = open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(editor, LOCK_EX), 0);
  std::atomic<bool> saving{false}, saved{false};
  std::thread save([&] {
    saving = true;
    saved = ini::flushProfiles();
  });
  while (!saving) std::this_thread::yield();
  // Long enough for the save to be waiting on the lock, well within its 10 s.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  bool waited = !saved;
  // Behind the store's back (writeFileBytes would reset it under the save).
  std::ofstream(path, std::ios::binary | std::ios::app) << "theirs=1\r\n";
  close(editor);
  save.join();
  EXPECT_TRUE(waited) << "the save went ahead without the folder's lock";
  EXPECT_TRUE(saved);
  EXPECT_EQ(readFileBytes(path), "[a]\r\nx=1\r\ntheirs=1\r\nours=1\r\n");
}

// Another process that holds the folder's lock and keeps it.
class LockHolder {
 public:
  explicit LockHolder(const std::string& folder) {
    int ready[2];
    if (pipe(ready) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
      char byte = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 1 : 0;
      if (write(ready[1], &byte, 1) != 1) _exit(1);
      for (;;) pause();
    }
    char byte = 0;
    held_ = pid_ > 0 && read(ready[0], &byte, 1) == 1 && byte == 1;
    close(ready[0]);
    close(ready[1]);
  }
  ~LockHolder() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  bool held() const { return held_; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};

struct BusyLock {
  std::vector<std::pair<std::string, int>> told;
  static BusyLock* current;
  static void note(const std::string& folder, int holder) { current->told.push_back({folder, holder}); }
  BusyLock() {
    current = this;
    ini::setLockBusy(note);
  }
  ~BusyLock() {
    ini::setLockBusy(nullptr);
    ini::setLockWait(0);
    current = nullptr;
  }
};
BusyLock* BusyLock::current = nullptr;

// A lock another process keeps is waited for only so long, or not at all
// once a close request (a signal) has come: then nothing in the folder is
// written, its files stay byte for byte as they were, no temporary file is
// left, and the holder is named once for the whole folder.
TEST(IniFileTest, ALockKeptByAnotherProcessStopsTheSave) {
  struct Row {
    const char* name;
    uint32_t waitMs;     // the longest wait (0: the program's 10 s)
    bool closeRequest;   // a close request has come
  } rows[] = {
      {"the wait runs out", 300, false},
      {"a close request ends the wait at once", 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    std::string path = folder.file("t.ini"), system = folder.file("w.ini");
    writeFileBytes(path, "[a]\r\nx=1\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("a", "x", "2", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("s", "y", "3", system.c_str()));
    LockHolder holder(folder.path());
    ASSERT_TRUE(holder.held());
    BusyLock busy;
    ini::setLockWait(row.waitMs);
    int request[2] = {-1, -1};
    if (row.closeRequest) {
      ASSERT_EQ(pipe(request), 0);
      ASSERT_EQ(write(request[1], "x", 1), 1);
      watchCloseRequests(request[0]);
    }
    auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(ini::flushProfiles());
    auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - began).count();
    if (row.closeRequest) {
      watchCloseRequests(-1);
      close(request[0]);
      close(request[1]);
      EXPECT_LT(tookMs, 5000) << "waited for the lock after a close request";
    } else {
      EXPECT_GE(tookMs, 300) << "gave up before the wait was over";
    }
    EXPECT_EQ(readFileBytes(path), "[a]\r\nx=1\r\n");
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"t.ini"});
    ASSERT_EQ(busy.told.size(), 1u);
    EXPECT_EQ(busy.told[0].first, folder.path());
    if (fileExists("/proc/locks")) {
      EXPECT_EQ(busy.told[0].second, holder.pid());
    }
  }
}

// Every save removes what killed saves of its file left, also when it has
// nothing to change; other files that look alike stay.
TEST(IniFileTest, ASaveRemovesLeftoversEvenWhenNothingChanged) {
  TempFolder folder;
  std::string path = folder.file("t.ini");
  writeFileBytes(path, "[a]\r\nx=1\r\n");
  for (const char* name : {".t.ini.a1B2c3", ".t.ini.XXXXXX", ".t.ini.toolong", ".u.ini.a1B2c3",
                           "t.ini.a1B2c3"})
    writeFileBytes(folder.file(name), "[a]\r\nx=");
  struct stat before, after;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  EXPECT_TRUE(writeNow("a", "x", "1", path.c_str()));
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "the file was replaced";
  std::vector<std::string> left = folderEntries(folder.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".t.ini.toolong", ".u.ini.a1B2c3", "t.ini",
                                            "t.ini.a1B2c3"}));
}

// With saving off (--no-save) writes answer reads but no file, folder or
// leftover is touched.
TEST(IniFileTest, SavingOffLeavesEveryFileAlone) {
  TempFolder folder;
  std::string kept = folder.file("kept.ini"), missing = folder.file("sub/new.ini");
  writeFileBytes(kept, "[a]\r\nx=1\r\n");
  writeFileBytes(folder.file(".kept.ini.a1B2c3"), "left");
  ini::setSaving(false);
  EXPECT_TRUE(writeNow("a", "x", "2", kept.c_str()));
  EXPECT_TRUE(writeNow("a", "y", "3", missing.c_str()));
  EXPECT_EQ(readAt(kept, "a", "x"), "2");
  EXPECT_EQ(readAt(missing, "a", "y"), "3");
  ini::setSaving(true);
  ini::dropProfileCache();
  EXPECT_EQ(readFileBytes(kept), "[a]\r\nx=1\r\n");
  std::vector<std::string> left = folderEntries(folder.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".kept.ini.a1B2c3", "kept.ini"}));
}

// --- Where the files live -------------------------------------------------

TEST(IniFileTest, BareNamesLiveInTheConfigFolder) {
  TempFolder folder;
  EnvSetting xdg("XDG_CONFIG_HOME", (folder.path() + "/cfg").c_str());
  EXPECT_EQ(ini::profilePath("orv.ini"), folder.path() + "/cfg/kronsec/orv.ini");
  EXPECT_EQ(readAt("orv.ini", "a", "x", "dflt"), "dflt");
  EXPECT_TRUE(folderEntries(folder.path()).empty()) << "a read created something";
  EXPECT_TRUE(writeNow("a", "x", "1", "orv.ini"));
  EXPECT_EQ(readFileBytes(folder.path() + "/cfg/kronsec/orv.ini"), "[a]\r\nx=1\r\n");
  struct stat info;
  ASSERT_EQ(stat((folder.path() + "/cfg/kronsec").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(readAt("orv.ini", "a", "x"), "1");
}

TEST(IniFileTest, SystemProfileIsWinIniBesideIt) {
  TempFolder folder;
  EnvSetting xdg("XDG_CONFIG_HOME", folder.path().c_str());
  EXPECT_TRUE(WriteProfileStringA("sounds", "kronsecReset", ",kronsec Reset"));
  EXPECT_TRUE(ini::flushProfiles());
  EXPECT_EQ(readFileBytes(folder.path() + "/kronsec/win.ini"),
            "[sounds]\r\nkronsecReset=,kronsec Reset\r\n");
  char out[64];
  EXPECT_EQ(GetProfileStringA("SOUNDS", "kronsecreset", "", out, sizeof out), 14u);
  EXPECT_EQ(readAt(ini::profilePath(nullptr), "sounds", "kronsecReset"),
            ",kronsec Reset");
}

TEST(IniFileTest, HomeWhenXdgIsUnsetOrRelative) {
  TempFolder folder;
  EnvSetting home("HOME", folder.path().c_str());
  {
    EnvSetting xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(ini::configFolder(), folder.path() + "/.config/kronsec");
    EXPECT_TRUE(writeNow("a", "x", "1", "t.ini"));
    EXPECT_EQ(readFileBytes(folder.path() + "/.config/kronsec/t.ini"), "[a]\r\nx=1\r\n");
  }
  EnvSetting xdg("XDG_CONFIG_HOME", "relative/cfg");
  EXPECT_EQ(ini::configFolder(), folder.path() + "/.config/kronsec");
}

TEST(IniFileTest, PasswdHomeWhenHomeIsUnset) {
  EnvSetting xdg("XDG_CONFIG_HOME", nullptr);
  EnvSetting home("HOME", nullptr);
  struct passwd* entry = getpwuid(getuid());
  if (!entry || !entry->pw_dir || !*entry->pw_dir) GTEST_SKIP() << "no passwd entry";
  EXPECT_EQ(ini::configFolder(), std::string(entry->pw_dir) + "/.config/kronsec");
}

TEST(IniFileTest, NamesWithASlashAreUsedAsGiven) {
  EXPECT_EQ(ini::profilePath("/etc/x.ini"), "/etc/x.ini");
  EXPECT_EQ(ini::profilePath("./x.ini"), "./x.ini");
  EXPECT_EQ(ini::profilePath(""), "");
  EXPECT_EQ(readAt("", "a", "x", "dflt"), "dflt");
  EXPECT_FALSE(writeNow("a", "x", "1", ""));
}

TEST(IniFileTest, UnusableConfigFolderReadsEmpty) {
  TempFolder folder;
  // A config folder that cannot be created: its parent is a file.
  writeFileBytes(folder.file("file"), "x");
  EnvSetting xdg("XDG_CONFIG_HOME", folder.file("file").c_str());
  EXPECT_EQ(readAt("orv.ini", "a", "x", "dflt"), "dflt");
  EXPECT_EQ(GetPrivateProfileIntA("a", "x", -1, "orv.ini"), 0xFFFFFFFFu);
  EXPECT_FALSE(writeNow("a", "x", "1", "orv.ini"));
  EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"file"});
}

}  // namespace
