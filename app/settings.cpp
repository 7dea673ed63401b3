// The settings store: orv.ini section "kronsec", read once at start and
// written once at exit, plus the first-run sound entries.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/appstate.h"
#include "app/settingkeys.h"
#include "base/memory.h"
#include "base/text.h"
#include "zones/environment.h"

SettingNote settingNotANumber = nullptr;
SettingRangeNote settingOutOfRange = nullptr;

namespace {
// Reads key into scratchText (default def) and returns it.
const char* readText(const char* key, const char* def) {
  GetPrivateProfileStringA(settingsSection, key, def, scratchText,
                           scratchReadSize, settingsFile);
  return scratchText;
}

// Returns a heap copy of the key's text, or nullptr when the text is empty
// (an empty optional setting means "not set") or cannot be copied.
char* readOptionalText(const char* key) {
  const char* text = readText(key, "");
  return *text ? copyText(text) : nullptr;
}

int32_t readInt(const char* key, int32_t def) {
  return static_cast<int32_t>(
      GetPrivateProfileIntA(settingsSection, key, def, settingsFile));
}

// Reads a number key with the default its row in the key table gives.
int32_t readInt(const char* key) { return readInt(key, settingDefault(key)); }

// A flag that keeps the clock from being set: a hand-edited "true" or "yes"
// means it is on, so text that is not a plain number reads as 1, never as
// the 0 a number read would make of it.
int32_t readGuardFlag(const char* key) {
  const char* text = readText(key, "");
  if (*text == '\0' || isPlainNumber(text)) return readInt(key);
  if (settingNotANumber) settingNotANumber(key, text, 1);
  return 1;
}

}  // namespace

int32_t readReportOnly() { return readGuardFlag("reportOnly"); }

namespace {
// The number a plain number's text says, held at the bounds of 64 bits (the
// C library's strtoll would bring its locale code into the Windows program).
int64_t writtenNumber(const char* text) {
  while (isSpaceByte(*text)) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  constexpr int64_t most = INT64_MAX / 10 - 1;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text)
    value = value > most ? INT64_MAX / 10 * 10 : value * 10 + (*text - '0');
  return negative ? -value : value;
}

// A key added beside the specified ones, with its documented range in the
// key table: a value outside it (as written in the file, so 4294967295 is
// not taken for -1) is named to settingOutOfRange and read as its default.
// Text that is not a number reads as the integer read makes it.
int32_t readRangedSetting(const char* key) {
  const SettingKey* row = findSettingKey(key);
  int32_t def = settingDefault(key);
  int32_t value = readInt(key, def);
  const char* text = readText(key, "");
  int64_t written = isPlainNumber(text) ? writtenNumber(text) : value;
  if (!row || settingInRange(*row, written)) return value;
  if (settingOutOfRange)
    settingOutOfRange(key, text, static_cast<int32_t>(row->low), static_cast<int32_t>(row->high), def);
  return def;
}

// A value is written up to its first line break: the rest would land in the
// file as lines of their own, keys included (an inherited TZ holding a line
// break would add them again at every save).
void writeText(const char* key, const char* value) {
  size_t length = value ? std::strcspn(value, "\r\n") : 0;
  if (!value || value[length] == '\0') {
    WritePrivateProfileStringA(settingsSection, key, value, settingsFile);
    return;
  }
  // When the cut copy cannot be made the key keeps the value it had.
  char* firstLine = static_cast<char*>(heapAlloc(length + 1));
  if (!firstLine) return;
  std::memcpy(firstLine, value, length);
  firstLine[length] = '\0';
  WritePrivateProfileStringA(settingsSection, key, firstLine, settingsFile);
  heapFree(firstLine);
}

void writeUnsigned(const char* key, uint32_t value) {
  std::snprintf(scratchText, scratchSize, "%u", static_cast<unsigned>(value));
  writeText(key, scratchText);
}

void writeFlag(const char* key, int32_t value) { writeText(key, value ? "1" : "0"); }

struct SoundEntry {
  const char* key;
  const char* value;
};
const SoundEntry soundEntries[] = {
    {"kronsecConnect", ",kronsec Connect"},
    {"kronsecReset", ",kronsec Reset"},
    {"kronsecMaxAdj", ",kronsec Max Adjust"},
};

// Custom-zone integers after gmtOffset, in file order; their defaults are
// the key table's.
struct ZoneInteger {
  const char* key;
  int32_t CustomZone::*field;
};
const ZoneInteger zoneIntegers[] = {
    {"sMonth", &CustomZone::sMonth}, {"swDay", &CustomZone::swDay},
    {"sRule", &CustomZone::sRule},   {"sAdjust", &CustomZone::sAdjust},
    {"eMonth", &CustomZone::eMonth}, {"ewDay", &CustomZone::ewDay},
    {"eRule", &CustomZone::eRule},   {"eAdjust", &CustomZone::eAdjust},
};

struct ZoneText {
  const char* key;
  char* CustomZone::*field;
  const char* def;
};
const ZoneText zoneTexts[] = {
    {"Label", &CustomZone::Label, "custom"},
    {"Prefix", &CustomZone::Prefix, "EST"},
    {"Suffix", &CustomZone::Suffix, "EDT"},
};

void freeCustomZone(AppState* state) {
  CustomZone* zone = state->customZone;
  if (!zone) return;
  for (const ZoneText& t : zoneTexts) heapFree(zone->*t.field);
  heapFree(zone);
  state->customZone = nullptr;
}

void loadNumbers(AppState* s) {
  s->attempts = static_cast<uint32_t>(readInt("attempts"));
  s->useDST = readInt("useDST");
  s->TZindex = readInt("TZindex");
  s->add30 = readInt("add30");
  s->autoClose = readInt("autoClose");
  s->reportOnly = readReportOnly();
  s->maxAdjust = static_cast<uint32_t>(readInt("maxAdjust"));
  s->adjOpt = readInt("adjOpt");
  s->logOpts = readInt("logOpts");
  s->precise = readInt("precise");
  s->probeSpacing = static_cast<uint32_t>(readRangedSetting("probeSpacing"));
  s->slew = readRangedSetting("slew");
  s->family = readRangedSetting("family");
}

// The keys beside the specified ones are written once they are in use, and
// from then on: a settings file that never used them stays as it always was.
bool inUse(const char* key, uint32_t value) {
  return value != 0 || *readText(key, "") != '\0';
}
}  // namespace

int32_t readLongSetting(const char* key, const char* def) {
  return decimalValue(readText(key, def));
}

void writeIntSetting(const char* key, int32_t value) {
  std::snprintf(scratchText, scratchSize, "%d", static_cast<int>(value));
  writeText(key, scratchText);
}

void writeLongSetting(const char* key, int32_t value) {
  std::snprintf(scratchText, scratchSize, "%ld", static_cast<long>(value));
  writeText(key, scratchText);
}

void registerSounds() {
  for (const SoundEntry& e : soundEntries) {
    GetProfileStringA("sounds", e.key, "", scratchText, scratchReadSize);
    if (scratchText[0] == '\0') WriteProfileStringA("sounds", e.key, e.value);
  }
}

int32_t loadCustomZone(AppState* state) {
  CustomZone* zone = static_cast<CustomZone*>(heapAlloc(sizeof(CustomZone)));
  state->customZone = zone;
  if (!zone) return 0;
  std::memset(zone, 0, sizeof *zone);
  for (const ZoneText& t : zoneTexts) zone->*t.field = copyText(readText(t.key, t.def));
  zone->gmtOffset = readLongSetting("gmtOffset", "18000");
  for (const ZoneInteger& i : zoneIntegers) zone->*i.field = readInt(i.key);
  return 1;
}

int32_t saveCustomZone(AppState* state) {
  const CustomZone* zone = state->customZone;
  writeIntSetting("useCustom", 1);
  for (const ZoneText& t : zoneTexts) {
    const char* text = zone->*t.field;
    writeText(t.key, text ? text : t.def);
  }
  writeLongSetting("gmtOffset", zone->gmtOffset);
  for (const ZoneInteger& i : zoneIntegers) writeIntSetting(i.key, zone->*i.field);
  return 1;
}

AppState* loadSettings() {
  AppState* s = static_cast<AppState*>(heapAlloc(sizeof(AppState)));
  if (!s) return nullptr;
  std::memset(s, 0, sizeof *s);
  s->sock = INVALID_SOCKET;
  s->host = copyText(readText("host", defaultHost));
  loadNumbers(s);
  s->logPath = readOptionalText("logPath");
  s->useTZ = envGet("TZ") ? readInt("useTZ", 1) : readInt("useTZ");
  s->tz = readOptionalText("tz");
  registerSounds();
  if (readInt("useCustom")) loadCustomZone(s);
  s->port = timePort;
  return s;
}

void saveSettings(AppState* s) {
  // A host that could not be copied at start is not a user's choice to forget
  // it: the key keeps the value it had.
  if (s->host) writeText("host", s->host);
  writeUnsigned("attempts", s->attempts);
  writeFlag("useDST", s->useDST);
  writeFlag("useTZ", s->useTZ);
  writeFlag("add30", s->add30);
  writeFlag("autoClose", s->autoClose);
  writeFlag("reportOnly", s->reportOnly);
  writeIntSetting("TZindex", s->TZindex);
  writeUnsigned("maxAdjust", s->maxAdjust);
  writeIntSetting("adjOpt", s->adjOpt);
  writeIntSetting("logOpts", s->logOpts);
  if (inUse("precise", static_cast<uint32_t>(s->precise))) writeFlag("precise", s->precise);
  if (inUse("probeSpacing", s->probeSpacing)) writeUnsigned("probeSpacing", s->probeSpacing);
  if (inUse("slew", static_cast<uint32_t>(s->slew))) writeFlag("slew", s->slew);
  if (inUse("family", static_cast<uint32_t>(s->family))) writeIntSetting("family", s->family);
  if (s->logPath) writeText("logPath", s->logPath);
  if (s->tz) writeText("TZ", s->tz);
  if (s->customZone) saveCustomZone(s);
  else writeIntSetting("useCustom", 0);
  // The profile API's flush: a store that holds writes back puts them in the
  // file now, all at once.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, settingsFile);
  freeSettings(s);
}

void freeSettings(AppState* s) {
  heapFree(s->host);
  heapFree(s->tz);
  heapFree(s->logPath);
  freeCustomZone(s);
  heapFree(s);
}
