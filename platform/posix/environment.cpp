// The process environment calls over the C library's environment.
#include <cstdlib>
#include <cstring>

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
