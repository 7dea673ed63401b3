// Modal dialogs built from the program's templates, their controls and the
// dialog-item calls, and message boxes.
#include <cstdio>
#include <cstring>

#include "platform/posix/core.h"

namespace {
bool isButton(HWND w, uint32_t type) {
  return w->className == "Button" && (w->style & BS_TYPEMASK) == type;
}

void notifyParent(HWND control, WORD code) {
  if (control->parent)
    SendMessageA(control->parent, WM_COMMAND, MAKEWPARAM(control->id, code),
                 reinterpret_cast<LPARAM>(control));
}

void changed() {
  if (frontEnd().changed) frontEnd().changed();
}

HWND createControl(HWND dialog, const ControlTemplate& t) {
  HWND c = registerWindow(new HWND__);
  c->className = t.className;
  c->control = &t;
  c->parent = dialog;
  c->id = t.id;
  c->text = t.text;
  c->style = t.style | (heldForRun(dialog->dialog->id, t.id) ? WS_DISABLED : 0);
  c->rect = {t.x, t.y, t.x + t.cx, t.y + t.cy};
  dialog->children.push_back(c);
  return c;
}

// The dialog itself is not shown yet while it initialises: only the
// controls' own states count.
HWND firstTabStop(HWND dialog) {
  for (HWND c : dialog->children)
    if ((c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED)) return c;
  return nullptr;
}

HWND createDialog(const DialogTemplate& t, HWND owner, DLGPROC proc) {
  HWND d = registerWindow(new HWND__);
  d->className = "#32770";
  d->dialog = &t;
  d->dlgProc = proc;
  d->owner = owner;
  d->text = t.title;
  d->style = t.style & ~WS_VISIBLE;  // shown once initialised
  int32_t x = t.x, y = t.y;
  if (owner) x += owner->rect.left, y += owner->rect.top;
  d->rect = {x - frameSide, y - frameTop, x + t.cx + frameSide, y + t.cy};
  for (int32_t i = 0; i < t.controlCount; ++i) createControl(d, t.controls[i]);
  return d;
}

// Runs messages until the modal window ends; a quit ends it too and is
// passed on to the enclosing loop, as Windows does.
void runModal(HWND modal) {
  MSG msg;
  while (isLiveWindow(modal) && !modal->ended) {
    if (!GetMessageA(&msg, nullptr, 0, 0)) {
      if (!loopsTerminated()) PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    DispatchMessageA(&msg);
  }
}

void setCheck(HWND c, int32_t state) {
  c->check = state;
  changed();
}

void checkRadioInGroup(HWND c) {
  for (HWND r : radioGroup(c)) setCheck(r, r == c);
}

// Focus the dialog manager moves into an edit selects the whole text, caret
// at its end, so typing replaces it, as on Windows.
void takeFocus(HWND c) {
  SetFocus(c);
  if (c->className != "Edit") return;
  c->anchor = 0;
  c->caret = static_cast<int32_t>(c->text.size());
}
}  // namespace

void focusIntoDialog(HWND dialog) {
  HWND focus = GetFocus();
  if (focus && focus->parent == dialog) return;
  if (HWND first = firstTabStop(dialog)) takeFocus(first);
}

std::vector<HWND> radioGroup(HWND c) {
  auto& kids = c->parent->children;
  size_t at = 0;
  while (kids[at] != c) ++at;
  size_t first = at;
  while (first > 0 && !(kids[first]->style & WS_GROUP)) --first;
  std::vector<HWND> group;
  for (size_t i = first; i < kids.size(); ++i) {
    if (i > first && (kids[i]->style & WS_GROUP)) break;
    if (isButton(kids[i], BS_AUTORADIOBUTTON)) group.push_back(kids[i]);
  }
  return group;
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  const DialogTemplate* t =
      IS_INTRESOURCE(name) ? findDialogTemplate(LOWORD(reinterpret_cast<ULONG_PTR>(name))) : nullptr;
  if (!t || !proc) return -1;
  HWND dialog = createDialog(*t, owner, proc);
  HWND focusBefore = GetFocus();  // given back when the dialog closes, as Windows does
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  HWND first = firstTabStop(dialog);
  if (SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) && first)
    takeFocus(first);
  if ((t->style & WS_VISIBLE) && !(dialog->style & WS_VISIBLE) && !dialog->ended) {
    ShowWindow(dialog, SW_SHOWNORMAL);
    // Showing activates the dialog: a procedure that returned FALSE without
    // placing the focus still finds it on the first tab stop, as on Windows.
    focusIntoDialog(dialog);
  }
  runModal(dialog);
  INT_PTR result = isLiveWindow(dialog) && dialog->ended ? dialog->result : 0;
  if (ownerWasEnabled && isLiveWindow(owner)) EnableWindow(owner, TRUE);
  DestroyWindow(dialog);
  if (isLiveWindow(focusBefore)) SetFocus(focusBefore);
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  if (!isLiveWindow(dialog) || !dialog->dialog) return FALSE;
  if (!dialog->ended && frontEnd().dialogEnded) frontEnd().dialogEnded(dialog);
  dialog->ended = true;
  dialog->result = result;
  dialog->style &= ~WS_VISIBLE;
  changed();
  return TRUE;
}

LRESULT dialogDefault(HWND d, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE: {
      HWND cancel = GetDlgItem(d, IDCANCEL);
      if (cancel && !IsWindowEnabled(cancel)) MessageBeep(0);
      else PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    case WM_SYSCOMMAND: case WM_QUERYOPEN: case WM_SETTEXT: case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
      return DefWindowProcA(d, message, wParam, lParam);
    case WM_HELP:  // unanswered, the question goes to the owner
      return d->owner ? SendMessageA(d->owner, message, wParam, lParam) : 0;
    case WM_COMMAND:  // a message box's button pressed by id, as a click does
      if (d->isMessageBox)
        for (int b : d->boxButtons)
          if (b == LOWORD(wParam)) answerBox(d, b);
      return 0;
    default: return 0;
  }
}

LRESULT controlProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT:
      DefWindowProcA(c, message, wParam, lParam);
      if (c->className == "Edit") {
        c->caret = static_cast<int32_t>(c->text.size());
        c->anchor = -1;
        notifyParent(c, EN_UPDATE);
        notifyParent(c, EN_CHANGE);
      }
      return TRUE;
    case BM_GETCHECK: return c->check;
    case BM_SETCHECK: setCheck(c, static_cast<int32_t>(wParam)); return 0;
    case CB_ADDSTRING:
      c->items.emplace_back(reinterpret_cast<LPCSTR>(lParam));
      changed();
      return static_cast<LRESULT>(c->items.size() - 1);
    case CB_GETCOUNT: return static_cast<LRESULT>(c->items.size());
    case CB_GETCURSEL: return c->selection;
    case CB_SETCURSEL: {
      int32_t row = static_cast<int32_t>(wParam);
      c->selection = row >= 0 && static_cast<size_t>(row) < c->items.size() ? row : -1;
      changed();
      return c->selection >= 0 ? c->selection : CB_ERR;
    }
    case CB_GETLBTEXT: {
      int32_t row = static_cast<int32_t>(wParam);
      if (row < 0 || static_cast<size_t>(row) >= c->items.size()) return CB_ERR;
      std::strcpy(reinterpret_cast<char*>(lParam), c->items[static_cast<size_t>(row)].c_str());
      return static_cast<LRESULT>(c->items[static_cast<size_t>(row)].size());
    }
    case CB_RESETCONTENT: c->items.clear(); c->selection = -1; changed(); return 0;
    case CB_SHOWDROPDOWN: c->droppedDown = wParam != 0; changed(); return TRUE;
    case CB_GETDROPPEDSTATE: return c->droppedDown;
    default: return DefWindowProcA(c, message, wParam, lParam);
  }
}

HWND GetDlgItem(HWND dialog, int id) {
  if (!isLiveWindow(dialog)) return nullptr;
  for (HWND c : dialog->children)
    if (c->id == id) return c;
  return nullptr;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  return SetWindowTextA(GetDlgItem(dialog, id), text);
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR out, int size) {
  return static_cast<UINT>(GetWindowTextA(GetDlgItem(dialog, id), out, size));
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  char text[64];
  if (translated) *translated = FALSE;
  HWND c = GetDlgItem(dialog, id);
  if (!c || c->text.size() >= sizeof text) return 0;
  std::strcpy(text, c->text.c_str());
  const char* p = text;
  while (*p == ' ') ++p;  // leading blanks are allowed, as on Windows
  bool negative = isSigned && *p == '-';
  if (negative) ++p;
  if (*p < '0' || *p > '9') return 0;
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > (isSigned ? 2147483648ull : 4294967295ull)) return 0;
  }
  if (*p || (isSigned && !negative && value > 2147483647ull)) return 0;
  if (translated) *translated = TRUE;
  return negative ? static_cast<UINT>(0u - static_cast<uint32_t>(value)) : static_cast<UINT>(value);
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  char text[16];
  if (isSigned) std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  else std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
  return SetDlgItemTextA(dialog, id, text);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  return SendDlgItemMessageA(dialog, id, BM_SETCHECK, check, 0) == 0 && GetDlgItem(dialog, id);
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  return static_cast<UINT>(SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
  for (int id = first; id <= last; ++id)
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
  return TRUE;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND c = GetDlgItem(dialog, id);
  return c ? SendMessageA(c, message, wParam, lParam) : 0;
}

const char* boxButtonText(int button) {
  switch (button) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "&Yes";
    case IDNO: return "&No";
    default: return "?";
  }
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  static const std::vector<int> buttonsByType[] = {
      {IDOK}, {IDOK, IDCANCEL}, {IDABORT, IDRETRY, IDIGNORE}, {IDYES, IDNO, IDCANCEL}, {IDYES, IDNO}};
  UINT kind = type & MB_TYPEMASK;
  HWND box = registerWindow(new HWND__);
  box->className = "#32770";
  box->isMessageBox = true;
  box->owner = isLiveWindow(owner) ? owner : nullptr;
  box->text = caption ? caption : "Error";
  box->boxText = text ? text : "";
  box->boxType = type;
  box->boxButtons = kind < 5 ? buttonsByType[kind] : buttonsByType[0];
  box->style = WS_POPUP | WS_VISIBLE | WS_CAPTION;
  bool ownerWasEnabled = box->owner && IsWindowEnabled(box->owner);
  if (ownerWasEnabled) EnableWindow(box->owner, FALSE);
  changed();
  if (frontEnd().boxOpened) frontEnd().boxOpened(box);
  runModal(box);
  int result = isLiveWindow(box) && box->ended ? static_cast<int>(box->result) : 0;
  if (ownerWasEnabled && isLiveWindow(owner)) EnableWindow(owner, TRUE);
  DestroyWindow(box);
  return result;
}

int cautiousButton(HWND box) {
  for (int b : box->boxButtons)
    if (b == IDCANCEL) return b;
  for (int b : box->boxButtons)
    if (b == IDNO) return b;
  return box->boxButtons.front();
}

void answerBox(HWND box, int button) {
  if (!isLiveWindow(box) || !box->isMessageBox) return;
  box->ended = true;
  box->result = button;
  changed();
}

BOOL MessageBeep(UINT type) {
  if (frontEnd().beep) frontEnd().beep(type);
  return TRUE;
}

HWND activeModal() {
  const auto& all = liveWindows();
  for (size_t i = all.size(); i-- > 0;) {
    HWND w = all[i];
    if ((w->dialog || w->isMessageBox) && !w->ended) return w;
  }
  return nullptr;
}

void userFocus(HWND c) {
  if (isLiveWindow(c) && IsWindowVisible(c) && IsWindowEnabled(c)) takeFocus(c);
}

void userClick(HWND c) {
  if (!isLiveWindow(c) || !IsWindowVisible(c) || !IsWindowEnabled(c)) return;
  if (c->className == "ComboBox") {
    SetFocus(c);
    SendMessageA(c, CB_SHOWDROPDOWN, !c->droppedDown, 0);
    return;
  }
  if (c->className == "Edit") return takeFocus(c);
  if (c->className != "Button" || isButton(c, BS_GROUPBOX)) return;
  SetFocus(c);
  if (isButton(c, BS_AUTOCHECKBOX)) setCheck(c, c->check ? BST_UNCHECKED : BST_CHECKED);
  if (isButton(c, BS_AUTORADIOBUTTON)) checkRadioInGroup(c);
  notifyParent(c, BN_CLICKED);
}

void userSetEditText(HWND edit, const char* text) {
  if (!isLiveWindow(edit) || !IsWindowEnabled(edit)) return;
  SetFocus(edit);
  SetWindowTextA(edit, text);
}

void userTypeInEdit(HWND edit, const char* text, int32_t caret) {
  if (!isLiveWindow(edit) || !IsWindowEnabled(edit)) return;
  SetFocus(edit);
  DefWindowProcA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  edit->caret = caret;
  edit->anchor = -1;
  notifyParent(edit, EN_UPDATE);
  if (isLiveWindow(edit)) notifyParent(edit, EN_CHANGE);
}

void userSelect(HWND combo, int32_t row) {
  if (!isLiveWindow(combo) || !IsWindowEnabled(combo) || !IsWindowVisible(combo)) return;
  if (row < 0 || static_cast<size_t>(row) >= combo->items.size()) return;
  SetFocus(combo);
  combo->selection = row;
  combo->droppedDown = false;
  changed();
  notifyParent(combo, CBN_SELCHANGE);
}

namespace {
HWND hostOf() {
  for (HWND w : liveWindows())
    if (!w->parent && w->wndProc) return w;
  return nullptr;
}

// Unwinds one modal level per pass, so each level's own code finishes before
// the next one is closed; the host window goes last.
void closeStep(void*) {
  HWND modal = activeModal();
  HWND host = hostOf();
  if (modal && modal->isMessageBox) {
    answerBox(modal, cautiousButton(modal));
  } else if (modal && modal->owner && modal->owner != host) {
    EndDialog(modal, IDCANCEL);
  } else {
    if (host) PostMessageA(host, WM_CLOSE, 0, 0);
    else terminateLoops();
    return;
  }
  postUserAction(closeStep, nullptr);
}
}  // namespace

void requestClose() { postUserAction(closeStep, nullptr); }
