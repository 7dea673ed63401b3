// timeserver: the scripted RFC 868 server as a command for the demo and for
// trying the program by hand. Port 37 needs root: run it inside a private
// network namespace (unshare -n, then ip link set lo up).
#include <arpa/inet.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "tools/timeserver/timeserver.h"

namespace {

const char kUsage[] =
    "usage: timeserver [--bind ADDR] [--port N] [--serve LIST] [--count N] [--quiet]\n"
    "\n"
    "Answers RFC 868 Time requests (TCP) with a script of behaviours.\n"
    "\n"
    "  --bind ADDR   IPv4 or IPv6 address to listen on (default 127.0.0.1; ::1)\n"
    "  --port N      TCP port, 0 for any free one (default 37, which needs root)\n"
    "  --serve LIST  comma-separated behaviours for successive connections; the\n"
    "                last one repeats (default real)\n"
    "  --count N     accept N connections, exit once they have been served\n"
    "  --quiet       log nothing but errors\n"
    "  --help        show this text\n"
    "\n"
    "Behaviours:\n"
    "  real          the machine's time now\n"
    "  offset:S      real plus S seconds (S may be negative, with decimals: 0.437)\n"
    "  fixed:N       the 32-bit value N\n"
    "  delay:MS:B    wait MS milliseconds (or LO-HI: a fresh draw each time), then B\n"
    "  short:K       send only the first K bytes (0..3), then close\n"
    "  long:K        send the 4 bytes and K zero bytes more (0..65536), then close\n"
    "  silent        send nothing; keep the connection open\n"
    "  reset         close at once with a TCP reset\n"
    "  refuse        never listen (the whole list only): the port is held and\n"
    "                every connection is refused until SIGINT or SIGTERM\n"
    "\n"
    "Each connection is logged to stderr with a UTC timestamp. Example:\n"
    "  timeserver --port 3737 --serve offset:120,short:2,real\n";

struct Options {
  std::string bind = "127.0.0.1";
  uint16_t port = 37;
  std::vector<Behaviour> script{Behaviour{}};
  uint32_t count = 0;  // 0: serve until signalled
  bool quiet = false;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "timeserver: %s\nTry 'timeserver --help'.\n", message.c_str());
  return 2;
}

bool parseNumber(const char* text, unsigned long max, unsigned long* out) {
  if (!text || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 10);
  if (errno || *end || v > max) return false;
  *out = v;
  return true;
}

// Applies one option and its value; returns an exit code, or -1 to go on.
int applyOption(const std::string& name, const char* value, Options* o) {
  unsigned long n = 0;
  std::string error;
  if (!value) return usageError("option " + name + " needs a value");
  if (name == "--bind") {
    in6_addr parsed{};
    if (inet_pton(AF_INET, value, &parsed) != 1 && inet_pton(AF_INET6, value, &parsed) != 1)
      return usageError("--bind needs an IPv4 or IPv6 address such as 127.0.0.1 or ::1, not '" +
                        std::string(value) + "'");
    o->bind = value;
  } else if (name == "--port") {
    if (!parseNumber(value, 65535, &n)) return usageError("--port needs a number from 0 to 65535");
    o->port = static_cast<uint16_t>(n);
  } else if (name == "--count") {
    if (!parseNumber(value, 0xFFFFFFFFul, &n) || n == 0)
      return usageError("--count needs a number from 1 to 4294967295");
    o->count = static_cast<uint32_t>(n);
  } else if (!parseScript(value, &o->script, &error)) {
    return usageError("--serve: " + error);
  }
  return -1;
}

// Reads the command line into *o; returns an exit code when the program
// should end now (help or a bad argument), else -1.
int parseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--quiet" || arg == "-q") {
      o->quiet = true;
      continue;
    }
    size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    if (name != "--bind" && name != "--port" && name != "--serve" && name != "--count")
      return usageError("unknown argument '" + arg + "'");
    const char* value = eq != std::string::npos ? argv[i] + eq + 1
                        : i + 1 < argc            ? argv[++i]
                                                  : nullptr;
    int rc = applyOption(name, value, o);
    if (rc >= 0) return rc;
  }
  bool refuse = o->script[0].kind == BehaviourKind::Refuse;
  if (refuse && o->count)
    return usageError("--count cannot be used with refuse: a refused connection is never served");
  return -1;
}

// Waits for --count served connections or for SIGINT/SIGTERM, which are
// blocked in every thread and taken here, so no server thread is interrupted.
void waitForEnd(const TimeServer& server, const Options& o, const sigset_t& signals) {
  for (;;) {
    if (o.count && server.finished() >= o.count) return;
    timespec slice{0, 100 * 1000000L};
    int sig = sigtimedwait(&signals, nullptr, &slice);
    if (sig > 0) {
      if (!o.quiet) std::fprintf(stderr, "timeserver: stopping on %s\n", strsignal(sig));
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int rc = parseArgs(argc, argv, &o);
  if (rc >= 0) return rc;

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  TimeServer server(o.script);
  server.setBindAddress(o.bind);
  server.setPort(o.port);
  server.setConnectionLimit(o.count);
  if (!o.quiet) server.setLogFile(stderr);
  if (!server.start()) {
    std::fprintf(stderr, "timeserver: %s\n", server.error().c_str());
    return 1;
  }
  if (!o.quiet) {
    bool refuse = o.script[0].kind == BehaviourKind::Refuse;
    std::fprintf(stderr, "timeserver: %s %s:%u, serving %s\n",
                 refuse ? "holding (not listening)" : "listening on", o.bind.c_str(),
                 static_cast<unsigned>(server.port()), describeScript(o.script).c_str());
  }
  waitForEnd(server, o, signals);
  server.stop();
  return 0;
}
