// The Advanced Options dialog, the About box and the log-file chooser.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/appstate.h"
#include "app/handles.h"
#include "base/memory.h"
#include "base/text.h"
#include "ui/controls.h"
#include "ui/dialogs.h"

namespace {
constexpr DWORD logFileBufferSize = 256;
constexpr DWORD folderMustExist = 0x800;  // OFN_PATHMUSTEXIST
const char logFileFilter[] = "Logs (*.log)\0*.log\0All files (*.*)\0*.*\0";
// Windows file names ignore case, so the chosen path is shown in lower case
// there; on Linux that would name a different file, so the path stays as is.
#ifdef _WIN32
constexpr bool fileNamesIgnoreCase = true;
#else
constexpr bool fileNamesIgnoreCase = false;
#endif

// The values the dialog edits as it found them: Cancel puts them back, so a
// number stored as it was typed, or an OK refused for its log path, leaves
// nothing behind. The dialog is modal, so there is one.
struct Edited {
  uint32_t maxAdjust, attempts;
  int32_t adjOpt, logOpts;
};
Edited onOpen;

INT_PTR initAdvanced(HWND dialog, AppState* state) {
  if (!state) {
    EndDialog(dialog, 1);
    return TRUE;
  }
  keepDialogState(dialog, state);
  onOpen = Edited{state->maxAdjust, state->attempts, state->adjOpt, state->logOpts};
  SetDlgItemInt(dialog, IDC_MAXADJUST, state->maxAdjust, FALSE);
  if (state->adjOpt < 0 || state->adjOpt > 2) state->adjOpt = 0;
  CheckRadioButton(dialog, IDC_ADJPROMPT, IDC_ADJACCEPT, IDC_ADJPROMPT + state->adjOpt);
  setChecked(dialog, IDC_USELOG, state->logOpts != 0);
  setChecked(dialog, IDC_VERBOSE, state->logOpts == 2);
  if (state->logPath) SetDlgItemTextA(dialog, IDC_LOGPATH, state->logPath);
  SetDlgItemInt(dialog, IDC_ATTEMPTS, state->attempts, FALSE);
  return TRUE;
}

// The text of 201 or 209 as an unsigned 32-bit number: digits only, and at
// most 4294967295. The check is our own because the platforms' integer reads
// differ: some take a sign (wrapping "-120" to a huge limit) or stop at the
// first letter ("7x" reads as 7).
bool readUnsigned(const char* text, uint32_t* value) {
  if (!*text) return false;
  uint64_t number = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    number = number * 10 + static_cast<uint64_t>(*p - '0');
    if (number > UINT32_MAX) return false;
  }
  *value = static_cast<uint32_t>(number);
  return true;
}

// What each number field showed after its last accepted change: a refused
// change puts it back. The Advanced dialog is modal, so there is one of each.
char acceptedMaxAdjust[scratchSize];
char acceptedAttempts[scratchSize];

char* acceptedText(int id) { return id == IDC_MAXADJUST ? acceptedMaxAdjust : acceptedAttempts; }

struct Selection {
  size_t from, to;
};

// Where the selection stood in `before` when one change made it `after` with
// the caret at `caret`: the change replaced before[from, to) with the text
// that ends at the caret, and left the text after the caret alone. A text
// that was not changed that way (put in whole) gives the caret at the end.
Selection selectionBefore(const char* before, const char* after, size_t caret) {
  size_t b = std::strlen(before), a = std::strlen(after);
  Selection atEnd{b, b};
  if (caret > a || a - caret > b) return atEnd;
  size_t to = b - (a - caret);
  if (std::strcmp(after + caret, before + to) != 0) return atEnd;
  size_t from = 0;
  while (from < to && from < caret && before[from] == after[from]) ++from;
  return {from, to};
}

// A refused change beeps and leaves the field as it was before it: the text
// and the selection (or caret), so the next key lands where it would have.
void refuseChange(HWND dialog, int id, const char* refused, uint32_t target) {
  MessageBeep(static_cast<UINT>(-1));
  DWORD start = 0, end = 0;
  SendDlgItemMessageA(dialog, id, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                      reinterpret_cast<LPARAM>(&end));
  char before[scratchSize];
  std::snprintf(before, sizeof before, "%s", acceptedText(id));
  uint32_t value = 0;
  if (!readUnsigned(before, &value) || value != target)
    std::snprintf(before, sizeof before, "%u", static_cast<unsigned>(target));
  Selection was = selectionBefore(before, refused, end);
  SetDlgItemTextA(dialog, id, before);
  SendDlgItemMessageA(dialog, id, EM_SETSEL, static_cast<WPARAM>(was.from),
                      static_cast<LPARAM>(was.to));
}

// An unsigned number typed into 201 or 209 is stored at once; anything else
// beeps and brings back the field as it was.
void validateNumber(HWND dialog, AppState* state, int id) {
  uint32_t& target = id == IDC_MAXADJUST ? state->maxAdjust : state->attempts;
  char text[scratchSize];
  UINT length = GetDlgItemTextA(dialog, id, text, static_cast<int>(sizeof text));
  // A text that fills the buffer may have been cut: not a number we can trust.
  if (length < sizeof text - 1 && readUnsigned(text, &target)) {
    std::memcpy(acceptedText(id), text, length + 1);
    return;
  }
  refuseChange(dialog, id, text, target);
}

void trimTrailingBlanks(char* text) {
  size_t length = std::strlen(text);
  while (length > 0 && isSpaceByte(text[length - 1])) text[--length] = '\0';
}

// An OK refused for its empty log path stores nothing: Cancel after it must
// not keep a log switched on that has no file, which every later result
// would report as a "Log Error".
void onOk(HWND dialog, AppState* state) {
  int32_t adjOpt = isChecked(dialog, IDC_ADJACCEPT) ? 2 : isChecked(dialog, IDC_ADJIGNORE) ? 1 : 0;
  int32_t logOpts = isChecked(dialog, IDC_USELOG) ? 1 : 0;
  if (isChecked(dialog, IDC_VERBOSE)) logOpts = 2;
  if (logOpts != 0) {
    GetDlgItemTextA(dialog, IDC_LOGPATH, scratchText, scratchReadSize);
    const char* path = scratchText;
    while (isSpaceByte(*path)) ++path;
    if (!*path) {
      MessageBeep(static_cast<UINT>(-1));
      SetFocus(GetDlgItem(dialog, IDC_LOGPATH));
      return;
    }
    state->logPath = replaceString(state->logPath, path);
    if (state->logPath) trimTrailingBlanks(state->logPath);
  }
  state->adjOpt = adjOpt;
  state->logOpts = logOpts;
  EndDialog(dialog, 0);
}

void onCancel(HWND dialog, AppState* state) {
  state->maxAdjust = onOpen.maxAdjust;
  state->attempts = onOpen.attempts;
  state->adjOpt = onOpen.adjOpt;
  state->logOpts = onOpen.logOpts;
  EndDialog(dialog, 0);
}

void lowerCase(char* text) {
  for (; *text; ++text)
    if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
}

// Starts the chooser in the folder and with the file name that 208 holds.
void chooseLogFile(HWND dialog) {
  char* file = static_cast<char*>(heapAlloc(logFileBufferSize));
  if (!file) return;
  scratchText[0] = '\0';
  GetDlgItemTextA(dialog, IDC_LOGPATH, file, static_cast<int>(logFileBufferSize));
  if (char* slash = std::strrchr(file, '\\')) {
    *slash = '\0';
    std::strcpy(scratchText, file);
    std::memmove(file, slash + 1, std::strlen(slash + 1) + 1);
  }
  if (browseFile(dialog, "Select Log File", logFileFilter, file, logFileBufferSize, scratchText,
                 folderMustExist) &&
      file[0]) {
    if (fileNamesIgnoreCase) lowerCase(file);
    SetDlgItemTextA(dialog, IDC_LOGPATH, file);
  }
  heapFree(file);
}

INT_PTR onAdvancedCommand(HWND dialog, WPARAM wParam) {
  AppState* state = dialogState(dialog);
  WORD code = HIWORD(wParam), id = LOWORD(wParam);
  if (!state) return TRUE;
  if (code == EN_UPDATE && (id == IDC_MAXADJUST || id == IDC_ATTEMPTS)) {
    validateNumber(dialog, state, id);
    return TRUE;
  }
  if (code != BN_CLICKED) return TRUE;
  switch (id) {
    case IDC_OK: onOk(dialog, state); break;
    case IDC_CANCEL: onCancel(dialog, state); break;
    case IDC_LOGBROWSE: chooseLogFile(dialog); break;
    case IDC_HELPBUTTON: openHelp(dialog, HELP_CONTEXT, IDH_ADVANCED); break;
    default: break;
  }
  return TRUE;
}
}  // namespace

INT_PTR CALLBACK advancedDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return initAdvanced(dialog, reinterpret_cast<AppState*>(lParam));
  if (message == WM_COMMAND) return onAdvancedCommand(dialog, wParam);
  // F1 asks for what the Help button shows.
  if (message == WM_HELP) return onAdvancedCommand(dialog, MAKEWPARAM(IDC_HELPBUTTON, BN_CLICKED));
  if (isColourMessage(message))
    return reinterpret_cast<INT_PTR>(Ctl3dCtlColorEx(message, wParam, lParam));
  return FALSE;
}

INT_PTR CALLBACK aboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    if (HIWORD(wParam) == BN_CLICKED) EndDialog(dialog, 0);
    return TRUE;
  }
  if (isColourMessage(message))
    return reinterpret_cast<INT_PTR>(Ctl3dCtlColorEx(message, wParam, lParam));
  return FALSE;
}

char* browseFile(HWND owner, const char* title, const char* filter, char* file, DWORD fileSize,
                 const char* initialDir, DWORD flags) {
  OPENFILENAMEA ofn;
  std::memset(&ofn, 0, sizeof ofn);
  // The size Windows 95 and NT 4 accept (later systems accept it too); the
  // headers' full size names fields those systems refuse to know.
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = fileSize;
  ofn.lpstrInitialDir = initialDir;
  ofn.lpstrTitle = title;
  ofn.Flags = flags;
  return GetOpenFileNameA(&ofn) ? file : nullptr;
}
