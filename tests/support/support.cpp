#include "tests/support/support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/memory.h"
#include "platform/win32.h"

#ifndef _WIN32
#include <unistd.h>

#include "platform/posix/ini/store.h"
#endif

namespace {
const char* const soundKeys[] = {"kronsecConnect", "kronsecReset",
                                 "kronsecMaxAdj"};

#ifndef _WIN32
// One private configuration folder for the whole test process, so no test
// ever reads or writes the real ~/.config/kronsec.
const std::string& configHome() {
  static std::string home = [] {
    char pattern[] = "/tmp/kronsec-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) std::abort();
    setenv("XDG_CONFIG_HOME", dir, 1);
    return std::string(dir);
  }();
  return home;
}
#endif
}  // namespace

#ifdef _WIN32
const char* const systemProfileName = "win.ini";

std::string profilePath(const char* name) {
  char dir[MAX_PATH];
  GetWindowsDirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\" + name;
}
#else
const char* const systemProfileName = "win.ini";

std::string profilePath(const char* name) {
  return configHome() + "/kronsec/" + name;
}
#endif

std::string readFileBytes(const std::string& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
#ifndef _WIN32
  std::error_code error;
  std::filesystem::create_directories(path.substr(0, path.rfind('/')), error);
  ASSERT_FALSE(error) << path << ": " << error.message();
#endif
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
#ifndef _WIN32
  // The store knows a changed file by its stamp, and two writes in one clock
  // tick may share one: a test that writes a file behind its back says so.
  ini::dropProfileCache();
#endif
}

bool fileExists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

bool contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

void removeFile(const std::string& path) { std::remove(path.c_str()); }

std::string osEnvironment(const char* name, bool* present) {
#ifdef _WIN32
  char value[1024];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  *present = n > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  return std::string(value, n < sizeof value ? n : 0);
#else
  const char* value = std::getenv(name);
  *present = value != nullptr;
  return value ? value : "";
#endif
}

void CleanSettings::SetUp() {
  // All three names null: the store writes what is pending and may forget
  // its cached copies.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "orv.ini");
  removeFile(profilePath("orv.ini"));
  for (const char* key : soundKeys) WriteProfileStringA("sounds", key, nullptr);
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "orv.ini");
  heapFailAfter(-1);
}

void CleanSettings::TearDown() { heapFailAfter(-1); }

std::string iniValue(const char* key, const char* def) {
  char out[512];
  GetPrivateProfileStringA("kronsec", key, def, out, sizeof out, "orv.ini");
  return out;
}

void writeIni(const std::string& body) {
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "orv.ini");
  writeFileBytes(profilePath("orv.ini"), "[kronsec]\r\n" + body);
}
