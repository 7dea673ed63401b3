// Loads ncurses for the terminal front end (cursestable.h).
#include "linux/tui/cursestable.h"

#include <dlfcn.h>

#include <string>

namespace {
CursesCalls load() {
  CursesCalls calls{};
  // The wide-character ncurses the headers describe, by the name its ABI
  // version gives it (libncursesw.so.6); libtinfo comes with it.
  std::string library = "libncursesw.so." + std::to_string(NCURSES_VERSION_MAJOR);
  // RTLD_GLOBAL, and each name looked up in the whole process: where the
  // program has ncurses linked already (the tests), a variable's live copy
  // is the program's, not the library's.
  if (!dlopen(library.c_str(), RTLD_NOW | RTLD_GLOBAL)) return calls;
#define KRONSEC_CURSES_FIND(name) \
  calls.name = reinterpret_cast<decltype(calls.name)>(dlsym(RTLD_DEFAULT, #name));
  KRONSEC_CURSES_NAMES(KRONSEC_CURSES_FIND)
#undef KRONSEC_CURSES_FIND
  return calls;
}
}  // namespace

const CursesCalls& cursesCalls() {
  static const CursesCalls calls = load();
  return calls;
}

bool cursesLoaded() {
  const CursesCalls& calls = cursesCalls();
  bool all = true;
#define KRONSEC_CURSES_FOUND(name) all = all && calls.name != nullptr;
  KRONSEC_CURSES_NAMES(KRONSEC_CURSES_FOUND)
#undef KRONSEC_CURSES_FOUND
  return all;
}
