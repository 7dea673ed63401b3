#include "app/settingkeys.h"

#include <cstdint>

#include "base/text.h"
#include "base/units.h"
#include "zones/zonetable.h"

namespace {
constexpr int64_t unsignedMost = UINT32_MAX;
constexpr int64_t signedLeast = INT32_MIN;
constexpr int64_t signedMost = INT32_MAX;
constexpr int64_t lastPlace = zoneCount - 1;
constexpr int64_t mostSpacingMs = 60000;

const char* const flagMeanings[] = {"off", "on"};
const char* const guardMeanings[] = {"off: the clock is set", "on: the clock is never set"};
const char* const attemptsMeanings[] = {"no calibration"};
const char* const placeMeanings[] = {"no place picked"};
const char* const limitMeanings[] = {"no limit"};
const char* const adjOptMeanings[] = {"Prompt", "Ignore", "Accept"};
const char* const logOptsMeanings[] = {"no log", "plain lines", "verbose lines"};
const char* const spacingMeanings[] = {"no wait asked between queries"};
const char* const familyMeanings[] = {"IPv4 and IPv6", nullptr, nullptr, nullptr, "IPv4 only", nullptr,
                                      "IPv6 only"};
// Keys added beside the specified ones read a value outside their range
// as 0, and say so.
const char* const readsAsOff = "kronsec reads it as 0";

constexpr SettingKey text(const char* name, SettingKind kind) {
  return {name, kind, 0, 0, nullptr, 0, nullptr};
}

template <size_t N>
constexpr SettingKey number(const char* name, int32_t def, int64_t low, int64_t high,
                            const char* const (&meanings)[N], const char* outside = nullptr) {
  return {name, SettingKind::kNumber, low, high, meanings, N, outside, def};
}

constexpr SettingKey flag(const char* name, int32_t def = 0) {
  return number(name, def, 0, 1, flagMeanings, "it counts as on");
}

// A custom zone's number: kept from load to save, used by nothing.
constexpr SettingKey zoneNumber(const char* name, int32_t def) {
  return {name, SettingKind::kNumber, signedLeast, signedMost, nullptr, 0, nullptr, def};
}
}  // namespace

const SettingKey settingKeys[] = {
    text("host", SettingKind::kHost),
    number("attempts", 3, 0, unsignedMost, attemptsMeanings),
    flag("useDST", 1),
    number("TZindex", -1, -1, lastPlace, placeMeanings, "no place is picked"),
    flag("add30"),
    flag("autoClose"),
    {"reportOnly", SettingKind::kGuard, 0, 1, guardMeanings, 2,
     "it counts as on: the clock is never set"},
    number("maxAdjust", 0, 0, unsignedMost, limitMeanings),
    number("adjOpt", 0, 0, 2, adjOptMeanings, "it counts as Accept"),
    number("logOpts", 0, 0, 2, logOptsMeanings, "it counts as verbose lines"),
    text("logPath", SettingKind::kText),
    text("metricsPath", SettingKind::kText),
    flag("useTZ"),
    text("TZ", SettingKind::kTz),
    flag("precise"),
    number("probeSpacing", 0, 0, mostSpacingMs, spacingMeanings, readsAsOff),
    number("slew", 0, 0, 1, flagMeanings, readsAsOff),
    number("family", 0, 0, 6, familyMeanings, readsAsOff),
    number("drift", 0, 0, 1, flagMeanings, readsAsOff),
    flag("useCustom"),
    text("Label", SettingKind::kText),
    text("Prefix", SettingKind::kText),
    text("Suffix", SettingKind::kText),
    {"gmtOffset", SettingKind::kDecimal, signedLeast, signedMost, nullptr, 0, nullptr},
    zoneNumber("sMonth", 3),
    zoneNumber("swDay", 0),
    zoneNumber("sRule", 0),
    zoneNumber("sAdjust", secondsPerHour),
    zoneNumber("eMonth", 9),
    zoneNumber("ewDay", 0),
    zoneNumber("eRule", 1),
    zoneNumber("eAdjust", 0),
    text("months", SettingKind::kNames),
    text("days", SettingKind::kNames),
};
const size_t settingKeyCount = sizeof settingKeys / sizeof settingKeys[0];

namespace {
char folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool sameKey(const char* a, const char* b) {
  for (; *a && folded(*a) == folded(*b); ++a, ++b) {
  }
  return *a == '\0' && *b == '\0';
}
}  // namespace

const SettingKey* findSettingKey(const char* name) {
  for (const SettingKey& key : settingKeys)
    if (sameKey(key.name, name)) return &key;
  return nullptr;
}

int32_t settingDefault(const char* name) {
  const SettingKey* key = findSettingKey(name);
  return key ? key->def : 0;
}

bool settingInRange(const SettingKey& key, int64_t value) {
  return value >= key.low && value <= key.high;
}

const char* settingMeaning(const SettingKey& key, int64_t value) {
  if (!key.meanings || value < key.low) return nullptr;
  uint64_t index = static_cast<uint64_t>(value - key.low);
  return index < key.meaningCount ? key.meanings[index] : nullptr;
}

bool isPlainNumber(const char* text) {
  while (isSpaceByte(*text)) ++text;
  if (*text == '+' || *text == '-') ++text;
  if (*text < '0' || *text > '9') return false;
  while (*text >= '0' && *text <= '9') ++text;
  while (isSpaceByte(*text)) ++text;
  return *text == '\0';
}

int32_t decimalValue(const char* text) {
  while (isSpaceByte(*text)) ++text;
  bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  uint32_t value = 0;  // unsigned: an over-long number wraps, it never traps
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<uint32_t>(*text - '0');
  return static_cast<int32_t>(negative ? 0u - value : value);
}
