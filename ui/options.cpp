// The main dialog: the settings on show, the query cycle's notifications,
// the result, and the way the dialog ends (0: the user closed it; 1: it ended
// by itself).
#include "app/appstate.h"
#include "app/handles.h"
#include "app/names.h"
#include "base/text.h"
#include "base/units.h"
#include "ui/boxes.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/maincycle.h"
#include "ui/zonesteps.h"

namespace {

// A dialog started minimised stays minimised until the person restores it, so
// that its cycle's end ends it. Some dialog managers show a modal dialog
// normally the first time its queue runs empty, whatever the dialog made of
// itself (wine's does); that one restore is refused. The person's restore
// comes as a system command (the taskbar, the window's menu) and clears the
// mark first. One main dialog per process, so one mark.
bool minimisedStartGuarded = false;

// Minimised starts stay where the template puts them; otherwise the dialog is
// centred across and sits a third of the way down.
void placeDialog(HWND dialog, int32_t showCmd) {
  minimisedStartGuarded = startsMinimised(showCmd);
  if (startsMinimised(showCmd)) {
    ShowWindow(dialog, showCmd);
    UpdateWindow(dialog);
    return;
  }
  RECT r;
  GetWindowRect(dialog, &r);
  int32_t x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
  int32_t y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 3;
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SetFocus(GetDlgItem(dialog, IDC_GETTIME));
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
}

INT_PTR initDialog(HWND dialog, AppState* state) {
  if (!state) {
    EndDialog(dialog, 1);
    return TRUE;
  }
  keepDialogState(dialog, state);
  watchMainDialog(dialog);
  loadNameLists();
  if (state->host) SetDlgItemTextA(dialog, IDC_HOST, state->host);
  setChecked(dialog, IDC_USEDST, state->useDST != 0);
  setChecked(dialog, IDC_ADD30, state->add30 != 0);
  setChecked(dialog, IDC_AUTOCLOSE, state->autoClose != 0);
  setChecked(dialog, IDC_REPORTONLY, state->reportOnly != 0);
  initZoneControls(dialog, state);
  placeDialog(dialog, state->showCmd);
  if (state->host && state->host[0] && state->tz) startCycle(dialog, state);
  else noteNothingAsked(state->host && state->host[0] ? Missing::kNoTz : Missing::kNoHost);
  return FALSE;
}

void getTime(HWND dialog, AppState* state) {
  if (state->sock != INVALID_SOCKET || requestRunning()) return;
  GetDlgItemTextA(dialog, IDC_HOST, scratchText, scratchReadSize);
  state->host = replaceString(state->host, scratchText);
  if (!state->host || !state->host[0]) return;
  getTimeNow(dialog, state);
}

void onButton(HWND dialog, AppState* state, int id) {
  switch (id) {
    case IDC_GETTIME: getTime(dialog, state); break;
    case IDC_CLOSE:
      // A request under way is stopped first, so no server can keep the
      // person from the dialog: Esc or the window's Close, then Close.
      if (requestRunning()) stopRequest(dialog, state);
      else if (state->sock == INVALID_SOCKET) EndDialog(dialog, 0);
      break;
    case IDC_ABOUT:
      DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), dialog, aboutDlgProc, 0);
      break;
    case IDC_USETZ: onUseTzClicked(dialog, state); break;
    case IDC_ADD30: state->add30 = isChecked(dialog, IDC_ADD30); break;
    case IDC_REPORTONLY: state->reportOnly = isChecked(dialog, IDC_REPORTONLY); break;
    case IDC_AUTOCLOSE:
      state->autoClose = isChecked(dialog, IDC_AUTOCLOSE);
      armAutoClose(dialog, state);
      break;
    case IDC_ADVANCED:
      DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ADVANCED), dialog, advancedDlgProc,
                      reinterpret_cast<LPARAM>(state));
      break;
    case IDC_HELPBUTTON: openHelp(dialog, HELP_CONTENTS, 0); break;
    default: break;
  }
}

INT_PTR onCommand(HWND dialog, WPARAM wParam) {
  AppState* state = dialogState(dialog);
  if (!state) return TRUE;
  WORD code = HIWORD(wParam), id = LOWORD(wParam);
  if (code == BN_CLICKED) onButton(dialog, state, id);
  else if (code == CBN_SELCHANGE && id == IDC_ZONELIST) onZonePicked(dialog, state);
  return TRUE;
}

// A minimised dialog shows the program's icon in the middle of its client area.
void paintMinimised(HWND dialog) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  if (!dc) return;
  if (HICON icon = LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_KRONSEC))) {
    RECT client;
    GetClientRect(dialog, &client);
    DrawIcon(dc, (client.right - GetSystemMetrics(SM_CXICON)) >> 1,
             (client.bottom - GetSystemMetrics(SM_CYICON)) >> 1, icon);
    DestroyIcon(icon);
  }
  EndPaint(dialog, &paint);
}

void destroyDialog(HWND dialog) {
  watchMainDialog(nullptr);
  forgetRequest();
  freeNameLists();
  releaseZoneText();
  disarmAutoClose(dialog);
}

void onTimer(HWND dialog, WPARAM id) {
  if (!onCycleTimer(dialog, dialogState(dialog), id)) EndDialog(dialog, 1);
}

// WM_QUERYOPEN: the minimised dialog is about to be restored.
INT_PTR onQueryOpen(HWND dialog) {
  if (!minimisedStartGuarded) return FALSE;  // the default: it opens
  minimisedStartGuarded = false;
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, FALSE);
  return TRUE;
}

// The window's Close while a request runs: the greyed Close button would
// refuse it, and no server may keep the person from the dialog.
INT_PTR onClose(HWND dialog) {
  AppState* state = dialogState(dialog);
  if (!state || !requestRunning()) return FALSE;  // the default: command 2
  stopRequest(dialog, state);
  return TRUE;
}

INT_PTR onSetCursor(HWND dialog) {
  AppState* state = dialogState(dialog);
  if (!state || !busyCursorShown()) return FALSE;
  SetCursor(busyCursorShown());
  return TRUE;
}
}  // namespace

bool startsMinimised(int32_t showCmd) {
  return showCmd == SW_SHOWMINIMIZED || showCmd == SW_MINIMIZE || showCmd == SW_SHOWMINNOACTIVE;
}

int runExitStatus(int32_t showCmd) { return runStatus(lastReport(), startsMinimised(showCmd)); }

INT_PTR CALLBACK optionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return initDialog(dialog, reinterpret_cast<AppState*>(lParam));
    case WM_COMMAND: return onCommand(dialog, wParam);
    // F1 asks for what the Help button shows.
    case WM_HELP: return onCommand(dialog, MAKEWPARAM(IDC_HELPBUTTON, BN_CLICKED));
    case WM_SOCKET_EVENT: return dialogState(dialog) ? onSocketEvent(dialog, dialogState(dialog), wParam, lParam) : TRUE;
    case WM_TIMER: onTimer(dialog, wParam); return TRUE;
    case WM_SETCURSOR: return onSetCursor(dialog);
    case WM_CLOSE: return onClose(dialog);
    case WM_QUERYOPEN: return onQueryOpen(dialog);
    case WM_SYSCOMMAND:
      minimisedStartGuarded = false;  // the person's own restore or minimise
      return FALSE;
    case WM_PAINT:
      if (IsIconic(dialog)) paintMinimised(dialog);
      return FALSE;
    case WM_DESTROY: destroyDialog(dialog); return TRUE;
    default:
      if (isColourMessage(message))
        return reinterpret_cast<INT_PTR>(Ctl3dCtlColorEx(message, wParam, lParam));
      return FALSE;
  }
}
