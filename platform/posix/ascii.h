// Names that Windows compares without regard to ASCII case: window classes,
// profile sections and keys.
#pragma once
#include <cstddef>

// Returns whether the two byte runs are equal when ASCII letters are folded
// to one case; other bytes must match exactly.
inline bool equalIgnoringAsciiCase(const char* a, size_t aSize, const char* b, size_t bSize) {
  if (aSize != bSize) return false;
  for (size_t i = 0; i < aSize; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + ('a' - 'A'));
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + ('a' - 'A'));
    if (x != y) return false;
  }
  return true;
}
