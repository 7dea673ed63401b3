// Help opened by its full path: kronsec.hlp beside the running program, so it
// is found whatever the current folder (a shortcut, the Run box and the
// scheduler start kronsec elsewhere; the help viewer looks for a bare name
// in the current folder first).
#include <cstring>

#include "ui/dialogs.h"

namespace {
constexpr char helpFileName[] = "kronsec.hlp";

// Writes into path the program's own file name with its last part replaced
// by helpFileName; returns false when that cannot be made (no name, a name
// cut to fit, no folder in it).
bool helpBesideProgram(char* path, DWORD size) {
  DWORD length = GetModuleFileNameA(nullptr, path, size);
  if (length == 0 || length >= size) return false;
  char* name = path + length;
  while (name > path && name[-1] != '\\' && name[-1] != '/') --name;
  if (name == path || static_cast<size_t>(name - path) + sizeof helpFileName > size) return false;
  std::memcpy(name, helpFileName, sizeof helpFileName);
  return true;
}
}  // namespace

BOOL openHelp(HWND owner, UINT command, ULONG_PTR data) {
  char path[MAX_PATH];
  return WinHelpA(owner, helpBesideProgram(path, sizeof path) ? path : helpFileName, command, data);
}
