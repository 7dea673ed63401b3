// The 32-bit Windows program formats every text with formatText. The C
// runtime's snprintf and vsnprintf (mingw-w64's, which C++ code gets) go
// through this one entry point; its own version would bring the runtime's
// multibyte and locale code into the program, and with it imports that
// Windows 95 may not have (IsDBCSLeadByteEx among them). Linked into the
// program itself, this definition is the one the linker takes.
#include <cstdarg>
#include <cstddef>

#include "base/format.h"

extern "C" int __mingw_vsnprintf(char* out, size_t size, const char* format, va_list args) {
  return formatText(out, size, format, args);
}
