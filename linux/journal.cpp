#include "linux/journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

bool streamIsJournal(const char* journalStream, int fd) {
  unsigned long long device = 0, inode = 0;
  struct stat info;
  if (!journalStream || std::sscanf(journalStream, "%llu:%llu", &device, &inode) != 2) return false;
  return fstat(fd, &info) == 0 && static_cast<unsigned long long>(info.st_dev) == device &&
         static_cast<unsigned long long>(info.st_ino) == inode;
}

void sayOnStderr(Priority priority, const std::string& text) {
  // Asked once: the stream does not change while kronsec runs.
  static const bool journal = streamIsJournal(std::getenv("JOURNAL_STREAM"), STDERR_FILENO);
  if (!journal) {
    std::fputs(text.c_str(), stderr);
    return;
  }
  std::string prefixed;
  char prefix[4] = {'<', static_cast<char>('0' + static_cast<int>(priority)), '>', '\0'};
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    prefixed += prefix + text.substr(at, end - at);
    at = end;
  }
  std::fputs(prefixed.c_str(), stderr);
}
