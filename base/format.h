// kronsec's own printf-style formatting of narrow text: every byte is one
// character, so it needs no locale and no wide characters. The 32-bit
// Windows program formats with it (program/format_runtime.cpp): the C runtime's
// own formatter converts multibyte characters through functions that
// Windows 95 may lack.
#pragma once
#include <cstdarg>
#include <cstddef>

// Formats like vsnprintf into out (size bytes; terminated whenever size > 0)
// and returns the length of the whole formatted text. Knows the conversions
// d, i, u, x, X, c, s and %, the flags '-', '0', '+' and ' ', a width and a
// precision (either may be '*') and the length modifiers hh, h, l, ll and z;
// any other conversion is copied as it stands.
int formatText(char* out, size_t size, const char* format, va_list args);
