// kronsec's entry point on Linux: picks the front end, runs the process
// start-up, arranges for signals to end the program in order, and runs WinMain.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/shell.h"
#include "platform/posix/frontends.h"
#include "platform/tui/tui.h"

namespace {
int closePipe[2] = {-1, -1};

void onSignal(int) {
  char byte = 1;
  ssize_t ignored = write(closePipe[1], &byte, 1);
  (void)ignored;
}

// SIGINT, SIGTERM and SIGHUP close the program through its ordered exit, so
// its settings are saved and its socket closed.
void catchCloseSignals() {
  if (pipe2(closePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  watchCloseRequests(closePipe[0]);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// The terminal front end when there is a terminal to use (KRONSEC_FRONTEND=
// headless asks for the other one); nullptr for headless.
const FrontEnd* chooseTerminal() {
  const char* wanted = std::getenv("KRONSEC_FRONTEND");
  if (wanted && std::strcmp(wanted, "headless") == 0) return nullptr;
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return nullptr;
  return tuiFrontEnd();
}
}  // namespace

int main() {
  const FrontEnd* terminal = chooseTerminal();
  useFrontEnd(terminal ? terminal : headlessFrontEnd());
  catchCloseSignals();
  processStartup();
  char commandLine[] = "";
  // Without a terminal the program behaves as if started minimised: with a
  // host and a TZ text it runs one cycle and ends by itself.
  int status = WinMain(programInstance(), nullptr, commandLine,
                       terminal ? SW_SHOWNORMAL : SW_SHOWMINNOACTIVE);
  tuiShutdown();
  return status;
}
