// The Win32 profile calls over INI files in the user's configuration folder.
//
// A bare file name lives in $XDG_CONFIG_HOME/kronsec/ (by default
// ~/.config/kronsec/); the system profile is "win.ini" there. A file is read
// and parsed once and kept until it changes on disk. Writes wait in a list
// until a flush (the API's own, or process exit), which applies them all to
// the file as it then stands and replaces it in one atomic step: a crash
// leaves the old settings or the new ones, whole. A file that is missing or
// cannot be read reads as empty and is never replaced; a read-only one is
// not written; no value with a line break is written.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/ascii.h"
#include "platform/posix/ini/store.h"
#include "platform/win32.h"

namespace {

struct RunOverride {
  std::string file, section, key, value;
};
std::vector<RunOverride> runOverrides;

ini::NumberWarning numberWarning = nullptr;
std::set<std::string> warnedKeys;
ini::SaveFailure saveFailure = nullptr;

// What identifies one state of a file on disk.
struct FileStamp {
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{}, changed{};
  bool operator==(const FileStamp& o) const {
    return present == o.present && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

struct CachedFile {
  std::string name;  // as the calls name it: "orv.ini", or a path
  bool loaded = false;
  FileStamp stamp;
  ini::ReadResult state = ini::ReadResult::kMissing;
  ini::ReadFailure failure;  // why the last read failed
  ini::Document disk;        // as last read or written
  std::vector<ini::PendingWrite> pending;
  bool viewValid = false;
  bool viewIsDisk = false;  // the pending writes leave disk as it is
  ini::Document view;       // disk with the pending writes applied
};
std::map<std::string, CachedFile> files;
bool flushAtExit = false;
bool saving = true;

bool sameName(const std::string& a, const char* b) {
  return b && equalIgnoringAsciiCase(a.data(), a.size(), b, std::strlen(b));
}

const RunOverride* findOverride(const char* file, const char* section, const char* key) {
  for (const RunOverride& o : runOverrides)
    if (file && o.file == file && sameName(o.section, section) && sameName(o.key, key)) return &o;
  return nullptr;
}

FileStamp stampOf(const std::string& path) {
  FileStamp s;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return s;
  s.present = true;
  s.device = info.st_dev;
  s.inode = info.st_ino;
  s.size = info.st_size;
  s.modified = info.st_mtim;
  s.changed = info.st_ctim;
  return s;
}

// Frees a document's memory now (assigning an empty one may keep the old
// text's buffer).
void release(ini::Document& doc) {
  ini::Document gone;
  std::swap(doc, gone);
}

// Returns the cache entry of path, read again when the file changed on disk.
CachedFile& fileAt(const std::string& path, const char* name) {
  CachedFile& f = files[path];
  FileStamp now = stampOf(path);
  if (f.loaded && now == f.stamp) return f;
  // The old contents go before the new are read: a big file is held once.
  release(f.disk);
  release(f.view);
  std::string bytes;
  f.name = name ? name : ini::kSystemProfile;
  f.failure = ini::ReadFailure();
  f.state = ini::readFile(path, &bytes, &f.failure);
  f.disk = ini::parse(std::move(bytes));
  f.stamp = now;
  f.loaded = true;
  f.viewValid = false;
  return f;
}

// A document of one key, as the file would hold it once written.
const ini::Document& oneKey(const std::string& section, const std::string& key,
                            const std::string& value) {
  static ini::Document doc;
  doc = ini::parse("[" + section + "]\n" + key + "=" + value + "\n");
  return doc;
}

enum class Answer { kFile, kWrite, kAllWrites };

// Who answers a read of (section, key) while writes wait: the file as read,
// the last write of that key (*write), or only the file with every waiting
// write applied (a removal in the section may uncover another line).
Answer whoAnswers(const CachedFile& f, const char* section, const char* key,
                  const ini::PendingWrite** write) {
  *write = nullptr;
  for (const ini::PendingWrite& w : f.pending) {
    if (!sameName(w.section, section)) continue;
    if (w.kind != ini::PendingWrite::kSet) return Answer::kAllWrites;
    if (sameName(w.key, key)) *write = &w;
  }
  return *write ? Answer::kWrite : Answer::kFile;
}

// Returns the document that answers a read: a one-key document for a
// run-only value or a waiting write, the file as read when nothing waits,
// else the file with the waiting writes applied. Whatever cannot be read
// reads as empty.
const ini::Document& readView(const char* name, const char* section, const char* key) {
  static const ini::Document empty;
  std::string path = ini::profilePath(name);
  if (path.empty()) return empty;
  CachedFile& f = fileAt(path, name);
  if (section && key) {
    if (const RunOverride* o = findOverride(name, section, key))
      return oneKey(o->section, o->key, o->value);
    const ini::PendingWrite* w;
    Answer answer = whoAnswers(f, section, key, &w);
    if (answer == Answer::kWrite) return oneKey(w->section, w->key, w->value);
    if (answer == Answer::kFile) return f.disk;
  }
  if (f.pending.empty()) return f.disk;
  if (!f.viewValid) {
    std::string edited;
    f.viewIsDisk = ini::applyWrites(f.disk, f.pending, &edited) == ini::Edit::kUnchanged;
    f.view = f.viewIsDisk ? ini::Document() : ini::parse(std::move(edited));
    f.viewValid = true;
  }
  return f.viewIsDisk ? f.disk : f.view;
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

bool hasLineBreak(const char* text) { return text && std::strpbrk(text, "\r\n"); }

bool isUtf16(const std::string& bytes) {
  return bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0;
}

// Windows does not write to a file marked read-only; here a file without any
// write permission is one (root could otherwise replace it regardless).
bool isReadOnly(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && ((info.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0);
}

bool failed(const std::string& path, const std::string& reason) {
  if (saveFailure) saveFailure(path, reason);
  return false;
}

// Returns why the file at path, as it stands, cannot take our writes, or "".
std::string unwritableReason(const std::string& path, ini::ReadResult state,
                             const std::string& bytes) {
  if (state == ini::ReadResult::kFailed)
    return errno ? std::strerror(errno) : "it is not a readable regular file";
  if (isUtf16(bytes)) return "it is a UTF-16 file, which kronsec does not write";
  if (isReadOnly(path)) return "the file is read-only";
  return "";
}

// Applies f's pending writes to the file as it stands when the save has
// its lock, in one replace.
bool flushFile(const std::string& path, CachedFile& f) {
  std::vector<ini::PendingWrite> writes = std::move(f.pending);
  f.pending.clear();
  // The file is read afresh by the save; the copies kept for reads would
  // only add to what a big file costs, and the next read loads it again.
  f.loaded = false;
  release(f.disk);
  release(f.view);
  f.viewValid = false;
  auto revise = [&](ini::ReadResult state, std::string bytes) {
    ini::Revision r;
    r.refusal = unwritableReason(path, state, bytes);
    if (!r.refusal.empty()) return r;
    r.changed = ini::patchWrites(ini::parse(std::move(bytes)), writes, &r.contents) ==
                ini::Edit::kChanged;
    if (r.changed && r.contents.size() >= ini::kMaxFileSize)
      r.refusal = "the file would grow too large";
    return r;
  };
  // A bare name's folder is ours to make, as it was when the name was first used.
  bool bare = !std::strchr(f.name.c_str(), '/');
  std::string reason = ini::saveFile(path, bare, revise);
  // A busy lock has been told about once for its whole folder.
  if (reason == ini::lockBusyReason) return false;
  return reason.empty() || failed(path, reason);
}

void flushAtProcessExit() { ini::flushProfiles(); }

// Queues one write call's edit of the file name (section non-null).
BOOL writeProfile(const char* section, const char* key, const char* value, const char* name) {
  // A run-only value never reaches the file.
  if (key && findOverride(name, section, key)) return TRUE;
  // A line break would start lines of its own in the file.
  if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) return FALSE;
  std::string path = ini::profilePath(name);
  if (path.empty()) return FALSE;
  CachedFile& f = fileAt(path, name);
  // A file we cannot read is never replaced: that would lose its contents.
  if (f.state == ini::ReadResult::kFailed || isUtf16(f.disk.bytes)) return FALSE;
  using W = ini::PendingWrite;
  f.pending.push_back({!key ? W::kRemoveSection : !value ? W::kRemoveKey : W::kSet, section,
                       key ? key : "", value ? value : ""});
  f.viewValid = false;
  if (!flushAtExit) flushAtExit = std::atexit(flushAtProcessExit) == 0;
  return TRUE;
}

}  // namespace

namespace ini {

void setRunOverride(const char* name, const char* section, const char* key,
                    const char* value) {
  runOverrides.push_back({name, section, key, value});
}

void clearRunOverrides() { runOverrides.clear(); }

void setNumberWarning(NumberWarning warn) {
  numberWarning = warn;
  warnedKeys.clear();
}

void setSaveFailure(SaveFailure failure) { saveFailure = failure; }

void setSaving(bool on) { saving = on; }

bool flushProfiles() {
  if (!saving) return true;  // the writes stay pending and keep answering reads
  bool ok = true;
  for (auto& entry : files)
    if (!entry.second.pending.empty()) ok = flushFile(entry.first, entry.second) && ok;
  return ok;
}

void dropProfileCache() { files.clear(); }

LoadedFile loadedFile(const char* name) {
  static const Document empty;
  std::string path = profilePath(name);
  if (path.empty()) return {ReadResult::kMissing, ReadFailure(), empty};
  const CachedFile& f = fileAt(path, name);
  return {f.state, f.failure, f.disk};
}

}  // namespace ini

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out,
                               DWORD size, LPCSTR file) {
  if (!out || size == 0) return 0;
  return ini::getString(readView(file, section, key), section, key, def, out, size);
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file) {
  const ini::Document& doc = readView(file, section, key);
  uint32_t value = ini::getInt(doc, section, key, def);
  warnIfNotNumber(doc, section, key, file, value);
  return value;
}

// Null arguments as Windows takes them: all three null writes what is
// pending and returns FALSE, as Windows' flush does; a null key removes the
// section, a null value the key; a null section otherwise is an error.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  if (!section && !key && !value) {
    ini::flushProfiles();
    return FALSE;
  }
  if (!section) return FALSE;
  return writeProfile(section, key, value, file);
}

DWORD GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out, DWORD size) {
  return GetPrivateProfileStringA(section, key, def, out, size, ini::kSystemProfile);
}

BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value) {
  return WritePrivateProfileStringA(section, key, value, ini::kSystemProfile);
}
