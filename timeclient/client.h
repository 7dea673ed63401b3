// The network end of kronsec: connecting to a Time service. Failures are
// returned with the step they happened at and the Winsock code they left;
// saying them to the user is the caller's.
#pragma once
#include <cstdint>

#include "platform/win32.h"

// Where a query ended without an answer.
enum class QueryStep {
  kResolve,        // the host is neither a dotted address nor a known name
  kService,        // the service has no port
  kSocket,         // no socket could be had
  kConnect,        // the connection was refused or failed
  kNotified,       // the socket's notification carried an error
  kRead,           // reading the answer failed
  kShortRead,      // fewer than the answer's four bytes arrived
  kTimeout,        // no answer came in time
  kContradiction,  // precise mode: the server's answers cannot all be true
};

// Why a query got no answer, as its owner reports it.
struct QueryFailure {
  QueryStep step;
  int32_t code;       // the Winsock code the step left; 0 where it left none
  int32_t bytes;      // kShortRead: how many of the four bytes had arrived
  bool serverClosed;  // kShortRead: the server had closed its end
};

// A connection attempt: the socket, or the failure.
struct Connection {
  SOCKET sock;           // INVALID_SOCKET when the attempt failed
  QueryFailure failure;  // when it failed
};

// Returns a socket connected to host (a dotted IPv4 address or a name) on
// port (0: the named service over TCP), which the caller closes, or the step
// that failed with its Winsock code (read before any socket is closed).
Connection connectToHost(const char* host, int32_t port, const char* service);
