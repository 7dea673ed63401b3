#include "linux/tui/tui.h"

#include <curses.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "linux/tui/draw.h"
#include "linux/tui/pages.h"

namespace {
constexpr int cellWidth = 4, cellHeight = 8;
constexpr int escapeKey = 27;
constexpr int altFlag = 0x10000;  // a letter typed with Alt (ESC, then the letter)

FrontEnd tui;
SCREEN* terminalScreen = nullptr;
bool dirty = true;
bool busy = false;
DrawnScreen drawn;
std::unique_ptr<Page> page;
bool chooserConfirmed = false;

void markDirty() { dirty = true; }

void setTerminalTitle(const std::string& title) {
  std::string clean;
  for (char c : title)
    if (static_cast<unsigned char>(c) >= ' ') clean += c;
  std::fprintf(stdout, "\033]0;%s\007", clean.c_str());
  std::fflush(stdout);
}

void redraw() {
  dirty = false;
  drawn = drawWindows(busy);
  if (page) page->draw(LINES, COLS);
  bool caret = !page && drawn.caretRow >= 0;
  curs_set(caret ? 1 : 0);
  if (caret) move(drawn.caretRow, drawn.caretCol);
  refresh();
}

void updateScreenSize() {
  tui.screenWidth = COLS * cellWidth;
  tui.screenHeight = LINES * cellHeight;
  clearok(stdscr, TRUE);
  markDirty();
}

// ---- keys --------------------------------------------------------------

constexpr int ctrlU = 21;

bool editKeyOf(int ch, EditKey* key) {
  switch (ch) {
    case KEY_LEFT: *key = EditKey::Left; return true;
    case KEY_RIGHT: *key = EditKey::Right; return true;
    case KEY_HOME: *key = EditKey::Home; return true;
    case KEY_END: *key = EditKey::End; return true;
    case KEY_BACKSPACE: case 127: case 8: *key = EditKey::Backspace; return true;
    case KEY_DC: *key = EditKey::Delete; return true;
    case ctrlU: *key = EditKey::Clear; return true;
    default: return false;
  }
}

// Keys for an open list: moving changes the selection, as in a Windows list.
bool droppedListKey(HWND combo, int ch) {
  int count = static_cast<int>(combo->items.size());
  int step = ch == KEY_UP ? -1 : ch == KEY_DOWN ? 1 : ch == KEY_PPAGE ? -10 : ch == KEY_NPAGE ? 10 : 0;
  if (ch == KEY_HOME || ch == KEY_END) step = ch == KEY_HOME ? -count : count;
  if (step) {
    int row = combo->selection < 0 ? 0 : std::max(0, std::min(count - 1, combo->selection + step));
    userSelect(combo, row);
    SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    return true;
  }
  if (ch == '\n' || ch == '\r' || ch == KEY_ENTER || ch == ' ' || ch == escapeKey) {
    SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
    return true;
  }
  return false;
}

void clickById(HWND dialog, int id) {
  if (HWND c = GetDlgItem(dialog, id)) userClick(c);
}

void dialogKey(HWND modal, int ch) {
  HWND focus = GetFocus();
  if (focus && focus->parent != modal) focus = nullptr;
  if (focus && focus->droppedDown && droppedListKey(focus, ch)) return;
  if (ch & altFlag) return static_cast<void>(userMnemonic(static_cast<char>(ch & 0xFF)));
  EditKey key;
  if (focus && focus->className == "Edit" && editKeyOf(ch, &key)) return userEditKey(focus, key);
  switch (ch) {
    case '\t': return userTab(false);
    case KEY_BTAB: return userTab(true);
    case KEY_UP: case KEY_LEFT: return userArrow(-1);
    case KEY_DOWN: case KEY_RIGHT: return userArrow(1);
    case '\n': case '\r': case KEY_ENTER: return userEnter();
    case escapeKey: return userEscape();
    case KEY_F(1): return clickById(modal, 1000);
    case KEY_F(9): return userMinimize(modal);
    default:
      if (ch >= ' ' && ch < 127) userChar(static_cast<char>(ch));
  }
}

void boxKey(int ch) {
  if (ch & altFlag) return static_cast<void>(userMnemonic(static_cast<char>(ch & 0xFF)));
  switch (ch) {
    case '\t': case KEY_RIGHT: case KEY_DOWN: return userTab(false);
    case KEY_BTAB: case KEY_LEFT: case KEY_UP: return userTab(true);
    case '\n': case '\r': case KEY_ENTER: case ' ': return userEnter();
    case escapeKey: return userEscape();
    default:
      if (ch > ' ' && ch < 127) userMnemonic(static_cast<char>(ch));
  }
}

HWND openListOf(HWND dialog) {
  if (!dialog || dialog->isMessageBox) return nullptr;
  for (HWND c : dialog->children)
    if (c->droppedDown) return c;
  return nullptr;
}

// A click in an edit that has the focus moves the caret there; one that
// brings the focus selects the text, as Tab does.
void clickEdit(HWND edit, const HitArea& h, int col) {
  if (GetFocus() != edit) return userFocus(edit);
  edit->caret = std::min(static_cast<int>(edit->text.size()), edit->scroll + col - h.left);
  edit->anchor = -1;
}

// The area drawn last (the uppermost) at the cell, or nullptr.
const HitArea* hitAt(int row, int col) {
  for (size_t i = drawn.hits.size(); i-- > 0;) {
    const HitArea& h = drawn.hits[i];
    if (row >= h.top && row <= h.bottom && col >= h.left && col <= h.right) return &h;
  }
  return nullptr;
}

void clickAt(int row, int col) {
  if (page) {
    if (!page->click(row, col)) page.reset();
    return markDirty();
  }
  HWND modal = activeModal();
  const HitArea* h = hitAt(row, col);
  HWND open = openListOf(modal);
  if (open && (!h || h->window != open))  // a click beside an open list only closes it
    return static_cast<void>(SendMessageA(open, CB_SHOWDROPDOWN, FALSE, 0));
  if (!h || !isLiveWindow(h->window)) return;
  if (h->window->minimized) {  // an icon line: a dialog comes back, the host stays
    if (h->window->dialog) userRestore(h->window);
    return;
  }
  if (h->boxButton) return h->window == modal ? answerBox(h->window, h->boxButton) : void();
  if (h->window->parent != modal) return;
  if (h->listRow >= 0) return userSelect(h->window, h->listRow);
  if (h->window->className == "Edit") return clickEdit(h->window, *h, col);
  userClick(h->window);
}

void handleKey(int ch) {
  markDirty();
  if (ch == KEY_RESIZE) return updateScreenSize();
  if (ch == 12) return static_cast<void>(clearok(stdscr, TRUE));  // Ctrl-L
  if (ch == KEY_MOUSE) {
    MEVENT event;
    if (getmouse(&event) == OK && (event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) &&
        (page || !drawn.tooSmall))
      clickAt(event.y, event.x);
    return;
  }
  if (page) {
    if (!page->key(ch)) page.reset();
    return;
  }
  HWND modal = activeModal();
  // Keys would act on a dialog the user cannot see; only Esc, which the notice
  // offers, closes it.
  if (!modal || (drawn.tooSmall && ch != escapeKey)) return;
  if (modal->minimized) {
    if (ch == KEY_F(9) || ch == '\n' || ch == '\r') userRestore(modal);
    return;
  }
  if (modal->isMessageBox) return boxKey(ch);
  dialogKey(modal, ch);
}

void runKey(void* context) {
  int* key = static_cast<int*>(context);
  handleKey(*key);
  delete key;
}

// Reads every key waiting and queues each as a user action; ESC followed at
// once by a letter is that letter with Alt.
void drainInput() {
  std::vector<int> keys;
  for (int ch; (ch = getch()) != ERR;) keys.push_back(ch);
  for (size_t i = 0; i < keys.size(); ++i) {
    int ch = keys[i];
    if (ch == escapeKey && i + 1 < keys.size() && keys[i + 1] > ' ' && keys[i + 1] < 127)
      ch = altFlag | keys[++i];
    postUserAction(runKey, new int(ch));
  }
}

// ---- front-end hooks ----------------------------------------------------

void tuiWait(int32_t timeoutMs) {
  if (dirty) redraw();
  pollEvents(timeoutMs);
  drainInput();  // a resize shows up as a key without input on the descriptor
}

void tuiBeep(UINT) { beep(); }

BOOL tuiSound(LPCSTR, UINT) {
  beep();
  refresh();
  return TRUE;
}

void boxOpened(HWND box) {
  if (box->boxType & MB_ICONMASK) beep();
  markDirty();
}

BOOL tuiHelp(HWND, LPCSTR, UINT command, ULONG_PTR data) {
  page = makeHelpPage(command, data);
  markDirty();
  return TRUE;
}

// The chooser is modal for the program, as on Windows: the loop goes on
// (sockets and timers are served) until the user has decided.
BOOL tuiChooseFile(OPENFILENAMEA* ofn) {
  chooserConfirmed = false;
  page = makeFileChooserPage(ofn, &chooserConfirmed);
  markDirty();
  MSG msg;
  while (page) {
    if (!GetMessageA(&msg, nullptr, 0, 0)) {
      if (!loopsTerminated()) PostQuitMessage(static_cast<int>(msg.wParam));
      page.reset();
      return FALSE;
    }
    DispatchMessageA(&msg);
  }
  markDirty();
  return chooserConfirmed ? TRUE : FALSE;
}

void cursorChanged(HCURSOR cursor) {
  busy = cursor && cursor->picture && cursor->picture->isCursor;
  markDirty();
}

void textChanged(HWND w) {
  if (!w->parent && !w->isMessageBox) setTerminalTitle(w->text);
  markDirty();
}

void crashed(int sig) {
  tuiShutdown();
  signal(sig, SIG_DFL);
  raise(sig);
}
}  // namespace

const FrontEnd* tuiFrontEnd() {
  std::setlocale(LC_ALL, "");
  terminalScreen = newterm(nullptr, stdout, stdin);
  if (!terminalScreen) return nullptr;
  set_term(terminalScreen);
  cbreak();  // Ctrl-C stays a signal, which closes the program in order
  noecho();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
  mouseinterval(0);
  curs_set(0);
  useLooks(has_colors() && !std::getenv("NO_COLOR") ? Palette::Colour : Palette::Mono);
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) signal(s, crashed);
  std::atexit(tuiShutdown);
  tui.changed = markDirty;
  tui.boxOpened = boxOpened;
  tui.beep = tuiBeep;
  tui.playSound = tuiSound;
  tui.help = tuiHelp;
  tui.chooseFile = tuiChooseFile;
  tui.cursorChanged = cursorChanged;
  tui.textChanged = textChanged;
  tui.inputFd = STDIN_FILENO;
  tui.inputReady = drainInput;
  tui.wait = tuiWait;
  updateScreenSize();
  return &tui;
}

void tuiShutdown() {
  if (!terminalScreen) return;
  page.reset();
  endwin();
  terminalScreen = nullptr;
  std::fflush(stdout);
}
