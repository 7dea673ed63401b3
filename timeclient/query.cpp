#include "timeclient/query.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/appstate.h"
#include "app/shell.h"
#include "app/text.h"
#include "log/logfile.h"
#include "timeclient/adjust.h"
#include "timeclient/client.h"
#include "timeclient/frame.h"
#include "timeclient/precise.h"
#include "ui/boxes.h"
#include "ui/controls.h"
#include "ui/names.h"
#include "zones/localtime.h"

namespace {
constexpr size_t answerBytes = 4;
// "±" in the character set the dialogs are shown in: the Windows ANSI code
// page there, UTF-8 on Linux.
#ifdef _WIN32
constexpr const char* plusMinusSign = "\xB1";
#else
constexpr const char* plusMinusSign = "\xC2\xB1";
#endif

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
void closeQuerySocket(HWND dialog, AppState* state, SOCKET s) {
  KillTimer(dialog, answerTimerId);
  closesocket(s);
  state->sock = INVALID_SOCKET;
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
    state->closeTimer = SetTimer(dialog, autoCloseTimerId, autoCloseDelayMs, nullptr);
}

// The one order of every query that ends without an answer: the socket
// closed, the Date line cleared of progress, the box shown, and only then
// the buttons and the focus back (the box's owner keeps the activation
// while it is open). report shows the box.
template <typename Report>
void endWithoutAnswer(HWND dialog, AppState* state, SOCKET s, Report report) {
  closeQuerySocket(dialog, state, s);
  showNoAnswer(dialog);
  queryOutcome.reported = 1;
  report();
  settleAfterQuery(dialog, state);
}

const char* hostOf(const AppState* state) { return state->host ? state->host : ""; }

void reportNoAnswer(const AppState* state) {
  reportWinsockError(formatWithHost("kronsec: no answer from host ", hostOf(state), "\r\n"));
}

// Whether the server's end of s is closed: a peek that finds the end of the
// stream (nothing has been read past the short answer).
bool serverHasClosed(SOCKET s) {
  char next;
  return recv(s, &next, 1, MSG_PEEK) == 0;
}

void reportShortAnswer(const AppState* state, int32_t bytes, bool serverClosed) {
  char why[shortAnswerTextSize];
  shortAnswerText(why, bytes, serverClosed);
  winsockMessageBox("\r\n%s\r\n(%s)\r\n",
                    formatWithHost("kronsec: no answer from host ", hostOf(state), ""), why);
}

uint32_t msSinceStart(const AppState* state) { return GetTickCount() - state->startTick; }

void showText(HWND dialog, int id, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void showText(HWND dialog, int id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(scratchText, scratchSize, format, args);
  va_end(args);
  SetDlgItemTextA(dialog, id, scratchText);
}

const char* nameOrNull(const char* name) { return name ? name : "(null)"; }

// Plays the over-limit sound, asks when the policy says so, and measures how
// long both took.
PolicyOutcome runPolicy(HWND dialog, const ClockInputs& in, const ClockDecision& d) {
  DWORD noted = GetTickCount();
  sndPlaySoundA("kronsecMaxAdj", SND_SYNC);
  PolicyOutcome outcome{0, 0};
  if (d.asks) {
    std::snprintf(scratchText, scratchSize,
                  "The difference between the time returned and the current local time "
                  "(%ld secs) is greater than the specified maximum adjustment (%u secs).  "
                  "Do you want to override this maximum?",
                  static_cast<long>(d.diffSecs), static_cast<unsigned>(in.maxAdjust));
    outcome.button = cycleMessageBox(dialog, scratchText, "Big Change", MB_YESNOCANCEL | MB_ICONEXCLAMATION);
  }
  outcome.elapsedMs = GetTickCount() - noted;
  return outcome;
}

SYSTEMTIME utcTime(int32_t secs, WORD milliseconds) {
  const BrokenDownTime& utc = utcFields(secs);
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(utc.year + 1900);
  t.wMonth = static_cast<WORD>(utc.month + 1);
  t.wDay = static_cast<WORD>(utc.monthDay);
  t.wHour = static_cast<WORD>(utc.hour);
  t.wMinute = static_cast<WORD>(utc.minute);
  t.wSecond = static_cast<WORD>(utc.second);
  t.wMilliseconds = milliseconds;
  return t;
}

// Returns false when the clock could not be set (after telling the user).
bool setClockTo(HWND dialog, const SYSTEMTIME& t) {
  bool set = SetSystemTime(&t) != 0;
  if (!set) cycleMessageBox(dialog, "Error setting system time", "kronsec Error", MB_OK);
  sndPlaySoundA("kronsecReset", SND_ASYNC);
  return set;
}

bool setClock(HWND dialog, int32_t serverSecs) { return setClockTo(dialog, utcTime(serverSecs, 0)); }

// Precise mode moves the system's UTC by the offset, milliseconds and all, at
// the moment of setting: the time the question took is not lost.
bool moveClock(HWND dialog, int64_t movedUs) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  int32_t secs = utcToSeconds(now.wYear - 1900, now.wMonth - 1, now.wDay - 1, now.wHour,
                              now.wMinute, now.wSecond);
  int64_t movedMs = movedUs >= 0 ? (movedUs + 500) / 1000 : -((-movedUs + 500) / 1000);
  int64_t target = int64_t{secs} * 1000 + now.wMilliseconds + movedMs;
  return setClockTo(dialog, utcTime(static_cast<int32_t>(target / 1000),
                                    static_cast<WORD>(target % 1000)));
}

void tellOutOfRange(HWND dialog, const AppState* state) {
  cycleMessageBox(dialog,
              formatWithHost("The time from ", state->host ? state->host : "",
                             " is outside the range kronsec can set (1970 to 2038). "
                             "The clock was not changed."),
              "kronsec Error", MB_OK | MB_ICONEXCLAMATION);
}

// Returns false when a log line was due and could not be written.
bool logResult(HWND dialog, const AppState* state, const ClockDecision& d) {
  if (state->logOpts == 0 || writeLogLine(state, d.serverSecs, d.localSecs, d.action)) return true;
  const char* path = state->logPath ? state->logPath : "(no log file chosen)";
  cycleMessageBox(dialog, formatWithHost("Error writing to log file ", path, ""), "Log Error",
              MB_OK | MB_ICONEXCLAMATION);
  return false;
}

bool heldBack(const ClockDecision& d) {
  return d.overLimit && (std::strcmp(d.action, "ignore") == 0 || std::strcmp(d.action, "partial") == 0);
}

// What a report of the run needs to know of the decision.
void noteDecision(const ClockInputs& in, const ClockDecision& d, int64_t preciseMovedUs) {
  queryOutcome.answered = 1;
  queryOutcome.changeHeld = heldBack(d);
  queryOutcome.action = d.action;
  queryOutcome.diffSecs = d.diffSecs;
  queryOutcome.overLimit = d.overLimit;
  queryOutcome.refused = d.refused;
  queryOutcome.setAsked = d.setsClock;
  queryOutcome.movedSecs = static_cast<int32_t>(static_cast<uint32_t>(d.serverSecs) -
                                                static_cast<uint32_t>(d.localSecs));
  queryOutcome.maxAdjust = in.maxAdjust;
  queryOutcome.adjOpt = in.adjOpt;
  queryOutcome.movedUs = preciseMovedUs;
}

// Precise mode's result line: Diff in seconds with milliseconds, and its
// bound in the Net Lag field, which fits it: the bound is what the
// network's lag leaves unknown, and the precise offset uses no lag.
void showPreciseDiff(HWND dialog, const PreciseOffset& p) {
  int64_t diff = -p.offsetUs;  // local minus server, as the field always shows
  // To the nearest millisecond; the bound to the next tenth above it.
  int64_t magnitude = ((diff < 0 ? -diff : diff) + 500) / 1000 * 1000;
  int64_t bound = (p.boundUs + 99) / 100 * 100;
  showText(dialog, IDC_DIFF, "%s%ld.%03ld secs", diff < 0 ? "-" : "",
           static_cast<long>(magnitude / 1000000), static_cast<long>(magnitude / 1000 % 1000));
  showText(dialog, IDC_LAG, "%s%ld.%ld ms", plusMinusSign, static_cast<long>(bound / 1000),
           static_cast<long>(bound / 100 % 10));
}

void showResult(HWND dialog, const AppState* state, const ClockDecision& d,
                const PreciseOffset* precise) {
  const BrokenDownTime* t = localFields(d.serverSecs);
  if (t) {
    showText(dialog, IDC_DATE, "%s %s %d, %d", nameOrNull(dayNames[t->weekDay]),
             nameOrNull(monthNames[t->month]), static_cast<int>(t->monthDay),
             static_cast<int>(t->year + 1900));
    showText(dialog, IDC_TIME, "%02d:%02d:%02d", static_cast<int>(t->hour),
             static_cast<int>(t->minute), static_cast<int>(t->second));
  } else {
    SetDlgItemTextA(dialog, IDC_DATE, "(outside the clock's range)");
    SetDlgItemTextA(dialog, IDC_TIME, "--:--:--");
  }
  if (precise) {
    showPreciseDiff(dialog, *precise);
  } else {
    showText(dialog, IDC_DIFF, "%ld secs",
             static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(d.localSecs) -
                                                    static_cast<uint32_t>(d.serverSecs))));
    showText(dialog, IDC_LAG, "%ld ms", static_cast<long>(state->readLag));
  }
  if (!t) return;
  std::snprintf(scratchText, scratchSize, " - Horavex - %02d:%02d:%02d", static_cast<int>(t->hour),
                static_cast<int>(t->minute), static_cast<int>(t->second));
  SetWindowTextA(hostWindow, scratchText);
  SetWindowTextA(dialog, scratchText);
}

// In precise mode the answer is the local clock now moved by the offset
// rounded to whole seconds, with no lag to make up for: the decision works
// on whole seconds as always.
void usePreciseOffset(ClockInputs* in, int32_t correction, const PreciseOffset& p) {
  uint32_t localUtc = static_cast<uint32_t>(in->localSecs) - static_cast<uint32_t>(correction);
  in->answer = localUtc + static_cast<uint32_t>(roundedSeconds(p.offsetUs)) + protocolEpochOffset;
  in->readLagMs = 0;
}

// A precise offset below a second still moves the clock when it is more
// than the bound: the clock is measurably off.
bool worthMoving(const ClockDecision& d, const PreciseOffset& p) {
  int64_t magnitude = p.offsetUs < 0 ? -p.offsetUs : p.offsetUs;
  return !d.setsClock && !d.overLimit && !d.refused && std::strcmp(d.action, "reset") == 0 &&
         magnitude > p.boundUs;
}

// How far a precise change moves the clock: the whole offset, or the
// limit's whole seconds for a partial change.
int64_t movedUs(const ClockDecision& d, const PreciseOffset& p) {
  if (std::strcmp(d.action, "partial") != 0) return p.offsetUs;
  return int64_t{static_cast<int32_t>(static_cast<uint32_t>(d.serverSecs) -
                                      static_cast<uint32_t>(d.localSecs))} * 1000000;
}

// The final answer, in seconds since 1900 (or, with precise, the offset the
// probes found): decide what the clock becomes, then act on it.
void applyAnswer(HWND dialog, AppState* state, uint32_t answer, const PreciseOffset* precise) {
  // The zone is refreshed before the local clock is read, so both sides of
  // the comparison use the TZ now in force.
  parseTz();
  ClockInputs in{answer, -1, static_cast<uint32_t>(state->readLag),
                 state->add30, state->useDST, zoneHasDst, state->reportOnly, state->maxAdjust,
                 state->adjOpt, zoneOffset};
  int32_t correction = zoneCorrection(in);
  in.localSecs = judgedClockSeconds(correction);
  if (precise) usePreciseOffset(&in, correction, *precise);
  ClockDecision d = decideClock(in, nullptr);
  if (d.overLimit) {
    PolicyOutcome outcome = runPolicy(dialog, in, d);
    d = decideClock(in, &outcome);
  }
  if (precise && worthMoving(d, *precise)) d.setsClock = true;
  noteDecision(in, d, precise ? movedUs(d, *precise) : 0);
  if (d.refused) {
    tellOutOfRange(dialog, state);
    queryOutcome.clockNotSet = 1;
  }
  if (d.setsClock && precise)
    queryOutcome.clockNotSet = !moveClock(dialog, movedUs(d, *precise));
  else if (d.setsClock)
    queryOutcome.clockNotSet = !setClock(dialog, clockSecondsToSet(d.serverSecs, correction));
  queryOutcome.logFailed = !logResult(dialog, state, d);
  showResult(dialog, state, d, precise);
}

// Once the final answer is in hand the query stops listening, before any box
// can open: otherwise the server's close or the answer timer would end the
// query under the box, and the query would end again when the box is answered.
void stopListening(HWND dialog, SOCKET s) {
  WSAAsyncSelect(s, dialog, 0, 0);
  KillTimer(dialog, answerTimerId);
  answeredSocket = s;
}

// A read that did not bring the four bytes ends the query with a box that
// says what arrived; a failed read shows its Winsock error.
void onShortRead(HWND dialog, AppState* state, SOCKET s, int n) {
  queryOutcome.lastRead = n < 0 ? readFailed : n;
  queryOutcome.readError = n < 0 ? WSAGetLastError() : 0;
  if (n < 0) {
    int32_t error = queryOutcome.readError;
    return endWithoutAnswer(dialog, state, s, [state, error] {
      WSASetLastError(error);  // the read's error, whatever the close left
      reportNoAnswer(state);
    });
  }
  queryOutcome.serverClosed = n == 0 || serverHasClosed(s);
  bool closed = queryOutcome.serverClosed != 0;
  endWithoutAnswer(dialog, state, s, [state, n, closed] { reportShortAnswer(state, n, closed); });
}

// The query's last step once its answer is in: decide and act, then end.
void finishWith(HWND dialog, AppState* state, SOCKET s, uint32_t answer,
                const PreciseOffset* precise) {
  stopListening(dialog, s);
  // The one place the check box reaches the settings: a final answer.
  state->useDST = isChecked(dialog, IDC_USEDST) ? 1 : 0;
  applyAnswer(dialog, state, answer, precise);
  queryEnd(dialog, state, s);
}

void showProbeProgress(HWND dialog) {
  int64_t width = intervalWidthUs();
  showText(dialog, IDC_DATE, "Calibrating probe %d of %d (%s%ld.%ld ms)", static_cast<int>(probesMade() + 1),
           static_cast<int>(probesPlanned()), plusMinusSign, static_cast<long>(width / 2000),
           static_cast<long>(width / 200 % 10));
}

// A probe's answer narrows the offset; the run then waits for the moment of
// the next probe, ends with the offset found, or gives up when the answers
// cannot all be true.
void onProbeAnswer(HWND dialog, AppState* state, SOCKET s, uint32_t answer) {
  ProbeStep step = takeProbeAnswer(answer);
  if (step.kind == ProbeStep::kDone) return finishWith(dialog, state, s, answer, &step.result);
  if (step.kind == ProbeStep::kGiveUp) {
    return endWithoutAnswer(dialog, state, s, [dialog, state] {
      cycleMessageBox(dialog,
                  formatWithHost("The answers from ", hostOf(state),
                                 " contradict each other: its clock or this one stepped while "
                                 "kronsec measured. The clock was not changed."),
                  "kronsec Error", MB_OK | MB_ICONEXCLAMATION);
    });
  }
  KillTimer(dialog, answerTimerId);
  closesocket(s);
  state->sock = INVALID_SOCKET;
  showProbeProgress(dialog);
  SetTimer(dialog, probeTimerId, step.waitMs, nullptr);
}

void onRead(HWND dialog, AppState* state, SOCKET s) {
  std::memset(scratchText, 0, scratchReadSize);
  int n = recv(s, scratchText, static_cast<int>(answerBytes), 0);
  // A read notification can be stale (queued before its socket was closed and
  // its number reused): nothing to read yet is not a failed answer.
  if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return;
  state->readLag = static_cast<int32_t>(msSinceStart(state));
  if (n != static_cast<int>(answerBytes)) return onShortRead(dialog, state, s, n);
  uint32_t networkOrder;
  std::memcpy(&networkOrder, scratchText, answerBytes);
  if (probeRunActive()) return onProbeAnswer(dialog, state, s, ntohl(networkOrder));
  if (state->calibrateLeft != 0) {
    showText(dialog, IDC_DATE, "Calibrating Lag (%ld ms)", static_cast<long>(state->readLag));
    closesocket(s);
    state->sock = INVALID_SOCKET;
    --state->calibrateLeft;
    startQuery(dialog, state);
    return;
  }
  finishWith(dialog, state, s, ntohl(networkOrder), nullptr);
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
  if (state->precise && !probeRunActive()) {
    // Where the clock is read through the TZ text, the probes read it under
    // the TZ now in force, as the final answer's decision will.
    parseTz();
    beginProbeRun(state->attempts, state->probeSpacing);
  }
  state->startTick = GetTickCount();
  if (probeRunActive()) markProbeStart();
  state->sock = connectToHost(state->host, state->port, "time");
  if (probeRunActive()) markProbeConnected();
  if (state->sock != INVALID_SOCKET &&
      WSAAsyncSelect(state->sock, dialog, WM_SOCKET_EVENT, FD_READ | FD_CONNECT) != 0) {
    reportWinsockError("WSAAsyncSelect Error!");
    closesocket(state->sock);
    state->sock = INVALID_SOCKET;
  }
  if (state->sock == INVALID_SOCKET) {
    // The box has been shown (connectToHost, or the registration above).
    KillTimer(dialog, answerTimerId);
    showNoAnswer(dialog);
    releaseButtons(dialog, state);
    // An unattended run (the dialog minimised) ends here as after any query.
    if (IsIconic(dialog)) EndDialog(dialog, 1);
    else giveFocusBack(dialog);
    return 0;
  }
  SetTimer(dialog, answerTimerId, answerTimeoutMs, nullptr);
  state->busyCursor = LoadCursorA(appInstance, MAKEINTRESOURCEA(IDCUR_BUSY));
  SetCursor(state->busyCursor);
  return 1;
}

void startCycle(HWND dialog, AppState* state) {
  beginQueryOutcome(state->host);
  state->calibrateLeft = static_cast<int32_t>(state->attempts);
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
    endWithoutAnswer(dialog, state, s, [] { reportWinsockError("WSAAsyncSelect error"); });
    return TRUE;
  }
  if (event == FD_CONNECT) state->connectLag = static_cast<int32_t>(msSinceStart(state));
  if (event == FD_READ) onRead(dialog, state, s);
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
  endWithoutAnswer(dialog, state, state->sock, [state] {
    WSASetLastError(WSAETIMEDOUT);
    reportNoAnswer(state);
  });
}

void queryEnd(HWND dialog, AppState* state, SOCKET s) {
  endProbeRun();
  closeQuerySocket(dialog, state, s);
  settleAfterQuery(dialog, state);
}
