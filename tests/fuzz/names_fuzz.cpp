// The day and month name lists loaded from any orv.ini: the input is the
// file. Each list must hold the ':'-separated names of the text read, in
// order, with "error" past its end.
#include <cstring>
#include <string>

#include "app/appstate.h"
#include "app/names.h"
#include "base/text.h"
#include "tests/fuzz/support.h"

namespace {

// A key's text as the loader reads it; absent, the loader splits a default
// of its own, so only its form can be checked.
struct KeyText {
  bool present;
  std::string text;
};

KeyText readKey(const char* key) {
  char first[scratchSize], second[scratchSize];
  GetPrivateProfileStringA(settingsSection, key, "a", first, scratchReadSize, settingsFile);
  GetPrivateProfileStringA(settingsSection, key, "b", second, scratchReadSize, settingsFile);
  return {std::strcmp(first, second) == 0, first};
}

// The expected entry i of text split at ':' (the loader's rule, spelled out).
std::string field(const std::string& text, int i) {
  size_t at = 0;
  for (; i > 0 && at < text.size(); --i) {
    size_t colon = text.find(':', at);
    at = colon == std::string::npos ? text.size() : colon + 1;
  }
  if (at >= text.size()) return "error";
  return text.substr(at, text.find(':', at) - at);
}

void checkList(const KeyText& read, char* const* names, int count) {
  for (int i = 0; i < count; ++i) {
    FUZZ_CHECK(names[i] != nullptr);
    FUZZ_CHECK(std::strchr(names[i], ':') == nullptr);
    if (read.present) FUZZ_CHECK(names[i] == field(read.text, i));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  usePrivateConfigFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeSettingsFile(data, size);
  // Read before loading: the loader writes each key back.
  KeyText months = readKey("months"), days = readKey("days");
  loadNameLists();
  checkList(months, monthNames, 12);
  checkList(days, dayNames, 7);
  freeNameLists();
  for (char* name : monthNames) FUZZ_CHECK(name == nullptr);
  for (char* name : dayNames) FUZZ_CHECK(name == nullptr);
  // The profile API's flush: no write of this run is left for the next.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, settingsFile);
  return 0;
}
