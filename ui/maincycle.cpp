#include "ui/maincycle.h"

#include <cstdio>
#include <cstring>

#include "app/appstate.h"
#include "app/handles.h"
#include "base/text.h"
#include "base/units.h"
#include "timeclient/cycle.h"
#include "ui/applyanswer.h"
#include "ui/controls.h"
#include "ui/winsockbox.h"

namespace {
// The socket of a final answer being worked out. Its boxes run nested message
// loops, and Windows may still deliver notifications posted before the query
// stopped listening: none of them may end the query under a box.
SOCKET answeredSocket = INVALID_SOCKET;

void enableButtons(HWND dialog, BOOL enable) {
  EnableWindow(GetDlgItem(dialog, IDC_GETTIME), enable);
  EnableWindow(GetDlgItem(dialog, IDC_CLOSE), enable);
}

void dropBusyCursor(AppState* state) {
  if (state->busyCursor) DestroyCursor(state->busyCursor);
  state->busyCursor = nullptr;
}

// Disabling the focused button left no control with the keyboard focus, and
// an error box gives it to its owner, the host window, as it closes. Give it
// back so Enter and Escape work again, unless a dialog over this one (which
// disables it) is in use. Every failure path calls it after its box.
void giveFocusBack(HWND dialog) {
  HWND focus = GetFocus();
  if ((!focus || focus == hostWindow) && IsWindowEnabled(dialog))
    SetFocus(GetDlgItem(dialog, IDC_GETTIME));
}

// The buttons and the arrow cursor back, as before the query.
void releaseButtons(HWND dialog, AppState* state) {
  enableButtons(dialog, TRUE);
  dropBusyCursor(state);
}

// The query's socket and answer timer are done with.
void closeQuerySocket(HWND dialog, AppState* state) {
  KillTimer(dialog, answerTimerId);
  closeQuery(state);
}

// How both progress texts of a cycle on the Date line begin.
constexpr char progressPrefix[] = "Calibrating ";

// A cycle that ends without a result leaves no progress text on the Date
// line; a result shown before stays.
void showNoAnswer(HWND dialog) {
  char shown[sizeof progressPrefix];
  GetDlgItemTextA(dialog, IDC_DATE, shown, static_cast<int>(sizeof shown));
  if (std::strcmp(shown, progressPrefix) == 0) SetDlgItemTextA(dialog, IDC_DATE, noAnswerText);
}

// After the query's socket is closed (and any box about it answered): the
// buttons back, then a minimised dialog ends, or "&Get time" has the focus
// and auto-close is armed.
void settleAfterQuery(HWND dialog, AppState* state) {
  releaseButtons(dialog, state);
  if (IsIconic(dialog)) {
    EndDialog(dialog, 1);
    return;
  }
  giveFocusBack(dialog);
  if (state->autoClose)
    state->closeTimer = SetTimer(dialog, closeTimerId, closeDelayMs, nullptr);
}

const char* hostOf(const AppState* state) { return state->host ? state->host : ""; }

void reportShortAnswer(const AppState* state, int32_t bytes, bool serverClosed) {
  char why[shortAnswerTextSize];
  shortAnswerText(why, bytes, serverClosed);
  winsockMessageBox("\r\n%s\r\n(%s)\r\n",
                    formatWithHost("kronsec: no answer from host ", hostOf(state), ""), why);
}

void reportContradiction(HWND dialog, const AppState* state) {
  MessageBoxA(dialog,
              formatWithHost("The answers from ", hostOf(state),
                             " contradict each other: its clock or this one stepped while "
                             "kronsec measured. The clock was not changed."),
              "kronsec Error", MB_OK | MB_ICONEXCLAMATION);
}

// The box that says why a query got no answer, worded by the step it failed at.
void reportFailure(HWND dialog, const AppState* state, const QueryFailure& f) {
  const char* host = hostOf(state);
  switch (f.step) {
    case QueryStep::kResolve:
      winsockErrorBox(formatWithHost("kronsec: ", host, ": unknown host"), f.code);
      break;
    case QueryStep::kService: winsockErrorBox("kronsec: getservbyname failed", f.code); break;
    case QueryStep::kSocket: winsockErrorBox("kronsec: could not get socket", f.code); break;
    case QueryStep::kConnect:
      winsockErrorBox(formatWithHost("kronsec: could not connect to host ", host, "\r\n"), f.code);
      break;
    case QueryStep::kNotified:
      // Like every report, the thread's last Winsock error, which the
      // socket's close left, not the notification's own code.
      winsockErrorBox("WSAAsyncSelect error", WSAGetLastError());
      break;
    case QueryStep::kRead:
    case QueryStep::kTimeout:
      winsockErrorBox(formatWithHost("kronsec: no answer from host ", host, "\r\n"), f.code);
      break;
    case QueryStep::kShortRead: reportShortAnswer(state, f.bytes, f.serverClosed); break;
    case QueryStep::kContradiction: reportContradiction(dialog, state); break;
  }
}

// What a report of the run needs to know of a read that brought no answer.
void noteFailedRead(const QueryFailure& f) {
  if (f.step == QueryStep::kRead) {
    queryOutcome.lastRead = readFailed;
    queryOutcome.readError = f.code;
  } else if (f.step == QueryStep::kShortRead) {
    queryOutcome.lastRead = f.bytes;
    queryOutcome.serverClosed = f.serverClosed;
  }
}

// The one order of every query that ends without an answer: the socket
// closed, the Date line cleared of progress, the box shown, and only then
// the buttons and the focus back (the box's owner keeps the activation
// while it is open).
void endWithoutAnswer(HWND dialog, AppState* state, const QueryFailure& f) {
  noteFailedRead(f);
  closeQuerySocket(dialog, state);
  showNoAnswer(dialog);
  queryOutcome.reported = 1;
  reportFailure(dialog, state, f);
  settleAfterQuery(dialog, state);
}

// The common end of every answered query: closes the socket, re-enables the
// buttons, drops the busy cursor, then ends a minimised dialog or gives the
// focus back to "&Get time" and arms auto-close.
void queryEnd(HWND dialog, AppState* state) {
  endCycleRun();
  closeQuerySocket(dialog, state);
  settleAfterQuery(dialog, state);
}

// Once the final answer is in hand the query stops listening, before any box
// can open: otherwise the server's close or the answer timer would end the
// query under the box, and the query would end again when the box is answered.
void stopListening(HWND dialog, SOCKET s) {
  WSAAsyncSelect(s, dialog, 0, 0);
  KillTimer(dialog, answerTimerId);
  answeredSocket = s;
}

// The query's last step once its answer is in: decide and act, then end.
void finishWith(HWND dialog, AppState* state, const CycleNews& news) {
  stopListening(dialog, state->sock);
  // The one place the check box reaches the settings: a final answer.
  state->useDST = isChecked(dialog, IDC_USEDST) ? 1 : 0;
  applyAnswer(dialog, state, news.answer, news.precise ? &news.offset : nullptr);
  queryEnd(dialog, state);
}

void showProbeProgress(HWND dialog) {
  int64_t width = intervalWidthUs();
  showText(dialog, IDC_DATE, "Calibrating probe %d of %d (%s%ld.%ld ms)",
           static_cast<int>(probesMade() + 1), static_cast<int>(probesPlanned()), plusMinusSign,
           static_cast<long>(width / (2 * usPerMs)), static_cast<long>(width / 200 % 10));
}

// Returns false after telling the user when the socket's notifications
// cannot be asked for.
bool watchSocket(HWND dialog, SOCKET s) {
  if (WSAAsyncSelect(s, dialog, WM_SOCKET_EVENT, FD_READ | FD_CONNECT) == 0) return true;
  winsockErrorBox("WSAAsyncSelect Error!", WSAGetLastError());
  return false;
}

void onRead(HWND dialog, AppState* state) {
  CycleNews news = readAnswer(state);
  switch (news.kind) {
    case CycleNews::Kind::kStale: return;
    case CycleNews::Kind::kFailed: return endWithoutAnswer(dialog, state, news.failure);
    case CycleNews::Kind::kAnswer: return finishWith(dialog, state, news);
    case CycleNews::Kind::kCalibrated:
      showText(dialog, IDC_DATE, "Calibrating Lag (%ld ms)", static_cast<long>(news.lagMs));
      startQuery(dialog, state);
      return;
    case CycleNews::Kind::kProbeWait:
      KillTimer(dialog, answerTimerId);
      showProbeProgress(dialog);
      SetTimer(dialog, probeTimerId, news.waitMs, nullptr);
      return;
  }
}
}  // namespace

QueryOutcome queryOutcome;

void beginQueryOutcome(const char* host) {
  std::memset(&queryOutcome, 0, sizeof queryOutcome);
  queryOutcome.asked = 1;
  queryOutcome.lastRead = noRead;
  std::snprintf(queryOutcome.host, sizeof queryOutcome.host, "%s", host ? host : "");
}

int32_t startQuery(HWND dialog, AppState* state) {
  answeredSocket = INVALID_SOCKET;  // the new socket may reuse its number
  enableButtons(dialog, FALSE);
  QueryFailure failure{};
  SOCKET s = openQuery(state, &failure);
  if (s == INVALID_SOCKET) {
    reportFailure(dialog, state, failure);
  } else if (!watchSocket(dialog, s)) {
    closeQuery(state);
  }
  if (state->sock == INVALID_SOCKET) {
    KillTimer(dialog, answerTimerId);
    showNoAnswer(dialog);
    releaseButtons(dialog, state);
    giveFocusBack(dialog);
    return 0;
  }
  SetTimer(dialog, answerTimerId, answerTimeoutMs, nullptr);
  state->busyCursor = LoadCursorA(appInstance, MAKEINTRESOURCEA(IDCUR_BUSY));
  SetCursor(state->busyCursor);
  return 1;
}

void startCycle(HWND dialog, AppState* state) {
  beginQueryOutcome(state->host);
  beginCycle(state);
  SetDlgItemTextA(dialog, IDC_DATE, "Calibrating Net Lag ...");
  startQuery(dialog, state);
}

INT_PTR onSocketEvent(HWND dialog, AppState* state, WPARAM wParam, LPARAM lParam) {
  SOCKET s = static_cast<SOCKET>(wParam);
  WORD event = WSAGETSELECTEVENT(lParam);
  // Left over from an ended query, or from one whose answer is being worked out.
  if (s != state->sock || s == answeredSocket) return TRUE;
  if (WSAGETSELECTERROR(lParam) != 0) {
    // The query cannot go on: end it and say why.
    endWithoutAnswer(dialog, state, QueryFailure{QueryStep::kNotified, 0, 0, false});
    return TRUE;
  }
  if (event == FD_CONNECT) noteConnected(state);
  if (event == FD_READ) onRead(dialog, state);
  return TRUE;
}

void onProbeTimer(HWND dialog, AppState* state) {
  KillTimer(dialog, probeTimerId);
  // The dialog may have closed its query in the meantime.
  if (probeRunActive() && state->sock == INVALID_SOCKET) startQuery(dialog, state);
}

void onAnswerTimeout(HWND dialog, AppState* state) {
  KillTimer(dialog, answerTimerId);
  // Killing a timer leaves a WM_TIMER already posted in the queue.
  if (state->sock == INVALID_SOCKET || state->sock == answeredSocket) return;
  endWithoutAnswer(dialog, state, answerTimedOut());
}
