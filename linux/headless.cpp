#include <cstdio>
#include <string>

#include "linux/frontends.h"
#include "linux/report.h"

volatile sig_atomic_t stopSignal = 0;

namespace {
int idlePasses = 0;
std::string summary;

// The Big Change question is answered Cancel at once; the end of the run
// says so in one line instead of the whole question.
bool saysNothingNew(HWND box) {
  if (box->text == "Big Change") return true;
  return stopSignal != 0 && box->text == "Winsock Error";
}

void showBox(HWND box) {
  if (!saysNothingNew(box)) {
    std::fputs(headlessBoxLine(box->text, box->boxText).c_str(), stderr);
    // The box's code is still the last Winsock error while it is shown.
    if (box->text == "Winsock Error")
      std::fputs(winsockPlainLine(WSAGetLastError(), queryOutcome).c_str(), stderr);
  }
  answerBox(box, cautiousButton(box));
}

// What a person would read off the dialog as it closes: each "Label:" with
// the text of the control that follows it in the template.
void keepSummary(HWND dialog) {
  const auto& kids = dialog->children;
  summary.clear();
  for (size_t i = 0; i + 1 < kids.size(); ++i) {
    const std::string& label = kids[i]->text;
    HWND value = kids[i + 1];
    if (kids[i]->className != "Static" || label.empty() || label.back() != ':') continue;
    if (value->id < 0 || value->text.empty() || !IsWindowVisible(value)) continue;
    char line[600];
    std::snprintf(line, sizeof line, "%-9s %.580s\n", label.c_str(), value->text.c_str());
    // A value is one line: a control character in it (a TZ inherited with a
    // line break) must not start a line a script would read as its own.
    for (char* c = line; c[1]; ++c)
      if (static_cast<unsigned char>(*c) < ' ') *c = '?';
    summary += line;
  }
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
  f.dialogEnded = keepSummary;
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

const std::string& headlessSummary() { return summary; }

const FrontEnd* headlessFrontEnd() {
  idlePasses = 0;
  summary.clear();
  return &headless;
}
