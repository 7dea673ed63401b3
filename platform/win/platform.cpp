// Windows-only shims. On Windows the system calls the real Win32 functions
// through platform/win32.h; what lives here covers what may be absent.
#include "platform/win32.h"
