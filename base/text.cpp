#include "base/text.h"

#include <cstring>

#include "base/memory.h"

char scratchText[scratchSize];

char* copyText(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(heapAlloc(size));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

char* printableCopy(const char* text) {
  char* copy = copyText(text);
  if (copy)
    for (char* c = copy; *c; ++c)
      if (isControlByte(*c)) *c = '?';
  return copy;
}

char* replaceString(char* oldValue, const char* newText) {
  char* copy = copyText(newText);
  if (!copy) return oldValue;
  heapFree(oldValue);
  return copy;
}
