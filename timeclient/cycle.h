// The query cycle's engine: calibration queries that only measure the
// network lag, then the final query, or precise mode's probes. It connects,
// reads and measures, and says what happened; its owner watches the socket,
// runs the timers and shows the results. It knows no window.
//
// The settings record carries the query's state (its socket, its start tick,
// the lags, the calibration queries left) for the dialog and the log to read.
#pragma once
#include <cstdint>

#include "platform/win32.h"
#include "timeclient/client.h"
#include "timeclient/precise.h"

struct AppState;

// What the engine says after a socket event.
struct CycleNews {
  enum class Kind {
    kStale,       // nothing to read yet: a notification left from before
    kCalibrated,  // a calibration answer arrived; its socket is closed and
                  // the next query is due
    kProbeWait,   // a probe answered; its socket is closed and the next
                  // probe starts after waitMs
    kAnswer,      // the final answer arrived; the socket is still open
    kFailed,      // the query ended without an answer; the socket is open
  };
  Kind kind;
  int32_t lagMs;          // kCalibrated: that query's lag
  uint32_t waitMs;        // kProbeWait
  uint32_t answer;        // kAnswer: the server's seconds since 1900, as sent
  bool precise;           // kAnswer: offset holds precise mode's result
  PreciseOffset offset;   // kAnswer with precise
  QueryFailure failure;   // kFailed
};

// Arms a whole cycle: the calibration queries the settings ask for, then
// the final one.
void beginCycle(AppState* state);

// Starts one query for the settings' host and port: precise mode's probe run
// when one is due, the start tick, the connection. Returns the socket (also
// in state->sock), or INVALID_SOCKET with *failure filled.
SOCKET openQuery(AppState* state, QueryFailure* failure);

// The query's connection stood: its lag is taken.
void noteConnected(AppState* state);

// The query's socket is readable: reads the answer and says what it meant.
CycleNews readAnswer(AppState* state);

// Returns the failure of a query whose answer did not come in time.
QueryFailure answerTimedOut();

// Closes the query's socket, if any, and forgets it.
void closeQuery(AppState* state);

// Ends precise mode's probe run, if one is under way.
void endCycleRun();
