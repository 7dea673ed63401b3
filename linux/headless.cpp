#include <cstdio>
#include <string>

#include "ui/boxes.h"
#include "linux/frontends.h"
#include "linux/journal.h"
#include "linux/report.h"

volatile sig_atomic_t stopSignal = 0;

namespace {
int idlePasses = 0;

// A question is answered at once with its safe button; the end of the run
// says in one line what that did, instead of the whole question. After a
// stop signal, the boxes it causes (a cancelled connect, over the host
// window) are not news.
bool saysNothingNew(HWND box) {
  if ((box->boxType & MB_TYPEMASK) == MB_YESNOCANCEL) return true;
  return stopSignal != 0 && box->owner == hostWindow;
}

// A box's line is an error: every box of the query cycle tells of a
// failure or a refusal.
void showBox(HWND box) {
  if (!saysNothingNew(box)) sayOnStderr(Priority::kError, headlessBoxLine(box->text, box->boxText));
  answerBox(box, cautiousButton(box));
}

// Nothing can wake the loop: close as the user would, then more firmly. Why
// nothing was asked is told after the run, from how it ended.
void closeWhenIdle() {
  ++idlePasses;
  HWND modal = activeModal();
  if (idlePasses == 1 && modal && !modal->isMessageBox) {
    PostMessageA(modal, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(modal, IDCANCEL)));
  } else if (idlePasses <= 2) {
    requestClose();
  } else {
    std::fputs("kronsec: the program did not close: stopping\n", stderr);
    terminateLoops();
  }
}

void headlessWait(int32_t timeoutMs) {
  // With the dialog gone only the minimised caption display is left, and
  // nobody sees it without a screen.
  if (!activeModal()) return requestClose();
  if (timeoutMs < 0 && !socketsWatched()) return closeWhenIdle();
  if (pollEvents(timeoutMs)) idlePasses = 0;
}

BOOL noHelp(HWND, LPCSTR file, UINT, ULONG_PTR) {
  std::fprintf(stderr, "kronsec: help (%s) needs the terminal front end\n", file ? file : "");
  return FALSE;
}

BOOL silentSound(LPCSTR, UINT) { return TRUE; }

const FrontEnd headless = [] {
  FrontEnd f;
  f.screenWidth = 640;
  f.screenHeight = 480;
  f.boxOpened = showBox;
  f.playSound = silentSound;
  f.help = noHelp;
  f.wait = headlessWait;
  return f;
}();

// The bytes a box's text is joined over when it becomes one line.
bool joinsWords(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string headlessBoxLine(const std::string& caption, const std::string& text) {
  std::string joined;
  for (char c : text) {
    if (!joinsWords(c)) joined += c;
    else if (!joined.empty() && joined.back() != ' ') joined += ' ';
  }
  if (!joined.empty() && joined.back() == ' ') joined.pop_back();
  const std::string own = "kronsec: ";
  if (joined.compare(0, own.size(), own) == 0) joined.erase(0, own.size());
  return own + printable(caption) + ": " + printable(joined) + "\n";
}

const FrontEnd* headlessFrontEnd() {
  idlePasses = 0;
  return &headless;
}
