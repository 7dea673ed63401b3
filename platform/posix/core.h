// Inside the Linux Win32 layer: the window objects, the message queue, the
// dialog manager, and the seam to the front end that shows them.
#pragma once
#include <poll.h>

#include <string>
#include <vector>

#include "platform/posix/resources.h"
#include "platform/win32.h"

// A window, dialog or control. Handles are pointers to these; a destroyed
// window is removed from the live set, so a stale handle is recognised.
struct HWND__ {
  std::string className;
  WNDPROC wndProc = nullptr;
  DLGPROC dlgProc = nullptr;
  HWND parent = nullptr;   // controls: their dialog
  HWND owner = nullptr;    // dialogs and boxes: the window they are modal over
  int32_t id = -1;
  std::string text;
  uint32_t style = 0;
  RECT rect{};             // top-level: screen pixels; controls: dialog units
  bool minimized = false;
  std::vector<LONG_PTR> extra;
  LONG_PTR userData = 0;
  LONG_PTR msgResult = 0;
  HICON classIcon = nullptr;
  // Controls.
  const ControlTemplate* control = nullptr;
  int32_t check = 0;
  std::vector<std::string> items;
  int32_t selection = -1;
  bool droppedDown = false;
  std::string typed;       // list: the type-ahead prefix
  DWORD typedAt = 0;       // list: when its last letter came (GetTickCount)
  int32_t caret = 0;       // edit: insertion point
  int32_t anchor = -1;     // edit: the other end of the selection, or -1
  int32_t scroll = 0;      // edit: the first character the front end shows
  // Dialogs and message boxes.
  const DialogTemplate* dialog = nullptr;
  std::vector<HWND> children;
  HWND focus = nullptr;
  bool ended = false;
  INT_PTR result = 0;
  bool isMessageBox = false;
  UINT boxType = 0;
  std::string boxText;
  std::vector<int> boxButtons;  // IDOK, IDYES... in display order
};

// Icons and cursors loaded from the program's resources, or the stock arrow.
struct HICON__ {
  const PictureResource* picture;  // nullptr for a stock cursor
  int32_t stockId;
};

// What a front end supplies. Every hook is optional except wait.
struct FrontEnd {
  int32_t screenWidth = 320;   // pixels: a character cell is 4 x 8
  int32_t screenHeight = 192;
  // Something visible changed (text, state, a window opened or closed).
  void (*changed)() = nullptr;
  // A message box opened; the front end may answer it at once (answerBox).
  void (*boxOpened)(HWND box) = nullptr;
  void (*beep)(UINT type) = nullptr;
  BOOL (*playSound)(LPCSTR name, UINT flags) = nullptr;
  BOOL (*help)(HWND owner, LPCSTR file, UINT command, ULONG_PTR data) = nullptr;
  BOOL (*chooseFile)(OPENFILENAMEA* ofn) = nullptr;
  void (*cursorChanged)(HCURSOR cursor) = nullptr;
  // A dialog is ending (EndDialog), while its controls still show their texts.
  void (*dialogEnded)(HWND dialog) = nullptr;
  // A window's or control's text changed (captions, labels, edits).
  void (*textChanged)(HWND window) = nullptr;
  // Extra descriptor to watch (terminal input), and what to do when ready.
  int inputFd = -1;
  void (*inputReady)() = nullptr;
  // Blocks until something may have happened: at most timeoutMs (-1: no
  // timer is due, so only input or a socket can wake the program).
  void (*wait)(int32_t timeoutMs) = nullptr;
};

// Installs the front end used from now on; it must outlive its use.
void useFrontEnd(const FrontEnd* frontEnd);
const FrontEnd& frontEnd();

// Returns every piece of window, queue and timer state to that of a fresh
// process (windows are dropped without messages).
void resetWindowing();

// Keeps a control of every dialog made from a template disabled for the rest
// of the run, whatever the dialog's own code does: for a choice the command
// line made for this run alone, which the dialog shows but cannot change.
void holdControlForRun(int32_t dialogId, int32_t controlId);

// Makes every GetMessageA return FALSE so that all loops unwind; for ending a
// program from outside (test teardown, signals).
void terminateLoops();
bool loopsTerminated();

// Waits up to timeoutMs (-1 forever) for a socket or the front end's input,
// and posts what arrived; returns true when something did.
bool pollEvents(int32_t timeoutMs);

// Milliseconds until the next timer is due (0 when one is due now), or -1.
int32_t msUntilNextTimer();

// Whether any window is registered for socket notifications.
bool socketsWatched();

// Socket layer hooks used by pollEvents.
void collectSocketPolls(std::vector<pollfd>& fds);
void socketsReady(const std::vector<pollfd>& fds, size_t first);
void resetSockets();

// Window bookkeeping shared by the modules of the layer.
HWND registerWindow(HWND window);
void resetWindowState();
// Whether holdControlForRun holds this control of this dialog template.
bool heldForRun(int32_t dialogId, int32_t controlId);
void KillTimersOf(HWND window);
void resetTimersAndQueue();
// The built-in procedures of dialogs, message boxes and controls.
LRESULT dialogDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT controlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Live windows, top-level first in creation order.
const std::vector<HWND>& liveWindows();
bool isLiveWindow(HWND window);

// The innermost modal window (dialog or box) still open, or nullptr.
HWND activeModal();

// Queues an action to run on the program's thread as if it were a message:
// how input reaches the dialogs, so that handlers never run inside a wait.
void postUserAction(void (*action)(void* context), void* context);

// The text a box button shows ("OK", "&Yes", ...).
const char* boxButtonText(int button);

// User actions as the dialog manager performs them on the active window.
void userClick(HWND control);
void userSetEditText(HWND edit, const char* text);
// A keystroke's result in an edit: the new text with the caret at `caret`,
// then EN_UPDATE and EN_CHANGE, which may put other text in.
void userTypeInEdit(HWND edit, const char* text, int32_t caret);
void userSelect(HWND combo, int32_t row);
// Focus that the user moves (Tab, mnemonic, click) selects an edit's text,
// as the Windows dialog manager does, so typing replaces it.
void userFocus(HWND control);
// The focus into a dialog that is being activated: its first tab stop,
// unless one of its controls has it already.
void focusIntoDialog(HWND dialog);
void userEnter();
void userEscape();
void userTab(bool backwards);
void userArrow(int32_t delta);
bool userMnemonic(char letter);
// F1 on the active dialog: WM_HELP, as Windows sends it.
void userHelp();
void userMinimize(HWND window);
// Brings a minimised dialog back; the focus returns into it as on activation.
void userRestore(HWND window);
// A typed character: into the focused edit, type-ahead in the focused list,
// a press of a focused button's Space, or else a mnemonic.
void userChar(char ch);

// What a key does to the text of an edit; Type inserts ch.
enum class EditKey { Type, Backspace, Delete, Left, Right, Home, End, Clear };
// The key on the focused edit: typing replaces the selection, the moves drop
// it. The changed text goes in with WM_SETTEXT, so EN_UPDATE reads what shows.
void userEditKey(HWND edit, EditKey key, char ch = 0);

// A text field's text, caret and selection (from anchor to caret; -1: none)
// apart from any window, for a front end's own fields.
struct EditField {
  std::string text;
  int32_t caret = 0;
  int32_t anchor = -1;
};
// Applies the key as userEditKey does to an edit; returns whether the text
// changed.
bool editFieldKey(EditField& field, EditKey key, char ch = 0);

// The instance handle the program runs under on Linux.
HINSTANCE programInstance();

// Asks the program to end the way a user would: open boxes are cancelled,
// secondary dialogs closed, then the host window is closed, which runs the
// program's ordered exit. Safe to call from any point of the loop.
void requestClose();

// A descriptor whose readability means "close now" (a signal arrived);
// pollEvents drains it and calls requestClose.
void watchCloseRequests(int fd);
// The descriptor given to watchCloseRequests, or -1; a blocking call that
// must give way to a close request watches it too.
int closeRequestDescriptor();
// Whether a close request has come through that descriptor: one waiting on
// it, or one the loop has taken already (the run is ending on a signal).
bool closeRequestArrived();

// The button of a box that changes least (Cancel, else No, else the first):
// the answer given when the program answers for the user.
int cautiousButton(HWND box);

// The automatic radio buttons of c's group, in template order: from the last
// WS_GROUP control at or before c to the next one.
std::vector<HWND> radioGroup(HWND c);

// Ends an open message box with the given button.
void answerBox(HWND box, int button);

// The template of a window's dialog, for drawing.
HWND dialogOf(HWND control);

// Pixel rectangle of a control on the screen (dialog units become pixels
// 1:1, offset by the dialog's client origin).
RECT controlScreenRect(HWND control);

// The non-client frame of a top-level window in pixels: a caption row on top
// and a column on each side.
constexpr int32_t frameSide = 4;
constexpr int32_t frameTop = 8;
