// Shared test helpers: a clean settings store per test, file bytes in and out.
#pragma once
#include <gtest/gtest.h>

#include <string>

// Full path of a profile file ("orv.ini", or systemProfileName) as the
// platform resolves a bare file name: the kronsec configuration folder on
// Linux, the Windows directory on Windows.
std::string profilePath(const char* name);

// The file behind GetProfileStringA/WriteProfileStringA.
extern const char* const systemProfileName;

std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
bool contains(const std::string& haystack, const std::string& needle);
void removeFile(const std::string& path);

// Returns the value of key in orv.ini's [kronsec] section, or def.
std::string iniValue(const char* key, const char* def = "<missing>");
// Replaces orv.ini by a [kronsec] section holding body, dropping pending
// writes first so the file is what the next read sees.
void writeIni(const std::string& body);

// The operating system's own value of an environment variable, or "" with
// *present false (the C library's copy on Windows does not see changes made
// through SetEnvironmentVariableA, so this asks the system itself).
std::string osEnvironment(const char* name, bool* present);

// Base fixture: orv.ini removed and the kronsec sound entries cleared before
// each test, so every test starts as a first run.
class CleanSettings : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};
