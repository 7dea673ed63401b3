// The program's instance and its invisible host window: set once by the
// program at start, read by the dialogs that load resources or own boxes.
#pragma once
#include "platform/win32.h"

extern HINSTANCE appInstance;
extern HWND hostWindow;
