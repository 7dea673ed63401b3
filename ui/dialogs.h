// The dialog procedures of the main dialog and its secondary dialogs.
#pragma once
#include "platform/win32.h"

// The main dialog (template 101); its parameter is the AppState record.
INT_PTR CALLBACK optionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
