// The Win32 profile calls over INI files in the user's configuration folder.
//
// A bare file name lives in $XDG_CONFIG_HOME/kronsec/ (by default
// ~/.config/kronsec/); the system profile is "win.ini" there. Every call reads
// the file afresh, so nothing is cached and a flush has nothing to do. A file
// that is missing or cannot be read reads as empty. Every write replaces the
// file whole through a temporary file and rename(2), so a crash or a full
// disk leaves either the old file or the new one, never a mix.
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/inifile.h"
#include "platform/win32.h"

namespace {

const char systemProfile[] = "win.ini";

ini::WriteStep writeStep = nullptr;
std::string chosenFolder;

struct RunOverride {
  std::string file, section, key, value;
};
std::vector<RunOverride> runOverrides;

ini::NumberWarning numberWarning = nullptr;
std::set<std::string> warnedKeys;

bool sameName(const std::string& a, const char* b) { return b && strcasecmp(a.c_str(), b) == 0; }

const RunOverride* findOverride(const char* file, const char* section, const char* key) {
  for (const RunOverride& o : runOverrides)
    if (file && o.file == file && sameName(o.section, section) && sameName(o.key, key)) return &o;
  return nullptr;
}

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

enum class ReadResult { kRead, kMissing, kFailed };

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

// Reads the whole file at path into *bytes. A missing file (or folder) is
// kMissing; anything that is not a readable regular file of a size we
// handle is kFailed.
ReadResult readFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  // O_NONBLOCK: a FIFO in the file's place must not hang the program; it is
  // then refused below as not a regular file.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing
                                                 : ReadResult::kFailed;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            static_cast<uint64_t>(info.st_size) < ini::kMaxFileSize &&
            readAll(fd, static_cast<size_t>(info.st_size), bytes);
  close(fd);
  if (ok) return ReadResult::kRead;
  bytes->clear();
  return ReadResult::kFailed;
}

// Returns the document for a read, with this run's overrides in it;
// whatever cannot be read reads as empty.
ini::Document loadForRead(const char* name) {
  std::string bytes;
  std::string path = ini::profilePath(name);
  if (!path.empty()) readFile(path, &bytes);
  ini::Document doc = ini::parse(std::move(bytes));
  for (const RunOverride& o : runOverrides) {
    std::string edited;
    if (!name || o.file != name) continue;
    if (ini::setValue(doc, o.section.c_str(), o.key.c_str(), o.value.c_str(), &edited) ==
        ini::Edit::kChanged)
      doc = ini::parse(std::move(edited));
  }
  return doc;
}

// Tells, once per file and key, that an integer read met text that is not a
// number and what it read instead.
void warnIfNotNumber(const ini::Document& doc, const char* section, const char* key,
                     const char* name, uint32_t used) {
  char text[30];
  if (!numberWarning || !key || ini::getString(doc, section, key, "", text, sizeof text) == 0 ||
      ini::isWholeInteger(text))
    return;
  std::string path = ini::profilePath(name);
  std::string id = path + "\n" + section + "\n" + key;
  for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!warnedKeys.insert(id).second) return;
  numberWarning(path, std::string(key) + "=\"" + text + "\" is not a number; kronsec uses " +
                         std::to_string(static_cast<int32_t>(used)));
}

// Creates folder and its missing parents, owner-only like the rest of a
// user's configuration. Returns true when folder exists as a directory.
bool makeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1))
    mkdir(folder.substr(0, slash).c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        (writeStep ? writeStep : write)(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
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

void syncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);  // best effort: the rename is done, this only hurries it to disk
  close(fd);
}

// Applies one write call's edit to the file at path (section non-null).
BOOL writeProfile(const char* section, const char* key, const char* value,
                  const char* name) {
  // A run-only value never reaches the file.
  if (key && findOverride(name, section, key)) return TRUE;
  std::string path = ini::profilePath(name);
  if (path.empty()) return FALSE;
  std::string bytes;
  // A file we cannot read is never replaced: that would lose its contents.
  if (readFile(path, &bytes) == ReadResult::kFailed) return FALSE;
  // Nor is a UTF-16 file, which this store cannot read: our lines would
  // garble it.
  if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)
    return FALSE;
  ini::Document doc = ini::parse(std::move(bytes));
  std::string edited;
  ini::Edit edit = !key     ? ini::removeSection(doc, section, &edited)
                   : !value ? ini::removeKey(doc, section, key, &edited)
                            : ini::setValue(doc, section, key, value, &edited);
  if (edit == ini::Edit::kUnchanged) return TRUE;
  if (edited.size() >= ini::kMaxFileSize) return FALSE;
  bool bare = !name || !std::strchr(name, '/');
  if (bare && !makeFolders(ini::configFolder())) return FALSE;
  return ini::replaceFile(path, edited) ? TRUE : FALSE;
}

}  // namespace

namespace ini {

void setConfigFolder(const std::string& folder) { chosenFolder = folder; }

void setRunOverride(const char* name, const char* section, const char* key,
                    const char* value) {
  runOverrides.push_back({name, section, key, value});
}

void clearRunOverrides() { runOverrides.clear(); }

void setNumberWarning(NumberWarning warn) {
  numberWarning = warn;
  warnedKeys.clear();
}

std::string configFolder() {
  if (!chosenFolder.empty()) return chosenFolder;
  // Relative values are invalid by the XDG rules and are ignored.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/kronsec";
  std::string home = homeFolder();
  return home.empty() ? home : home + "/.config/kronsec";
}

std::string profilePath(const char* name) {
  if (!name) name = systemProfile;
  if (!*name) return std::string();
  if (std::strchr(name, '/')) return name;
  std::string folder = configFolder();
  return folder.empty() ? folder : folder + "/" + name;
}

bool replaceFile(const std::string& path, const std::string& bytes) {
  std::string target = replaceTarget(path);
  size_t slash = target.rfind('/');
  std::string folder =
      slash == std::string::npos ? "." : target.substr(0, slash ? slash : 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temporary = folder + "/." + base + ".XXXXXX";
  int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fillTemporary(fd, target, bytes);
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  syncFolder(folder);
  return true;
}

void setWriteStep(WriteStep step) { writeStep = step; }

}  // namespace ini

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out,
                               DWORD size, LPCSTR file) {
  if (!out || size == 0) return 0;
  return ini::getString(loadForRead(file), section, key, def, out, size);
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file) {
  ini::Document doc = loadForRead(file);
  uint32_t value = ini::getInt(doc, section, key, def);
  warnIfNotNumber(doc, section, key, file, value);
  return value;
}

// Null arguments as Windows takes them: all three null flushes its cache and
// returns FALSE (we keep none); a null key removes the section, a null value
// the key; a null section otherwise is an error.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  if (!section) return FALSE;
  return writeProfile(section, key, value, file);
}

DWORD GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out, DWORD size) {
  return GetPrivateProfileStringA(section, key, def, out, size, systemProfile);
}

BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value) {
  return WritePrivateProfileStringA(section, key, value, systemProfile);
}
