// Small helpers the dialog procedures share.
#pragma once
#include "app/appstate.h"
#include "platform/win32.h"
#include "ui/res/resource.h"

// The AppState record a dialog keeps in its user-data slot, or nullptr.
inline AppState* dialogState(HWND dialog) {
  return reinterpret_cast<AppState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

// Keeps the record in the dialog's user-data slot.
inline void keepDialogState(HWND dialog, AppState* state) {
  SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
}

inline bool isChecked(HWND dialog, int id) {
  return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

inline void setChecked(HWND dialog, int id, bool on) {
  CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

// The seven colour messages the three-dimensional control library answers.
inline bool isColourMessage(UINT message) {
  return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}
