// What the terminal front end includes for ncurses: <curses.h>'s types,
// constants and macros, with each function and variable it uses reached
// through the library loaded at run time (linux/tui/cursestable.h). Call
// cursesLoaded() before the first of them.
#pragma once
#include "linux/tui/cursestable.h"

// Included after every other header: the names below would otherwise
// reach theirs. The front end calls werase, wmove and wrefresh, not erase,
// move and refresh, names C++ code has for its own. A function's name is
// replaced only where it is called, so a member of the same name stays.
#define beep(...) (*cursesCalls().beep)(__VA_ARGS__)
#define cbreak(...) (*cursesCalls().cbreak)(__VA_ARGS__)
#define clearok(...) (*cursesCalls().clearok)(__VA_ARGS__)
#define curs_set(...) (*cursesCalls().curs_set)(__VA_ARGS__)
#define endwin(...) (*cursesCalls().endwin)(__VA_ARGS__)
#define getcchar(...) (*cursesCalls().getcchar)(__VA_ARGS__)
#define getmouse(...) (*cursesCalls().getmouse)(__VA_ARGS__)
#define has_colors(...) (*cursesCalls().has_colors)(__VA_ARGS__)
#define init_pair(...) (*cursesCalls().init_pair)(__VA_ARGS__)
#define keypad(...) (*cursesCalls().keypad)(__VA_ARGS__)
#define mouseinterval(...) (*cursesCalls().mouseinterval)(__VA_ARGS__)
#define mousemask(...) (*cursesCalls().mousemask)(__VA_ARGS__)
#define newterm(...) (*cursesCalls().newterm)(__VA_ARGS__)
#define nodelay(...) (*cursesCalls().nodelay)(__VA_ARGS__)
#define noecho(...) (*cursesCalls().noecho)(__VA_ARGS__)
#define set_escdelay(...) (*cursesCalls().set_escdelay)(__VA_ARGS__)
#define set_term(...) (*cursesCalls().set_term)(__VA_ARGS__)
#define setcchar(...) (*cursesCalls().setcchar)(__VA_ARGS__)
#define start_color(...) (*cursesCalls().start_color)(__VA_ARGS__)
#define ungetch(...) (*cursesCalls().ungetch)(__VA_ARGS__)
#define wadd_wch(...) (*cursesCalls().wadd_wch)(__VA_ARGS__)
#define waddch(...) (*cursesCalls().waddch)(__VA_ARGS__)
#define waddnstr(...) (*cursesCalls().waddnstr)(__VA_ARGS__)
#define wattr_off(...) (*cursesCalls().wattr_off)(__VA_ARGS__)
#define wattr_on(...) (*cursesCalls().wattr_on)(__VA_ARGS__)
#define werase(...) (*cursesCalls().werase)(__VA_ARGS__)
#define wgetch(...) (*cursesCalls().wgetch)(__VA_ARGS__)
#define whline(...) (*cursesCalls().whline)(__VA_ARGS__)
#define win_wch(...) (*cursesCalls().win_wch)(__VA_ARGS__)
#define wmove(...) (*cursesCalls().wmove)(__VA_ARGS__)
#define wrefresh(...) (*cursesCalls().wrefresh)(__VA_ARGS__)
#define wvline(...) (*cursesCalls().wvline)(__VA_ARGS__)
#define LINES (*cursesCalls().LINES)
#define COLS (*cursesCalls().COLS)
#define stdscr (*cursesCalls().stdscr)
#define COLORS (*cursesCalls().COLORS)
#define acs_map (*cursesCalls().acs_map)
