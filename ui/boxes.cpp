#include "ui/boxes.h"

#include <cstring>

HWND hostWindow = nullptr;

namespace {
HWND mainDialog = nullptr;

// The window class of message boxes (and dialogs) on every Windows.
constexpr char boxClassName[] = "#32770";
// Room for a box's caption or class name read back for the comparison.
constexpr int windowNameSize = 256;

// A box that closes itself when nobody answers it. Boxes nest (one may open
// while another waits in its own loop): each timer finds its own record.
struct PendingBox {
  UINT_PTR timer;
  HWND owner;
  const char* caption;
  int answer;
  PendingBox* outer;  // the box that was waiting when this one opened
};
PendingBox* innermost = nullptr;

struct BoxSearch {
  const PendingBox* box;
  HWND found;
};

bool nameIs(int length, const char* read, const char* wanted) {
  return length >= 0 && length < windowNameSize - 1 && std::strcmp(read, wanted) == 0;
}

// The box is the one window of this thread of the box class, with this
// owner and this caption.
BOOL CALLBACK matchBox(HWND window, LPARAM lParam) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(lParam);
  if (GetWindow(window, GW_OWNER) != search->box->owner) return TRUE;
  char name[windowNameSize];
  if (!nameIs(GetClassNameA(window, name, windowNameSize), name, boxClassName)) return TRUE;
  if (!nameIs(GetWindowTextA(window, name, windowNameSize), name, search->box->caption)) return TRUE;
  search->found = window;
  return FALSE;
}

// Every unattendedBoxMs while the box is open: a minimised main dialog means
// nobody will answer, so the box's safe button is pressed, as a click would.
void CALLBACK closeIfUnattended(HWND, UINT, UINT_PTR timer, DWORD) {
  const PendingBox* box = innermost;
  while (box && box->timer != timer) box = box->outer;
  if (!box || !mainDialog || !IsIconic(mainDialog)) return;
  BoxSearch search{box, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), matchBox, reinterpret_cast<LPARAM>(&search));
  if (search.found)
    PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(box->answer, BN_CLICKED), 0);
}
}  // namespace

void watchMainDialog(HWND dialog) { mainDialog = dialog; }

int safeAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_OKCANCEL: case MB_YESNOCANCEL: case MB_RETRYCANCEL: return IDCANCEL;
    case MB_YESNO: return IDNO;
    default: return 0;
  }
}

int cycleMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  PendingBox box{0, owner, caption ? caption : "Error", safeAnswer(type), innermost};
  if (mainDialog && box.answer != 0)
    box.timer = SetTimer(nullptr, 0, unattendedBoxMs, closeIfUnattended);
  if (box.timer) innermost = &box;
  int result = MessageBoxA(owner, text, caption, type);
  if (box.timer) {
    KillTimer(nullptr, box.timer);
    innermost = box.outer;
  }
  return result;
}
