// Winsock 1.1 over BSD sockets: blocking connect, WSAAsyncSelect served by
// poll() in the message loop, and errno and resolver failures recorded as
// Winsock error codes.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix/core.h"
#include "platform/posix/winsock_seam.h"

#undef socket
#undef connect
#undef recv
#undef gethostbyname
#undef getservbyname
#undef inet_addr

namespace {
struct Watch {
  SOCKET s;
  HWND window;
  UINT message;
  LONG events;
  bool readArmed;  // FD_READ is posted once per readiness, re-armed by recv
};

std::vector<Watch> watches;
// Sockets whose connection stood and was reset before the first read: the
// reset is the first read's answer, as Windows gives it.
std::vector<SOCKET> resetBeforeRead;
int lastError = 0;
uint32_t closeCalls = 0;
uint16_t remappedTimePort = 0;
bool lookupsBlocked = false;
constexpr uint16_t timeServicePort = 37;
// Windows gives up a connect that gets no answer after about this long.
constexpr uint32_t connectTimeoutMs = 21000;
int startupError = 0;
WORD startupVersion = MAKEWORD(1, 1);

struct ErrnoCode {
  int errnoValue;
  int wsaCode;
};
const ErrnoCode errnoCodes[] = {
    {EINTR, WSAEINTR},         {ECANCELED, WSAEINTR},       {EFAULT, WSAEFAULT},          {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},        {ENFILE, WSAEMFILE},          {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEINPROGRESS},   {EALREADY, WSAEALREADY},        {ENOTSOCK, WSAENOTSOCK},
    {EBADF, WSAENOTSOCK},         {EDESTADDRREQ, WSAEDESTADDRREQ},    {EPROTOTYPE, WSAEPROTOTYPE},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT}, {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT}, {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},   {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},   {ECONNABORTED, WSAECONNABORTED},    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},         {ENOBUFS, WSAENOBUFS},         {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},       {ENOTCONN, WSAENOTCONN},        {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},  {EHOSTUNREACH, WSAEHOSTUNREACH},    {EHOSTDOWN, WSAEHOSTDOWN},
};

void recordErrno(int value) {
  lastError = 0;
  for (const ErrnoCode& e : errnoCodes)
    if (e.errnoValue == value) lastError = e.wsaCode;
  if (!lastError) lastError = value;  // no Winsock name: shown as "unknown error"
}

int fdOf(SOCKET s) { return static_cast<int>(s); }

Watch* findWatch(SOCKET s) {
  for (Watch& w : watches)
    if (w.s == s) return &w;
  return nullptr;
}

void post(const Watch& w, LONG event) {
  PostMessageA(w.window, w.message, static_cast<WPARAM>(w.s), MAKELONG(event, 0));
}

bool isConnected(SOCKET s) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  return getpeername(fdOf(s), reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

uint32_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec) * 1000u + static_cast<uint32_t>(now.tv_nsec / 1000000);
}

// Waits for a connect in progress on fd: returns its error (0 when it
// stands), ETIMEDOUT when the peer stays silent as long as Windows would
// wait, or ECANCELED when the program is asked to close meanwhile. The close
// request stays pending for the message loop to act on.
int awaitConnect(int fd) {
  uint32_t start = monotonicMs();
  pollfd p[2] = {{fd, POLLOUT, 0}, {closeRequestDescriptor(), POLLIN, 0}};
  for (;;) {
    uint32_t waited = monotonicMs() - start;
    if (waited >= connectTimeoutMs) return ETIMEDOUT;
    int ready = poll(p, 2, static_cast<int>(connectTimeoutMs - waited));
    if (ready < 0 && errno != EINTR) return errno;
    if (ready <= 0) continue;
    if (p[1].revents) return ECANCELED;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
}
}  // namespace

void setWinsockStartup(int error, WORD version) {
  startupError = error;
  startupVersion = version;
}

int WSAStartup(WORD, LPWSADATA data) {
  if (startupError) return startupError;
  std::memset(data, 0, sizeof *data);
  data->wVersion = startupVersion;
  data->wHighVersion = MAKEWORD(1, 1);
  std::strcpy(data->szDescription, "kronsec sockets over BSD sockets");
  std::strcpy(data->szSystemStatus, "Running");
  data->iMaxSockets = 256;
  return 0;
}

int WSACleanup() { return 0; }
int WSAGetLastError() { return lastError; }
void WSASetLastError(int error) { lastError = error; }

SOCKET kronSocket(int family, int type, int protocol) {
  int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) return recordErrno(errno), INVALID_SOCKET;
  return static_cast<SOCKET>(fd);
}

int kronConnect(SOCKET s, const sockaddr* name, int length) {
  int fd = fdOf(s);
  sockaddr_in remapped;
  if (remappedTimePort && name->sa_family == AF_INET && length >= static_cast<int>(sizeof remapped)) {
    std::memcpy(&remapped, name, sizeof remapped);
    if (remapped.sin_port == htons(timeServicePort)) remapped.sin_port = htons(remappedTimePort);
    name = reinterpret_cast<const sockaddr*>(&remapped);
  }
  // Connecting without blocking lets a signal or a silent peer end the wait,
  // which a blocking connect would hold for the kernel's two minutes.
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return recordErrno(errno), SOCKET_ERROR;
  int error = ::connect(fd, name, static_cast<socklen_t>(length)) == 0 ? 0 : errno;
  if (error == EINPROGRESS || error == EINTR) error = awaitConnect(fd);
  fcntl(fd, F_SETFL, flags);
  // A refused handshake is ECONNREFUSED; a reset means it had succeeded.
  if (error == ECONNRESET) resetBeforeRead.push_back(s), error = 0;
  if (error == 0) return 0;
  recordErrno(error);
  return SOCKET_ERROR;
}

int kronRecv(SOCKET s, char* buffer, int length, int flags) {
  if (Watch* w = findWatch(s)) w->readArmed = true;
  auto reset = std::find(resetBeforeRead.begin(), resetBeforeRead.end(), s);
  if (reset != resetBeforeRead.end()) {
    resetBeforeRead.erase(reset);
    return recordErrno(ECONNRESET), SOCKET_ERROR;
  }
  ssize_t n;
  do n = ::recv(fdOf(s), buffer, static_cast<size_t>(length), flags);
  while (n < 0 && errno == EINTR);
  if (n < 0) return recordErrno(errno), SOCKET_ERROR;
  return static_cast<int>(n);
}

int closesocket(SOCKET s) {
  resetBeforeRead.erase(std::remove(resetBeforeRead.begin(), resetBeforeRead.end(), s),
                        resetBeforeRead.end());
  ++closeCalls;
  for (auto it = watches.begin(); it != watches.end(); ++it)
    if (it->s == s) {
      watches.erase(it);
      break;
    }
  if (::close(fdOf(s)) != 0) return recordErrno(errno), SOCKET_ERROR;
  return 0;
}

hostent* kronGetHostByName(const char* name) {
  if (lookupsBlocked && std::strcmp(name, "localhost") != 0) {
    lastError = WSAHOST_NOT_FOUND;
    return nullptr;
  }
  hostent* entry = ::gethostbyname(name);
  if (!entry) {
    switch (h_errno) {
      case HOST_NOT_FOUND: lastError = WSAHOST_NOT_FOUND; break;
      case TRY_AGAIN: lastError = WSATRY_AGAIN; break;
      case NO_RECOVERY: lastError = WSANO_RECOVERY; break;
      default: lastError = WSANO_DATA; break;
    }
  }
  return entry;
}

servent* kronGetServByName(const char* name, const char* proto) {
  servent* entry = ::getservbyname(name, proto);
  if (!entry) lastError = WSANO_DATA;
  return entry;
}

in_addr_t kronInetAddr(const char* text) { return ::inet_addr(text); }

int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events) {
  int fd = fdOf(s);
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
    return recordErrno(errno), SOCKET_ERROR;
  Watch* w = findWatch(s);
  if (events == 0) {
    if (w) watches.erase(watches.begin() + (w - watches.data()));
    return 0;
  }
  if (!isLiveWindow(window)) return lastError = WSAEINVAL, SOCKET_ERROR;
  if (!w) watches.push_back(Watch{s, window, message, events, true}), w = &watches.back();
  *w = Watch{s, window, message, events, true};
  // The connect has already completed (it blocks): report it at once.
  if ((events & FD_CONNECT) && isConnected(s)) post(*w, FD_CONNECT);
  return 0;
}

void collectSocketPolls(std::vector<pollfd>& fds) {
  for (const Watch& w : watches)
    if ((w.events & FD_READ) && w.readArmed) fds.push_back(pollfd{fdOf(w.s), POLLIN, 0});
}

void socketsReady(const std::vector<pollfd>& fds, size_t first) {
  for (size_t i = first; i < fds.size(); ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    Watch* w = findWatch(static_cast<SOCKET>(fds[i].fd));
    if (!w || !w->readArmed) continue;
    w->readArmed = false;  // a peer's close counts as readable too
    post(*w, FD_READ);
  }
}

bool socketsWatched() {
  for (const Watch& w : watches)
    if (w.readArmed) return true;
  return false;
}

void setTestNetwork(uint16_t timePort, bool blockNameLookups) {
  remappedTimePort = timePort;
  lookupsBlocked = blockNameLookups;
}

uint32_t socketCloseCalls() { return closeCalls; }

void resetSockets() {
  closeCalls = 0;
  remappedTimePort = 0;
  lookupsBlocked = false;
  for (const Watch& w : watches) ::close(fdOf(w.s));
  watches.clear();
  resetBeforeRead.clear();
  lastError = 0;
  startupError = 0;
  startupVersion = MAKEWORD(1, 1);
}
