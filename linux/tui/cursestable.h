// The ncurses functions and variables the terminal front end uses, as one
// table of pointers into the library, loaded when the table is first asked
// for. The program does not link ncurses, so a headless run (cron,
// systemd) never maps it nor binds its symbols; linux/tui/curses.h lets the
// front end's code call each by its own name.
#pragma once
#include <curses.h>

// Every name the front end uses, X(name) each.
#define KRONSEC_CURSES_NAMES(X)                                                                    \
  X(beep) X(cbreak) X(clearok) X(curs_set) X(endwin) X(getcchar) X(getmouse) X(has_colors)         \
  X(init_pair) X(keypad) X(mouseinterval) X(mousemask) X(newterm) X(nodelay) X(noecho)             \
  X(set_escdelay) X(set_term) X(setcchar) X(start_color) X(ungetch) X(wadd_wch) X(waddch)          \
  X(waddnstr) X(wattr_off) X(wattr_on) X(werase) X(wgetch) X(whline) X(win_wch) X(wmove)           \
  X(wrefresh) X(wvline) X(LINES) X(COLS) X(stdscr) X(COLORS) X(acs_map)

// A pointer to each: to the function, or to the variable.
struct CursesCalls {
#define KRONSEC_CURSES_SLOT(name) decltype(&::name) name;
  KRONSEC_CURSES_NAMES(KRONSEC_CURSES_SLOT)
#undef KRONSEC_CURSES_SLOT
};

// Returns the table, loading the library on the first call; every pointer
// is null when it could not be loaded.
const CursesCalls& cursesCalls();

// Returns whether the library is loaded with every name of the table.
bool cursesLoaded();
