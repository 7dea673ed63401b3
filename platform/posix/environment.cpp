// The process environment calls over the C library's environment, and the
// program's own file name.
#include <climits>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "platform/win32.h"

extern char** environ;

LPCH GetEnvironmentStrings() {
  size_t size = 1;
  for (char** p = environ; p && *p; ++p) size += std::strlen(*p) + 1;
  char* block = static_cast<char*>(std::malloc(size));
  if (!block) return nullptr;
  char* out = block;
  for (char** p = environ; p && *p; ++p) {
    size_t length = std::strlen(*p) + 1;
    std::memcpy(out, *p, length);
    out += length;
  }
  *out = '\0';
  return block;
}

BOOL FreeEnvironmentStringsA(LPCH block) {
  std::free(block);
  return TRUE;
}

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  if (!name || !*name || std::strchr(name, '=')) return FALSE;
  int rc = value ? setenv(name, value, 1) : unsetenv(name);
  return rc == 0 ? TRUE : FALSE;
}

// As Windows does: the length copied without the terminator; a name that does
// not fit is cut to size - 1 bytes and size is returned; 0 on failure.
DWORD GetModuleFileNameA(HMODULE, LPSTR fileName, DWORD size) {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0 || !fileName || size == 0) return 0;
  size_t copied = static_cast<size_t>(length) < size ? static_cast<size_t>(length) : size - 1;
  std::memcpy(fileName, path, copied);
  fileName[copied] = '\0';
  return static_cast<size_t>(length) < size ? static_cast<DWORD>(copied) : size;
}
