// The main dialog's controller of the query cycle: it starts the engine's
// queries, feeds it the socket and timer events, and turns what the engine
// says into the dialog's texts, boxes, sounds, captions and log lines.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "timeclient/client.h"
#include "timeclient/runreport.h"

struct AppState;

// The dialog's own handles while a query runs and after: the busy cursor
// (nullptr when none is shown) and the auto-close timer (0 when none).
HCURSOR busyCursorShown();

// Arms the dialog's 5-second auto-close timer when state asks for it,
// after killing one that runs; disarm only kills it.
void armAutoClose(HWND dialog, const AppState* state);
void disarmAutoClose(HWND dialog);

// Socket notifications of the query, posted to the main dialog.
constexpr UINT WM_SOCKET_EVENT = WM_USER + 2;

// Tells sink the record of each request as the request ends, once its
// result is shown and logged and before anything else (a settings save)
// happens; nullptr tells no one.
using ReportSink = void (*)(const RunReport& report);
void setReportSink(ReportSink sink);

// Returns the record of the dialog's last request: one that asked nothing
// says why (missing) when the dialog did not start one.
RunReport lastReport();

// The dialog started no request: there was no host or no TZ text.
void noteNothingAsked(Missing why);

// Forgets the last record, as a new process starts without one.
void clearReport();

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
