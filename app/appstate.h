// The one record of settings and query state, and the settings store that
// fills it from orv.ini at start and writes it back at exit.
#pragma once
#include <cstdint>

#include "base/units.h"
#include "platform/win32.h"

// A persisted description of a custom time zone. It is carried from load to
// save unchanged: nothing in the program reads or edits it.
struct CustomZone {
  int32_t gmtOffset;
  char* Label;
  char* Prefix;
  char* Suffix;
  int32_t sMonth;
  int32_t swDay;
  int32_t sRule;
  int32_t sAdjust;
  int32_t eMonth;
  int32_t ewDay;
  int32_t eRule;
  int32_t eAdjust;
};

// Owned by the host window from its creation to its destruction; dialogs hold
// the pointer and write fields directly. Flags count as on when nonzero.
struct AppState {
  int32_t showCmd;      // show command the process started with
  int32_t useDST;       // apply daylight saving when converting
  int32_t useTZ;        // take TZ from the inherited environment
  int32_t add30;        // add 30 minutes to the server's time
  int32_t autoClose;    // close the main dialog after a result
  int32_t reportOnly;   // never set the clock
  uint32_t attempts;    // calibration queries per cycle
  int32_t calibrateLeft;
  int32_t logOpts;      // 0 none, 1 plain, other verbose
  int32_t TZindex;      // row of the zone table, -1 for none
  int32_t adjOpt;       // over the limit: 0 prompt, 1 ignore, other accept
  uint32_t maxAdjust;   // seconds; 0 is no limit
  SOCKET sock;          // INVALID_SOCKET when no query runs
  int32_t port;
  char* host;
  char* tz;             // TZ text in use, or nullptr
  char* logPath;        // or nullptr
  uint32_t startTick;   // ms tick when the running query started
  int32_t connectLag;   // ms from start to connect
  int32_t readLag;      // ms from start to answer
  // Precise mode, beside the rest: probes timed against the server's second.
  int32_t precise;        // the cycle's queries are probes
  uint32_t probeSpacing;  // ms between the starts of two probes
  int32_t slew;           // changes below half a second made gradually (Linux)
  int32_t family;         // KRON_IPV4_ONLY, KRON_IPV6_ONLY, else both (Linux)
  CustomZone* customZone;
};

constexpr const char* settingsFile = "orv.ini";
constexpr const char* settingsSection = "kronsec";
constexpr const char* defaultHost = "time.nist.gov";

// Returns a new record filled from orv.ini (defaults where keys are missing),
// or nullptr when it cannot be allocated; saveSettings frees it.
AppState* loadSettings();

// Told when a setting that guards the clock ("reportOnly") holds text that is
// not a plain number, and the value used instead; nullptr tells no one.
using SettingNote = void (*)(const char* key, const char* text, int32_t used);
extern SettingNote settingNotANumber;

// Told when a key with a documented range (probeSpacing 0 to 60000 ms, slew
// 0 or 1) holds a number outside it, with the text as written and the value
// used instead (the key's default); nullptr tells no one.
using SettingRangeNote = void (*)(const char* key, const char* text, int32_t low, int32_t high,
                                  int32_t used);
extern SettingRangeNote settingOutOfRange;

// Returns reportOnly as a run reads it from orv.ini: text that is not a
// plain number counts as 1.
int32_t readReportOnly();

// Writes every setting of state back to orv.ini, then frees the record and
// everything it owns.
void saveSettings(AppState* state);

// Frees the record and everything it owns without writing anything.
void freeSettings(AppState* state);

// Loads the custom-zone keys into a new state->customZone; returns 1, or 0
// when the record cannot be allocated (the field stays nullptr).
int32_t loadCustomZone(AppState* state);

// Writes the custom-zone keys and useCustom=1; returns 1.
int32_t saveCustomZone(AppState* state);

// Returns the decimal value of key (read as text, default text def): leading
// blanks skipped, one optional sign, digits up to the first non-digit.
int32_t readLongSetting(const char* key, const char* def);

// Writes value under key as signed decimal.
void writeIntSetting(const char* key, int32_t value);
void writeLongSetting(const char* key, int32_t value);

// Adds the three kronsec sound entries to the system profile where they are
// missing or empty; a user's own choice is left alone.
void registerSounds();
