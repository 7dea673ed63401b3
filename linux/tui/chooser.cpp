// The file chooser of the terminal front end (GetOpenFileNameA): a folder's
// entries, a file-name field and a file-type selector on the whole screen.
#include <dirent.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "linux/tui/keys.h"
#include "linux/tui/pages.h"
#include "linux/tui/curses.h"  // last: its names are macros

namespace {

const int kWheelLines = 3;
const int kListTop = 3;      // first screen row of the entries
const int kFieldCol = 16;    // where the name field and the type selector start
const int kButtonWidth = 8;  // "[  OK  ]", "[Cancel]"

struct FileType {
  std::string label;
  std::vector<std::string> patterns;  // "*.log;*.txt" holds two
};

struct Entry {
  std::string name;
  bool folder;  // ".." included
};

// The pairs of zero-terminated label and pattern texts, closed by an empty one.
std::vector<FileType> parseFileTypes(const char* list) {
  std::vector<FileType> types;
  while (list && *list) {
    const char* pattern = list + std::strlen(list) + 1;
    if (!*pattern) break;
    FileType type{list, {}};
    std::string all = pattern;
    for (size_t start = 0; start <= all.size();) {
      size_t end = std::min(all.find(';', start), all.size());
      if (end > start) type.patterns.push_back(all.substr(start, end - start));
      start = end + 1;
    }
    types.push_back(type);
    list = pattern + std::strlen(pattern) + 1;
  }
  if (types.empty()) types.push_back({"All files", {"*"}});
  return types;
}

// Letter case does not count, as on Windows, and "*.*" takes every name.
bool matches(const std::string& name, const FileType& type) {
  for (const std::string& p : type.patterns)
    if (p == "*.*" || p == "*" || fnmatch(p.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
  return false;
}

bool isFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::string join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string workingFolder() {
  char* here = getcwd(nullptr, 0);  // as long as it is
  std::string folder = here ? here : "/";
  std::free(here);
  return folder;
}

// `path` taken from `base` when relative, with "." and ".." worked out as
// written (a link is not followed; ".." of the root is the root), without a
// trailing slash. (Worked out here rather than with std::filesystem, which
// would bring the C++ library's locales and streams into the program.)
std::string absolutePath(const std::string& base, const std::string& path) {
  std::string joined = !path.empty() && path[0] == '/' ? path : base + "/" + path;
  bool rooted = joined[0] == '/';
  std::vector<std::string> parts;
  for (size_t at = 0, end; at < joined.size(); at = end + 1) {
    end = std::min(joined.find('/', at), joined.size());
    std::string part = joined.substr(at, end - at);
    if (part.empty() || part == ".") continue;
    if (part != "..") parts.push_back(part);
    else if (!parts.empty() && parts.back() != "..") parts.pop_back();
    else if (!rooted) parts.push_back(part);
  }
  std::string normal;
  for (const std::string& part : parts) normal += (normal.empty() && !rooted ? "" : "/") + part;
  return !normal.empty() ? normal : rooted ? "/" : ".";
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "~" and "~/..." stand for the home folder, as in a shell.
std::string expandHome(const std::string& typed) {
  const char* home = std::getenv("HOME");
  if (!home || typed.empty() || typed[0] != '~' || (typed.size() > 1 && typed[1] != '/'))
    return typed;
  return home + typed.substr(1);
}

std::string trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool byName(const Entry& a, const Entry& b) {
  int folded = strcasecmp(a.name.c_str(), b.name.c_str());
  return folded != 0 ? folded < 0 : a.name < b.name;
}

// ".." (but in "/"), the folders, then the files of the type, each by name;
// names starting with a dot only when `hidden`.
bool listFolder(const std::string& folder, const FileType& type, bool hidden,
                std::vector<Entry>* out, std::string* error) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    *error = std::strerror(errno);
    return false;
  }
  std::vector<Entry> folders, files;
  while (dirent* item = readdir(dir)) {
    std::string name = item->d_name;
    if (name == "." || name == ".." || (name[0] == '.' && !hidden)) continue;
    if (isFolder(join(folder, name)))
      folders.push_back({name, true});
    else if (matches(name, type))
      files.push_back({name, false});
  }
  closedir(dir);
  std::sort(folders.begin(), folders.end(), byName);
  std::sort(files.begin(), files.end(), byName);
  out->clear();
  if (folder != "/") out->push_back({"..", true});
  out->insert(out->end(), folders.begin(), folders.end());
  out->insert(out->end(), files.begin(), files.end());
  return true;
}

enum class Focus { List, Name, Type };

class FileChooserPage : public Page {
 public:
  FileChooserPage(OPENFILENAMEA* ofn, bool* confirmed);
  void draw(int rows, int cols) override;
  bool key(int ch) override;
  bool click(int row, int col) override;
  bool showsCaret() const override { return open_ && focus_ == Focus::Name; }

 private:
  std::string startFolder(const std::string& fileText) const;
  bool enterFolder(const std::string& folder, const std::string& mark);
  void reload();
  void nextType(int step);
  void select(int index);
  void activate(int index);
  void confirm();
  void deliver(const std::string& path);
  void cancel();
  void focusName();
  void setName(const std::string& name);
  void typeIntoName(KeyAction action, int ch);
  bool commandKey(KeyAction action);
  bool nameKey(KeyAction action);
  bool listKey(KeyAction action);
  bool typeKey(KeyAction action);
  bool mouseEvent();
  int listRows() const { return std::max(1, rows_ - 9); }
  int fieldWidth() const { return std::max(4, cols_ - kFieldCol - kButtonWidth - 3); }
  int buttonCol() const { return kFieldCol + fieldWidth() + 2; }
  void drawHeader();
  void drawList();
  void drawName();
  void drawType();
  void drawFooter();

  OPENFILENAMEA* ofn_;
  bool* confirmed_;
  std::vector<FileType> types_;
  size_t type_ = 0;
  bool hidden_ = false;
  std::string folder_;
  std::vector<Entry> entries_;
  int selected_ = 0;
  int top_ = 0;
  int lastClicked_ = -1;  // the entry a second click opens
  EditField name_;   // File name, edited as the dialogs' fields are
  size_t view_ = 0;  // first character of the name shown in the field
  Focus focus_ = Focus::Name;
  std::string message_;
  int rows_ = 24, cols_ = 80;
  bool open_ = true;
};

FileChooserPage::FileChooserPage(OPENFILENAMEA* ofn, bool* confirmed)
    : ofn_(ofn), confirmed_(confirmed), types_(parseFileTypes(ofn->lpstrFilter)) {
  if (ofn->nFilterIndex >= 1 && ofn->nFilterIndex <= types_.size()) type_ = ofn->nFilterIndex - 1;
  std::string fileText =
      ofn->lpstrFile ? std::string(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile)) : "";
  setName(nameOf(fileText));
  focusName();
  std::string folder = startFolder(fileText);
  const std::string& name = name_.text;
  if (!enterFolder(folder, name) && !enterFolder(workingFolder(), name)) enterFolder("/", name);
}

// The focus into File name selects the whole name, so typing replaces it, as
// in the dialogs' text fields.
void FileChooserPage::focusName() {
  focus_ = Focus::Name;
  name_.anchor = 0;
  name_.caret = static_cast<int32_t>(name_.text.size());
}

void FileChooserPage::setName(const std::string& name) {
  name_ = EditField{name, static_cast<int32_t>(name.size()), -1};
}

// The initial folder, or else the folder of the initial file, or else the
// working folder; Windows-style backslashes count as slashes.
std::string FileChooserPage::startFolder(const std::string& fileText) const {
  std::string initial = ofn_->lpstrInitialDir ? ofn_->lpstrInitialDir : "";
  std::replace(initial.begin(), initial.end(), '\\', '/');
  std::string here = workingFolder();
  if (!initial.empty() && isFolder(absolutePath(here, initial))) return absolutePath(here, initial);
  if (fileText.find('/') != std::string::npos) {
    std::string folder = absolutePath(here, folderOf(expandHome(fileText)));
    if (isFolder(folder)) return folder;
  }
  return here;
}

// Shows `folder`, with the entry called `mark` selected when it is there;
// on failure says why and keeps the folder shown.
bool FileChooserPage::enterFolder(const std::string& folder, const std::string& mark) {
  std::vector<Entry> entries;
  std::string error;
  if (!listFolder(folder, types_[type_], hidden_, &entries, &error)) {
    message_ = "Cannot open " + folder + ": " + error;
    return false;
  }
  folder_ = folder;
  entries_ = entries;
  selected_ = top_ = 0;
  lastClicked_ = -1;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].name == mark) selected_ = static_cast<int>(i);
  top_ = std::max(0, selected_ - listRows() + 1);
  return true;
}

// Lists the folder again (another type, hidden files), keeping the selection.
void FileChooserPage::reload() {
  std::string mark = entries_.empty() ? "" : entries_[static_cast<size_t>(selected_)].name;
  int oldTop = top_;
  if (!enterFolder(folder_, mark)) return;
  if (selected_ >= oldTop && selected_ < oldTop + listRows()) top_ = oldTop;
}

void FileChooserPage::nextType(int step) {
  int count = static_cast<int>(types_.size());
  type_ = static_cast<size_t>((static_cast<int>(type_) + step + count) % count);
  reload();
}

// Moves the selection; a file's name goes into the name field.
void FileChooserPage::select(int index) {
  if (entries_.empty()) return;
  selected_ = std::clamp(index, 0, static_cast<int>(entries_.size()) - 1);
  lastClicked_ = -1;
  const Entry& entry = entries_[static_cast<size_t>(selected_)];
  if (!entry.folder) setName(entry.name);
  if (selected_ < top_) top_ = selected_;
  if (selected_ >= top_ + listRows()) top_ = selected_ - listRows() + 1;
}

// Enter or a second click on an entry: a folder opens, a file is chosen.
void FileChooserPage::activate(int index) {
  if (index < 0 || index >= static_cast<int>(entries_.size())) return;
  const Entry& entry = entries_[static_cast<size_t>(index)];
  if (entry.name == "..") {
    enterFolder(folderOf(folder_), nameOf(folder_));
  } else if (entry.folder) {
    enterFolder(join(folder_, entry.name), "");
  } else {
    setName(entry.name);
    confirm();
  }
}

// The typed name: a folder opens; a file is checked and delivered.
void FileChooserPage::confirm() {
  std::string typed = trimmed(name_.text);
  if (typed.empty()) {
    message_ = "Type a file name or choose a file in the list.";
    return;
  }
  std::string path = absolutePath(folder_, expandHome(typed));
  if (isFolder(path)) {
    if (enterFolder(path, "")) setName("");
    return;
  }
  if (typed.back() == '/') {
    message_ = "There is no folder " + path + ".";
    return;
  }
  std::string folder = folderOf(path);
  if ((ofn_->Flags & OFN_PATHMUSTEXIST) && !isFolder(folder)) {
    message_ = "The folder " + folder + " does not exist.";
    return;
  }
  if ((ofn_->Flags & OFN_FILEMUSTEXIST) && !exists(path)) {
    message_ = "The file " + path + " does not exist.";
    return;
  }
  deliver(path);
}

// Writes the path back whole, never cut, and closes the page.
void FileChooserPage::deliver(const std::string& path) {
  if (!ofn_->lpstrFile || path.size() + 1 > ofn_->nMaxFile) {
    size_t room = ofn_->nMaxFile > 0 ? ofn_->nMaxFile - 1 : 0;
    message_ = "The path is too long: " + std::to_string(path.size()) +
               " characters, kronsec takes at most " + std::to_string(room) + ".";
    return;
  }
  std::memcpy(ofn_->lpstrFile, path.c_str(), path.size() + 1);
  size_t name = path.rfind('/') + 1;
  size_t dot = path.rfind('.');
  ofn_->nFileOffset = static_cast<WORD>(std::min<size_t>(name, 0xFFFF));
  ofn_->nFileExtension = static_cast<WORD>(
      std::min<size_t>(dot != std::string::npos && dot >= name ? dot + 1 : path.size(), 0xFFFF));
  ofn_->nFilterIndex = static_cast<DWORD>(type_ + 1);
  std::string title = path.substr(name);
  if (ofn_->lpstrFileTitle && title.size() < ofn_->nMaxFileTitle)
    std::memcpy(ofn_->lpstrFileTitle, title.c_str(), title.size() + 1);
  if (confirmed_) *confirmed_ = true;
  open_ = false;
}

void FileChooserPage::cancel() {
  if (confirmed_) *confirmed_ = false;
  open_ = false;
}

bool FileChooserPage::key(int ch) {
  if (!open_) return false;
  if (ch == KEY_RESIZE) return true;
  if (ch == KEY_MOUSE) return mouseEvent();
  message_.clear();
  KeyAction action = keyAction(chooserKeys(), ch);
  if (commandKey(action)) return open_;
  if (focus_ == Focus::Name && nameKey(keyAction(editKeys(), ch))) return open_;
  if (focus_ == Focus::Type && typeKey(keyAction(chooserTypeKeys(), ch))) return open_;
  if (!listKey(action)) typeIntoName(action, ch);
  return open_;
}

// Keys that mean the same wherever the focus is; false for the others.
bool FileChooserPage::commandKey(KeyAction action) {
  switch (action) {
    case KeyAction::Cancel: cancel(); break;
    case KeyAction::NextControl:
    case KeyAction::PreviousControl: {
      // List -> Name -> Type -> List, and back
      int step = action == KeyAction::NextControl ? 1 : 2;
      focus_ = static_cast<Focus>((static_cast<int>(focus_) + step) % 3);
      if (focus_ == Focus::Name) focusName();
      break;
    }
    case KeyAction::NextFileType: nextType(1); break;
    case KeyAction::HiddenFiles:
      hidden_ = !hidden_;
      reload();
      break;
    case KeyAction::Confirm:
      if (focus_ == Focus::List) activate(selected_);
      else confirm();
      break;
    default: return false;
  }
  return true;
}

// The dialogs' editing keys on File name; false for keys it leaves alone.
bool FileChooserPage::nameKey(KeyAction action) {
  EditKey key;
  if (!editKeyOf(action, &key)) return false;
  editFieldKey(name_, key);
  return true;
}

// Typing (and Backspace) anywhere goes to File name; coming from elsewhere,
// it replaces the name as the focus moving in selects it.
void FileChooserPage::typeIntoName(KeyAction action, int ch) {
  if (action != KeyAction::Type && action != KeyAction::EditBackspace) return;
  if (focus_ != Focus::Name) focusName();
  editFieldKey(name_, action == KeyAction::Type ? EditKey::Type : EditKey::Backspace,
               static_cast<char>(ch));
}

// Moving in the list, which takes the focus; Home and End only when it has it.
bool FileChooserPage::listKey(KeyAction action) {
  if (!isListMove(action)) return false;
  bool toAnEnd = action == KeyAction::First || action == KeyAction::Last;
  if (toAnEnd && focus_ != Focus::List) return false;
  focus_ = Focus::List;
  int count = static_cast<int>(entries_.size());
  select(movedRow(action, selected_, count, std::max(1, listRows() - 1)));
  return true;
}

bool FileChooserPage::typeKey(KeyAction action) {
  if (action != KeyAction::Back && action != KeyAction::Forward) return false;
  nextType(action == KeyAction::Back ? -1 : 1);
  return true;
}

// The front end may pass KEY_MOUSE on unread: the wheel scrolls, a press clicks.
bool FileChooserPage::mouseEvent() {
  MEVENT event;
  if (getmouse(&event) != OK) return open_;
  if (event.bstate & BUTTON4_PRESSED) top_ = std::max(0, top_ - kWheelLines);
#ifdef BUTTON5_PRESSED
  int last = std::max(0, static_cast<int>(entries_.size()) - listRows());
  if (event.bstate & BUTTON5_PRESSED) top_ = std::min(last, top_ + kWheelLines);
#endif
  if (event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) return click(event.y, event.x);
  return open_;
}

bool FileChooserPage::click(int row, int col) {
  if (!open_) return false;
  message_.clear();
  int nameRow = kListTop + listRows() + 1;
  int index = top_ + row - kListTop;
  if (row >= kListTop && row < kListTop + listRows() && index < static_cast<int>(entries_.size())) {
    focus_ = Focus::List;
    if (index == lastClicked_) {
      activate(index);
    } else {
      select(index);
      lastClicked_ = index;
    }
  } else if (row == nameRow && col >= buttonCol()) {
    confirm();
  } else if (row == nameRow && focus_ != Focus::Name) {
    focusName();  // a click that brings the focus selects the name, as Tab does
  } else if (row == nameRow && col >= kFieldCol) {
    name_.caret = static_cast<int32_t>(
        std::min(name_.text.size(), view_ + static_cast<size_t>(col - kFieldCol)));
    name_.anchor = -1;
  } else if (row == nameRow + 1 && col >= buttonCol()) {
    cancel();
  } else if (row == nameRow + 1 && col >= kFieldCol) {
    focus_ = Focus::Type;
    nextType(1);
  }
  return open_;
}

void FileChooserPage::draw(int rows, int cols) {
  rows_ = std::max(rows, 10);
  cols_ = std::max(cols, 30);
  top_ = std::clamp(top_, 0, std::max(0, static_cast<int>(entries_.size()) - listRows()));
  werase(stdscr);
  drawHeader();
  drawList();
  drawType();
  if (!message_.empty()) {
    attron(A_BOLD);
    mvaddnstr(rows_ - 3, 1, message_.c_str(), cols_ - 2);
    attroff(A_BOLD);
  }
  drawFooter();
  drawName();  // last, so that the terminal's cursor stays in the field
}

// The title bar and the folder shown, its start cut off when too long.
void FileChooserPage::drawHeader() {
  mvhline(0, 0, ' ' | A_REVERSE, cols_);
  std::string title = ofn_->lpstrTitle && *ofn_->lpstrTitle ? ofn_->lpstrTitle : "Open";
  attron(A_REVERSE | A_BOLD);
  mvaddnstr(0, std::max(0, (cols_ - static_cast<int>(title.size())) / 2), title.c_str(), cols_);
  attroff(A_REVERSE | A_BOLD);
  mvaddstr(1, 1, "Folder:");
  size_t room = static_cast<size_t>(cols_ - 10);
  std::string shown =
      folder_.size() <= room ? folder_ : "..." + folder_.substr(folder_.size() - room + 3);
  mvaddnstr(1, 9, shown.c_str(), static_cast<int>(room));
}

// The entries in a box; the selection is reversed while the list has the focus.
void FileChooserPage::drawList() {
  int bottom = kListTop + listRows();
  mvaddch(kListTop - 1, 0, ACS_ULCORNER);
  mvhline(kListTop - 1, 1, ACS_HLINE, cols_ - 2);
  mvaddch(kListTop - 1, cols_ - 1, ACS_URCORNER);
  mvvline(kListTop, 0, ACS_VLINE, listRows());
  mvvline(kListTop, cols_ - 1, ACS_VLINE, listRows());
  mvaddch(bottom, 0, ACS_LLCORNER);
  mvhline(bottom, 1, ACS_HLINE, cols_ - 2);
  mvaddch(bottom, cols_ - 1, ACS_LRCORNER);
  int width = cols_ - 4;
  for (int r = 0; r < listRows() && top_ + r < static_cast<int>(entries_.size()); ++r) {
    const Entry& entry = entries_[static_cast<size_t>(top_ + r)];
    std::string text = entry.name + (entry.folder && entry.name != ".." ? "/" : "");
    bool marked = top_ + r == selected_;
    attr_t attr = (marked ? (focus_ == Focus::List ? A_REVERSE : A_UNDERLINE) : A_NORMAL) |
                  (entry.folder ? A_BOLD : A_NORMAL);
    if (marked) mvhline(kListTop + r, 1, ' ' | attr, cols_ - 2);
    attron(attr);
    mvaddnstr(kListTop + r, 2, text.c_str(), width);
    attroff(attr);
  }
  if (static_cast<int>(entries_.size()) > listRows()) {
    std::string where = " " + std::to_string(top_ + 1) + "-" +
                        std::to_string(std::min<size_t>(entries_.size(), top_ + listRows())) +
                        " of " + std::to_string(entries_.size()) + " ";
    mvaddnstr(bottom, std::max(1, cols_ - 2 - static_cast<int>(where.size())), where.c_str(),
              cols_ - 2);
  }
}

// "File name:" with the editable field, the selection reversed while the
// field has the focus, and OK; the terminal's cursor stays at the caret.
void FileChooserPage::drawName() {
  int row = kListTop + listRows() + 1;
  size_t width = static_cast<size_t>(fieldWidth());
  const std::string& text = name_.text;
  size_t caret = std::min(static_cast<size_t>(std::max(0, name_.caret)), text.size());
  size_t anchor =
      name_.anchor < 0 ? caret : std::min(static_cast<size_t>(name_.anchor), text.size());
  if (caret < view_) view_ = caret;
  if (caret >= view_ + width) view_ = caret - width + 1;
  mvaddstr(row, 1, "File name:");
  mvaddstr(row, buttonCol(), "[  OK  ]");
  mvhline(row, kFieldCol, ' ' | A_UNDERLINE, static_cast<int>(width));
  bool focused = focus_ == Focus::Name;
  for (size_t i = view_; i < text.size() && i < view_ + width; ++i) {
    bool selected = focused && i >= std::min(caret, anchor) && i < std::max(caret, anchor);
    mvaddch(row, kFieldCol + static_cast<int>(i - view_),
            static_cast<unsigned char>(text[i]) | (selected ? A_REVERSE : A_UNDERLINE));
  }
  if (focused) wmove(stdscr, row, kFieldCol + static_cast<int>(caret - view_));
}

void FileChooserPage::drawType() {
  int row = kListTop + listRows() + 2;
  mvaddstr(row, 1, "Files of type:");
  std::string shown = "< " + types_[type_].label + " >";
  attr_t attr = focus_ == Focus::Type ? A_REVERSE : A_NORMAL;
  attron(attr);
  mvaddnstr(row, kFieldCol, shown.c_str(), fieldWidth());
  attroff(attr);
  mvaddstr(row, buttonCol(), "[Cancel]");
}

void FileChooserPage::drawFooter() {
  mvhline(rows_ - 2, 0, ACS_HLINE, cols_);
  std::string keys = "Enter open/choose  Tab move  F2 file type  F3 hidden files  Esc cancel";
  mvaddnstr(rows_ - 1, 1, keys.c_str(), cols_ - 2);
}

}  // namespace

std::unique_ptr<Page> makeFileChooserPage(OPENFILENAMEA* ofn, bool* confirmed) {
  if (!ofn) return nullptr;
  return std::make_unique<FileChooserPage>(ofn, confirmed);
}
