#include "timeclient/client.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/memory.h"
#include "app/shell.h"
#include "app/text.h"
#include "ui/boxes.h"

namespace {
struct WinsockError {
  int code;
  const char* text;
};

const WinsockError winsockErrorTable[] = {
    {WSAEINTR, "The blocking call was cancelled"},
    {WSAEFAULT, "The namelen argument is incorrect"},
    {WSAEINVAL, "The socket is not already bound to an address"},
    {WSAEMFILE, "No more file descriptors are available"},
    {WSAEWOULDBLOCK, "The socket is marked as non-blocking - operation would block"},
    {WSAEINPROGRESS, "Blocking operation is in progress"},
    {WSAENOTSOCK, "The descriptor is not a socket"},
    {WSAEDESTADDRREQ, "A destination address is required"},
    {WSAEPROTOTYPE, "The specified protocol is the wrong type for this socket"},
    {WSAEPROTONOSUPPORT, "The specified protocol is not supported"},
    {WSAESOCKTNOSUPPORT, "The specified socket type is not supported in this address family"},
    {WSAEAFNOSUPPORT, "Specified address family not supported"},
    {WSAEADDRINUSE, "The specified address is already in use"},
    {WSAEADDRNOTAVAIL, "The specified address is not available to local machine"},
    {WSAENETDOWN, "Network subsystem has failed"},
    {WSAENETUNREACH, "The network cannot be reached from this host at this time"},
    {WSAECONNRESET, "The virtual circuit was reset by the remote side"},
    {WSAENOBUFS, "No buffer space is available.  The socket cannot be created"},
    {WSAEISCONN, "The socket is already connected"},
    {WSAETIMEDOUT, "Attempt to connect timed out"},
    {WSAECONNREFUSED, "The attempt to connect was refused"},
    {WSANOTINITIALISED, "A successful WSAStartup() was not called"},
};

constexpr size_t reportBufferSize = 1024;

// The one address record every connection attempt fills anew.
sockaddr_in serviceAddress;

bool resolveHost(const char* host) {
  uint32_t address = static_cast<uint32_t>(inet_addr(host));
  if (address != static_cast<uint32_t>(INADDR_NONE)) {
    serviceAddress.sin_addr.s_addr = address;
    return true;
  }
  hostent* entry = gethostbyname(host);
  if (!entry) {
    reportWinsockError(formatWithHost("kronsec: ", host, ": unknown host"));
    return false;
  }
  size_t length = static_cast<size_t>(entry->h_length);
  if (length > sizeof serviceAddress.sin_addr) length = sizeof serviceAddress.sin_addr;
  std::memcpy(&serviceAddress.sin_addr, entry->h_addr_list[0], length);
  return true;
}

bool settlePort(int32_t port, const char* service) {
  if (port != 0) {
    serviceAddress.sin_port = htons(static_cast<uint16_t>(port));
    return true;
  }
  servent* entry = getservbyname(service, "tcp");
  if (!entry) {
    reportWinsockError("kronsec: getservbyname failed");
    return false;
  }
  serviceAddress.sin_port = static_cast<uint16_t>(entry->s_port);
  return true;
}
}  // namespace

const char* winsockErrorText(int code) {
  for (const WinsockError& e : winsockErrorTable)
    if (e.code == code) return e.text;
  return "unknown error";
}

void shortAnswerText(char* out, int32_t bytes, bool serverClosed) {
  const char* unit = bytes == 1 ? "byte" : "bytes";
  if (serverClosed)
    std::snprintf(out, shortAnswerTextSize, "the server closed the connection after %d %s",
                  static_cast<int>(bytes), unit);
  else
    std::snprintf(out, shortAnswerTextSize, "only %d %s had arrived when kronsec read",
                  static_cast<int>(bytes), unit);
}

const char* formatWithHost(const char* before, const char* host, const char* after) {
  size_t fixed = std::strlen(before) + std::strlen(after);
  size_t room = scratchSize - 1 > fixed ? scratchSize - 1 - fixed : 0;
  std::snprintf(scratchText, scratchSize, "%s%.*s%s", before, static_cast<int>(room), host, after);
  return scratchText;
}

int32_t winsockMessageBox(const char* format, ...) {
  char* text = static_cast<char*>(heapAlloc(reportBufferSize));
  if (!text) return 0;
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(text, reportBufferSize, format, args);
  va_end(args);
  cycleMessageBox(hostWindow, text, "Winsock Error", MB_OK | MB_ICONEXCLAMATION);
  heapFree(text);
  return length < 0 ? 0 : length;
}

int32_t reportWinsockError(const char* text) {
  int code = WSAGetLastError();
  return winsockMessageBox("\r\n%s (%d)\r\n%s\r\n", text, code, winsockErrorText(code));
}

SOCKET connectToHost(const char* host, int32_t port, const char* service) {
  std::memset(&serviceAddress, 0, sizeof serviceAddress);
  serviceAddress.sin_family = AF_INET;
  if (!resolveHost(host) || !settlePort(port, service)) return INVALID_SOCKET;
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    reportWinsockError("kronsec: could not get socket");
    return INVALID_SOCKET;
  }
  if (connect(s, reinterpret_cast<const sockaddr*>(&serviceAddress), sizeof serviceAddress) >= 0)
    return s;
  // The report comes first so that it shows the error the connect left.
  reportWinsockError(formatWithHost("kronsec: could not connect to host ", host, "\r\n"));
  closesocket(s);
  return INVALID_SOCKET;
}
