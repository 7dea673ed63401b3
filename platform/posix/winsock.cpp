// Winsock 1.1 over BSD sockets: blocking connect, WSAAsyncSelect served by
// poll() in the message loop, and errno and resolver failures recorded as
// Winsock error codes.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
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
  sockaddr_storage peer{};
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
  sockaddr_storage remapped;
  if (remappedTimePort && length <= static_cast<int>(sizeof remapped)) {
    std::memcpy(&remapped, name, static_cast<size_t>(length));
    in_port_t* port = name->sa_family == AF_INET6 ? &reinterpret_cast<sockaddr_in6*>(&remapped)->sin6_port
                                                   : &reinterpret_cast<sockaddr_in*>(&remapped)->sin_port;
    if (*port == htons(timeServicePort)) *port = htons(remappedTimePort);
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

namespace {
void recordResolverError(int error) {
  switch (error) {
    case EAI_AGAIN: lastError = WSATRY_AGAIN; break;
    case EAI_FAIL: lastError = WSANO_RECOVERY; break;
    case EAI_NODATA: lastError = WSANO_DATA; break;
    case EAI_ADDRFAMILY: lastError = WSAEAFNOSUPPORT; break;
    default: lastError = WSAHOST_NOT_FOUND; break;
  }
}

KronAddress addressOf(const addrinfo* a) {
  KronAddress out{};
  out.family = a->ai_family;
  if (a->ai_family == AF_INET6) {
    const sockaddr_in6* six = reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
    std::memcpy(out.bytes, &six->sin6_addr, sizeof six->sin6_addr);
    out.scope = six->sin6_scope_id;
  } else {
    const sockaddr_in* four = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    std::memcpy(out.bytes, &four->sin_addr, sizeof four->sin_addr);
  }
  return out;
}

// An IPv6 address may come in brackets, as in URLs: [::1], [fe80::1%eth0].
std::string withoutBrackets(const char* host) {
  size_t length = std::strlen(host);
  if (length > 2 && host[0] == '[' && host[length - 1] == ']') return std::string(host + 1, length - 2);
  return host;
}

// Whether text is a literal of the other family than the one asked for:
// said as such, not as an unknown host.
bool literalOfOtherFamily(const std::string& text, int family) {
  addrinfo hints{}, *found = nullptr;
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_socktype = SOCK_STREAM;
  if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0) return false;
  bool other = found->ai_family != family;
  ::freeaddrinfo(found);
  return other;
}
}  // namespace

int32_t kronResolveHost(const char* host, int32_t family, KronAddress* out, int32_t most) {
  std::string name = withoutBrackets(host);
  if (lookupsBlocked && name != "localhost" && std::strchr(name.c_str(), ':') == nullptr &&
      ::inet_addr(name.c_str()) == INADDR_NONE) {
    lastError = WSAHOST_NOT_FOUND;
    return 0;
  }
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = family == KRON_IPV4_ONLY ? AF_INET : family == KRON_IPV6_ONLY ? AF_INET6 : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // No name holds a colon: a malformed IPv6 address is never sent to the
  // name servers.
  if (name.find(':') != std::string::npos) hints.ai_flags = AI_NUMERICHOST;
  int error = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (error != 0) {
    recordResolverError(error);
    if (hints.ai_family != AF_UNSPEC && literalOfOtherFamily(name, hints.ai_family)) lastError = WSAEAFNOSUPPORT;
    return 0;
  }
  int32_t count = 0;
  for (const addrinfo* a = found; a && count < most; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    KronAddress next = addressOf(a);
    bool seen = false;  // getaddrinfo gives an address once per socket type asked
    for (int32_t i = 0; i < count; ++i) seen = seen || std::memcmp(&out[i], &next, sizeof next) == 0;
    if (!seen) out[count++] = next;
  }
  ::freeaddrinfo(found);
  if (count == 0) lastError = WSANO_DATA;
  return count;
}

void kronAddressText(const KronAddress* address, char* out, size_t size) {
  char text[INET6_ADDRSTRLEN] = "";
  ::inet_ntop(address->family, address->bytes, text, sizeof text);
  char zone[IF_NAMESIZE] = "";
  if (address->family == AF_INET6 && address->scope && if_indextoname(address->scope, zone))
    std::snprintf(out, size, "%s%%%s", text, zone);
  else
    std::snprintf(out, size, "%s", text);
}

int kronConnectTo(SOCKET s, const KronAddress* address, uint16_t port) {
  if (address->family == AF_INET6) {
    sockaddr_in6 six{};
    six.sin6_family = AF_INET6;
    six.sin6_port = port;
    six.sin6_scope_id = address->scope;
    std::memcpy(&six.sin6_addr, address->bytes, sizeof six.sin6_addr);
    return kronConnect(s, reinterpret_cast<const sockaddr*>(&six), sizeof six);
  }
  sockaddr_in four{};
  four.sin_family = AF_INET;
  four.sin_port = port;
  std::memcpy(&four.sin_addr, address->bytes, sizeof four.sin_addr);
  return kronConnect(s, reinterpret_cast<const sockaddr*>(&four), sizeof four);
}

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
