// The query cycle of the main dialog: calibration queries that only measure
// the network lag, then the final query whose answer sets the clock.
#pragma once
#include <cstdint>

#include "platform/win32.h"

struct AppState;

// The main dialog's auto-close timer: it ends the dialog 5 s after a result.
constexpr UINT_PTR autoCloseTimerId = 100;
constexpr UINT autoCloseDelayMs = 5000;

// A query that gets no answer ends after this long, with a report.
constexpr UINT answerTimeoutMs = 30000;
constexpr UINT_PTR answerTimerId = 101;

// Starts one query: connects (blocking) and registers for the connect and
// read notifications. Returns 1 when the query runs, else 0 (no query runs;
// the failure has been reported).
int32_t startQuery(HWND dialog, AppState* state);

// Starts a whole cycle: the calibration queries, then the final one.
void startCycle(HWND dialog, AppState* state);

// The main dialog's WM_SOCKET_EVENT handler; returns TRUE.
INT_PTR onSocketEvent(HWND dialog, AppState* state, WPARAM wParam, LPARAM lParam);

// The main dialog's answer timer fired: the query ends with a report.
void onAnswerTimeout(HWND dialog, AppState* state);

// The common end of every query: closes the socket, re-enables the buttons,
// drops the busy cursor, then ends a minimised dialog or arms auto-close.
void queryEnd(HWND dialog, AppState* state, SOCKET s);
