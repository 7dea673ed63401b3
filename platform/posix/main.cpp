// kronsec's entry point on Linux: picks the front end, runs the process
// start-up, arranges for signals to end the program in order, and runs WinMain.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "app/shell.h"
#include "platform/posix/frontends.h"

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
}  // namespace

int main() {
  useFrontEnd(headlessFrontEnd());
  catchCloseSignals();
  processStartup();
  char commandLine[] = "";
  return WinMain(programInstance(), nullptr, commandLine, SW_SHOWMINNOACTIVE);
}
