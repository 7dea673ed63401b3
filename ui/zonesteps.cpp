#include "ui/zonesteps.h"

#include <cstdio>
#include <cstring>

#include "app/appstate.h"
#include "base/memory.h"
#include "base/text.h"
#include "ui/controls.h"
#include "ui/res/resource.h"
#include "zones/environment.h"
#include "zones/zonetable.h"

namespace {
// "TZ=" followed by the TZ text; the environment list refers to it, so it
// lives until the dialog is destroyed.
char* tzEnvText = nullptr;

const char* shownTz(const AppState* state) { return state->tz ? state->tz : "(none)"; }

// Returns a new "TZ=<text>" buffer, or nullptr when it cannot be allocated.
char* makeTzEntry(const char* text) {
  size_t size = std::strlen(text) + 5;
  char* entry = static_cast<char*>(heapAlloc(size));
  if (entry) std::snprintf(entry, size, "TZ=%s", text);
  return entry;
}

void showListOrLabel(HWND dialog, const AppState* state) {
  ShowWindow(GetDlgItem(dialog, IDC_ZONELIST), state->useTZ ? SW_HIDE : SW_SHOW);
  ShowWindow(GetDlgItem(dialog, IDC_TZVAR), state->useTZ ? SW_SHOW : SW_HIDE);
}

void settleTz(AppState* state, const char* env) {
  if (state->useTZ) {
    if (env) state->tz = replaceString(state->tz, env);
    else state->useTZ = 0;
  }
  if (state->useTZ) return;
  if (state->tz) {
    tzEnvText = makeTzEntry(state->tz);
    if (tzEnvText) envPut(tzEnvText);
  } else if (env) {
    state->tz = copyText(env);
  }
}
}  // namespace

void initZoneControls(HWND dialog, AppState* state) {
  for (const ZoneRow& row : ZoneTable)
    SendDlgItemMessageA(dialog, IDC_ZONELIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.place));
  if (state->TZindex != -1 && state->TZindex < zoneCount)
    SendDlgItemMessageA(dialog, IDC_ZONELIST, CB_SETCURSEL, static_cast<WPARAM>(state->TZindex), 0);
  tzEnvText = nullptr;
  const char* env = envGet("TZ");
  EnableWindow(GetDlgItem(dialog, IDC_USETZ), env ? TRUE : FALSE);
  settleTz(state, env);
  showListOrLabel(dialog, state);
  SetDlgItemTextA(dialog, IDC_TZVAR, shownTz(state));
  SetDlgItemTextA(dialog, IDC_TZINUSE, shownTz(state));
  setChecked(dialog, IDC_USETZ, state->useTZ != 0);
}

void onUseTzClicked(HWND dialog, AppState* state) {
  state->useTZ = isChecked(dialog, IDC_USETZ) ? 1 : 0;
  if (state->useTZ && !envGet("TZ")) {
    state->useTZ = 0;
    setChecked(dialog, IDC_USETZ, false);
  }
  showListOrLabel(dialog, state);
  SetDlgItemTextA(dialog, IDC_TZVAR, shownTz(state));
}

void onZonePicked(HWND dialog, AppState* state) {
  LRESULT picked = SendDlgItemMessageA(dialog, IDC_ZONELIST, CB_GETCURSEL, 0, 0);
  if (picked < 0 || picked >= zoneCount) return;
  int32_t row = static_cast<int32_t>(picked);
  char* entry = makeTzEntry(ZoneTable[row].tzText);
  state->TZindex = row;
  if (!entry) return;
  if (envPut(entry) != 0)
    MessageBoxA(dialog, "Error adding TZ string to environment", "putenv Error", MB_OK);
  // The previous text is referred to by nothing now: a successful put replaced
  // its entry, and a put can only fail when the list holds no TZ entry at all.
  heapFree(tzEnvText);
  tzEnvText = entry;
  state->tz = replaceString(state->tz, ZoneTable[row].tzText);
  SetDlgItemTextA(dialog, IDC_TZINUSE, shownTz(state));
}

void releaseZoneText() {
  if (!tzEnvText) return;
  // Nothing reads TZ once the dialog is gone; removing the entry is the sure
  // way to keep the environment from referring to freed memory.
  envPut("TZ=");
  heapFree(tzEnvText);
  tzEnvText = nullptr;
}
