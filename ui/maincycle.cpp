#include "ui/maincycle.h"

#include <cstdio>
#include <cstring>

#include "app/appstate.h"
#include "app/handles.h"
#include "base/text.h"
#include "base/units.h"
#include "timeclient/agreement.h"
#include "timeclient/cycle.h"
#include "ui/applyanswer.h"
#include "ui/boxes.h"
#include "ui/controls.h"
#include "ui/winsockbox.h"

namespace {
// The servers of the request under way and their queries.
QueryCycle cycle;

// The busy cursor while a request runs, and the auto-close timer.
HCURSOR busyCursor = nullptr;
UINT_PTR closeTimer = 0;

// The record of the request under way, or of the last one; told to the
// sink as each request ends.
RunReport report;
ReportSink reportSink = nullptr;

// The socket of a final answer being worked out. Its boxes run nested message
// loops, and Windows may still deliver notifications posted before the query
// stopped listening: none of them may end the query under a box.
SOCKET answeredSocket = INVALID_SOCKET;

// A disabled button loses the keyboard focus, and with no focus at all
// Windows sends keys to the active window as system keys, which the dialog
// manager does not read: Esc could not stop the query. The dialog itself
// keeps the focus while its buttons are greyed.
void enableButtons(HWND dialog, BOOL enable) {
  HWND focus = GetFocus();
  if (!enable && (focus == GetDlgItem(dialog, IDC_GETTIME) || focus == GetDlgItem(dialog, IDC_CLOSE)))
    SetFocus(dialog);
  EnableWindow(GetDlgItem(dialog, IDC_GETTIME), enable);
  EnableWindow(GetDlgItem(dialog, IDC_CLOSE), enable);
}

void dropBusyCursor() {
  if (busyCursor) DestroyCursor(busyCursor);
  busyCursor = nullptr;
}

// Disabling the focused button left no control with the keyboard focus, and
// an error box gives it to its owner, the host window, as it closes. Give it
// back so Enter and Escape work again, unless a dialog over this one (which
// disables it) is in use. Every failure path calls it after its box.
void giveFocusBack(HWND dialog) {
  HWND focus = GetFocus();
  if ((!focus || focus == hostWindow || focus == dialog) && IsWindowEnabled(dialog))
    SetFocus(GetDlgItem(dialog, IDC_GETTIME));
}

// The buttons and the arrow cursor back, as before the query.
void releaseButtons(HWND dialog) {
  enableButtons(dialog, TRUE);
  dropBusyCursor();
}

UINT_PTR answerTimerOf(int32_t i) { return answerTimerId + 2 * static_cast<UINT_PTR>(i); }
UINT_PTR probeTimerOf(int32_t i) { return probeTimerId + 2 * static_cast<UINT_PTR>(i); }

// One server is the program as it always was; several are asked side by side
// and agree.
bool several() { return cycle.count > 1; }

// Server i's socket and answer timer are done with.
void closeQuerySocket(HWND dialog, AppState* state, int32_t i) {
  KillTimer(dialog, answerTimerOf(i));
  closeQuery(&cycle, i, state);
}

// How both progress texts of a cycle on the Date line begin.
constexpr char progressPrefix[] = "Calibrating ";

// A cycle that ends without a result leaves no progress text on the Date
// line; a result shown before stays.
void showNoAnswer(HWND dialog, const char* text = noAnswerText) {
  char shown[sizeof progressPrefix];
  GetDlgItemTextA(dialog, IDC_DATE, shown, static_cast<int>(sizeof shown));
  if (std::strcmp(shown, progressPrefix) == 0) SetDlgItemTextA(dialog, IDC_DATE, text);
}

// A request is under way from its first query's start until its end, its
// waits between queries included.
bool requestUnderWay = false;

// After the query's socket is closed (and any box about it answered): the
// buttons back, then a minimised dialog ends, or "&Get time" has the focus
// and auto-close is armed.
void settleAfterQuery(HWND dialog, AppState* state) {
  releaseButtons(dialog);
  if (IsIconic(dialog)) {
    EndDialog(dialog, 1);
    return;
  }
  giveFocusBack(dialog);
  if (state->autoClose) closeTimer = SetTimer(dialog, closeTimerId, closeDelayMs, nullptr);
}

const char* hostOf(const AppState* state) { return state->host ? state->host : ""; }

CycleNews failedWith(const QueryFailure& f) {
  CycleNews news{};
  news.kind = CycleNews::Kind::kFailed;
  news.failure = f;
  return news;
}

void reportShortAnswer(const char* host, int32_t bytes, bool serverClosed) {
  char why[shortAnswerTextSize];
  shortAnswerText(why, bytes, serverClosed);
  winsockMessageBox("\r\n%s\r\n(%s)\r\n", formatWithHost("kronsec: no answer from host ", host, ""),
                    why);
}

void reportRefusedAnswer(HWND dialog, const char* host, const QueryFailure& f) {
  char why[refusedAnswerTextSize];
  refusedAnswerText(why, f);
  char after[refusedAnswerTextSize + 64];
  std::snprintf(after, sizeof after, " was refused: %s. The clock was not changed.", why);
  cycleMessageBox(dialog, formatWithHost("The answer from ", host, after), "kronsec Error",
                  MB_OK | MB_ICONEXCLAMATION);
}

// An address of a family this run does not speak: said as such, not as a
// name that could not be found.
void reportWrongFamily(HWND dialog, const char* host, int32_t family) {
  const char* why = !KRON_HAS_IPV6 ? " is an IPv6 address; kronsec on Windows speaks IPv4 only, as "
                                     "Windows 95's Winsock 1.1 does. The clock was not changed."
                    : family == KRON_IPV4_ONLY ? " is an IPv6 address, and family=4 (-4) limits this "
                                                 "run to IPv4. The clock was not changed."
                                               : " is an IPv4 address, and family=6 (-6) limits this "
                                                 "run to IPv6. The clock was not changed.";
  cycleMessageBox(dialog, formatWithHost("", host, why), "kronsec Error", MB_OK | MB_ICONEXCLAMATION);
}

void reportContradiction(HWND dialog, const char* host) {
  cycleMessageBox(dialog,
              formatWithHost("The answers from ", host,
                             " contradict each other: its clock or this one stepped while "
                             "kronsec measured. The clock was not changed."),
              "kronsec Error", MB_OK | MB_ICONEXCLAMATION);
}

// The box that says why a query to host got no answer, worded by the step
// it failed at.
void reportFailure(HWND dialog, const AppState* state, const char* host, const QueryFailure& f) {
  switch (f.step) {
    case QueryStep::kResolve:
      if (f.code == WSAEAFNOSUPPORT) return reportWrongFamily(dialog, host, state->family);
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
    case QueryStep::kShortRead: reportShortAnswer(host, f.bytes, f.serverClosed); break;
    case QueryStep::kContradiction: reportContradiction(dialog, host); break;
    case QueryStep::kNoTime:
    case QueryStep::kLate: reportRefusedAnswer(dialog, host, f); break;
  }
}

// The record is told as the request ends, before a minimised dialog ends
// and the settings are saved: a script reads the result even when the
// save then waits.
void publishReport() {
  if (reportSink) reportSink(report);
}

// The end of a request: every probe run over, its record told, the buttons
// and the focus back.
void endRequest(HWND dialog, AppState* state) {
  requestUnderWay = false;
  endCycleRuns(&cycle);
  publishReport();
  settleAfterQuery(dialog, state);
}

// The servers still asking when the request ends without them: their
// timers killed, their sockets closed.
void stopAsking(HWND dialog, AppState* state) {
  for (int32_t i = 0; i < cycle.count; ++i) {
    KillTimer(dialog, answerTimerOf(i));
    KillTimer(dialog, probeTimerOf(i));
  }
  stopWaitingFor(&cycle, state);
}

// The one order of every query that ends without an answer: the socket
// closed, the Date line cleared of progress, the box shown, and only then
// the buttons and the focus back (the box's owner keeps the activation
// while it is open).
void endWithoutAnswer(HWND dialog, AppState* state, const QueryFailure& f) {
  closeQuerySocket(dialog, state, 0);
  settleServer(&cycle, 0, failedWith(f));
  recordServers(&report, cycle, nullptr);
  showNoAnswer(dialog);
  reportFailure(dialog, state, hostOf(state), f);
  endRequest(dialog, state);
}

// Once the final answer is in hand the query stops listening, before any box
// can open: otherwise the server's close or the answer timer would end the
// query under the box, and the query would end again when the box is answered.
void stopListening(HWND dialog, int32_t i) {
  WSAAsyncSelect(cycle.servers[i].sock, dialog, 0, 0);
  KillTimer(dialog, answerTimerOf(i));
  answeredSocket = cycle.servers[i].sock;
}

// The one place the check box reaches the settings: a final answer.
void takeDaylightBox(HWND dialog, AppState* state) {
  state->useDST = isChecked(dialog, IDC_USEDST) ? 1 : 0;
}

// One server's last step once its answer is in: decide and act, then end.
void finishWith(HWND dialog, AppState* state, const CycleNews& news) {
  stopListening(dialog, 0);
  settleServer(&cycle, 0, news);
  recordServers(&report, cycle, nullptr);
  takeDaylightBox(dialog, state);
  applyAnswer(dialog, state, news.answer, news.precise ? &news.offset : nullptr, &report);
  closeQuerySocket(dialog, state, 0);
  endRequest(dialog, state);
}

// The probe run furthest from its end, for the progress line.
const ProbeRun& slowestRun() {
  const ProbeRun* slowest = &cycle.servers[0].run;
  for (int32_t i = 1; i < cycle.count; ++i)
    if (probeRunActive(cycle.servers[i].run) && probesMade(cycle.servers[i].run) < probesMade(*slowest))
      slowest = &cycle.servers[i].run;
  return *slowest;
}

void showProbeProgress(HWND dialog) {
  const ProbeRun& run = slowestRun();
  int64_t width = intervalWidthUs(run);
  showText(dialog, IDC_DATE, "Calibrating probe %d of %d (%s%ld.%ld ms)",
           static_cast<int>(probesMade(run) + 1), static_cast<int>(probesPlanned(run)),
           plusMinusSign, static_cast<long>(width / (2 * usPerMs)),
           static_cast<long>(width / 200 % 10));
}

// Returns false after telling the user when the socket's notifications
// cannot be asked for.
bool watchSocket(HWND dialog, SOCKET s) {
  if (WSAAsyncSelect(s, dialog, WM_SOCKET_EVENT, FD_READ | FD_CONNECT) == 0) return true;
  winsockErrorBox("WSAAsyncSelect Error!", WSAGetLastError());
  return false;
}

void concludeSeveral(HWND dialog, AppState* state);

// Whether the servers that answered have settled the outcome, whatever
// those still asking would say.
bool settledBeforeTheRest() {
  int32_t out = serversAsking(cycle);
  if (out == 0) return false;
  ServerInterval intervals[maxServers];
  for (int32_t i = 0; i < cycle.count; ++i) intervals[i] = intervalOf(cycle.servers[i]);
  return agreementSettled(agree(intervals, cycle.count), out);
}

// Once the outcome is settled, the servers still out are waited for only
// while they answer promptly: a query of theirs outstanding longer than
// this is not waited for, so a silent server no longer holds the result,
// and one still measuring is heard out and named.
constexpr UINT settledGraceMs = 500;
bool settled = false;

// The answer timer of server i's query: the usual time-out, or the grace
// left once the outcome is settled.
void armAnswerTimer(HWND dialog, int32_t i) {
  SetTimer(dialog, answerTimerOf(i), settled ? settledGraceMs : answerTimeoutMs, nullptr);
}

void settleTheRest(HWND dialog) {
  settled = true;
  for (int32_t i = 0; i < cycle.count; ++i)
    if (cycle.servers[i].sock != INVALID_SOCKET) armAnswerTimer(dialog, i);
}

// One server of several is done: its socket closed, its answer or failure
// kept; the last one to finish brings the agreement.
void serverDone(HWND dialog, AppState* state, int32_t i, const CycleNews& news) {
  if (news.kind == CycleNews::Kind::kAnswer) WSAAsyncSelect(cycle.servers[i].sock, dialog, 0, 0);
  closeQuerySocket(dialog, state, i);
  settleServer(&cycle, i, news);
  if (cycleDone(cycle)) return concludeSeveral(dialog, state);
  if (!settled && settledBeforeTheRest()) settleTheRest(dialog);
}

// A server whose query ran out of grace after the outcome was settled.
void notWaitedFor(HWND dialog, AppState* state, int32_t i) {
  closeQuerySocket(dialog, state, i);
  endProbeRun(&cycle.servers[i].run);
  cycle.servers[i].state = ServerQuery::State::kNotWaitedFor;
  if (cycleDone(cycle)) concludeSeveral(dialog, state);
}

// Starts server i's next query; returns 1 when it runs, else 0 (no query
// runs for it; the failure has been reported or kept).
int32_t startQuery(HWND dialog, AppState* state, int32_t i);

// The next query of a calibrating server starts at once, or once the
// spacing between query starts the settings ask for has passed.
void nextCalibration(HWND dialog, AppState* state, int32_t i) {
  uint32_t wait = calibrationWaitMs(cycle, i, state);
  if (wait == 0) {
    startQuery(dialog, state, i);
    return;
  }
  KillTimer(dialog, answerTimerOf(i));
  cycle.servers[i].spacing = true;
  SetTimer(dialog, probeTimerOf(i), wait, nullptr);
}

// The next probe starts after a timer of waitMs; one of no wait starts at
// once, its start waited out exactly: a timer cannot fire that soon.
void nextProbe(HWND dialog, AppState* state, int32_t i, uint32_t waitMs) {
  if (waitMs == 0) {
    startQuery(dialog, state, i);
    return;
  }
  SetTimer(dialog, probeTimerOf(i), waitMs, nullptr);
}

void onRead(HWND dialog, AppState* state, int32_t i) {
  CycleNews news = readAnswer(&cycle, i, state);
  switch (news.kind) {
    case CycleNews::Kind::kStale: return;
    case CycleNews::Kind::kFailed:
    case CycleNews::Kind::kAnswer:
      if (several()) return serverDone(dialog, state, i, news);
      if (news.kind == CycleNews::Kind::kFailed) return endWithoutAnswer(dialog, state, news.failure);
      return finishWith(dialog, state, news);
    case CycleNews::Kind::kCalibrated:
      showText(dialog, IDC_DATE, "Calibrating Lag (%ld ms)", static_cast<long>(news.lagMs));
      return nextCalibration(dialog, state, i);
    case CycleNews::Kind::kProbeWait:
      KillTimer(dialog, answerTimerOf(i));
      showProbeProgress(dialog);
      return nextProbe(dialog, state, i, news.waitMs);
  }
}

// One server's query that could not start: one server says why in its box
// and the request ends; one of several is kept as not answering.
int32_t notStarted(HWND dialog, AppState* state, int32_t i, const QueryFailure& f, bool reported) {
  if (several()) {
    serverDone(dialog, state, i, failedWith(f));
    return 0;
  }
  settleServer(&cycle, i, failedWith(f));
  recordServers(&report, cycle, nullptr);
  if (!reported) reportFailure(dialog, state, hostOf(state), f);
  KillTimer(dialog, answerTimerOf(i));
  showNoAnswer(dialog);
  requestUnderWay = false;
  publishReport();
  releaseButtons(dialog);
  // An unattended run (the dialog minimised) ends here as after any query.
  if (IsIconic(dialog)) EndDialog(dialog, 1);
  else giveFocusBack(dialog);
  return 0;
}

int32_t startQuery(HWND dialog, AppState* state, int32_t i) {
  answeredSocket = INVALID_SOCKET;  // the new socket may reuse its number
  enableButtons(dialog, FALSE);
  QueryFailure failure{};
  SOCKET s = openQuery(&cycle, i, state, &failure);
  if (s == INVALID_SOCKET) return notStarted(dialog, state, i, failure, false);
  if (!watchSocket(dialog, s)) {
    closeQuery(&cycle, i, state);
    return notStarted(dialog, state, i, QueryFailure{QueryStep::kNotified, 0, 0, false, 0}, true);
  }
  armAnswerTimer(dialog, i);
  if (!busyCursor) busyCursor = LoadCursorA(appInstance, MAKEINTRESOURCEA(IDCUR_BUSY));
  SetCursor(busyCursor);
  return 1;
}

// "+5 s" in whole seconds, "+437 ms" in precise mode, rounded half away
// from zero.
void signedAmount(char* out, size_t size, int64_t us, bool precise) {
  ToldDistance d = toldDistance(us, precise);
  std::snprintf(out, size, "%c%lld %s", us < 0 && d.size > 0 ? '-' : '+', static_cast<long long>(d.size),
                d.unit);
}

// The box of a request that found no majority: what each server said.
void reportNoMajority(HWND dialog) {
  char text[scratchSize] = "The servers do not agree:";
  size_t used = std::strlen(text);
  for (int32_t i = 0; i < report.servers && used < sizeof text; ++i) {
    const ServerRecord& r = report.server[i];
    char amount[32] = "no answer";
    if (r.answered) signedAmount(amount, sizeof amount, r.offsetUs, report.precise);
    used += static_cast<size_t>(std::snprintf(text + used, sizeof text - used, " %s %s%s", r.label,
                                              amount, i + 1 < report.servers ? "," : "."));
  }
  if (used < sizeof text) std::snprintf(text + used, sizeof text - used, " The clock was not changed.");
  cycleMessageBox(dialog, text, "kronsec Error", MB_OK | MB_ICONEXCLAMATION);
}

// The first server that did not answer, for the box of a request none answered.
int32_t firstFailed() {
  for (int32_t i = 0; i < cycle.count; ++i)
    if (cycle.servers[i].state == ServerQuery::State::kFailed) return i;
  return 0;
}

// The lags shown and logged: the longest among the servers that agreed.
void showAgreedLags(AppState* state, const Agreement& a) {
  state->readLag = state->connectLag = 0;
  for (int32_t i = 0; i < cycle.count; ++i) {
    if (!(a.members & (1u << i))) continue;
    if (cycle.servers[i].readLag > state->readLag) state->readLag = cycle.servers[i].readLag;
    if (cycle.servers[i].connectLag > state->connectLag) state->connectLag = cycle.servers[i].connectLag;
  }
}

// Every server has answered or failed: the majority's offset is decided on
// and acted on, or the request ends saying why there is none.
void concludeSeveral(HWND dialog, AppState* state) {
  ServerInterval intervals[maxServers];
  bool precise = false;
  for (int32_t i = 0; i < cycle.count; ++i) {
    intervals[i] = intervalOf(cycle.servers[i]);
    precise = precise || (intervals[i].answered && cycle.servers[i].result.precise);
  }
  Agreement a = agree(intervals, cycle.count);
  recordServers(&report, cycle, &a);
  if (!a.found) {
    showNoAnswer(dialog);
    if (a.answered == 0) {
      const ServerQuery& q = cycle.servers[firstFailed()];
      reportFailure(dialog, state, q.where.label, q.result.failure);
    } else {
      reportNoMajority(dialog);
    }
    return endRequest(dialog, state);
  }
  showAgreedLags(state, a);
  takeDaylightBox(dialog, state);
  applyAgreedOffset(dialog, state, a.offsetUs, a.boundUs, precise, &report);
  endRequest(dialog, state);
}

// A host text that holds a comment's words asks none of them: the request
// ends before any query, saying why.
void refuseHostText(HWND dialog, AppState* state) {
  char why[scratchSize];
  notAHostText(why, sizeof why, cycle.notes.notAHost);
  showNoAnswer(dialog);
  cycleMessageBox(dialog, why, "kronsec Error", MB_OK | MB_ICONEXCLAMATION);
  endRequest(dialog, state);
}

// A request: every server's first query, side by side.
void startServers(HWND dialog, AppState* state) {
  settled = false;
  beginReport(&report, state, cycle.notes);
  if (cycle.notes.refused) return refuseHostText(dialog, state);
  requestUnderWay = true;
  for (int32_t i = 0; i < cycle.count; ++i) startQuery(dialog, state, i);
}
}  // namespace

bool requestRunning() { return requestUnderWay; }

void forgetRequest() { requestUnderWay = false; }

void stopRequest(HWND dialog, AppState* state) {
  stopAsking(dialog, state);
  recordServers(&report, cycle, nullptr);
  report.stopped = true;
  showNoAnswer(dialog, stoppedText);
  endRequest(dialog, state);
}

HCURSOR busyCursorShown() { return busyCursor; }

void disarmAutoClose(HWND dialog) {
  if (closeTimer) KillTimer(dialog, closeTimer);
  closeTimer = 0;
}

void armAutoClose(HWND dialog, const AppState* state) {
  disarmAutoClose(dialog);
  if (state->autoClose) closeTimer = SetTimer(dialog, closeTimerId, closeDelayMs, nullptr);
}

void setReportSink(ReportSink sink) { reportSink = sink; }

RunReport lastReport() { return report; }

void noteNothingAsked(Missing why) {
  report = RunReport{};
  report.missing = why;
}

void clearReport() { report = RunReport{}; }

void startCycle(HWND dialog, AppState* state) {
  prepareCycle(&cycle, state, true);
  SetDlgItemTextA(dialog, IDC_DATE, "Calibrating Net Lag ...");
  startServers(dialog, state);
}

void getTimeNow(HWND dialog, AppState* state) {
  prepareCycle(&cycle, state, false);
  startServers(dialog, state);
}

INT_PTR onSocketEvent(HWND dialog, AppState* state, WPARAM wParam, LPARAM lParam) {
  SOCKET s = static_cast<SOCKET>(wParam);
  WORD event = WSAGETSELECTEVENT(lParam);
  int32_t i = serverOfSocket(cycle, s);
  // Left over from an ended query, or from one whose answer is being worked out.
  if (i < 0 || s == answeredSocket) return TRUE;
  if (WSAGETSELECTERROR(lParam) != 0) {
    // The query cannot go on: end it and say why.
    QueryFailure notified{QueryStep::kNotified, 0, 0, false, 0};
    if (several()) serverDone(dialog, state, i, failedWith(notified));
    else endWithoutAnswer(dialog, state, notified);
    return TRUE;
  }
  if (event == FD_CONNECT) noteConnected(&cycle, i);
  if (event == FD_READ) onRead(dialog, state, i);
  return TRUE;
}

bool onCycleTimer(HWND dialog, AppState* state, UINT_PTR id) {
  if (id < answerTimerId || id >= answerTimerId + 2 * static_cast<UINT_PTR>(maxServers)) return false;
  int32_t i = static_cast<int32_t>((id - answerTimerId) / 2);
  KillTimer(dialog, id);
  if (i >= cycle.count) return true;
  ServerQuery& q = cycle.servers[i];
  if (id == probeTimerOf(i)) {
    // The dialog may have closed its query in the meantime.
    bool due = probeRunActive(q.run) || q.spacing;
    q.spacing = false;
    if (due && q.sock == INVALID_SOCKET) startQuery(dialog, state, i);
    return true;
  }
  // Killing a timer leaves a WM_TIMER already posted in the queue.
  if (q.sock == INVALID_SOCKET || q.sock == answeredSocket) return true;
  if (several() && settled) notWaitedFor(dialog, state, i);
  else if (several()) serverDone(dialog, state, i, failedWith(answerTimedOut(cycle, i)));
  else endWithoutAnswer(dialog, state, answerTimedOut(cycle, i));
  return true;
}
