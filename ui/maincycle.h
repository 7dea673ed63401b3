// The main dialog's controller of the query cycle: it starts the engine's
// queries, feeds it the socket and timer events, and turns what the engine
// says into the dialog's texts, boxes, sounds, captions and log lines.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "timeclient/adjust.h"
#include "timeclient/client.h"

struct AppState;

// One server of several, as the run reports it.
struct ServerReport {
  char label[serverLabelSize];
  enum Verdict : int32_t { kAgreed, kDisagreed, kNoAnswer, kUndecided, kNotWaitedFor } verdict;
  int64_t offsetUs;     // what it said: the middle of its interval
  int64_t distanceUs;   // kDisagreed: how far its interval lies from the agreed offset
  QueryFailure failure; // kNoAnswer
};

// Socket notifications of the query, posted to the main dialog.
constexpr UINT WM_SOCKET_EVENT = WM_USER + 2;

// How the latest query ended, for a caller that reports it (on Linux, the
// exit status and the headless messages). Reset when the dialog or the user
// asks for a query (a cycle or Get time) and filled where its fate is decided.
struct QueryOutcome {
  enum Missing : int32_t { kNothingMissing, kNoHost, kNoTz };
  Missing missing;      // why the dialog's automatic start did not happen
  int32_t asked;        // a cycle or Get time asked for a query
  int32_t answered;     // the final 4-byte answer arrived
  int32_t lastRead;     // the read that ended a query without an answer:
                        // its byte count, readFailed, or noRead
  int32_t readError;    // Winsock code of a failed read
  int32_t serverClosed; // the short read found the server's end closed
  int32_t reported;     // a box has said why the query got no answer
  int32_t clockNotSet;  // setting the clock failed, or the answer was outside
                        // the clock's range and left it alone
  int32_t changeHeld;   // over the limit and not fully made (ignore, partial)
  int32_t logFailed;    // the log line could not be written
  // The decision on the final answer (when answered), for a report of what
  // was done.
  ClockAction action;
  int32_t diffSecs;     // the server's value minus the local clock
  int32_t overLimit;    // the difference was over maxAdjust
  int32_t refused;      // outside the range the clock can take
  int32_t setAsked;     // the clock was to be set
  int32_t movedSecs;    // how far setting it was to move it
  uint32_t maxAdjust;
  int32_t adjOpt;
  int64_t movedUs;      // precise mode: how far the clock was to move, else 0
  int32_t localUnknown;   // the local clock could not be read: no difference known
  int32_t slewOn;         // the slew setting was on
  int32_t slewed;         // the change was handed to the kernel to make gradually
  int32_t kernelNotTold;  // the clock changed, but the kernel was not told it is
                          // synchronised
  char host[512];       // the host asked, cut to fit
  // Several servers: what each said, and how they agreed.
  int32_t servers;      // servers asked (0 or 1: one server, as always)
  int32_t leftOut;      // servers past the most that are asked
  int32_t noMajority;   // they answered, and no majority agreed
  int32_t precise;      // offsets are precise mode's (else whole seconds)
  ServerReport server[maxServers];
  HostTextNotes notes;  // servers written twice; a host text refused
  int32_t stopped;      // the person stopped the request (Esc, Close)
};
constexpr int32_t readFailed = -1;
constexpr int32_t noRead = -2;
extern QueryOutcome queryOutcome;

// Clears queryOutcome for a new request to the given host.
void beginQueryOutcome(const char* host);

// Each server's answer timer and probe timer: server i's are
// answerTimerId + 2 i and probeTimerId + 2 i.
constexpr UINT_PTR answerTimerId = 101;
constexpr UINT_PTR probeTimerId = 102;

// A query that gets no answer ends after this long, with a report.
constexpr UINT answerTimeoutMs = 30000;

// Starts a whole cycle for every server of the host text: the calibration
// queries, then the final one.
void startCycle(HWND dialog, AppState* state);

// "&Get time": asks every server again, carrying on with any calibration
// queries the last cycle left.
void getTimeNow(HWND dialog, AppState* state);

// The main dialog's WM_SOCKET_EVENT handler; returns TRUE. Once a server's
// final answer has been read its query listens no more: from then on only
// the end of the work on the answers (their boxes answered) ends it.
INT_PTR onSocketEvent(HWND dialog, AppState* state, WPARAM wParam, LPARAM lParam);

// The main dialog's WM_TIMER for a query's answer or probe timer: a query
// whose answer is late ends with a report, precise mode's next probe starts.
// Returns false for any other timer.
bool onCycleTimer(HWND dialog, AppState* state, UINT_PTR id);

// Returns whether a request is under way: from its first query's start to
// its end, the waits between its queries included.
bool requestRunning();

// The dialog is going: a request it ran is over with it.
void forgetRequest();

// Command 2 (Esc, the window's Close) while a query runs: every server's
// query ends, nothing is decided, and the dialog stays open.
void stopRequest(HWND dialog, AppState* state);

// What the Date line says after a cycle that ended without a result, and
// after one the person stopped.
constexpr const char* noAnswerText = "no answer";
constexpr const char* stoppedText = "stopped";
