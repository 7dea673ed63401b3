#include <cstdio>
#include <string>

#include "platform/posix/frontends.h"

namespace {
int idlePasses = 0;

// Box texts use CR LF line breaks and may start or end with one.
std::string plainLines(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  size_t first = out.find_first_not_of('\n');
  if (first == std::string::npos) return "";
  return out.substr(first, out.find_last_not_of('\n') - first + 1);
}

void showBox(HWND box) {
  std::fprintf(stderr, "%s: %s\n", box->text.c_str(), plainLines(box->boxText).c_str());
  answerBox(box, cautiousButton(box));
}

// What a person would read off the dialog as it closes: each "Label:" with
// the text of the control that follows it in the template.
void printSummary(HWND dialog) {
  const auto& kids = dialog->children;
  for (size_t i = 0; i + 1 < kids.size(); ++i) {
    const std::string& label = kids[i]->text;
    HWND value = kids[i + 1];
    if (kids[i]->className != "Static" || label.empty() || label.back() != ':') continue;
    if (value->id < 0 || value->text.empty() || !IsWindowVisible(value)) continue;
    std::printf("%-9s %s\n", label.c_str(), value->text.c_str());
  }
  std::fflush(stdout);
}

// Nothing can wake the loop: close as the user would, then more firmly.
void closeWhenIdle() {
  ++idlePasses;
  HWND modal = activeModal();
  if (idlePasses == 1 && modal && !modal->isMessageBox) {
    std::fputs("kronsec: nothing left to wait for (no query is running and no timer is "
               "set): closing\n", stderr);
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
  f.dialogEnded = printSummary;
  return f;
}();
}  // namespace

const FrontEnd* headlessFrontEnd() {
  idlePasses = 0;
  return &headless;
}
