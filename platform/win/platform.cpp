// Windows-only shims: the log's open, kronsec's own clock calls, and the
// three-dimensional control library, loaded at run time and skipped where it
// is absent (it only changes how controls look).
#include "platform/win32.h"

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
