#include "platform/tui/tui.h"

#include <curses.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/tui/draw.h"
#include "platform/tui/pages.h"

namespace {
constexpr int cellWidth = 4, cellHeight = 8;
constexpr int escapeKey = 27;
constexpr int altFlag = 0x10000;  // a letter typed with Alt (ESC, then the letter)

FrontEnd tui;
SCREEN* terminalScreen = nullptr;
bool dirty = true;
bool busy = false;
std::vector<HitArea> hitAreas;
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

void placeCaret() {
  HWND focus = GetFocus();
  HWND modal = activeModal();
  if (page || !focus || focus->className != "Edit" || focus->parent != modal || modal->minimized) {
    curs_set(0);
    return;
  }
  int row, col;
  controlCell(focus, &row, &col);
  int width = std::max(1, (focus->rect.right - focus->rect.left) / cellWidth);
  int scroll = std::max(0, focus->caret - (width - 1));
  curs_set(1);
  move(row, col + focus->caret - scroll);
}

void redraw() {
  dirty = false;
  hitAreas = drawWindows(busy);
  if (page) page->draw(LINES, COLS);
  placeCaret();
  refresh();
}

void updateScreenSize() {
  tui.screenWidth = COLS * cellWidth;
  tui.screenHeight = LINES * cellHeight;
  clearok(stdscr, TRUE);
  markDirty();
}

// ---- keys --------------------------------------------------------------

bool isButtonLike(HWND c) { return c && c->className == "Button"; }

void editKey(HWND edit, int ch) {
  std::string text = edit->text;
  int caret = std::min(edit->caret, static_cast<int>(text.size()));
  switch (ch) {
    case KEY_LEFT: edit->caret = std::max(0, caret - 1); return markDirty();
    case KEY_RIGHT: edit->caret = std::min(static_cast<int>(text.size()), caret + 1); return markDirty();
    case KEY_HOME: edit->caret = 0; return markDirty();
    case KEY_END: edit->caret = static_cast<int>(text.size()); return markDirty();
    case KEY_BACKSPACE: case 127: case 8:
      if (caret == 0) return;
      text.erase(static_cast<size_t>(caret - 1), 1), --caret;
      break;
    case KEY_DC:
      if (caret >= static_cast<int>(text.size())) return;
      text.erase(static_cast<size_t>(caret), 1);
      break;
    default:
      text.insert(static_cast<size_t>(caret), 1, static_cast<char>(ch)), ++caret;
      break;
  }
  userSetEditText(edit, text.c_str());
  if (isLiveWindow(edit)) edit->caret = std::min(caret, static_cast<int>(edit->text.size()));
}

bool isEditKey(int ch) {
  return (ch >= ' ' && ch < 127) || ch == KEY_LEFT || ch == KEY_RIGHT || ch == KEY_HOME ||
         ch == KEY_END || ch == KEY_BACKSPACE || ch == 127 || ch == 8 || ch == KEY_DC;
}

// Keys for an open list: moving changes the selection, as in a Windows list.
bool droppedListKey(HWND combo, int ch) {
  int count = static_cast<int>(combo->items.size());
  int step = ch == KEY_UP ? -1 : ch == KEY_DOWN ? 1 : ch == KEY_PPAGE ? -10 : ch == KEY_NPAGE ? 10 : 0;
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
  if (focus && focus->className == "Edit" && isEditKey(ch)) return editKey(focus, ch);
  switch (ch) {
    case '\t': return userTab(false);
    case KEY_BTAB: return userTab(true);
    case KEY_UP: case KEY_LEFT: return userArrow(-1);
    case KEY_DOWN: case KEY_RIGHT: return userArrow(1);
    case '\n': case '\r': case KEY_ENTER: return userEnter();
    case escapeKey: return userEscape();
    case KEY_F(1): return clickById(modal, 1000);
    case KEY_F(9): return userMinimize(modal);
    case ' ':
      if (isButtonLike(focus) || (focus && focus->className == "ComboBox")) userClick(focus);
      return;
    default:
      if (ch > ' ' && ch < 127) userMnemonic(static_cast<char>(ch));
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

void clickAt(int row, int col) {
  if (page) {
    if (!page->click(row, col)) page.reset();
    return markDirty();
  }
  HWND modal = activeModal();
  for (size_t i = hitAreas.size(); i-- > 0;) {
    const HitArea& h = hitAreas[i];
    if (row < h.top || row > h.bottom || col < h.left || col > h.right) continue;
    if (!isLiveWindow(h.window)) return;
    if (h.window->minimized) {  // an icon line: a dialog comes back, the host stays
      if (h.window->dialog) ShowWindow(h.window, SW_RESTORE);
      return;
    }
    if (h.boxButton) return h.window == modal ? answerBox(h.window, h.boxButton) : void();
    if (h.window->parent != modal) return;
    if (h.listRow >= 0) return userSelect(h.window, h.listRow);
    if (h.window->className == "Edit") {
      userFocus(h.window);
      h.window->caret = std::min(static_cast<int>(h.window->text.size()), col - h.left);
      return markDirty();
    }
    return userClick(h.window);
  }
}

void handleKey(int ch) {
  markDirty();
  if (ch == KEY_RESIZE) return updateScreenSize();
  if (ch == 12) return static_cast<void>(clearok(stdscr, TRUE));  // Ctrl-L
  if (ch == KEY_MOUSE) {
    MEVENT event;
    if (getmouse(&event) == OK && (event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)))
      clickAt(event.y, event.x);
    return;
  }
  if (page) {
    if (!page->key(ch)) page.reset();
    return;
  }
  HWND modal = activeModal();
  if (!modal) return;
  if (modal->minimized) {
    if (ch == KEY_F(9) || ch == '\n' || ch == '\r') ShowWindow(modal, SW_RESTORE);
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
