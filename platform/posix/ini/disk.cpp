// The disk side of the INI store: where profile files live, reading them
// whole, and replacing them atomically.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/posix/ini/store.h"

namespace {

ini::WriteStep writeStep = nullptr;
std::string chosenFolder;

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

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        (writeStep ? writeStep : write)(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A settings file reached through a symbolic link is replaced where the link
// points, so the link survives.
std::string replaceTarget(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string target(real);
  std::free(real);
  return target;
}

// Writes the temporary file fd with bytes, keeping the permissions of the
// file it will replace. Returns false when any step fails.
bool fillTemporary(int fd, const std::string& target, const std::string& bytes) {
  struct stat info;
  if (stat(target.c_str(), &info) == 0 && fchmod(fd, info.st_mode & 07777) != 0)
    return false;
  return writeAll(fd, bytes) && fsync(fd) == 0;
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
// under the lock any such file is a leftover.
void removeLeftovers(const std::string& folder, const std::string& base) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (struct dirent* entry = readdir(dir))
    if (isTemporaryOf(entry->d_name, base)) unlinkat(dirfd(dir), entry->d_name, 0);
  closedir(dir);
}

// Holds an exclusive lock on a folder for one replace; -1 when it cannot be
// had (the replace then goes ahead without it).
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool held() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

namespace ini {

ReadResult readFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  // O_NONBLOCK: a FIFO in the file's place must not hang the program; it is
  // then refused below as not a regular file.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing : ReadResult::kFailed;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            static_cast<uint64_t>(info.st_size) < kMaxFileSize &&
            readAll(fd, static_cast<size_t>(info.st_size), bytes);
  close(fd);
  if (ok) return ReadResult::kRead;
  bytes->clear();
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

bool replaceFile(const std::string& path, const std::string& bytes) {
  std::string target = replaceTarget(path);
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash ? slash : 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  FolderLock lock(folder);
  if (lock.held()) removeLeftovers(folder, base);
  std::string temporary = folder + "/." + base + ".XXXXXX";
  int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fillTemporary(fd, target, bytes);
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    int error = errno;  // the reason, not the clean-up's
    unlink(temporary.c_str());
    errno = error;
    return false;
  }
  if (lock.held()) fsync(lock.fd());  // best effort: hurries the rename to disk
  return true;
}

void setWriteStep(WriteStep step) { writeStep = step; }

}  // namespace ini
