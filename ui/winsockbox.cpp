#include "ui/winsockbox.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/handles.h"
#include "base/memory.h"
#include "base/text.h"
#include "base/units.h"
#include "platform/win32.h"
#include "timeclient/cycle.h"
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
    std::snprintf(out, shortAnswerTextSize, "only %d %s had arrived when the time ran out",
                  static_cast<int>(bytes), unit);
}

void refusedAnswerText(char* out, const QueryFailure& f) {
  if (f.step == QueryStep::kLate)
    std::snprintf(out, refusedAnswerTextSize,
                  "it took %u.%u s, over the %d s kronsec accepts: half that lag would be a guess",
                  static_cast<unsigned>(f.value / msPerSecond), static_cast<unsigned>(f.value / 100 % 10),
                  static_cast<int>(mostLagMs / msPerSecond));
  else if (f.value == 0)
    std::snprintf(out, refusedAnswerTextSize, "it was 0, which a server sends when it does not know the time");
  else
    std::snprintf(out, refusedAnswerTextSize,
                  "it was %u, a count from 1900: the server's clock was never set",
                  static_cast<unsigned>(f.value));
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

int32_t winsockErrorBox(const char* text, int code) {
  // While the box is shown its code is the thread's last Winsock error, as
  // it always was for whoever watches the box (the Linux headless lines).
  WSASetLastError(code);
  return winsockMessageBox("\r\n%s (%d)\r\n%s\r\n", text, code, winsockErrorText(code));
}
