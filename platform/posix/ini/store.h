// The file side of the INI store: where profile files live, reading them
// whole without blocking, replacing them atomically (disk.cpp), and the
// profile calls' cache of parsed files with their pending writes
// (profile.cpp). The bytes-in, bytes-out document is in document.h.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

#include "platform/posix/ini/document.h"

namespace ini {

// The system profile's file name, beside orv.ini.
constexpr const char* kSystemProfile = "win.ini";

enum class ReadResult { kRead, kMissing, kFailed };

// Why a read failed: the errno of the step that failed (0 when none did: a
// file that is not regular, or reaches kMaxFileSize), and the file's type
// (its S_IFMT bits; 0 when it could not be opened or examined).
struct ReadFailure {
  int error = 0;
  mode_t type = 0;
};

// Reads the whole file at path into *bytes without ever blocking. A missing
// file (or folder) is kMissing; anything that is not a readable regular file
// below kMaxFileSize is kFailed, with errno and *why (when given) telling why
// where they can.
ReadResult readFile(const std::string& path, std::string* bytes, ReadFailure* why = nullptr);

// Creates folder and its missing parents, owner-only like the rest of a
// user's configuration. Returns true when folder exists as a directory.
bool makeFolders(const std::string& folder);

// Makes folder the home of bare profile names for the rest of the process
// (a run's --config); "" goes back to configFolder()'s own choice.
void setConfigFolder(const std::string& folder);

// A run-only setting: reads of key in section of the profile file `name` see
// value, and writes of that key are dropped, so the file keeps what it held.
void setRunOverride(const char* name, const char* section, const char* key,
                    const char* value);
void clearRunOverrides();

// Called once per file and key when an integer read meets a value that is
// not wholly a number, with the file's path and a text that names the key,
// the value and the number used. nullptr: no one is told.
using NumberWarning = void (*)(const std::string& path, const std::string& text);
void setNumberWarning(NumberWarning warn);

// Returns the folder of bare profile names: $XDG_CONFIG_HOME/kronsec, else
// $HOME/.config/kronsec, else the passwd home's; "" when none is known.
std::string configFolder();

// Returns the file a profile call means by name (null: "win.ini"): a name
// with a '/' as given, a bare one inside configFolder(); "" when unusable.
std::string profilePath(const char* name);

// What a save makes of a file, decided from the file as it then stands.
struct Revision {
  std::string refusal;   // why the file must not be written, or ""
  bool changed = false;  // whether contents replaces the file
  Patch contents;
};
using Reviser = std::function<Revision(ReadResult state, std::string bytes)>;

// What saveFile returns when another process held the folder's lock.
constexpr const char* lockBusyReason = "another process holds the folder's lock";

// Saves the file at path. Every save holds an exclusive lock on the folder
// the file is replaced in (a symbolic link's final target's, so the link
// survives and a dangling one gets its target made) from before it reads the
// file to after the rename: under it, the temporary files of killed saves are
// removed, the file is read as it stands and handed to revise, and a changed
// file is replaced through a temporary file, fsync and rename. makeFolder:
// a missing folder is made (owner-only) when there is something to write.
// Returns "" or why the save failed, the old file and no temporary file left.
// The lock is waited for 10 s at most, and not at all once a close request
// has come (a signal): then nothing is saved in that folder for the rest of
// the process, lockBusyReason is returned, and the LockBusy call is told once.
std::string saveFile(const std::string& path, bool makeFolder, const Reviser& revise);

// Called once per folder whose lock a save gave up on, with the folder and
// the PID of the process that holds the lock (0 when it cannot be named).
using LockBusy = void (*)(const std::string& folder, int holder);
void setLockBusy(LockBusy busy);

// Test seam: the longest wait for a folder's lock (0: the 10 s); also
// forgets the folders given up on.
void setLockWait(uint32_t ms);

// The profile calls keep each file they read, parsed, until it changes on
// disk, and keep writes pending until a flush: the profile API's own
// (WritePrivateProfileStringA with all three names null), or process exit.
// Writes every profile file's pending changes, each in one replace; returns
// false when any could not be written (the failure is told, see below).
bool flushProfiles();

// Off: the profile calls leave every file as they found it for the rest of
// the process (a run's --no-save). Writes still answer later reads; flushes
// write nothing, make no folder and remove nothing.
void setSaving(bool on);

// Forgets every cached file and drops pending writes unwritten (a fresh
// start for tests).
void dropProfileCache();

// A file as the profile calls hold it: how its last read went, why it
// failed, and its bytes parsed (empty unless read).
struct LoadedFile {
  ReadResult state;
  ReadFailure failure;
  const Document& document;
};

// Returns the profile file `name` (as the profile calls name it; null: the
// system profile) as a profile read loads it: read and parsed once, and
// again only when it changed on disk, so a check of the file before the run
// reads it costs no second read. The document lasts until the next profile
// call; a name with no path (no folder known) is a missing file.
LoadedFile loadedFile(const char* name);

// Called when a flush cannot write a file, with its path and the reason.
using SaveFailure = void (*)(const std::string& path, const std::string& reason);
void setSaveFailure(SaveFailure failure);

// Test seam for saveFile: the call that writes to the temporary file,
// write(2)'s contract. nullptr restores write(2).
using WriteStep = ssize_t (*)(int fd, const void* data, size_t size);
void setWriteStep(WriteStep step);

}  // namespace ini
