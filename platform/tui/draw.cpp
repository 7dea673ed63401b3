#include "platform/tui/draw.h"

#include <curses.h>
#include <langinfo.h>

#include <cstring>

#include <algorithm>
#include <string>

namespace {
constexpr int cellWidth = 4;   // dialog units (pixels here) per column
constexpr int cellHeight = 8;  // per row
constexpr int comboFieldHeight = 12;
constexpr int droppedRowsMax = 10;

std::vector<HitArea>* hits = nullptr;

int floorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

bool isFrame(HWND c) {
  uint32_t type = c->style & SS_TYPEMASK;
  return (c->className == "Static" && type == SS_BLACKFRAME) ||
         (c->className == "Button" && (c->style & BS_TYPEMASK) == BS_GROUPBOX);
}

// The label text without its '&' marks, and where the mnemonic letter is.
std::string plainText(const std::string& text, int* mnemonicAt) {
  std::string out;
  *mnemonicAt = -1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) {
      ++i;
      if (text[i] != '&' && *mnemonicAt < 0) *mnemonicAt = static_cast<int>(out.size());
    }
    out += text[i];
  }
  return out;
}

void putText(int row, int col, const std::string& text, int width, attr_t attr) {
  if (row < 0 || row >= LINES || width <= 0) return;
  int mnemonic;
  std::string plain = plainText(text, &mnemonic);
  for (int i = 0; i < width && i < static_cast<int>(plain.size()); ++i) {
    if (col + i < 0 || col + i >= COLS) continue;
    chtype ch = static_cast<unsigned char>(plain[static_cast<size_t>(i)]) | attr;
    mvaddch(row, col + i, ch | (i == mnemonic ? A_UNDERLINE : 0));
  }
}

void fill(int row, int col, int width, attr_t attr) {
  for (int i = 0; i < width; ++i)
    if (row >= 0 && row < LINES && col + i >= 0 && col + i < COLS) mvaddch(row, col + i, ' ' | attr);
}

void frame(int top, int left, int bottom, int right, const std::string& title) {
  for (int c = left + 1; c < right; ++c) {
    if (top >= 0 && top < LINES) mvaddch(top, c, ACS_HLINE);
    if (bottom >= 0 && bottom < LINES) mvaddch(bottom, c, ACS_HLINE);
  }
  for (int r = top + 1; r < bottom; ++r) {
    if (r >= 0 && r < LINES) mvaddch(r, left, ACS_VLINE), mvaddch(r, right, ACS_VLINE);
  }
  if (top >= 0 && top < LINES) mvaddch(top, left, ACS_ULCORNER), mvaddch(top, right, ACS_URCORNER);
  if (bottom >= 0 && bottom < LINES) mvaddch(bottom, left, ACS_LLCORNER), mvaddch(bottom, right, ACS_LRCORNER);
  if (!title.empty()) putText(top, left + 1, title, right - left - 1, A_NORMAL);
}

// Where a top-level window is drawn: its place, kept on the screen.
void origin(HWND w, int* row, int* col) {
  int width = (w->rect.right - w->rect.left) / cellWidth;
  int height = (w->rect.bottom - w->rect.top) / cellHeight;
  *row = std::max(0, std::min(floorDiv(w->rect.top, cellHeight), LINES - height));
  *col = std::max(0, std::min(floorDiv(w->rect.left, cellWidth), COLS - width));
}

attr_t stateAttr(HWND c) {
  attr_t a = A_NORMAL;
  if (!IsWindowEnabled(c)) a |= A_DIM;
  if (GetFocus() == c) a |= A_REVERSE;
  return a;
}

void addHit(int top, int left, int bottom, int right, HWND w, int32_t row, int button) {
  if (hits) hits->push_back({top, left, bottom, right, w, row, button});
}

// A check box or radio button: a one-cell mark, a blank, then the text.
void drawMarked(HWND c, int row, int col, int width, bool radio) {
  static const bool unicode = [] {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && std::strcmp(codeset, "UTF-8") == 0;
  }();
  const char* on = radio ? (unicode ? "\u25CF" : "*") : (unicode ? "\u2612" : "X");
  const char* off = radio ? (unicode ? "\u25CB" : "o") : (unicode ? "\u2610" : "_");
  attr_t a = stateAttr(c);
  attron(a);
  mvaddstr(row, col, c->check ? on : off);
  attroff(a);
  putText(row, col + 1, " " + c->text, width - 1, a);
}

void drawButton(HWND c, int row, int col, int width) {
  uint32_t type = c->style & BS_TYPEMASK;
  std::string text;
  if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) return drawMarked(c, row, col, width, false);
  if (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON) return drawMarked(c, row, col, width, true);
  {
    int mnemonic;
    int length = static_cast<int>(plainText(c->text, &mnemonic).size());
    bool isDefault = type == BS_DEFPUSHBUTTON;
    std::string label = (isDefault ? "<" : "[") + std::string(std::max(0, (width - length - 2) / 2), ' ') + c->text;
    int plainLength = static_cast<int>(plainText(label, &mnemonic).size());
    label += std::string(std::max(0, width - plainLength - 1), ' ') + (isDefault ? ">" : "]");
    text = label;
  }
  putText(row, col, text, width, stateAttr(c) | ((type == BS_DEFPUSHBUTTON) ? A_BOLD : 0));
}

void drawEdit(HWND c, int row, int col, int width) {
  int scroll = std::max(0, c->caret - (width - 1));
  std::string shown = c->text.substr(std::min(static_cast<size_t>(scroll), c->text.size()));
  attr_t a = (IsWindowEnabled(c) ? A_UNDERLINE : A_DIM) | (GetFocus() == c ? A_BOLD : 0);
  fill(row, col, width, a);
  for (int i = 0; i < width && i < static_cast<int>(shown.size()); ++i)
    mvaddch(row, col + i, static_cast<unsigned char>(shown[static_cast<size_t>(i)]) | a);
}

void drawDroppedList(HWND c, int row, int col, int width) {
  int count = static_cast<int>(c->items.size());
  int room = std::min({droppedRowsMax, count, LINES - row - 1});
  if (room <= 0) return;
  int first = std::max(0, std::min(c->selection - room / 2, count - room));
  for (int i = 0; i < room; ++i) {
    int item = first + i;
    attr_t a = item == c->selection ? A_REVERSE : A_NORMAL;
    fill(row + 1 + i, col, width, a);
    putText(row + 1 + i, col + 1, c->items[static_cast<size_t>(item)], width - 2, a);
    addHit(row + 1 + i, col, row + 1 + i, col + width - 1, c, item, 0);
  }
}

void drawCombo(HWND c, int row, int col, int width) {
  std::string shown = c->selection >= 0 ? c->items[static_cast<size_t>(c->selection)] : "";
  attr_t a = stateAttr(c) | A_UNDERLINE;
  fill(row, col, width, a);
  putText(row, col, shown, width - 2, a);
  if (width >= 2) mvaddch(row, col + width - 1, 'v' | a);
}

void drawIcon(HWND c, int top, int left, int bottom, int right) {
  HICON icon = LoadIconA(programInstance(), MAKEINTRESOURCEA(c->control->iconId));
  if (!icon || !icon->picture) return;
  const PictureResource& p = *icon->picture;
  static const char* const compact[] = {" .-. ", "( o )"};
  bool small = p.rowCount > bottom - top + 1;
  const char* const* art = small ? compact : p.rows;
  int rows = small ? std::min(2, bottom - top + 1) : p.rowCount;
  for (int i = 0; i < rows; ++i) {
    std::string line = art[i];
    int width = static_cast<int>(line.size());
    int col = left + (right - left + 1 - width) / 2;
    putText(top + i, col, line, width, A_BOLD);
  }
}

// The row a one-line control is drawn on: the one its middle falls in.
int row0(HWND c, int clientRow) {
  int height = c->className == "ComboBox" ? comboFieldHeight : c->rect.bottom - c->rect.top;
  return clientRow + (c->rect.top + height / 2) / cellHeight;
}

// Whether the cell left of (row, col) holds text, so that a control drawn at
// col would run into it: a character grid is coarser than dialog units.
bool startsAgainstText(int row, int col) {
  if (col <= 0 || row < 0 || row >= LINES) return false;
  chtype before = mvinch(row, col - 1);
  chtype ch = before & A_CHARTEXT;
  return !(before & A_ALTCHARSET) && ch > ' ' && ch < 127;
}

// The cells a control takes: frames span rows; everything else is one row.
struct Cells {
  int top, left, bottom, right;
};

Cells cellsOf(HWND c, int clientRow, int clientCol) {
  const RECT& r = c->rect;
  if (isFrame(c))
    return {clientRow + r.top / cellHeight, clientCol + r.left / cellWidth,
            clientRow + (r.bottom - 1) / cellHeight, clientCol + (r.right - 1) / cellWidth};
  int left = clientCol + r.left / cellWidth;
  int right = std::max(left, clientCol + r.right / cellWidth - 1);
  if ((c->style & SS_TYPEMASK) == SS_ICON && c->className == "Static")
    return {clientRow + (r.top + cellHeight - 1) / cellHeight, left,
            clientRow + r.bottom / cellHeight - 1, right};
  int row = row0(c, clientRow);
  return {row, left, row, right};
}

// How far the text of a one-row control may run beyond its own cells: up to
// the nearest cell on its row that a frame's edge or an earlier control takes.
// A character grid is coarser than dialog units; a control drawn later that
// would start on such text moves over instead.
void freeColumns(HWND c, const Cells& own, int clientRow, int clientCol, int* freeLeft, int* freeRight) {
  HWND dialog = c->parent;
  *freeLeft = clientCol;
  *freeRight = clientCol + (dialog->rect.right - dialog->rect.left) / cellWidth - 3;
  auto obstacle = [&](int a, int b) {
    if (a > own.right) *freeRight = std::min(*freeRight, a - 1);
    if (b < own.left) *freeLeft = std::max(*freeLeft, b + 1);
  };
  bool later = false;
  for (HWND s : dialog->children) {
    if (s == c) later = true;
    if (s == c || !IsWindowVisible(s) || (later && !isFrame(s))) continue;
    Cells o = cellsOf(s, clientRow, clientCol);
    if (own.top < o.top || own.top > o.bottom) continue;
    if (isFrame(s) && own.top != o.top && own.top != o.bottom) {
      obstacle(o.left, o.left);
      obstacle(o.right, o.right);
    } else {
      obstacle(o.left, o.right);
    }
  }
}

int textLength(const std::string& text) {
  int mnemonic;
  return static_cast<int>(plainText(text, &mnemonic).size());
}

void drawStatic(HWND c, const Cells& at, int freeLeft, int freeRight) {
  int length = textLength(c->text);
  int width = at.right - at.left + 1;
  uint32_t align = c->style & SS_TYPEMASK;
  int start = at.left;
  if (align == SS_RIGHT) start = at.right - length + 1;
  if (align == SS_CENTER) start = at.left + (width - length) / 2;
  if (start < at.left) start = std::min(at.left, std::max(freeLeft, start));  // overflows leftwards
  int room = std::max(at.right, std::min(freeRight, start + length - 1)) - start + 1;
  putText(at.top, start, c->text, room, IsWindowEnabled(c) ? A_NORMAL : A_DIM);
}

void drawControl(HWND c, int clientRow, int clientCol) {
  if (!IsWindowVisible(c)) return;
  Cells at = cellsOf(c, clientRow, clientCol);
  if (isFrame(c))
    return frame(at.top, at.left, at.bottom, at.right, c->className == "Button" ? c->text : "");
  if ((c->style & SS_TYPEMASK) == SS_ICON && c->className == "Static")
    return drawIcon(c, at.top, at.left, at.bottom, at.right);
  while (startsAgainstText(at.top, at.left) && at.right > at.left) ++at.left;
  int freeLeft, freeRight;
  freeColumns(c, at, clientRow, clientCol, &freeLeft, &freeRight);
  int width = at.right - at.left + 1;
  addHit(at.top, at.left, at.top, at.right, c, -1, 0);
  if (c->className == "Edit") return drawEdit(c, at.top, at.left, width);
  if (c->className == "ComboBox") return drawCombo(c, at.top, at.left, width);
  if (c->className == "Button") {
    int wanted = textLength(c->text) + 2;  // brackets, or a mark and a blank
    int room = std::max(width, std::min(wanted, freeRight - at.left + 1));
    return drawButton(c, at.top, at.left, room);
  }
  drawStatic(c, at, freeLeft, freeRight);
}

// The caption row and the side (and, where the screen allows, bottom) edges.
void drawFrame(HWND w, int top, int left, int width, int height, bool busy) {
  attr_t bar = A_REVERSE | (w == activeModal() ? A_BOLD : 0);
  fill(top, left, width, bar);
  putText(top, left + 1, w->text, width - 2, bar);
  if (busy && w == activeModal() && width > 10) putText(top, left + width - 8, "[busy]", 6, bar | A_BLINK);
  for (int r = top + 1; r < top + height; ++r) {
    fill(r, left + 1, width - 2, A_NORMAL);
    if (r < LINES) mvaddch(r, left, ACS_VLINE), mvaddch(r, left + width - 1, ACS_VLINE);
  }
  int bottom = top + height;
  if (bottom < LINES) {
    for (int c = left + 1; c < left + width - 1; ++c) mvaddch(bottom, c, ACS_HLINE);
    mvaddch(bottom, left, ACS_LLCORNER), mvaddch(bottom, left + width - 1, ACS_LRCORNER);
  }
}

void drawDialog(HWND d, bool busy) {
  int top, left;
  origin(d, &top, &left);
  int width = (d->rect.right - d->rect.left) / cellWidth;
  int height = (d->rect.bottom - d->rect.top) / cellHeight;
  drawFrame(d, top, left, width, height, busy);
  for (HWND c : d->children) drawControl(c, top + 1, left + 1);
  for (HWND c : d->children)  // an open list lies over everything else
    if (c->droppedDown && IsWindowVisible(c)) {
      int row, col;
      controlCell(c, &row, &col);
      drawDroppedList(c, row, col, std::max(1, (c->rect.right - c->rect.left) / cellWidth));
    }
}

std::vector<std::string> boxLines(const std::string& text, int width) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i <= text.size(); ++i) {
    char ch = i < text.size() ? text[i] : '\n';
    if (ch == '\r') continue;
    if (ch == '\n' || static_cast<int>(line.size()) == width) {
      lines.push_back(line);
      line.clear();
      if (ch == '\n') continue;
    }
    line += ch;
  }
  while (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  return lines;
}

void drawBox(HWND box) {
  int textWidth = std::min(60, COLS - 8);
  std::vector<std::string> lines = boxLines(box->boxText, textWidth);
  int widest = static_cast<int>(box->text.size()) + 2;
  for (const std::string& l : lines) widest = std::max(widest, static_cast<int>(l.size()));
  int buttonsWidth = static_cast<int>(box->boxButtons.size()) * 12;
  bool warn = (box->boxType & MB_ICONMASK) != 0;
  int width = std::min(COLS, std::max(widest + (warn ? 8 : 4), buttonsWidth + 2));
  int height = static_cast<int>(lines.size()) + 4;
  int top = std::max(0, (LINES - height - 1) / 2), left = std::max(0, (COLS - width) / 2);
  drawFrame(box, top, left, width, height, false);
  if (warn) putText(top + 2, left + 2, "/!\\", 3, A_BOLD);
  for (size_t i = 0; i < lines.size(); ++i)
    putText(top + 1 + static_cast<int>(i), left + (warn ? 6 : 2), lines[i], width - 4, A_NORMAL);
  int col = left + (width - buttonsWidth) / 2, row = top + height - 1;
  for (size_t i = 0; i < box->boxButtons.size(); ++i) {
    int b = box->boxButtons[i];
    bool focused = static_cast<int>(i) == std::max(0, box->selection);
    std::string label = std::string("[ ") + boxButtonText(b) + " ]";
    putText(row, col + 1, label, 11, focused ? A_REVERSE | A_BOLD : A_NORMAL);
    addHit(row, col + 1, row, col + 10, box, -1, b);
    col += 12;
  }
}

void drawIconLine(HWND w, int* col) {
  std::string label = "(o) " + w->text;
  int width = std::min(static_cast<int>(label.size()) + 2, COLS - *col);
  if (width <= 0) return;
  fill(LINES - 1, *col, width, A_REVERSE);
  putText(LINES - 1, *col + 1, label, width - 2, A_REVERSE);
  addHit(LINES - 1, *col, LINES - 1, *col + width - 1, w, -1, 0);
  *col += width + 1;
}
}  // namespace

void controlCell(HWND c, int* row, int* col) {
  int top, left;
  origin(c->parent, &top, &left);
  int height = c->className == "ComboBox" ? comboFieldHeight : c->rect.bottom - c->rect.top;
  *row = top + 1 + (c->rect.top + height / 2) / cellHeight;
  *col = left + 1 + c->rect.left / cellWidth;
}

std::vector<HitArea> drawWindows(bool busy) {
  std::vector<HitArea> areas;
  hits = &areas;
  erase();
  int iconCol = 0;
  for (HWND w : liveWindows()) {
    if (w->parent || !IsWindowVisible(w)) continue;
    if (w->minimized) drawIconLine(w, &iconCol);
    else if (w->isMessageBox && !w->ended) drawBox(w);
    else if (w->dialog && !w->ended) drawDialog(w, busy);
  }
  hits = nullptr;
  return areas;
}
