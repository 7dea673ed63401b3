// Full-screen pages the terminal front end shows over the dialogs: the help
// viewer and the log-file chooser. A page draws itself on the whole screen
// (ncurses stdscr) and takes every key and click until it closes.
#pragma once
#include <memory>

#include "platform/win32.h"

class Page {
 public:
  virtual ~Page() = default;
  // Draws the page on the whole screen (rows x cols); no refresh.
  virtual void draw(int rows, int cols) = 0;
  // Handles one ncurses key (KEY_* or a character); returns false once the
  // page has closed.
  virtual bool key(int ch) = 0;
  // Handles a mouse press at the screen cell; returns false once closed.
  virtual bool click(int row, int col) = 0;
  // Whether the page shows a text caret, where draw left the cursor.
  virtual bool showsCaret() const { return false; }
};

// The help viewer: kronsec's own help text, opened at its contents
// (HELP_CONTENTS) or at the topic of a context number (HELP_CONTEXT, data);
// HELP_QUIT gives nullptr.
std::unique_ptr<Page> makeHelpPage(UINT command, ULONG_PTR data);

// The file chooser for GetOpenFileNameA: starts in ofn->lpstrInitialDir (the
// current folder when empty) with ofn->lpstrFile as the file name, filters by
// ofn->lpstrFilter, honours OFN_PATHMUSTEXIST. When the user confirms, the
// full path goes into ofn->lpstrFile and *confirmed is set; a path longer
// than nMaxFile allows is refused on the page instead.
std::unique_ptr<Page> makeFileChooserPage(OPENFILENAMEA* ofn, bool* confirmed);
