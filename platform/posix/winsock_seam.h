// Test seam for the Winsock start-up check.
#pragma once
#include "platform/win32.h"

// Makes WSAStartup fail with error (when not 0) or report version; the
// default is success with version 1.1. resetWindowing restores it.
void setWinsockStartup(int error, WORD version);

// Test network: connections to port 37 go to `timePort` instead (0: no
// change), and name lookups fail as unknown hosts except for "localhost", so
// that no test ever reaches beyond this machine. resetWindowing ends it.
void setTestNetwork(uint16_t timePort, bool blockNameLookups);

// The closesocket calls made since resetWindowing, failed ones included, so
// that a test sees a socket closed twice.
uint32_t socketCloseCalls();
