#include "app/handles.h"

HINSTANCE appInstance = nullptr;
HWND hostWindow = nullptr;
