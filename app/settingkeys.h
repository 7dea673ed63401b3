// The keys of section [kronsec] in orv.ini: what each holds and the values
// it is documented to take. The settings check and a Linux run's warnings
// judge a file by this table; the settings load may use a key's range where
// it reads a value outside it otherwise. One row per key, whoever reads it.
#pragma once
#include <cstddef>
#include <cstdint>

enum class SettingKind : uint8_t {
  kText,     // any text (a path, a custom zone's names)
  kHost,     // Time servers: names or IPv4 addresses, blanks or commas between
  kTz,       // a TZ text of kronsec's own form, such as EST5EDT
  kNames,    // names separated by colons (months, days)
  kNumber,   // the profile's integer read
  kGuard,    // a flag that keeps the clock from being set: text reads as 1
  kDecimal,  // read as text, then the decimal parse (gmtOffset)
};

struct SettingKey {
  const char* name;
  SettingKind kind;
  int64_t low;   // the documented range of a number, both ends included
  int64_t high;
  const char* const* meanings;  // what low, low + 1, ... mean; nullptr: none
  size_t meaningCount;
  const char* outside;  // how a number outside the range counts; nullptr: as read
  int32_t def = 0;  // a number's default, which the profile's integer read
                    // gives a missing or empty value (useTZ: 1 instead when
                    // the environment has TZ)
};

extern const SettingKey settingKeys[];
extern const size_t settingKeyCount;

// At most this many Time servers in the host text.
constexpr size_t mostHosts = 8;

// At most this many calibration queries to one server in a cycle, whatever
// attempts says: more only load the server, and a huge count would never end.
constexpr uint32_t mostCalibrations = 10;

// Returns the row of the key named name (letter case aside), or nullptr.
const SettingKey* findSettingKey(const char* name);

// Returns the default of the number key named name, a row of the table.
int32_t settingDefault(const char* name);

// Returns whether value lies in the key's documented range.
bool settingInRange(const SettingKey& key, int64_t value);

// Returns what value means for the key ("no limit", "on"), or nullptr when
// the table says nothing about it.
const char* settingMeaning(const SettingKey& key, int64_t value);

// Returns whether text is blanks, an optional sign, decimal digits and
// blanks: what the settings write, and what a guarding flag must hold to be
// read as a number.
bool isPlainNumber(const char* text);

// Returns the decimal value of text: leading blanks skipped, one optional
// sign, digits up to the first non-digit (none: 0), wrapping at 32 bits.
int32_t decimalValue(const char* text);
