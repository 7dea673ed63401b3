// The program's instance: set once by the program at start, read by the
// dialogs that load resources.
#pragma once
#include "platform/win32.h"

extern HINSTANCE appInstance;
