// The built-in list of places and their TZ texts.
#pragma once
#include <cstdint>

struct ZoneRow {
  const char* place;   // shown in the list
  const char* tzText;  // put into the environment as TZ
};

constexpr int32_t zoneCount = 126;
extern const ZoneRow ZoneTable[zoneCount];
