// The scripted RFC 868 server: parsing of behaviours, the accept loop and one
// small thread per connection, so that a delayed or silent connection never
// stalls the next accept.
#include "tools/timeserver/timeserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <string>
#include <utility>

namespace {

// Seconds from 1900-01-01 to 1970-01-01, the offset between the two epochs.
constexpr uint32_t kEpochDelta = 2208988800u;
constexpr uint32_t kMaxLongExtra = 65536;
constexpr uint64_t kMaxU32 = 0xFFFFFFFFu;

// Digits only, no sign, no spaces: the script is typed by people and a
// half-parsed number ("12x") is far more likely a typo than an intent.
bool parseUnsigned(std::string_view text, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    uint64_t digit = static_cast<uint64_t>(ch - '0');
    if (digit > max || v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *out = v;
  return true;
}

bool parseSigned(std::string_view text, uint64_t maxMagnitude, int64_t* out) {
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  uint64_t magnitude = 0;
  if (!parseUnsigned(text, maxMagnitude, &magnitude)) return false;
  *out = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// The behaviours that take no parameter.
bool parseBare(std::string_view text, Behaviour* out) {
  static const std::pair<const char*, BehaviourKind> names[] = {
      {"real", BehaviourKind::Real},
      {"silent", BehaviourKind::Silent},
      {"reset", BehaviourKind::Reset},
      {"refuse", BehaviourKind::Refuse}};
  for (const auto& [name, kind] : names) {
    if (text == name) {
      *out = Behaviour{};
      out->kind = kind;
      return true;
    }
  }
  return false;
}

// "MS" or "LO-HI" (LO <= HI), in milliseconds.
bool parseDelayRange(std::string_view text, uint64_t* low, uint64_t* high) {
  size_t dash = text.find('-');
  if (!parseUnsigned(text.substr(0, dash), kMaxU32, low)) return false;
  if (dash == std::string_view::npos) {
    *high = *low;
    return true;
  }
  return parseUnsigned(text.substr(dash + 1), kMaxU32, high) && *low <= *high;
}

bool parseDelay(std::string_view rest, Behaviour* out, std::string* error) {
  size_t colon = rest.find(':');
  uint64_t low = 0, high = 0;
  if (colon == std::string_view::npos || !parseDelayRange(rest.substr(0, colon), &low, &high))
    return fail(error,
                "delay needs delay:MS:BEHAVIOUR or delay:LO-HI:BEHAVIOUR with MS from 0 to "
                "4294967295");
  if (!parseBehaviour(rest.substr(colon + 1), out, error)) return false;
  if (out->kind == BehaviourKind::Refuse)
    return fail(error, "refuse cannot be delayed: it never has a connection");
  if (high + out->delayMs + out->delaySpreadMs > kMaxU32)
    return fail(error, "delays add up to more than 4294967295 ms");
  out->delayMs += static_cast<uint32_t>(low);
  out->delaySpreadMs += static_cast<uint32_t>(high - low);
  return true;
}

// Seconds with up to three decimals, signed, as milliseconds.
bool parseSecondsMs(std::string_view text, int64_t* ms) {
  size_t dot = text.find('.');
  int64_t whole = 0;
  std::string_view wholeText = text.substr(0, dot);
  bool negative = !wholeText.empty() && wholeText[0] == '-';
  if (!parseSigned(wholeText, kMaxU32, &whole)) return false;
  int64_t fraction = 0;
  if (dot != std::string_view::npos) {
    std::string_view digits = text.substr(dot + 1);
    if (digits.empty() || digits.size() > 3) return false;
    uint64_t value = 0;
    if (!parseUnsigned(digits, 999, &value)) return false;
    for (size_t i = digits.size(); i < 3; ++i) value *= 10;
    fraction = static_cast<int64_t>(value);
  }
  *ms = whole * 1000 + (negative ? -fraction : fraction);
  return true;
}

std::string secondsText(int64_t ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000);
  uint64_t magnitude = ms < 0 ? 0 - static_cast<uint64_t>(ms) : static_cast<uint64_t>(ms);
  char text[40];
  std::snprintf(text, sizeof text, "%s%llu.%03u", ms < 0 ? "-" : "",
                static_cast<unsigned long long>(magnitude / 1000),
                static_cast<unsigned>(magnitude % 1000));
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  return out;
}

std::string formatUtc(int64_t ms) {
  time_t secs = static_cast<time_t>(ms / 1000);
  struct tm t {};
  gmtime_r(&secs, &t);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                static_cast<int>(ms % 1000));
  return buf;
}

int64_t wallMs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The value `b` sends now; unsigned arithmetic gives the wrap-around RFC 868
// defines for 2036 and beyond.
uint32_t timeValue(const Behaviour& b) {
  if (b.kind == BehaviourKind::Fixed) return b.value;
  int64_t ms = wallMs() + (b.kind == BehaviourKind::Offset ? b.offsetMs : 0);
  // Truncated to its second, as a server's clock reading is.
  int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  return static_cast<uint32_t>(static_cast<uint64_t>(seconds)) + kEpochDelta;
}

// "192.0.2.1:40000", or "[::1]:40000" for an IPv6 peer.
std::string peerText(const sockaddr_storage& addr) {
  char host[INET6_ADDRSTRLEN] = "?";
  if (addr.ss_family == AF_INET6) {
    const sockaddr_in6& six = reinterpret_cast<const sockaddr_in6&>(addr);
    inet_ntop(AF_INET6, &six.sin6_addr, host, sizeof host);
    return "[" + std::string(host) + "]:" + std::to_string(ntohs(six.sin6_port));
  }
  const sockaddr_in& four = reinterpret_cast<const sockaddr_in&>(addr);
  inet_ntop(AF_INET, &four.sin_addr, host, sizeof host);
  return std::string(host) + ":" + std::to_string(ntohs(four.sin_port));
}

// The bind address as a socket address: IPv4 ("127.0.0.2") or IPv6 ("::1",
// "fd00::1"), on port; false when it is neither.
bool socketAddress(const std::string& text, uint16_t port, sockaddr_storage* out, socklen_t* length) {
  *out = sockaddr_storage{};
  sockaddr_in* four = reinterpret_cast<sockaddr_in*>(out);
  sockaddr_in6* six = reinterpret_cast<sockaddr_in6*>(out);
  if (inet_pton(AF_INET, text.c_str(), &four->sin_addr) == 1) {
    four->sin_family = AF_INET;
    four->sin_port = htons(port);
    *length = sizeof *four;
    return true;
  }
  if (inet_pton(AF_INET6, text.c_str(), &six->sin6_addr) != 1) return false;
  six->sin6_family = AF_INET6;
  six->sin6_port = htons(port);
  *length = sizeof *six;
  return true;
}

// A uniform draw from 0..spread, for jittered delays; thread-safe.
uint32_t drawUpTo(uint32_t spread) {
  if (spread == 0) return 0;
  static std::mutex lock;
  static std::mt19937 engine{std::random_device{}()};
  std::lock_guard<std::mutex> hold(lock);
  return std::uniform_int_distribution<uint32_t>(0, spread)(engine);
}

void closeFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

bool parseBehaviour(std::string_view text, Behaviour* out, std::string* error) {
  if (parseBare(text, out)) return true;
  size_t colon = text.find(':');
  std::string_view name = text.substr(0, colon);
  std::string_view arg = colon == std::string_view::npos ? "" : text.substr(colon + 1);
  Behaviour b;
  uint64_t n = 0;
  if (name == "delay") return parseDelay(arg, out, error);
  if (name == "offset") {
    b.kind = BehaviourKind::Offset;
    if (!parseSecondsMs(arg, &b.offsetMs))
      return fail(error,
                  "offset needs offset:S with S in seconds (up to three decimals), "
                  "|S| <= 4294967295");
  } else if (name == "fixed") {
    b.kind = BehaviourKind::Fixed;
    if (!parseUnsigned(arg, kMaxU32, &n))
      return fail(error, "fixed needs fixed:N with N from 0 to 4294967295");
    b.value = static_cast<uint32_t>(n);
  } else if (name == "short") {
    b.kind = BehaviourKind::Short;
    if (!parseUnsigned(arg, 3, &n)) return fail(error, "short needs short:K with K from 0 to 3");
    b.bytes = static_cast<uint32_t>(n);
  } else if (name == "long") {
    b.kind = BehaviourKind::Long;
    if (!parseUnsigned(arg, kMaxLongExtra, &n))
      return fail(error, "long needs long:K with K from 0 to 65536");
    b.bytes = static_cast<uint32_t>(n);
  } else {
    return fail(error, "unknown behaviour " + quoted(text) +
                           " (expected real, offset:S, fixed:N, delay:MS:B, short:K, long:K, "
                           "silent, reset or refuse)");
  }
  *out = b;
  return true;
}

bool parseScript(std::string_view list, std::vector<Behaviour>* out, std::string* error) {
  std::vector<Behaviour> script;
  bool refuse = false;
  for (;;) {
    size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.empty()) return fail(error, "empty behaviour in the list " + quoted(list));
    Behaviour b;
    if (!parseBehaviour(item, &b, error)) return false;
    refuse = refuse || b.kind == BehaviourKind::Refuse;
    script.push_back(b);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  // A refused connection is never accepted, so nothing could count it and
  // move the script on: refuse stands for the whole run or not at all.
  if (refuse && script.size() > 1) return fail(error, "refuse can only be the whole list");
  *out = std::move(script);
  return true;
}

std::string describeBehaviour(const Behaviour& b) {
  std::string text;
  if (b.delayMs || b.delaySpreadMs) text = "delay:" + std::to_string(b.delayMs);
  if (b.delaySpreadMs) text += "-" + std::to_string(b.delayMs + b.delaySpreadMs);
  if (!text.empty()) text += ":";
  switch (b.kind) {
    case BehaviourKind::Real: return text + "real";
    case BehaviourKind::Offset: return text + "offset:" + secondsText(b.offsetMs);
    case BehaviourKind::Fixed: return text + "fixed:" + std::to_string(b.value);
    case BehaviourKind::Short: return text + "short:" + std::to_string(b.bytes);
    case BehaviourKind::Long: return text + "long:" + std::to_string(b.bytes);
    case BehaviourKind::Silent: return text + "silent";
    case BehaviourKind::Reset: return text + "reset";
    case BehaviourKind::Refuse: return text + "refuse";
  }
  return text + "?";
}

std::string describeScript(const std::vector<Behaviour>& script) {
  std::string text;
  for (const Behaviour& b : script) text += (text.empty() ? "" : ",") + describeBehaviour(b);
  return text;
}

// ---------------------------------------------------------------------------

struct TimeServer::Connection {
  int fd = -1;
  int stopFd = -1;
  ConnectionRecord record;
};

namespace {

enum class Waited { Timeout, ClientClosed, Stopped };

// Waits for the stop pipe, the client's close or the timeout (-1: none).
// Whatever the client sends is read and dropped: left unread, it would turn
// our close into an RST.
Waited waitOn(int fd, int stopFd, int64_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int left = -1;
    if (timeoutMs >= 0) {
      auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (rest.count() <= 0) return Waited::Timeout;
      // Rounded up, so the wait is never shorter than asked.
      left = static_cast<int>(std::min<int64_t>(rest.count() + 1, 1000000));
    }
    pollfd p[2] = {{stopFd, POLLIN, 0}, {fd, POLLIN, 0}};
    int n = poll(p, 2, left);
    if (n < 0 && errno != EINTR) return Waited::Stopped;
    if (n <= 0) continue;
    if (p[0].revents) return Waited::Stopped;
    if (p[1].revents) {
      char scratch[256];
      ssize_t got = recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return Waited::ClientClosed;
    }
  }
}

// Sends all of `data` on the non-blocking socket unless the server stops or
// the client goes away; returns the bytes sent.
uint32_t sendAll(int fd, int stopFd, const unsigned char* data, uint32_t size) {
  uint32_t sent = 0;
  while (sent < size) {
    ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    pollfd p[2] = {{stopFd, POLLIN, 0}, {fd, POLLOUT, 0}};
    if (poll(p, 2, -1) < 0 && errno != EINTR) break;
    if (p[0].revents) break;
  }
  return sent;
}

void drainInput(int fd) {
  char scratch[256];
  while (recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

TimeServer::TimeServer() : script_{Behaviour{}} {}

TimeServer::TimeServer(std::vector<Behaviour> script) : TimeServer() {
  setScript(std::move(script));
}

TimeServer::~TimeServer() { stop(); }

void TimeServer::setScript(std::vector<Behaviour> script) {
  if (!script.empty()) script_ = std::move(script);
}

void TimeServer::setBindAddress(const std::string& address) { bindAddress_ = address; }
void TimeServer::setPort(uint16_t port) { requestedPort_ = port; }
void TimeServer::setLogFile(FILE* log) { logFile_ = log; }
void TimeServer::setConnectionLimit(uint32_t limit) { limit_ = limit; }

bool TimeServer::start() {
  if (started_) return fail(&error_, "the server was already started");
  sockaddr_storage addr{};
  socklen_t length = 0;
  if (!socketAddress(bindAddress_, requestedPort_, &addr, &length))
    return fail(&error_, "not an IPv4 or IPv6 address: " + quoted(bindAddress_));
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return fail(&error_, std::string("pipe: ") + strerror(errno));
  started_ = true;
  stopRead_ = pipeFds[0];
  stopWrite_ = pipeFds[1];
  bool refuse = script_.size() == 1 && script_[0].kind == BehaviourKind::Refuse;
  if (!openListener(&addr, length, !refuse)) {
    stop();
    return false;
  }
  // Bound but not listening, the port answers every SYN with an RST: that is
  // refuse, and nothing needs accepting.
  if (!refuse) acceptThread_ = std::thread([this] { acceptLoop(); });
  return true;
}

bool TimeServer::openListener(sockaddr_storage* addr, socklen_t length, bool listening) {
  const char* step = "socket";
  listenFd_ = socket(addr->ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ >= 0) {
    int one = 1;
    // A restarted server must get its port back while old connections linger.
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    step = "bind";
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(addr), length) == 0) {
      step = "listen";
      if (!listening || listen(listenFd_, 16) == 0) step = nullptr;
    }
  }
  if (step) {
    error_ = std::string(step) + " " + bindAddress_ + ":" + std::to_string(requestedPort_) +
             ": " + strerror(errno);
    return false;
  }
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(addr), &length);
  boundPort_ = ntohs(addr->ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(addr)->sin6_port
                                                 : reinterpret_cast<sockaddr_in*>(addr)->sin_port);
  return true;
}

void TimeServer::stop() {
  if (!started_) return;
  if (stopWrite_ >= 0) {
    char wake = 1;
    ssize_t ignored = write(stopWrite_, &wake, 1);
    (void)ignored;
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  std::map<uint32_t, std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
    doneWorkers_.clear();
  }
  for (auto& [number, thread] : workers) thread.join();
  closeFd(&listenFd_);
  closeFd(&stopRead_);
  closeFd(&stopWrite_);
}

void TimeServer::acceptLoop() {
  for (;;) {
    pollfd p[2] = {{stopRead_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
    int n = poll(p, listenFd_ >= 0 ? 2 : 1, -1);
    if (n < 0 && errno != EINTR) return;
    if (p[0].revents) return;
    reapWorkers();
    if (n <= 0 || listenFd_ < 0 || !p[1].revents) continue;
    acceptOne();
  }
}

void TimeServer::acceptOne() {
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;  // the client gave up before we got to it, or no fds left
  Connection c;
  c.fd = fd;
  c.stopFd = stopRead_;
  c.record.acceptedMs = wallMs();
  c.record.peer = peerText(peer);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    c.record.number = ++accepted_;
    size_t index = std::min<size_t>(accepted_ - 1, script_.size() - 1);
    c.record.behaviour = script_[index];
    records_.push_back(c.record);
  }
  // Past the limit, later clients are refused rather than left waiting in the
  // backlog of a server that will not answer them. Closed before this
  // connection is served, so whoever saw it served also sees the refusal.
  if (limit_ && c.record.number >= limit_) closeFd(&listenFd_);
  changed_.notify_all();
  writeLog(c.record, false);
  uint32_t number = c.record.number;
  std::thread worker([this, c]() mutable { serve(std::move(c)); });
  std::lock_guard<std::mutex> lock(mutex_);
  workers_.emplace(number, std::move(worker));
}

// Joins the threads of connections that are over, so a long-running tool
// does not collect finished threads.
void TimeServer::reapWorkers() {
  std::vector<std::thread> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint32_t number : doneWorkers_) {
      auto it = workers_.find(number);
      if (it == workers_.end()) continue;
      done.push_back(std::move(it->second));
      workers_.erase(it);
    }
    doneWorkers_.clear();
  }
  for (std::thread& t : done) t.join();
}

void TimeServer::serve(Connection c) {
  ConnectionRecord r = c.record;
  Waited waited = Waited::Timeout;
  uint32_t delay = r.behaviour.delayMs + drawUpTo(r.behaviour.delaySpreadMs);
  if (delay) waited = waitOn(c.fd, c.stopFd, delay);
  if (waited == Waited::Stopped) {
    r.ending = "server stopped";
  } else if (waited == Waited::ClientClosed) {
    r.ending = "client closed";
  } else if (r.behaviour.kind == BehaviourKind::Silent) {
    waited = waitOn(c.fd, c.stopFd, -1);
    r.ending = waited == Waited::Stopped ? "server stopped" : "client closed";
  } else if (r.behaviour.kind == BehaviourKind::Reset) {
    linger abortive{1, 0};
    setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    r.ending = "reset";
  } else {
    answer(c, &r);
  }
  finish(c, std::move(r));
}

void TimeServer::answer(Connection& c, ConnectionRecord* r) {
  const Behaviour& b = r->behaviour;
  uint32_t value = timeValue(b);
  std::vector<unsigned char> data(4, 0);
  data[0] = static_cast<unsigned char>(value >> 24);
  data[1] = static_cast<unsigned char>(value >> 16);
  data[2] = static_cast<unsigned char>(value >> 8);
  data[3] = static_cast<unsigned char>(value);
  if (b.kind == BehaviourKind::Short) data.resize(b.bytes);
  if (b.kind == BehaviourKind::Long) data.resize(4 + b.bytes, 0);
  r->answered = true;
  r->value = value;
  r->bytesSent = sendAll(c.fd, c.stopFd, data.data(), static_cast<uint32_t>(data.size()));
  r->ending = r->bytesSent == data.size() ? "answered" : "send failed";
  drainInput(c.fd);
}

void TimeServer::finish(Connection& c, ConnectionRecord result) {
  closeFd(&c.fd);
  result.finished = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    records_[result.number - 1] = result;
    ++finished_;
    doneWorkers_.push_back(result.number);
  }
  changed_.notify_all();
  writeLog(result, true);
}

void TimeServer::writeLog(const ConnectionRecord& r, bool atEnd) {
  if (!logFile_) return;
  char line[400];
  std::string when = formatUtc(wallMs());
  if (!atEnd) {
    std::snprintf(line, sizeof line, "%s #%u from %s: %s\n", when.c_str(),
                  static_cast<unsigned>(r.number), r.peer.c_str(),
                  describeBehaviour(r.behaviour).c_str());
  } else if (r.answered) {
    std::snprintf(line, sizeof line, "%s #%u %s, %u bytes of value %u\n", when.c_str(),
                  static_cast<unsigned>(r.number), r.ending.c_str(),
                  static_cast<unsigned>(r.bytesSent), static_cast<unsigned>(r.value));
  } else {
    std::snprintf(line, sizeof line, "%s #%u %s, nothing sent\n", when.c_str(),
                  static_cast<unsigned>(r.number), r.ending.c_str());
  }
  // One write per line keeps lines from concurrent connections whole.
  std::fputs(line, logFile_);
  std::fflush(logFile_);
}

uint32_t TimeServer::accepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

uint32_t TimeServer::finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool TimeServer::waitCount(const uint32_t& count, uint32_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return count >= n; });
}

bool TimeServer::waitAccepted(uint32_t n, int timeoutMs) const {
  return waitCount(accepted_, n, timeoutMs);
}

bool TimeServer::waitFinished(uint32_t n, int timeoutMs) const {
  return waitCount(finished_, n, timeoutMs);
}

std::vector<ConnectionRecord> TimeServer::log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}
