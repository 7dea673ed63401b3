// Window classes, window objects and their properties.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/ascii.h"
#include "platform/posix/core.h"

namespace {
struct WindowClass {
  std::string name;
  WNDCLASSA wc;
};

std::vector<WindowClass> classes;
std::vector<HWND> windows;
HWND focusWindow = nullptr;
std::vector<std::pair<int32_t, int32_t>> heldControls;  // (dialog template, control id)

bool sameName(const std::string& a, LPCSTR b) {
  return equalIgnoringAsciiCase(a.data(), a.size(), b, std::strlen(b));
}

const WindowClass* findClass(LPCSTR name) {
  for (const WindowClass& c : classes)
    if (sameName(c.name, name)) return &c;
  return nullptr;
}

void notifyChanged() {
  if (frontEnd().changed) frontEnd().changed();
}

void forgetWindow(HWND w) {
  windows.erase(std::remove(windows.begin(), windows.end(), w), windows.end());
  if (focusWindow == w) focusWindow = nullptr;
  for (HWND other : windows) {
    if (other->focus == w) other->focus = nullptr;
    if (other->owner == w) other->owner = nullptr;
  }
  delete w;
}
}  // namespace

void resetWindowState() {
  for (HWND w : windows) delete w;
  windows.clear();
  classes.clear();
  focusWindow = nullptr;
  heldControls.clear();
}

void holdControlForRun(int32_t dialogId, int32_t controlId) {
  heldControls.emplace_back(dialogId, controlId);
}

bool heldForRun(int32_t dialogId, int32_t controlId) {
  return std::find(heldControls.begin(), heldControls.end(), std::make_pair(dialogId, controlId)) !=
         heldControls.end();
}

const std::vector<HWND>& liveWindows() { return windows; }

bool isLiveWindow(HWND window) {
  return window && std::find(windows.begin(), windows.end(), window) != windows.end();
}

HWND registerWindow(HWND w) {
  windows.push_back(w);
  return w;
}

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || !wc->lpfnWndProc || findClass(wc->lpszClassName))
    return 0;
  classes.push_back({wc->lpszClassName, *wc});
  return static_cast<ATOM>(classes.size());
}

BOOL UnregisterClassA(LPCSTR name, HINSTANCE) {
  for (auto it = classes.begin(); it != classes.end(); ++it)
    if (sameName(it->name, name)) {
      classes.erase(it);
      return TRUE;
    }
  return FALSE;
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR title, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU,
                     HINSTANCE, LPVOID) {
  const WindowClass* cls = className ? findClass(className) : nullptr;
  if (!cls) return nullptr;
  HWND w = registerWindow(new HWND__);
  w->className = cls->name;
  w->wndProc = cls->wc.lpfnWndProc;
  w->owner = parent;
  w->text = title ? title : "";
  w->style = style;
  w->rect = {x, y, x + width, y + height};
  w->extra.assign(static_cast<size_t>(cls->wc.cbWndExtra) / sizeof(LONG_PTR) + 1, 0);
  w->classIcon = cls->wc.hIcon;
  if (SendMessageA(w, WM_CREATE, 0, 0) == -1) {
    SendMessageA(w, WM_DESTROY, 0, 0);
    forgetWindow(w);
    return nullptr;
  }
  notifyChanged();
  return w;
}

BOOL DestroyWindow(HWND window) {
  if (!isLiveWindow(window)) return FALSE;
  // Owned windows and controls go first, as on Windows.
  std::vector<HWND> owned;
  for (HWND w : windows)
    if (w->owner == window || w->parent == window) owned.push_back(w);
  for (HWND w : owned) DestroyWindow(w);
  if (!isLiveWindow(window)) return TRUE;
  KillTimersOf(window);
  SendMessageA(window, WM_DESTROY, 0, 0);
  forgetWindow(window);
  notifyChanged();
  return TRUE;
}

BOOL IsWindow(HWND window) { return isLiveWindow(window) ? TRUE : FALSE; }

LONG_PTR SetWindowLongPtrA(HWND w, int index, LONG_PTR value) {
  if (!isLiveWindow(w)) return 0;
  LONG_PTR* slot = nullptr;
  if (index == GWLP_USERDATA) slot = &w->userData;
  else if (w->dialog && index == DWLP_MSGRESULT) slot = &w->msgResult;
  else if (index >= 0 && static_cast<size_t>(index) / sizeof(LONG_PTR) < w->extra.size())
    slot = &w->extra[static_cast<size_t>(index) / sizeof(LONG_PTR)];
  if (!slot) return 0;
  LONG_PTR old = *slot;
  *slot = value;
  return old;
}

LONG_PTR GetWindowLongPtrA(HWND w, int index) {
  if (!isLiveWindow(w)) return 0;
  if (index == GWLP_USERDATA) return w->userData;
  if (w->dialog && index == DWLP_MSGRESULT) return w->msgResult;
  if (index >= 0 && static_cast<size_t>(index) / sizeof(LONG_PTR) < w->extra.size())
    return w->extra[static_cast<size_t>(index) / sizeof(LONG_PTR)];
  return 0;
}

BOOL SetWindowTextA(HWND w, LPCSTR text) {
  if (!isLiveWindow(w)) return FALSE;
  SendMessageA(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : ""));
  return TRUE;
}

int GetWindowTextA(HWND w, LPSTR out, int size) {
  if (!out || size <= 0) return 0;
  out[0] = '\0';
  if (!isLiveWindow(w)) return 0;
  return static_cast<int>(
      SendMessageA(w, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(out)));
}

BOOL EnableWindow(HWND w, BOOL enable) {
  if (!isLiveWindow(w)) return FALSE;
  BOOL wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
  if (enable && w->parent && w->parent->dialog && heldForRun(w->parent->dialog->id, w->id))
    return wasDisabled;
  if (enable) w->style &= ~WS_DISABLED;
  else w->style |= WS_DISABLED;
  if (!enable && focusWindow == w) focusWindow = nullptr;
  notifyChanged();
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND w) {
  return isLiveWindow(w) && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND w) {
  if (!isLiveWindow(w) || !(w->style & WS_VISIBLE)) return FALSE;
  return w->parent ? IsWindowVisible(w->parent) : TRUE;
}

BOOL IsIconic(HWND w) { return isLiveWindow(w) && w->minimized ? TRUE : FALSE; }

BOOL ShowWindow(HWND w, int command) {
  if (!isLiveWindow(w)) return FALSE;
  BOOL wasVisible = (w->style & WS_VISIBLE) ? TRUE : FALSE;
  switch (command) {
    case SW_HIDE: w->style &= ~WS_VISIBLE; break;
    case SW_SHOWMINIMIZED: case SW_MINIMIZE: case SW_SHOWMINNOACTIVE:
      w->style |= WS_VISIBLE;
      w->minimized = true;
      break;
    case SW_SHOWNORMAL: case SW_RESTORE: case SW_SHOWMAXIMIZED:
      w->style |= WS_VISIBLE;
      // A minimised window is asked first, as Windows asks it; it may stay so.
      if (w->minimized && !SendMessageA(w, WM_QUERYOPEN, 0, 0)) break;
      w->minimized = false;
      break;
    default: w->style |= WS_VISIBLE; break;  // SW_SHOW and the like
  }
  notifyChanged();
  return wasVisible;
}

BOOL UpdateWindow(HWND w) {
  if (!isLiveWindow(w)) return FALSE;
  notifyChanged();
  if (w->minimized) SendMessageA(w, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL InvalidateRect(HWND w, const RECT*, BOOL) { return UpdateWindow(w); }

HWND SetFocus(HWND w) {
  HWND old = focusWindow;
  if (w && !isLiveWindow(w)) return nullptr;
  focusWindow = w;
  if (w && w->parent) w->parent->focus = w;
  notifyChanged();
  return old;
}

HWND GetFocus() { return focusWindow; }

HWND GetWindow(HWND w, UINT relation) {
  return isLiveWindow(w) && relation == GW_OWNER ? w->owner : nullptr;
}

int GetClassNameA(HWND w, LPSTR out, int size) {
  if (!out || size <= 0) return 0;
  out[0] = '\0';
  if (!isLiveWindow(w)) return 0;
  size_t n = std::min(w->className.size(), static_cast<size_t>(size) - 1);
  w->className.copy(out, n);
  out[n] = '\0';
  return static_cast<int>(n);
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

// Top-level windows in creation order; the callback may open or close
// windows, so it walks a copy and skips the ones gone meanwhile.
BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM lParam) {
  if (threadId != GetCurrentThreadId() || !proc) return FALSE;
  std::vector<HWND> topLevel;
  for (HWND w : windows)
    if (!w->parent) topLevel.push_back(w);
  for (HWND w : topLevel)
    if (isLiveWindow(w) && !proc(w, lParam)) break;
  return TRUE;
}

BOOL GetWindowRect(HWND w, RECT* rect) {
  if (!isLiveWindow(w) || !rect) return FALSE;
  *rect = w->parent ? controlScreenRect(w) : w->rect;
  return TRUE;
}

BOOL GetClientRect(HWND w, RECT* rect) {
  if (!isLiveWindow(w) || !rect) return FALSE;
  RECT r;
  GetWindowRect(w, &r);
  int32_t width = r.right - r.left, height = r.bottom - r.top;
  if (!w->parent && (w->style & WS_CAPTION)) {
    width -= 2 * frameSide;
    height -= frameTop;
  }
  if (w->minimized) width = height = 0;
  *rect = {0, 0, width, height};
  return TRUE;
}

BOOL SetWindowPos(HWND w, HWND, int x, int y, int cx, int cy, UINT flags) {
  if (!isLiveWindow(w)) return FALSE;
  RECT& r = w->rect;
  int32_t width = r.right - r.left, height = r.bottom - r.top;
  if (!(flags & SWP_NOSIZE)) width = cx, height = cy;
  if (!(flags & SWP_NOMOVE)) r.left = x, r.top = y;
  r.right = r.left + width;
  r.bottom = r.top + height;
  notifyChanged();
  return TRUE;
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN: return frontEnd().screenWidth;
    case SM_CYSCREEN: return frontEnd().screenHeight;
    case SM_CXICON: case SM_CYICON: return 32;
    default: return 0;
  }
}

RECT controlScreenRect(HWND control) {
  HWND dialog = control->parent;
  int32_t left = dialog->rect.left + frameSide, top = dialog->rect.top + frameTop;
  return {left + control->rect.left, top + control->rect.top,
          left + control->rect.right, top + control->rect.bottom};
}

HWND dialogOf(HWND control) { return control && control->parent ? control->parent : control; }
