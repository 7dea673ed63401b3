// The profile calls as the settings code uses them. These tests run natively
// against our INI store and, in the Windows build, against the real profile
// functions (under wine): every row must give the same answer on both.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/win32.h"
#include "tests/support/support.h"

namespace {

const char* const kFile = "orv.ini";

// Replaces orv.ini with bytes. The flush first makes a store that caches
// files (Windows does) forget its copy.
void putFile(const std::string& bytes) {
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, kFile);
  writeFileBytes(profilePath(kFile), bytes);
}

std::string fileBytes() {
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, kFile);
  return readFileBytes(profilePath(kFile));
}

std::string readText(const char* section, const char* key, const char* def = "?") {
  char out[512];
  DWORD n = GetPrivateProfileStringA(section, key, def, out, sizeof out, kFile);
  return std::string(out, n);
}

using ProfileTest = CleanSettings;

struct ReadRow {
  const char* name;
  std::string file;
  const char* section;
  const char* key;
  const char* def;
  DWORD size;
  DWORD result;
  std::string text;
};

const std::string kBasic = "[kronsec]\r\nhost=time.example\r\n";

const ReadRow readRows[] = {
    {"plain", kBasic, "kronsec", "host", "d", 64, 12, "time.example"},
    {"section and key ignore case", "[KronSec]\r\nHOST=abc\r\n", "kronsec", "Host", "d",
     64, 3, "abc"},
    {"first matching section wins", "[a]\r\nx=1\r\n[A]\r\nx=2\r\ny=3\r\n", "a", "x", "d",
     64, 1, "1"},
    {"later section of the same name is not read", "[a]\r\nx=1\r\n[A]\r\nx=2\r\ny=3\r\n",
     "a", "y", "d", 64, 1, "d"},
    {"first matching key wins", "[a]\r\nX=1\r\nx=2\r\n", "a", "x", "d", 64, 1, "1"},
    {"blanks around names and value", "[ a ]\r\n \t x  =  v v \t \r\n", "a", "x", "d", 64,
     3, "v v"},
    {"caller's names trimmed", "[a]\r\nx=1\r\n", " a\t", "  x ", "d", 64, 1, "1"},
    {"double quotes removed", "[a]\r\nx=\"abc\"\r\n", "a", "x", "d", 64, 3, "abc"},
    {"single quotes removed", "[a]\r\nx='abc'\r\n", "a", "x", "d", 64, 3, "abc"},
    {"quotes after blanks removed", "[a]\r\nx=  \"abc\"  \r\n", "a", "x", "d", 64, 3,
     "abc"},
    {"unmatched quotes kept", "[a]\r\nx=\"abc'\r\n", "a", "x", "d", 64, 5, "\"abc'"},
    {"lone quote kept", "[a]\r\nx=\"\r\n", "a", "x", "d", 64, 1, "\""},
    {"inner quote kept", "[a]\r\nx=\"a\"b\"\r\n", "a", "x", "d", 64, 3, "a\"b"},
    {"empty quotes read as empty", "[a]\r\nx=\"\"\r\n", "a", "x", "d", 64, 0, ""},
    {"empty value is empty, not the default", "[a]\r\nx=\r\n", "a", "x", "d", 64, 0, ""},
    {"blank value is empty", "[a]\r\nx=   \r\n", "a", "x", "d", 64, 0, ""},
    {"missing key gives the default", "[a]\r\nx=1\r\n", "a", "y", "dflt", 64, 4, "dflt"},
    {"missing section gives the default", "[a]\r\nx=1\r\n", "b", "x", "dflt", 64, 4,
     "dflt"},
    {"missing file gives the default", "", "a", "x", "dflt", 64, 4, "dflt"},
    {"default loses trailing spaces", "", "a", "x", "def   ", 64, 3, "def"},
    {"default keeps leading spaces and tabs", "", "a", "x", "  d\t ", 64, 4, "  d\t"},
    {"all-space default keeps one space", "", "a", "x", "   ", 64, 1, " "},
    {"default loses its quotes", "", "a", "x", "\"q\"  ", 64, 1, "q"},
    {"null default reads as empty", "", "a", "x", nullptr, 64, 0, ""},
    {"cut to size - 1", "[a]\r\nx=abcdef\r\n", "a", "x", "d", 4, 3, "abc"},
    {"size 1 gives the empty text", "[a]\r\nx=abcdef\r\n", "a", "x", "d", 1, 0, ""},
    {"default cut too", "", "a", "x", "abcdef", 3, 2, "ab"},
    {"quoted value that fits", "[a]\r\nx=\"abcdef\"\r\n", "a", "x", "d", 8, 6, "abcdef"},
    // Windows drops the last byte kept when the buffer is one short of the
    // value without its opening quote.
    {"quoted value one short", "[a]\r\nx=\"abcdef\"\r\n", "a", "x", "d", 7, 5, "abcde"},
    {"quoted value cut", "[a]\r\nx=\"abcdef\"\r\n", "a", "x", "d", 6, 5, "abcde"},
    {"value with '='", "[a]\r\n x = 1 = 2 \r\n", "a", "x", "d", 64, 5, "1 = 2"},
    {"keys before any section: section \"\"", "top=1\r\n[a]\r\nx=2\r\n", "", "top", "d",
     64, 1, "1"},
    {"keys before any section: not in [a]", "top=1\r\n[a]\r\nx=2\r\n", "a", "top", "d",
     64, 1, "d"},
    {"key without '=' reads as missing", "[a]\r\nx\r\n", "a", "x", "d", 64, 1, "d"},
    {"key without '=' shadows a later one", "[a]\r\nx\r\nx=2\r\n", "a", "x", "d", 64, 1,
     "d"},
    {"'[' line without ']' is a key", "[a]\r\n[b\r\nx=1\r\n", "a", "x", "d", 64, 1, "1"},
    {"'[' key with a value", "[a]\r\n[b=3\r\n", "a", "[b", "d", 64, 1, "3"},
    {"text after ']' ignored", "[a] junk\r\nx=1\r\n", "a", "x", "d", 64, 1, "1"},
    {"section name ends at the last ']'", "[a]b]\r\nx=1\r\n", "a]b", "x", "d", 64, 1,
     "1"},
    {"LF line ends", "[a]\nx=1\ny=2", "a", "y", "d", 64, 1, "2"},
    {"CR line ends", "[a]\rx=1\ry=2", "a", "y", "d", 64, 1, "2"},
    {"no final line end", "[a]\r\nx=last", "a", "x", "d", 64, 4, "last"},
    {"NUL ends the value", std::string("[a]\r\nx=ab\0cd\r\ny=3\r\n", 19), "a", "x", "d",
     64, 2, "ab"},
    {"line after a NUL still read", std::string("[a]\r\nx=ab\0cd\r\ny=3\r\n", 19), "a",
     "y", "d", 64, 1, "3"},
    {"NUL ends the key name", std::string("[a]\r\nx\0z=ab\r\n", 13), "a", "x", "d", 64, 2,
     "ab"},
    {"tab inside the value kept", "[a]\r\nx=v\tw\r\n", "a", "x", "d", 64, 3, "v\tw"},
    {"^Z trimmed like a blank", "[a]\r\nx=v\x1a\r\n", "a", "x", "d", 64, 1, "v"},
    {"high bytes kept", "[a]\r\nx=\xe9t\xe9\r\n", "a", "x", "d", 64, 3, "\xe9t\xe9"},
    {"UTF-8 byte order mark skipped", "\xEF\xBB\xBF[a]\r\nx=1\r\n", "a", "x", "d", 64, 1,
     "1"},
    {"empty key name", "[a]\r\n=5\r\n", "a", "", "d", 64, 1, "5"},
    {"long line", "[a]\r\nx=" + std::string(600, 'v') + "\r\ny=2\r\n", "a", "x", "d", 512,
     511, std::string(511, 'v')},
    {"line after a long line", "[a]\r\nx=" + std::string(600, 'v') + "\r\ny=2\r\n", "a",
     "y", "d", 512, 1, "2"},
    {"key list", "[a]\r\nx=1\r\n;c=2\r\ny\r\nz=3\r\n", "a", nullptr, "d", 64, 4,
     std::string("x\0z\0", 4)},
    {"key list of a missing section gives the default", "[a]\r\nx=1\r\n", "b", nullptr,
     "dflt  ", 64, 6, "dflt  "},
    {"section list", "top=1\r\n[a]\r\n[b]\r\n[]\r\nq=1\r\n", nullptr, nullptr, "d", 64, 4,
     std::string("a\0b\0", 4)},
};

TEST_F(ProfileTest, ReadsAsWindowsDoes) {
  for (const ReadRow& row : readRows) {
    SCOPED_TRACE(row.name);
    if (row.file.empty()) {
      WritePrivateProfileStringA(nullptr, nullptr, nullptr, kFile);
      removeFile(profilePath(kFile));
    } else {
      putFile(row.file);
    }
    char out[1024];
    std::memset(out, '#', sizeof out);
    DWORD n =
        GetPrivateProfileStringA(row.section, row.key, row.def, out, row.size, kFile);
    EXPECT_EQ(n, row.result);
    EXPECT_EQ(std::string(out, n), row.text);
    EXPECT_EQ(out[n], '\0');
    EXPECT_EQ(out[row.size], '#') << "wrote past the buffer";
  }
}

TEST_F(ProfileTest, SizeZeroTouchesNothing) {
  putFile(kBasic);
  char out[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(GetPrivateProfileStringA("kronsec", "host", "d", out, 0, kFile), 0u);
  EXPECT_EQ(out[0], '#');
}

struct IntRow {
  const char* value;  // nullptr: no such key
  INT def;
  UINT result;
};

const IntRow intRows[] = {
    {"-1", 5, 4294967295u},
    {"4294967295", 5, 4294967295u},
    {"2147483648", 5, 2147483648u},
    {"-2147483648", 5, 2147483648u},
    {" 42", 5, 42},
    {"+7", 5, 7},
    {"abc", 5, 0},
    {"", 5, 5},
    {"\"\"", 5, 5},
    {"'5'", 5, 5},
    {"12abc", 5, 12},
    {"1 2", 5, 1},
    {"1e3", 5, 1},
    {"0x10", 5, 16},
    {"0X10", 5, 0},
    {"0xfg", 5, 15},
    {"-0x10", 5, 4294967280u},
    {"0o17", 5, 15},
    {"0b101", 5, 5},
    {"010", 5, 10},
    {"- 5", 5, 0},
    {"-", 5, 0},
    {"4294967296", 5, 0},
    {"99999999999", 5, 1215752191u},
    {"\x01\x02\x39", 5, 9},  // "\1\2" then '9'
    {nullptr, -3, 4294967293u},
    // Only the first 29 characters are read.
    {"0000000000000000000000000000000000000009", 5, 0},
};

TEST_F(ProfileTest, IntegerReads) {
  for (const IntRow& row : intRows) {
    SCOPED_TRACE(row.value ? row.value : "(missing)");
    putFile(row.value ? "[a]\r\nx=" + std::string(row.value) + "\r\n" : "[a]\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("a", "x", row.def, kFile), row.result);
  }
}

TEST_F(ProfileTest, EverySettingsValueReadsBack) {
  const char* const values[] = {"0",          "1",          "-1",         "37",
                                "4294967295", "2147483648", "2147483647", "-2147483648",
                                "18000",      "-3600"};
  for (const char* value : values) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(WritePrivateProfileStringA("kronsec", "n", value, kFile));
    uint32_t expected = static_cast<uint32_t>(std::stoll(value));
    EXPECT_EQ(GetPrivateProfileIntA("kronsec", "n", 99, kFile), expected);
    EXPECT_EQ(readText("kronsec", "n"), value);
  }
}

TEST_F(ProfileTest, NewFileIsWrittenWithCrLf) {
  ASSERT_TRUE(WritePrivateProfileStringA("kronsec", "host", "x", kFile));
  EXPECT_EQ(fileBytes(), "[kronsec]\r\nhost=x\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("kronsec", "attempts", "3", kFile));
  EXPECT_EQ(fileBytes(), "[kronsec]\r\nhost=x\r\nattempts=3\r\n");
}

struct WriteRow {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  BOOL result;
  std::string after;  // the same on Windows and ours
};

const WriteRow writeRows[] = {
    {"replace keeps the key's spelling", "[KronSec]\r\nHost=a\r\n", "kronsec", "host",
     "b", TRUE, "[KronSec]\r\nHost=b\r\n"},
    {"same value leaves the file alone", "[a]\r\nx = 1 \r\n", "a", "x", "1", TRUE,
     "[a]\r\nx = 1 \r\n"},
    {"leading blanks of the value dropped", "[a]\r\nx=1\r\n", "a", "x", " \t v", TRUE,
     "[a]\r\nx=v\r\n"},
    {"empty value", "[a]\r\nx=1\r\n", "a", "x", "", TRUE, "[a]\r\nx=\r\n"},
    {"key without '=' gets the value", "[a]\r\nx\r\n", "a", "x", "3", TRUE,
     "[a]\r\nx=3\r\n"},
    {"new key ends its section", "[a]\r\nx=1\r\n[b]\r\ny=2\r\n", "a", "z", "3", TRUE,
     "[a]\r\nx=1\r\nz=3\r\n[b]\r\ny=2\r\n"},
    {"new key goes to the first section of the name", "[a]\r\nx=1\r\n[A]\r\ny=2\r\n", "a",
     "y", "3", TRUE, "[a]\r\nx=1\r\ny=3\r\n[A]\r\ny=2\r\n"},
    {"new section ends the file", "[a]\r\nx=1\r\n", "b", "z", "3", TRUE,
     "[a]\r\nx=1\r\n[b]\r\nz=3\r\n"},
    {"section \"\" is the part before the first header", "[a]\r\nx=1\r\n", "", "z", "3",
     TRUE, "z=3\r\n[a]\r\nx=1\r\n"},
    {"null value removes the key", "[a]\r\nx=1\r\ny=2\r\n", "a", "x", nullptr, TRUE,
     "[a]\r\ny=2\r\n"},
    {"removal looks into later sections of the name", "[a]\r\nx=1\r\n[a]\r\ny=2\r\n", "a",
     "y", nullptr, TRUE, "[a]\r\nx=1\r\n[a]\r\n"},
    {"removing a missing key", "[a]\r\nx=1\r\n", "a", "y", nullptr, TRUE,
     "[a]\r\nx=1\r\n"},
    {"null key removes the section", "[a]\r\nx=1\r\n[b]\r\ny=2\r\n", "A", nullptr,
     nullptr, TRUE, "[b]\r\ny=2\r\n"},
    {"null key removes it whatever the value", "[a]\r\nx=1\r\n[b]\r\ny=2\r\n", "a",
     nullptr, "v", TRUE, "[b]\r\ny=2\r\n"},
    {"removing a missing section", "[a]\r\nx=1\r\n", "b", nullptr, nullptr, TRUE,
     "[a]\r\nx=1\r\n"},
    {"null section is refused", "[a]\r\nx=1\r\n", nullptr, "x", "2", FALSE,
     "[a]\r\nx=1\r\n"},
    // All three null asks to flush the cache; Windows answers FALSE.
    {"flush", "[a]\r\nx=1\r\n", nullptr, nullptr, nullptr, FALSE, "[a]\r\nx=1\r\n"},
};

TEST_F(ProfileTest, WritesAsWindowsDoes) {
  for (const WriteRow& row : writeRows) {
    SCOPED_TRACE(row.name);
    putFile(row.before);
    EXPECT_EQ(WritePrivateProfileStringA(row.section, row.key, row.value, kFile),
              row.result);
    EXPECT_EQ(fileBytes(), row.after);
  }
}

TEST_F(ProfileTest, WrittenValuesReadBack) {
  putFile("; settings\r\n[kronsec]\r\nhost=a\r\n[other]\r\nhost=b\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("KRONSEC", "HOST", "c", kFile));
  ASSERT_TRUE(WritePrivateProfileStringA("kronsec", "TZ", "EST5EDT", kFile));
  ASSERT_TRUE(WritePrivateProfileStringA("kronsec", "trail", "v  ", kFile));
  ASSERT_TRUE(WritePrivateProfileStringA("kronsec", "q", "\"quoted\"", kFile));
  EXPECT_EQ(readText("kronsec", "host"), "c");
  EXPECT_EQ(readText("other", "host"), "b");
  EXPECT_EQ(readText("kronsec", "tz"), "EST5EDT");
  EXPECT_EQ(readText("kronsec", "trail"), "v");
  EXPECT_EQ(readText("kronsec", "q"), "quoted");
  ASSERT_TRUE(WritePrivateProfileStringA("kronsec", "tz", nullptr, kFile));
  EXPECT_EQ(readText("kronsec", "TZ", "gone"), "gone");
}

TEST_F(ProfileTest, RemovingFromMissingFileCreatesNothing) {
  EXPECT_TRUE(WritePrivateProfileStringA("kronsec", "host", nullptr, kFile));
  EXPECT_TRUE(WritePrivateProfileStringA("kronsec", nullptr, nullptr, kFile));
  EXPECT_FALSE(fileExists(profilePath(kFile)));
}

// Only through the calls: Windows keeps the system profile's "sounds"
// section in the registry, not in the file.
TEST_F(ProfileTest, SystemProfile) {
  ASSERT_TRUE(WriteProfileStringA("sounds", "kronsecConnect", ",kronsec Connect"));
  char out[64];
  EXPECT_EQ(GetProfileStringA("Sounds", "KRONSECCONNECT", "", out, sizeof out), 16u);
  EXPECT_STREQ(out, ",kronsec Connect");
  ASSERT_TRUE(WriteProfileStringA("sounds", "kronsecConnect", nullptr));
  EXPECT_EQ(GetProfileStringA("sounds", "kronsecConnect", "", out, sizeof out), 0u);
  EXPECT_STREQ(out, "");
}

}  // namespace
