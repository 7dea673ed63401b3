// The month and day names, loaded from orv.ini so the date line and the log
// follow whatever language the user wrote there.
#include "app/names.h"

#include <cstdint>
#include <cstring>

#include "app/appstate.h"
#include "base/memory.h"
#include "base/text.h"

char* monthNames[12];
char* dayNames[7];

namespace {
const char* const defaultMonths = "Jan:Feb:Mar:Apr:May:Jun:Jul:Aug:Sep:Oct:Nov:Dec:";
const char* const defaultDays = "Sun:Mon:Tue:Wed:Thu:Fri:Sat";

// Splits text in place into count entries: each name runs to the next ':' or
// to the end; once the text is used up the remaining entries read "error".
// A copy that fails leaves its entry as it was.
void splitNames(char* text, char** names, int32_t count) {
  char* cursor = text;
  for (int32_t i = 0; i < count; ++i) {
    const char* name = "error";
    if (char* separator = std::strchr(cursor, ':')) {
      *separator = '\0';
      name = cursor;
      cursor = separator + 1;
    } else if (*cursor != '\0') {
      name = cursor;
      cursor += std::strlen(cursor);
    }
    names[i] = replaceString(names[i], name);
  }
}

// The key is written back before the split cuts it up, so it is in the file
// from the first run on and shows the user what there is to edit.
void loadList(const char* key, const char* def, char** names, int32_t count) {
  GetPrivateProfileStringA(settingsSection, key, def, scratchText,
                           scratchReadSize, settingsFile);
  WritePrivateProfileStringA(settingsSection, key, scratchText, settingsFile);
  splitNames(scratchText, names, count);
}

void freeList(char** names, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    heapFree(names[i]);
    names[i] = nullptr;
  }
}
}  // namespace

void loadNameLists() {
  loadList("months", defaultMonths, monthNames, 12);
  loadList("days", defaultDays, dayNames, 7);
}

void freeNameLists() {
  freeList(monthNames, 12);
  freeList(dayNames, 7);
}
