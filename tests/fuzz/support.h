// What the fuzz targets share: a failed invariant as a crash libFuzzer keeps,
// a settings folder of their own, the zone from a TZ text, and the ranges a
// time breakdown must keep.
#pragma once
#include <cstddef>
#include <cstdint>

struct BrokenDownTime;

// A broken invariant must end the run the way a sanitizer finding does, so
// libFuzzer saves the input; the message says which one it was.
[[noreturn]] void fuzzCheckFailed(const char* condition, const char* file, int line);
#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : fuzzCheckFailed(#condition, __FILE__, __LINE__))

// Points XDG_CONFIG_HOME at a new folder under $TMPDIR (default /tmp) for the
// rest of the process, so the profile calls never meet a user's settings;
// the folder goes at exit.
void usePrivateConfigFolder();

// Replaces orv.ini in that folder with the given bytes.
void writeSettingsFile(const uint8_t* data, size_t size);

// The blanks the profile trims from lines, names and values.
bool isProfileBlank(char c);

// Whether the profile reads text back as it was written: a write drops
// leading blanks, a read trailing ones and one pair of enclosing quotes, and
// a line break would end the line.
bool isValueKeptAsIs(const char* text);

// Makes text (up to its first NUL) the environment's TZ and parses it.
void useTz(const char* text);

// Checks every field of t against its calendar range: the display indexes
// the day and month name lists with them.
void checkFields(const BrokenDownTime& t);
