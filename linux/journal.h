// stderr as the journal reads it: when systemd connects kronsec's stderr to
// the journal (JOURNAL_STREAM names that stream), each line starts with its
// priority, as sd-daemon(3) describes, so `journalctl -p warning` finds
// kronsec's errors and warnings. Elsewhere the lines are as they always were.
#pragma once
#include <string>

enum class Priority : int { kError = 3, kWarning = 4, kInfo = 6 };

// Returns whether JOURNAL_STREAM ("DEVICE:INODE") names the file open as fd.
bool streamIsJournal(const char* journalStream, int fd);

// Writes text, one or more lines, to stderr, each line prefixed "<N>" with
// its priority when stderr is the journal's stream.
void sayOnStderr(Priority priority, const std::string& text);
