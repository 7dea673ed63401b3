// The query cycle's engine: calibration queries that only measure the
// network lag, then the final query, or precise mode's probes, for each
// server of the host text side by side. It connects, reads and measures, and
// says what happened; its owner watches the sockets, runs the timers and
// shows the results. It knows no window.
//
// The settings record carries the query's state for the dialog and the log
// to read: the socket of a query that runs (INVALID_SOCKET when none does),
// the lags shown, the calibration queries left.
#pragma once
#include <cstdint>

#include "platform/win32.h"
#include "timeclient/agreement.h"
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

// One server's queries in a cycle.
struct ServerQuery {
  ServerAddress where;
  SOCKET sock;           // INVALID_SOCKET between queries
  uint32_t startTick;    // when the query under way started (its connection)
  int32_t connectLag;    // ms from start to connect
  int32_t readLag;       // ms from start to answer
  int32_t calibrateLeft;
  ProbeRun run;          // precise mode
  bool spacing;          // its next query waits out the spacing asked for
  char partial[4];       // the answer's bytes read so far
  int32_t got;           // how many; the rest may still come
  enum class State { kAsking, kAnswered, kFailed, kNotWaitedFor } state;
  CycleNews result;      // kAnswered: the answer; kFailed: the failure
  int64_t arrivedMs;     // kAnswered: the judged clock when it arrived
};

// The servers of one request (a cycle or Get time) and their queries.
struct QueryCycle {
  int32_t count;
  int32_t names;    // names and addresses the host text held
  int32_t leftOut;  // servers past maxServers, not asked
  ServerQuery servers[maxServers];
  int64_t probeWaitEndedUs;  // the servers' probes' last exact wait ended
  HostTextNotes notes;
};

// An answer that took longer than this leaves an uncertainty of over half
// of it, more than any sensible limit: it is refused, not used.
constexpr int32_t mostLagMs = 10000;

// Prepares a request for the settings' host text: every name resolved once,
// each server's probe run cleared. A whole cycle makes the calibration
// queries the settings ask for, mostCalibrations at most; otherwise each
// server carries on with those the last request left (state->calibrateLeft).
void prepareCycle(QueryCycle* cycle, AppState* state, bool wholeCycle);

// Starts server i's next query: precise mode's probe run when one is due,
// the start tick, the connection. Returns the socket, or INVALID_SOCKET with
// *failure filled (also for a name that did not resolve).
SOCKET openQuery(QueryCycle* cycle, int32_t i, AppState* state, QueryFailure* failure);

// Returns the server whose query runs on s, or -1.
int32_t serverOfSocket(const QueryCycle& cycle, SOCKET s);

// Server i's connection stood: its lag is taken.
void noteConnected(QueryCycle* cycle, int32_t i);

// Server i's socket is readable: reads the answer and says what it meant.
CycleNews readAnswer(QueryCycle* cycle, int32_t i, AppState* state);

// Returns the failure of server i's query whose answer did not come in
// time: a short answer when some of its bytes had come.
QueryFailure answerTimedOut(const QueryCycle& cycle, int32_t i);

// Returns how long server i's next calibration query waits for the spacing
// between query starts the settings ask for (probeSpacing), 0 for none.
uint32_t calibrationWaitMs(const QueryCycle& cycle, int32_t i, const AppState* state);

// Returns whether an answer (seconds since 1900) says its server does not
// know the time, judged by the local clock (ms since 1970, -1 unreadable):
// 0, or within a day of the protocol's start while this clock is not within
// a day of 2036-02-07 06:28:16, where the count starts again from 0.
bool knowsNoTime(uint32_t answer, int64_t localMs);

// Returns how many servers are still asking.
int32_t serversAsking(const QueryCycle& cycle);

// The servers still asking are not waited for: their sockets are closed and
// their runs ended.
void stopWaitingFor(QueryCycle* cycle, AppState* state);

// Closes server i's socket, if open, and forgets it.
void closeQuery(QueryCycle* cycle, int32_t i, AppState* state);

// Server i is done: its answer (with the judged clock now) or its failure.
void settleServer(QueryCycle* cycle, int32_t i, const CycleNews& news);

// Returns whether every server has answered or failed.
bool cycleDone(const QueryCycle& cycle);

// Returns the offsets (server minus local clock) a server's answer allows:
// precise mode's sure interval, or the second it answered widened by its
// lag; not answered when it has not.
ServerInterval intervalOf(const ServerQuery& q);

// Ends every probe run of the cycle.
void endCycleRuns(QueryCycle* cycle);
