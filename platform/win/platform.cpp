// Windows-only shims: the log's open, kronsec's own clock calls, and the
// three-dimensional control library, loaded at run time and skipped where it
// is absent (it only changes how controls look).
#include "platform/win32.h"

#include <cstdio>
#include <cstring>

FILE* openLogForAppend(const char* path) { return std::fopen(path, "ab"); }

namespace {
// A FILETIME counts 100-nanosecond intervals.
constexpr int64_t fileTimeUnitsPerUs = 10;
}  // namespace

// Windows 95 cannot adjust its clock gradually (SetSystemTimeAdjustment is
// NT's): the change is made at once, from the UTC clock as it now stands.
int32_t kronSlewClock(int32_t deltaUs) {
  SYSTEMTIME now;
  FILETIME stamp;
  GetSystemTime(&now);
  if (!SystemTimeToFileTime(&now, &stamp)) return KRON_CLOCK_FAILED;
  ULARGE_INTEGER units;
  units.LowPart = stamp.dwLowDateTime;
  units.HighPart = stamp.dwHighDateTime;
  units.QuadPart += static_cast<uint64_t>(int64_t{deltaUs} * fileTimeUnitsPerUs);
  stamp.dwLowDateTime = units.LowPart;
  stamp.dwHighDateTime = units.HighPart;
  SYSTEMTIME moved;
  if (!FileTimeToSystemTime(&stamp, &moved) || !SetSystemTime(&moved)) return KRON_CLOCK_FAILED;
  return KRON_CLOCK_STEPPED;
}

// Windows keeps no state of its clock's synchronisation to tell.
BOOL kronClockSynchronised(int32_t, int32_t) { return TRUE; }

BOOL kronPreciseSystemTime(int64_t*) { return FALSE; }

// Windows 95 has no frequency correction to read or set.
BOOL kronClockFrequency(int64_t*) { return FALSE; }
BOOL kronSetClockFrequency(int64_t) { return FALSE; }

namespace {
// Whether host is written as an IPv6 address (bare, bracketed, with a
// zone): hexadecimal groups and colons, which no IPv4 name holds.
bool looksLikeIpv6(const char* host) {
  bool colon = false;
  for (const char* p = host; *p; ++p) {
    char c = *p;
    colon = colon || c == ':';
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex && c != ':' && c != '.' && c != '[' && c != ']' && c != '%') return colon;
  }
  return colon;
}

KronAddress ipv4Address(const void* bytes) {
  KronAddress a{};
  a.family = AF_INET;
  std::memcpy(a.bytes, bytes, 4);
  return a;
}
}  // namespace

// Windows 95's Winsock 1.1 knows IPv4 alone: the dotted address, else the
// name's addresses.
int32_t kronResolveHost(const char* host, int32_t family, KronAddress* out, int32_t most) {
  if (looksLikeIpv6(host) || family == KRON_IPV6_ONLY) {
    WSASetLastError(WSAEAFNOSUPPORT);
    return 0;
  }
  unsigned long dotted = inet_addr(host);
  if (dotted != INADDR_NONE) {
    out[0] = ipv4Address(&dotted);
    return most > 0 ? 1 : 0;
  }
  hostent* entry = gethostbyname(host);
  if (!entry) return 0;
  int32_t count = 0;
  while (count < most && entry->h_addr_list[count]) {
    out[count] = ipv4Address(entry->h_addr_list[count]);
    ++count;
  }
  return count;
}

void kronAddressText(const KronAddress* address, char* out, size_t size) {
  const uint8_t* b = address->bytes;
  std::snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

int kronConnectTo(SOCKET s, const KronAddress* address, uint16_t port) {
  sockaddr_in to;
  std::memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = port;
  std::memcpy(&to.sin_addr, address->bytes, 4);
  return connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

namespace {
HMODULE ctl3d = nullptr;

// Returns the library's entry point, or nullptr when the library or the
// entry is missing.
template <class Function>
Function ctl3dEntry(const char* name) {
  if (!ctl3d) return nullptr;
  FARPROC proc = GetProcAddress(ctl3d, name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}
}  // namespace

BOOL Ctl3dRegister(HINSTANCE instance) {
  if (!ctl3d) ctl3d = LoadLibraryA("ctl3d32.dll");
  auto f = ctl3dEntry<BOOL(WINAPI*)(HINSTANCE)>("Ctl3dRegister");
  return f ? f(instance) : FALSE;
}

BOOL Ctl3dAutoSubclass(HINSTANCE instance) {
  auto f = ctl3dEntry<BOOL(WINAPI*)(HINSTANCE)>("Ctl3dAutoSubclass");
  return f ? f(instance) : FALSE;
}

BOOL Ctl3dUnregister(HINSTANCE instance) {
  auto f = ctl3dEntry<BOOL(WINAPI*)(HINSTANCE)>("Ctl3dUnregister");
  BOOL result = f ? f(instance) : FALSE;
  if (ctl3d) FreeLibrary(ctl3d);
  ctl3d = nullptr;
  return result;
}

HBRUSH Ctl3dCtlColorEx(UINT message, WPARAM wParam, LPARAM lParam) {
  auto f = ctl3dEntry<HBRUSH(WINAPI*)(UINT, WPARAM, LPARAM)>("Ctl3dCtlColorEx");
  return f ? f(message, wParam, lParam) : nullptr;
}
