// The settings check: the mistakes of a hand-edited orv.ini that Windows'
// way of reading it passes over without a word (a misspelt key, a key given
// twice or outside [kronsec], text where a number belongs, a value outside
// its range, a NUL or control byte in a value, a zone name as the TZ text,
// a host that is no host, a comment after a value, a missing or misspelt
// [kronsec] line), and a file that leaves a run no TZ text.
// `kronsec --check` lists them; every Linux run warns of them on stderr and
// still reads the file as Windows would.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/posix/ini/store.h"

// Told each problem found: the line it is on (counted from 1; 0 for the
// file as a whole) and what is wrong there, in one line of printable text.
using ProblemSink = std::function<void(uint32_t line, const std::string& text)>;

// What a check found.
struct SettingsCheck {
  uint64_t problems;
  bool tzFromEnvironment;  // no TZ text in the file: a run takes the environment's
};

// Checks a settings file, parsed, as a run whose environment's TZ is
// environmentTz (nullptr: none) reads it: tells tell the first toldMost
// problems, those of lines in file order, then those of the file as a whole
// (line 0).
SettingsCheck checkSettings(const ini::Document& doc, const char* environmentTz, const ProblemSink& tell,
                            uint64_t toldMost = UINT64_MAX);

// Returns what a read that failed with errno `error` says ("cannot be read:
// Permission denied").
std::string cannotReadText(int error);

// Returns why a file whose read went as state, failing as why says, cannot
// serve as a settings file ("cannot be read: Permission denied", "is a
// directory, not a file"), or "" when it can or does not exist.
std::string unreadableReason(ini::ReadResult state, const ini::ReadFailure& why);

// unreadableReason of the profile file `name` (as the profile calls name
// it; null: the system profile), from the read a run's profile calls make
// of it, so the check costs the run no read of its own.
std::string unreadableProfileReason(const char* name);

// Returns the TZ text in kronsec's form for a zone name such as
// Europe/Madrid, read from the system's zone files ($TZDIR, else
// /usr/share/zoneinfo), with " and add30=1" after it for a zone half an hour
// off the whole hours; "" when the zone cannot be read.
std::string tzTextOfZone(const std::string& zone);

// The exit statuses of `kronsec --check`, as `sshd -t` and `nginx -t` end
// (a usage error is 2, as for every run).
enum CheckStatus : int { kCheckClean = 0, kCheckProblems = 1 };

// What `kronsec --check` does with the settings file at path: writes one
// line per problem to out ("PATH:LINE: ..."), or one line that says the file
// is fine, is missing or cannot be read; returns the exit status.
int checkSettingsFile(const std::string& path, FILE* out);

// What a run does before it starts: returns the problems of the settings
// file the profile calls name `name` (a bare name in the settings folder,
// or a path) as warning lines ("kronsec: PATH:LINE: ...\n"), at most
// mostWarnings of them and then how many more there are. The file is read
// and parsed once, by the profile calls that the run reads it with. A
// missing or unreadable file says nothing here.
std::string settingsWarnings(const std::string& name, const std::string& checkCommand);

// The most warnings a run writes before it counts the rest.
constexpr uint64_t mostWarnings = 20;
