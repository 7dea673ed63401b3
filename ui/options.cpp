// The main dialog.
#include "app/appstate.h"
#include "app/shell.h"
#include "ui/dialogs.h"

namespace {
AppState* stateOf(HWND dialog) {
  return reinterpret_cast<AppState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

bool startsMinimised(int32_t showCmd) {
  return showCmd == SW_SHOWMINIMIZED || showCmd == SW_MINIMIZE || showCmd == SW_SHOWMINNOACTIVE;
}

// Minimised starts stay where the template puts them; otherwise the dialog is
// centred across and sits a third of the way down.
void placeDialog(HWND dialog, int32_t showCmd) {
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
  SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  if (state->host) SetDlgItemTextA(dialog, IDC_HOST, state->host);
  placeDialog(dialog, state->showCmd);
  return FALSE;
}
}  // namespace

INT_PTR CALLBACK optionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return initDialog(dialog, reinterpret_cast<AppState*>(lParam));
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_CLOSE && HIWORD(wParam) == BN_CLICKED &&
          stateOf(dialog)->sock == INVALID_SOCKET)
        EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}
