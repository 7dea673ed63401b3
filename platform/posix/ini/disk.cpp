// The disk side of the INI store: where profile files live, reading them
// whole, and replacing them atomically.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/posix/core.h"
#include "platform/posix/ini/store.h"

namespace {

ini::WriteStep writeStep = nullptr;
std::string chosenFolder;

// How long a save waits for another process to let go of its folder's
// lock, and how often it tries again meanwhile.
constexpr uint32_t defaultLockWaitMs = 10000;
constexpr uint32_t lockRetryMs = 50;
uint32_t lockWaitMs = defaultLockWaitMs;
ini::LockBusy lockBusy = nullptr;
// The folders whose lock was not had: nothing more is saved in them.
std::set<std::string> busyFolders;

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
      found->pw_dir && *found->pw_dir)
    return found->pw_dir;
  return std::string();
}

// Reads fd to its end into *bytes, sized for `expected` bytes up front since
// the file may be large (it may still change size under us). Returns false
// on a read error or when the file reaches kMaxFileSize.
bool readAll(int fd, size_t expected, std::string* bytes) {
  bytes->resize(expected + 1);  // the spare byte lets the end show as a 0 read
  size_t done = 0;
  for (;;) {
    if (done == bytes->size()) {
      if (bytes->size() >= ini::kMaxFileSize) return false;
      bytes->resize(bytes->size() * 2);
    }
    ssize_t n = read(fd, &(*bytes)[done], bytes->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  bytes->resize(done);
  return done < ini::kMaxFileSize;
}

bool writeAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = (writeStep ? writeStep : write)(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The kernel's own limit on links followed in one path.
constexpr int kMaxLinks = 40;

// The file a save replaces: path itself, or for a symbolic link the file its
// chain of links ends at, whether that exists yet or not, so the links
// survive and a dangling one gets its target made.
std::string finalTarget(const std::string& path) {
  std::string at = path;
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    struct stat info;
    char link[PATH_MAX];
    if (lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
    ssize_t n = readlink(at.c_str(), link, sizeof link);
    if (n <= 0 || static_cast<size_t>(n) == sizeof link) return at;
    std::string next(link, static_cast<size_t>(n));
    size_t slash = at.rfind('/');
    if (next[0] != '/' && slash != std::string::npos) next = at.substr(0, slash + 1) + next;
    at = next;
  }
  return at;  // a loop: reading it fails, and the save with it
}

// Writes the temporary file fd with contents, keeping the permissions of the
// file it will replace. Returns false when any step fails.
bool fillTemporary(int fd, const std::string& target, const ini::Patch& contents) {
  struct stat info;
  if (stat(target.c_str(), &info) == 0 && fchmod(fd, info.st_mode & 07777) != 0)
    return false;
  for (const ini::Patch::Piece& piece : contents.pieces)
    if (!writeAll(fd, contents.data(piece), piece.size)) return false;
  return fsync(fd) == 0;
}

// Whether name is one of our temporary files for base: "." base "." and the
// six characters mkostemp puts in.
bool isTemporaryOf(const char* name, const std::string& base) {
  size_t length = std::strlen(name);
  return length == base.size() + 8 && name[0] == '.' &&
         std::strncmp(name + 1, base.c_str(), base.size()) == 0 && name[base.size() + 1] == '.';
}

// Removes what saves of base left behind when their process was killed.
// Every save holds the folder's lock while its temporary file exists, so
// under the lock any such file is a leftover. The folder is read through
// the lock's own descriptor, a block at a time on the stack (opendir would
// open it again and take 32 KiB of heap).
void removeLeftovers(int folder, const std::string& base) {
  alignas(dirent64) char block[4096];
  for (ssize_t size; (size = getdents64(folder, block, sizeof block)) > 0;) {
    for (ssize_t at = 0; at < size;) {
      const dirent64* entry = reinterpret_cast<const dirent64*>(block + at);
      if (isTemporaryOf(entry->d_name, base)) unlinkat(folder, entry->d_name, 0);
      at += entry->d_reclen;
    }
  }
}

uint64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// The PID of another process that holds an flock on the file fd is open on,
// from /proc/locks (a waiter's line has "->"); 0 when none can be named.
int lockHolder(int fd) {
  struct stat info;
  FILE* locks = fstat(fd, &info) == 0 ? std::fopen("/proc/locks", "re") : nullptr;
  if (!locks) return 0;
  char file[64];
  std::snprintf(file, sizeof file, " %02x:%02x:%llu ", major(info.st_dev), minor(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  int holder = 0;
  char line[256];
  while (holder == 0 && std::fgets(line, sizeof line, locks)) {
    int pid = 0;
    if (std::strstr(line, "->") || !std::strstr(line, file) ||
        std::sscanf(line, "%*d: FLOCK %*s %*s %d", &pid) != 1)
      continue;
    if (pid > 0 && pid != getpid()) holder = pid;
  }
  std::fclose(locks);
  return holder;
}

enum class LockState { kHeld, kNone, kBusy };

// Takes the exclusive lock on fd, waiting at most lockWaitMs for another
// process to let go of it. kBusy: it did not, or a close request came (a
// signal ends the run within a second: it does not wait on a lock);
// kNone: the lock cannot be had here at all, and the save goes ahead.
LockState waitForLock(int fd) {
  uint64_t start = monotonicMs();
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return LockState::kHeld;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return LockState::kNone;
    uint64_t waited = monotonicMs() - start;
    if (closeRequestArrived() || waited >= lockWaitMs) return LockState::kBusy;
    uint64_t left = lockWaitMs - waited;
    pollfd request{closeRequestDescriptor(), POLLIN, 0};
    poll(&request, 1, static_cast<int>(left < lockRetryMs ? left : lockRetryMs));
  }
}

// Holds an exclusive lock on a folder for one save. Without it (the folder
// cannot be opened, or takes no locks) the save goes ahead; missing() tells
// whether the folder is not there. busy(): another process kept the lock,
// and the save must not go ahead.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
        missing_(fd_ < 0 && errno == ENOENT),
        state_(fd_ >= 0 ? waitForLock(fd_) : LockState::kNone) {
    if (state_ != LockState::kNone) return;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  ~FolderLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool held() const { return state_ == LockState::kHeld; }
  bool busy() const { return state_ == LockState::kBusy; }
  bool missing() const { return missing_; }
  int fd() const { return fd_; }

 private:
  int fd_;
  bool missing_;
  LockState state_;
};

// Gives up on saving in folder for the rest of the process, and says so once.
void giveUpOn(const std::string& folder, int lockFd) {
  busyFolders.insert(folder);
  if (lockBusy) lockBusy(folder, lockHolder(lockFd));
}

// Replaces target with contents through a temporary file in its folder;
// returns "" or why it could not, with no temporary file left.
std::string replaceWith(const std::string& target, const std::string& folder,
                        const std::string& base, const ini::Patch& contents,
                        const FolderLock& lock) {
  std::string temporary = folder + "/." + base + ".XXXXXX";
  int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  bool ok = fillTemporary(fd, target, contents);
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    int error = errno;  // the reason, not the clean-up's
    unlink(temporary.c_str());
    return std::strerror(error);
  }
  if (lock.held()) fsync(lock.fd());  // best effort: hurries the rename to disk
  return std::string();
}

}  // namespace

namespace ini {

ReadResult readFile(const std::string& path, std::string* bytes, ReadFailure* why) {
  bytes->clear();
  // O_NONBLOCK: a FIFO in the file's place must not hang the program; it is
  // then refused below as not a regular file.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (why) *why = ReadFailure{errno, 0};
    return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing : ReadResult::kFailed;
  }
  struct stat info;
  errno = 0;
  bool ok = fstat(fd, &info) == 0;
  ReadFailure failure{0, ok ? static_cast<mode_t>(info.st_mode & S_IFMT) : mode_t{0}};
  ok = ok && S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) < kMaxFileSize &&
       readAll(fd, static_cast<size_t>(info.st_size), bytes);
  failure.error = errno;
  close(fd);
  if (ok) return ReadResult::kRead;
  bytes->clear();
  if (why) *why = failure;
  errno = failure.error;
  return ReadResult::kFailed;
}

bool makeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1))
    mkdir(folder.substr(0, slash).c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  struct stat info;
  if (stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  if (errno == 0) errno = ENOTDIR;
  return false;
}

void setConfigFolder(const std::string& folder) { chosenFolder = folder; }

std::string configFolder() {
  if (!chosenFolder.empty()) return chosenFolder;
  // Relative values are invalid by the XDG rules and are ignored.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/kronsec";
  std::string home = homeFolder();
  return home.empty() ? home : home + "/.config/kronsec";
}

std::string profilePath(const char* name) {
  if (!name) name = kSystemProfile;
  if (!*name) return std::string();
  if (std::strchr(name, '/')) return name;
  std::string folder = configFolder();
  return folder.empty() ? folder : folder + "/" + name;
}

std::string saveFile(const std::string& path, bool makeFolder, const Reviser& revise) {
  std::string target = finalTarget(path);
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash ? slash : 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  // A folder made here is new and empty: the second pass reads under its lock.
  for (int pass = 0;; ++pass) {
    if (busyFolders.count(folder)) return lockBusyReason;
    FolderLock lock(folder);
    if (lock.busy()) {
      giveUpOn(folder, lock.fd());
      return lockBusyReason;
    }
    if (lock.held()) removeLeftovers(lock.fd(), base);
    std::string bytes;
    errno = 0;
    ReadResult state = readFile(target, &bytes);
    Revision revision = revise(state, std::move(bytes));
    if (!revision.refusal.empty()) return revision.refusal;
    if (!revision.changed) return std::string();
    // Only a file's own folder is made, never one a link points into.
    if (lock.missing() && makeFolder && target == path && pass == 0) {
      if (!makeFolders(folder)) return std::strerror(errno);
      continue;
    }
    return replaceWith(target, folder, base, revision.contents, lock);
  }
}

void setWriteStep(WriteStep step) { writeStep = step; }

void setLockBusy(LockBusy busy) { lockBusy = busy; }

void setLockWait(uint32_t ms) {
  lockWaitMs = ms ? ms : defaultLockWaitMs;
  busyFolders.clear();
}

}  // namespace ini
