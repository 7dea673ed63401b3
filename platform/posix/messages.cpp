// The message queue, timers and the wait for sockets and input.
#include <poll.h>
#include <unistd.h>

#include <deque>
#include <vector>

#include "platform/posix/core.h"

namespace {
struct Timer {
  HWND window;
  UINT_PTR id;
  uint32_t period;
  uint32_t due;
  TIMERPROC proc;
};

std::deque<MSG> queue;
std::vector<Timer> timers;
bool quitPosted = false;
int quitCode = 0;
bool terminated = false;
int closeRequestFd = -1;
bool closeRequestTaken = false;  // the loop has drained a request from it
UINT_PTR nextThreadTimerId = 1;

// The caret is all the selection an edit keeps here; the control procedure
// passes the edit messages on to DefWindowProcA.
// EM_SETSEL and EM_GETSEL as Windows has them: the selection runs from the
// anchor (start) to the caret (end), -1 for the end of the text; a start of
// -1 only drops the selection. EM_GETSEL gives the lower end first.
LRESULT editSelection(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  int32_t size = static_cast<int32_t>(edit->text.size());
  auto clamp = [size](int32_t at) { return at < 0 || at > size ? size : at; };
  if (message == EM_SETSEL) {
    int32_t start = static_cast<int32_t>(wParam), end = static_cast<int32_t>(lParam);
    if (start == -1) {
      edit->anchor = -1;
    } else {
      edit->caret = clamp(end);
      edit->anchor = clamp(start) == edit->caret ? -1 : clamp(start);
    }
    if (frontEnd().changed) frontEnd().changed();
    return 0;
  }
  int32_t caret = clamp(edit->caret);
  int32_t anchor = edit->anchor < 0 ? caret : clamp(edit->anchor);
  DWORD from = static_cast<DWORD>(anchor < caret ? anchor : caret);
  DWORD to = static_cast<DWORD>(anchor < caret ? caret : anchor);
  if (wParam) *reinterpret_cast<DWORD*>(wParam) = from;
  if (lParam) *reinterpret_cast<DWORD*>(lParam) = to;
  return MAKELONG(from, to);
}

void realWait(int32_t timeoutMs) { pollEvents(timeoutMs); }
const FrontEnd defaultFrontEnd = [] {
  FrontEnd f;
  f.wait = realWait;
  return f;
}();
const FrontEnd* activeFrontEnd = &defaultFrontEnd;

// Signed distance on the wrapping 32-bit tick counter.
int32_t ticksUntil(uint32_t due) { return static_cast<int32_t>(due - GetTickCount()); }

Timer* earliestTimer() {
  Timer* best = nullptr;
  for (Timer& t : timers)
    if (!best || static_cast<int32_t>(t.due - best->due) < 0) best = &t;
  return best;
}

// Takes a due timer's WM_TIMER; Windows keeps at most one pending per timer.
bool takeDueTimer(MSG* msg) {
  Timer* t = earliestTimer();
  if (!t || ticksUntil(t->due) > 0) return false;
  *msg = MSG{t->window, WM_TIMER, t->id, reinterpret_cast<LPARAM>(t->proc), GetTickCount(), {0, 0}};
  t->due = GetTickCount() + t->period;
  return true;
}
}  // namespace

void useFrontEnd(const FrontEnd* f) { activeFrontEnd = f ? f : &defaultFrontEnd; }
const FrontEnd& frontEnd() { return *activeFrontEnd; }

void resetTimersAndQueue() {
  queue.clear();
  timers.clear();
  quitPosted = false;
  quitCode = 0;
  terminated = false;
  nextThreadTimerId = 1;
}

void resetWindowing() {
  resetTimersAndQueue();
  resetWindowState();
  resetSockets();
}

void terminateLoops() { terminated = true; }
bool loopsTerminated() { return terminated; }

int32_t msUntilNextTimer() {
  Timer* t = earliestTimer();
  if (!t) return -1;
  int32_t left = ticksUntil(t->due);
  return left < 0 ? 0 : left;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  if (window && !isLiveWindow(window)) return 0;
  if (!window) id = nextThreadTimerId++;
  for (Timer& t : timers)
    if (t.window == window && t.id == id) {
      t.period = elapse;
      t.due = GetTickCount() + elapse;
      t.proc = proc;
      return id ? id : 1;
    }
  timers.push_back({window, id, elapse, GetTickCount() + elapse, proc});
  return id ? id : 1;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  for (auto it = timers.begin(); it != timers.end(); ++it)
    if (it->window == window && it->id == id) {
      timers.erase(it);
      return TRUE;
    }
  return FALSE;
}

void KillTimersOf(HWND window) {
  for (size_t i = timers.size(); i-- > 0;)
    if (timers[i].window == window) timers.erase(timers.begin() + static_cast<long>(i));
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window && !isLiveWindow(window)) return FALSE;
  queue.push_back(MSG{window, message, wParam, lParam, GetTickCount(), {0, 0}});
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  quitPosted = true;
  quitCode = exitCode;
}

LRESULT SendMessageA(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!isLiveWindow(w)) return 0;
  if (w->control) return controlProc(w, message, wParam, lParam);
  if (w->dialog || w->isMessageBox) {
    INT_PTR handled = w->dlgProc ? w->dlgProc(w, message, wParam, lParam) : 0;
    // Messages whose answer is the procedure's own result.
    bool direct = (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) ||
                  message == WM_INITDIALOG;
    if (direct || handled) return direct ? handled : w->msgResult;
    return dialogDefault(w, message, wParam, lParam);
  }
  return w->wndProc ? w->wndProc(w, message, wParam, lParam) : 0;
}

BOOL GetMessageA(LPMSG msg, HWND, UINT, UINT) {
  for (;;) {
    if (terminated) {
      *msg = MSG{nullptr, WM_QUIT, 0, 0, 0, {0, 0}};
      return FALSE;
    }
    if (!queue.empty()) {
      *msg = queue.front();
      queue.pop_front();
      return TRUE;
    }
    if (quitPosted) {
      quitPosted = false;
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode), 0, 0, {0, 0}};
      return FALSE;
    }
    if (takeDueTimer(msg)) return TRUE;
    frontEnd().wait(msUntilNextTimer());
  }
}

// A thread message that carries a user action; never sent to a window.
constexpr UINT userActionMessage = 0x7FFE;

void postUserAction(void (*action)(void*), void* context) {
  queue.push_back(MSG{nullptr, userActionMessage,
                      reinterpret_cast<WPARAM>(action),
                      reinterpret_cast<LPARAM>(context), GetTickCount(), {0, 0}});
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg->hwnd && msg->message == userActionMessage) {
    reinterpret_cast<void (*)(void*)>(msg->wParam)(reinterpret_cast<void*>(msg->lParam));
    return 0;
  }
  if (msg->message == WM_TIMER && msg->lParam) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  return msg->hwnd ? SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

LRESULT DefWindowProcA(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT:
      w->text = reinterpret_cast<LPCSTR>(lParam);
      if (frontEnd().textChanged) frontEnd().textChanged(w);
      if (frontEnd().changed) frontEnd().changed();
      return TRUE;
    case WM_GETTEXT: {
      char* out = reinterpret_cast<char*>(lParam);
      size_t size = static_cast<size_t>(wParam);
      if (!out || size == 0) return 0;
      size_t n = w->text.size() < size - 1 ? w->text.size() : size - 1;
      w->text.copy(out, n);
      out[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(w->text.size());
    case EM_GETSEL: case EM_SETSEL:
      return w->className == "Edit" ? editSelection(w, message, wParam, lParam) : 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE: SendMessageA(w, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(w, SW_MINIMIZE); break;
        case SC_RESTORE: ShowWindow(w, SW_RESTORE); break;
        default: break;
      }
      return 0;
    case WM_QUERYOPEN: return TRUE;
    case WM_CLOSE: DestroyWindow(w); return 0;
    default: return 0;
  }
}

void watchCloseRequests(int fd) {
  closeRequestFd = fd;
  closeRequestTaken = false;
}
int closeRequestDescriptor() { return closeRequestFd; }

bool closeRequestArrived() {
  if (closeRequestTaken) return true;
  pollfd p{closeRequestFd, POLLIN, 0};
  return closeRequestFd >= 0 && poll(&p, 1, 0) == 1;
}

bool pollEvents(int32_t timeoutMs) {
  std::vector<pollfd> fds;
  const FrontEnd& f = frontEnd();
  fds.push_back(pollfd{closeRequestFd, POLLIN, 0});
  fds.push_back(pollfd{f.inputFd, POLLIN, 0});  // poll skips negative fds
  collectSocketPolls(fds);
  int ready = poll(fds.data(), fds.size(), timeoutMs);
  if (ready <= 0) return false;
  if (fds[0].revents) {
    char drain[64];
    while (read(closeRequestFd, drain, sizeof drain) > 0) {
    }
    closeRequestTaken = true;
    requestClose();
  }
  if (fds[1].revents && f.inputReady) f.inputReady();
  socketsReady(fds, 2);
  return true;
}
