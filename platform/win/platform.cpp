// Windows-only shims: the three-dimensional control library, loaded at run
// time and skipped where it is absent (it only changes how controls look).
#include "platform/win32.h"

FILE* openLogForAppend(const char* path) { return std::fopen(path, "ab"); }

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
