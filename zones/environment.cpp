#include "zones/environment.h"

#include <cstring>

#include "base/memory.h"
#include "platform/win32.h"

namespace {
// The list proper: pointers to "NAME=value" texts. Inherited entries point
// into `owned`; entries put later point to the caller's text.
const char** entries = nullptr;
int32_t entryCount = 0;
int32_t entryCapacity = 0;

// Copies made of the inherited environment. They stay allocated until the
// list is rebuilt, even after a put replaces them, because a caller may still
// hold a value envGet returned.
char** owned = nullptr;
int32_t ownedCount = 0;

void releaseList() {
  for (int32_t i = 0; i < ownedCount; ++i) heapFree(owned[i]);
  heapFree(owned);
  heapFree(entries);
  owned = nullptr;
  entries = nullptr;
  ownedCount = entryCount = entryCapacity = 0;
}

// Grows the pointer array to hold at least `needed` entries; false when the
// memory cannot be had (the list is unchanged then).
bool reserveEntries(int32_t needed) {
  if (needed <= entryCapacity) return true;
  int32_t capacity = entryCapacity ? entryCapacity * 2 : 32;
  while (capacity < needed) capacity *= 2;
  void* grown = heapAlloc(sizeof(const char*) * static_cast<size_t>(capacity));
  if (!grown) return false;
  if (entryCount) std::memcpy(grown, entries, sizeof(const char*) * entryCount);
  heapFree(entries);
  entries = static_cast<const char**>(grown);
  entryCapacity = capacity;
  return true;
}

// A copy of an inherited entry whose name part is upper-cased, ASCII only,
// so that "tz=..." is found as "TZ".
char* upperNameCopy(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(heapAlloc(size));
  if (!copy) return nullptr;
  std::memcpy(copy, text, size);
  for (char* p = copy; *p && *p != '='; ++p)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  return copy;
}

// Index of the first entry that starts with the `length` bytes of prefix.
int32_t findEntry(const char* prefix, size_t length) {
  for (int32_t i = 0; i < entryCount; ++i)
    if (std::strncmp(entries[i], prefix, length) == 0) return i;
  return -1;
}

// Mirrors a change into the operating system's environment; its outcome does
// not matter to the list, so failures are ignored.
void propagate(const char* entry, size_t nameLength, const char* value) {
  char* name = static_cast<char*>(heapAlloc(nameLength + 1));
  if (!name) return;
  std::memcpy(name, entry, nameLength);
  name[nameLength] = '\0';
  SetEnvironmentVariableA(name, *value ? value : nullptr);
  heapFree(name);
}
}  // namespace

void envInitFrom(const char* const* inherited, int32_t count) {
  releaseList();
  if (count <= 0 || !reserveEntries(count)) return;
  owned = static_cast<char**>(heapAlloc(sizeof(char*) * static_cast<size_t>(count)));
  if (!owned) return;
  for (int32_t i = 0; i < count; ++i) {
    char* copy = upperNameCopy(inherited[i]);
    if (!copy) break;
    owned[ownedCount++] = copy;
    entries[entryCount++] = copy;
  }
}

void envInit() {
  LPCH block = GetEnvironmentStrings();
  int32_t count = 0;
  if (block)
    for (const char* p = block; *p; p += std::strlen(p) + 1) ++count;
  const char** list = static_cast<const char**>(
      heapAlloc(sizeof(const char*) * static_cast<size_t>(count ? count : 1)));
  if (list) {
    int32_t i = 0;
    for (const char* p = block; i < count; p += std::strlen(p) + 1) list[i++] = p;
    envInitFrom(list, count);
  } else {
    releaseList();
  }
  heapFree(list);
  if (block) FreeEnvironmentStringsA(block);
}

const char* envGet(const char* name) {
  size_t length = std::strlen(name);
  for (int32_t i = 0; i < entryCount; ++i)
    if (std::strncmp(entries[i], name, length) == 0 && entries[i][length] == '=')
      return entries[i] + length + 1;
  return nullptr;
}

int32_t envPut(const char* entry) {
  const char* equals = std::strchr(entry, '=');
  if (!equals) return -1;
  size_t nameLength = static_cast<size_t>(equals - entry);
  const char* value = equals + 1;
  int32_t at = findEntry(entry, nameLength + 1);
  if (at >= 0 && *value) {
    entries[at] = entry;
  } else if (at >= 0) {
    --entryCount;
    std::memmove(entries + at, entries + at + 1,
                 sizeof(const char*) * static_cast<size_t>(entryCount - at));
  } else {
    if (!reserveEntries(entryCount + 1)) return -1;
    entries[entryCount++] = entry;
  }
  propagate(entry, nameLength, value);
  return 0;
}

int32_t envCount() { return entryCount; }
