// Files the system appends to, opened the way a log must be opened here.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/win32.h"

namespace {
// A log is a regular file, or /dev/null for "keep no log": a FIFO, a
// terminal or another device in its place would hang or garble a run.
bool isLogTarget(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return true;
  struct stat null;
  return S_ISCHR(info.st_mode) && stat("/dev/null", &null) == 0 &&
         S_ISCHR(null.st_mode) && info.st_rdev == null.st_rdev;
}
}  // namespace

// fopen(path, "ab") that never blocks: opening a FIFO for writing waits for a
// reader, for ever in a headless run. The check before the open keeps a
// device's open from acting on it; the one after it holds for what was
// opened, should the path have changed between the two.
FILE* openLogForAppend(const char* path) {
  struct stat info;
  if (stat(path, &info) == 0 && !isLogTarget(info)) return nullptr;
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* file = nullptr;
  // Back to blocking writes, so a slow disk is waited for, not a short write.
  if (fstat(fd, &info) == 0 && isLogTarget(info) && fcntl(fd, F_SETFL, O_APPEND) == 0)
    file = fdopen(fd, "ab");
  if (!file) close(fd);
  return file;
}
