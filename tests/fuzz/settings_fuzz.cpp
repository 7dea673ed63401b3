// The settings store's round trip on any orv.ini: the input is the file.
// What a load gives, a save and a second load must give again: while the
// writes wait in the store, and from the file once they are flushed.
#include <cstring>

#include "app/appstate.h"
#include "tests/fuzz/support.h"

namespace {

// The profile reads drop blanks around a value and one pair of enclosing
// quotes, so a text loaded as `"x"` or ` x` (from `'"x"'` or `" x"`) is saved
// as such and loads as `x`, as on Windows; only other texts must survive.
void checkText(const char* before, const char* after) {
  if (before && !isValueKeptAsIs(before)) return;
  FUZZ_CHECK((before == nullptr) == (after == nullptr));
  if (before) FUZZ_CHECK(std::strcmp(before, after) == 0);
}

bool isOn(int32_t flag) { return flag != 0; }

void checkCustomZone(const CustomZone* a, const CustomZone* b) {
  FUZZ_CHECK((a == nullptr) == (b == nullptr));
  if (!a) return;
  FUZZ_CHECK(a->gmtOffset == b->gmtOffset);
  FUZZ_CHECK(a->sMonth == b->sMonth && a->swDay == b->swDay && a->sRule == b->sRule &&
             a->sAdjust == b->sAdjust);
  FUZZ_CHECK(a->eMonth == b->eMonth && a->ewDay == b->ewDay && a->eRule == b->eRule &&
             a->eAdjust == b->eAdjust);
  checkText(a->Label, b->Label);
  checkText(a->Prefix, b->Prefix);
  checkText(a->Suffix, b->Suffix);
}

// Flags are saved as 0 or 1, so they need only agree on being on.
void checkSame(const AppState& a, const AppState& b) {
  FUZZ_CHECK(isOn(a.useDST) == isOn(b.useDST) && isOn(a.useTZ) == isOn(b.useTZ));
  FUZZ_CHECK(isOn(a.add30) == isOn(b.add30) && isOn(a.autoClose) == isOn(b.autoClose));
  FUZZ_CHECK(isOn(a.reportOnly) == isOn(b.reportOnly));
  FUZZ_CHECK(a.attempts == b.attempts && a.TZindex == b.TZindex);
  FUZZ_CHECK(a.maxAdjust == b.maxAdjust && a.adjOpt == b.adjOpt && a.logOpts == b.logOpts);
  FUZZ_CHECK(a.port == b.port && a.sock == b.sock);
  checkText(a.host, b.host);
  checkText(a.tz, b.tz);
  checkText(a.logPath, b.logPath);
  checkCustomZone(a.customZone, b.customZone);
}

void checkReload(const AppState& before) {
  AppState* after = loadSettings();
  FUZZ_CHECK(after != nullptr);
  checkSame(before, *after);
  freeSettings(after);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  usePrivateConfigFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeSettingsFile(data, size);
  // saveSettings frees its record, so a second load stands in for the first.
  AppState* saved = loadSettings();
  AppState* loaded = loadSettings();
  FUZZ_CHECK(saved && loaded);
  checkSame(*saved, *loaded);
  saveSettings(saved);
  checkReload(*loaded);
  // The profile API's flush, as the program's exit makes it.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, settingsFile);
  checkReload(*loaded);
  freeSettings(loaded);
  return 0;
}
