// Test seam for the Winsock start-up check.
#pragma once
#include "platform/win32.h"

// Makes WSAStartup fail with error (when not 0) or report version; the
// default is success with version 1.1. resetWindowing restores it.
void setWinsockStartup(int error, WORD version);
