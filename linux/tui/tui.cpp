#include "linux/tui/tui.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "linux/tui/draw.h"
#include "linux/tui/keys.h"
#include "linux/tui/pages.h"
#include "ui/res/resource.h"
#include "linux/tui/curses.h"  // last: its names are macros

namespace {
constexpr int cellWidth = 4, cellHeight = 8;

FrontEnd tui;
SCREEN* terminalScreen = nullptr;
bool dirty = true;
bool busy = false;
DrawnScreen drawn;
std::unique_ptr<Page> page;
bool chooserConfirmed = false;
bool inputLost = false;
std::string note;  // the bottom line's note

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
  // The note keeps to the bottom line, below the dialogs, and to the width.
  if (!page && !note.empty() && LINES > 0) mvaddnstr(LINES - 1, 0, note.c_str(), COLS);
  if (page) page->draw(LINES, COLS);  // a page leaves the cursor at its caret
  bool caret = page ? page->showsCaret() : drawn.caretRow >= 0;
  curs_set(caret ? 1 : 0);
  if (caret && !page) wmove(stdscr, drawn.caretRow, drawn.caretCol);
  wrefresh(stdscr);
}

void updateScreenSize() {
  tui.screenWidth = COLS * cellWidth;
  tui.screenHeight = LINES * cellHeight;
  clearok(stdscr, TRUE);
  markDirty();
}

// ---- keys --------------------------------------------------------------

constexpr int openListPage = 10;  // rows PgUp and PgDn move in an open list

char letterOf(int key) { return static_cast<char>(key & 0xFF); }

// Keys of an open list: its moves change the selection, as in a Windows
// list; Enter, Space and Esc close it. False for keys it leaves to the dialog.
bool openListKey(HWND combo, int ch) {
  KeyAction action = keyAction(openListKeys(), ch);
  if (isListMove(action)) {
    int count = static_cast<int>(combo->items.size());
    userSelect(combo, movedRow(action, combo->selection, count, openListPage));
    SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    return true;
  }
  if (action != KeyAction::Confirm && action != KeyAction::Cancel) return false;
  SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
  return true;
}

void dialogKey(HWND modal, int ch) {
  HWND focus = GetFocus();
  if (focus && focus->parent != modal) focus = nullptr;
  if (focus && focus->droppedDown && openListKey(focus, ch)) return;
  EditKey key;
  if (focus && focus->className == "Edit" && editKeyOf(keyAction(editKeys(), ch), &key))
    return userEditKey(focus, key);
  switch (keyAction(dialogKeys(), ch)) {
    case KeyAction::NextControl: return userTab(false);
    case KeyAction::PreviousControl: return userTab(true);
    case KeyAction::Back: return userArrow(-1);
    case KeyAction::Forward: return userArrow(1);
    case KeyAction::Confirm: return userEnter();
    case KeyAction::Cancel: return userEscape();
    case KeyAction::Help: return userHelp();
    case KeyAction::Minimize: return userMinimize(modal);
    case KeyAction::Mnemonic: return static_cast<void>(userMnemonic(letterOf(ch)));
    case KeyAction::Type: return userChar(letterOf(ch));
    default: return;
  }
}

void boxKey(int ch) {
  switch (keyAction(messageBoxKeys(), ch)) {
    case KeyAction::NextControl: return userTab(false);
    case KeyAction::PreviousControl: return userTab(true);
    case KeyAction::Confirm: return userEnter();
    case KeyAction::Cancel: return userEscape();
    case KeyAction::Mnemonic: return static_cast<void>(userMnemonic(letterOf(ch)));
    default: return;
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
  if (keyAction(screenKeys(), ch) == KeyAction::Redraw)
    return static_cast<void>(clearok(stdscr, TRUE));
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
  KeyAction action = keyAction(dialogKeys(), ch);
  if (!modal || (drawn.tooSmall && action != KeyAction::Cancel)) return;
  if (modal->minimized) {
    if (action == KeyAction::Minimize || action == KeyAction::Confirm) userRestore(modal);
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
// once by a letter is that letter with Alt. Returns how many keys came.
size_t drainInput() {
  std::vector<int> keys;
  for (int ch; (ch = getch()) != ERR;) keys.push_back(ch);
  for (size_t i = 0; i < keys.size(); ++i) {
    int ch = keys[i];
    if (ch == escapeKey && i + 1 < keys.size() && keys[i + 1] > ' ' && keys[i + 1] < 127)
      ch = altFlag | keys[++i];
    postUserAction(runKey, new int(ch));
  }
  return keys.size();
}

// Whether the terminal's input has ended or failed: it polls ready, yet has
// nothing to read (end of file, a hang-up, an error).
bool inputEnded() {
  pollfd ready{STDIN_FILENO, POLLIN, 0};
  if (poll(&ready, 1, 0) <= 0) return false;
  if (ready.revents & (POLLERR | POLLNVAL)) return true;
  int waiting = 0;
  if (ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0) return waiting == 0;
  char byte;  // no count to ask for: a read tells, and a key it takes goes back
  ssize_t got = read(STDIN_FILENO, &byte, 1);
  if (got == 1) ungetch(static_cast<unsigned char>(byte));
  return got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
}

// With its input gone nobody can answer the dialog: the program closes in
// order, as on Ctrl-C, and stops watching the input, which would stay ready.
void loseInput() {
  inputLost = true;
  tui.inputFd = -1;
  page.reset();
  requestClose();
}

// ---- front-end hooks ----------------------------------------------------

void tuiInputReady() {
  if (drainInput() == 0 && inputEnded()) loseInput();
}

void tuiWait(int32_t timeoutMs) {
  if (dirty) redraw();
  pollEvents(timeoutMs);
  drainInput();  // a resize shows up as a key without input on the descriptor
}

void tuiBeep(UINT) { beep(); }

BOOL tuiSound(LPCSTR, UINT) {
  beep();
  wrefresh(stdscr);
  return TRUE;
}

void tuiBoxOpened(HWND box) {
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

void tuiCursorChanged(HCURSOR cursor) {
  busy = cursor && cursor->picture && cursor->picture->isCursor;
  markDirty();
}

void tuiTextChanged(HWND w) {
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
  if (!cursesLoaded()) return nullptr;
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
  tui.boxOpened = tuiBoxOpened;
  tui.beep = tuiBeep;
  tui.playSound = tuiSound;
  tui.help = tuiHelp;
  tui.chooseFile = tuiChooseFile;
  tui.cursorChanged = tuiCursorChanged;
  tui.textChanged = tuiTextChanged;
  tui.inputFd = STDIN_FILENO;
  tui.inputReady = tuiInputReady;
  tui.wait = tuiWait;
  updateScreenSize();
  return &tui;
}

bool tuiInputLost() { return inputLost; }

void tuiShowNote(const std::string& text) {
  note = text;
  markDirty();
}

void tuiShutdown() {
  if (!terminalScreen) return;
  page.reset();
  endwin();
  terminalScreen = nullptr;
  std::fflush(stdout);
}
