// The terminal picture of kronsec's windows. A dialog template is laid out on
// the character grid at a scale chosen per dialog: three dialog units to a
// column when the screen has the room, else four (a dialog unit is a quarter
// of an average character), and eight to a row. A scale counts only when
// every control keeps cells of its own and every template text fits whole in
// them; texts that change later are clipped to their control's cells.
#include "linux/tui/draw.h"

#include "base/text.h"

#include <langinfo.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "linux/tui/wrap.h"
#include "linux/tui/curses.h"  // last: its names are macros

namespace {
// ---- looks ------------------------------------------------------------------

enum Look {
  Screen, Body, Caption, CaptionIdle, Field, Focus, Selection,
  Key, KeyFocus, Disabled, Notice, Warning, Shadow, lookCount
};

constexpr short grey = -2;  // dark grey where the terminal has it, else blue

// Without colours: attributes alone, the focus in reverse video. With them:
// dialog(1)'s scheme, a blue screen, grey dialogs with black text, fields and
// the active caption in cyan, the focus white on blue, mnemonics in red.
struct LookStyle {
  attr_t mono;
  short fg, bg;
  attr_t extra;
} const lookStyles[lookCount] = {
    {A_NORMAL, COLOR_CYAN, COLOR_BLUE, A_NORMAL},                        // Screen
    {A_NORMAL, COLOR_BLACK, COLOR_WHITE, A_NORMAL},                      // Body
    {A_REVERSE | A_BOLD, COLOR_BLACK, COLOR_CYAN, A_NORMAL},             // Caption
    {A_REVERSE, COLOR_WHITE, COLOR_BLACK, A_NORMAL},                     // CaptionIdle
    {A_UNDERLINE, COLOR_BLACK, COLOR_CYAN, A_NORMAL},                    // Field
    {A_REVERSE | A_BOLD, COLOR_WHITE, COLOR_BLUE, A_BOLD},               // Focus
    {A_UNDERLINE | A_BOLD, COLOR_BLACK, COLOR_YELLOW, A_NORMAL},         // Selection
    {A_UNDERLINE, COLOR_RED, COLOR_WHITE, A_UNDERLINE},                  // Key
    {A_REVERSE | A_BOLD | A_UNDERLINE, COLOR_YELLOW, COLOR_BLUE, A_BOLD | A_UNDERLINE},  // KeyFocus
    {A_DIM, grey, COLOR_WHITE, A_NORMAL},                                // Disabled
    {A_BOLD, COLOR_WHITE, COLOR_BLUE, A_BOLD},                           // Notice
    {A_BOLD, COLOR_RED, COLOR_WHITE, A_BOLD},                            // Warning
    {A_NORMAL, grey, COLOR_BLACK, A_NORMAL},                             // Shadow
};

attr_t looks[lookCount];
Palette palette = Palette::Mono;

// Bold black reads as grey, as if disabled, on most colour terminals, so
// colours mark what bold marks without them.
attr_t emphasis() { return palette == Palette::Mono ? A_BOLD : A_NORMAL; }

bool unicode() {
  static const bool utf8 = [] {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && std::strcmp(codeset, "UTF-8") == 0;
  }();
  return utf8;
}

// ---- the grid ---------------------------------------------------------------

constexpr int columnScales[] = {3, 4};  // dialog units per column, roomiest first
constexpr int rowScale = 8;
constexpr int comboFieldHeight = 12;
constexpr int numberCells = 11;  // the ten digits of any 32-bit number, and the caret

int floorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
int roundDiv(int a, int b) { return floorDiv(2 * a + b, 2 * b); }
int ceilDiv(int a, int b) { return -floorDiv(-a, b); }

struct Cells {
  int top, left, bottom, right;  // inclusive
  int width() const { return right - left + 1; }
};

bool isFrame(HWND c) {
  uint32_t type = c->style & SS_TYPEMASK;
  return (c->className == "Static" && type == SS_BLACKFRAME) ||
         (c->className == "Button" && (c->style & BS_TYPEMASK) == BS_GROUPBOX);
}

bool isIcon(HWND c) { return c->className == "Static" && (c->style & SS_TYPEMASK) == SS_ICON; }

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

int textCells(const std::string& text) {
  int mnemonic;
  return static_cast<int>(plainText(text, &mnemonic).size());
}

// Frames take the cells their edges fall in. Other controls take the columns
// nearest their edges, so controls apart in dialog units stay apart in cells,
// and one row: the one their middle falls in.
Cells unitCells(HWND c, int scale) {
  const RECT& r = c->rect;
  if (isFrame(c))
    return {floorDiv(r.top, rowScale), floorDiv(r.left, scale), floorDiv(r.bottom - 1, rowScale),
            floorDiv(r.right - 1, scale)};
  int left = roundDiv(r.left, scale);
  int right = std::max(left, roundDiv(r.right, scale) - 1);
  if (isIcon(c)) {
    int top = ceilDiv(r.top, rowScale);
    return {top, left, std::max(top, floorDiv(r.bottom, rowScale) - 1), right};
  }
  // A field shorter than any number it may hold would hide digits.
  if (c->className == "Edit") right = std::max(right, left + numberCells - 1);
  int height = c->className == "ComboBox" ? comboFieldHeight : r.bottom - r.top;
  int row = floorDiv(r.top + height / 2, rowScale);
  return {row, left, row, right};
}

struct Layout {
  int scale = columnScales[0];  // dialog units per column
  int cols = 0, rows = 0;       // the client area
  std::vector<Cells> cells;     // the dialog's children in order, client-relative
  int width() const { return cols + 2; }   // the side edges
  int height() const { return rows + 2; }  // the caption and the bottom edge
};

bool shown(HWND c) { return (c->style & WS_VISIBLE) != 0; }

// The template's blank margins above the first control and below the last are
// left out: the caption and the bottom edge stand in for them.
Layout layOut(HWND d, int scale) {
  Layout l;
  l.scale = scale;
  l.cols = roundDiv(d->dialog->cx, scale);
  int first = INT_MAX, last = INT_MIN;
  for (HWND c : d->children) {
    l.cells.push_back(unitCells(c, scale));
    if (shown(c)) first = std::min(first, l.cells.back().top), last = std::max(last, l.cells.back().bottom);
  }
  if (first > last) first = last = 0;
  for (Cells& at : l.cells) at.top -= first, at.bottom -= first;
  l.rows = last - first + 1;
  return l;
}

// The cells a control's template text needs: a button adds its brackets, a
// box its mark and a blank, a group box its corners.
int cellsNeeded(HWND c) {
  if (isIcon(c) || (isFrame(c) && c->className == "Static")) return 0;
  std::string text = c->control ? c->control->text : c->text;
  if (c->className == "Static") return textCells(text);
  if (c->className == "Button") return textCells(text) + 2;
  return 0;
}

bool overlap(const Cells& a, const Cells& b) {
  return a.top <= b.bottom && b.top <= a.bottom && a.left <= b.right && b.left <= a.right;
}

// Whether control cells c touch the edges of frame f.
bool onEdge(const Cells& f, const Cells& c) {
  bool inside = c.top > f.top && c.bottom < f.bottom && c.left > f.left && c.right < f.right;
  return overlap(f, c) && !inside;
}

bool holds(const Layout& l, HWND d) {
  const std::vector<HWND>& kids = d->children;
  for (size_t i = 0; i < kids.size(); ++i) {
    if (!shown(kids[i])) continue;
    const Cells& a = l.cells[i];
    if (a.left < 0 || a.right >= l.cols || cellsNeeded(kids[i]) > a.width()) return false;
    for (size_t j = 0; j < i; ++j) {
      bool frameA = isFrame(kids[i]), frameB = isFrame(kids[j]);
      if (!shown(kids[j]) || (frameA && frameB)) continue;
      const Cells& b = l.cells[j];
      if (frameA ? onEdge(a, b) : frameB ? onEdge(b, a) : overlap(a, b)) return false;
    }
  }
  return true;
}

// The roomiest layout that holds and fits the screen (false when none fits),
// and in *smallest the one that needs the least room.
bool chooseLayout(HWND d, Layout* chosen, Layout* smallest) {
  bool found = false, anyHolds = false;
  for (int scale : columnScales) {
    Layout l = layOut(d, scale);
    if (!holds(l, d)) continue;
    anyHolds = true;
    *smallest = l;
    if (!found && l.width() <= COLS && l.height() <= LINES) *chosen = l, found = true;
  }
  if (anyHolds) return found;
  *smallest = *chosen = layOut(d, columnScales[0]);  // clipped rather than nothing
  return chosen->width() <= COLS && chosen->height() <= LINES;
}

// ---- cells on the screen -------------------------------------------------------

DrawnScreen* out = nullptr;

void put(int row, int col, chtype ch) {
  if (row >= 0 && row < LINES && col >= 0 && col < COLS) mvaddch(row, col, ch);
}

void putUtf8(int row, int col, const char* text, attr_t attr) {
  if (row < 0 || row >= LINES || col < 0 || col >= COLS) return;
  attron(attr);
  mvaddstr(row, col, text);
  attroff(attr);
}

void fill(int row, int col, int width, attr_t attr) {
  for (int i = 0; i < width; ++i) put(row, col + i, ' ' | attr);
}

// A control byte from outside (a host name, a settings text) is shown as
// '?': drawn as it is, a tab or a line break would tear the dialog apart.
chtype byteAt(const std::string& text, int i) {
  char c = text[static_cast<size_t>(i)];
  return isControlByte(c) ? '?' : static_cast<unsigned char>(c);
}

// How many bytes the UTF-8 character that starts with c takes (a stray
// byte is one character of its own).
int characterBytes(unsigned char c) { return c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4; }

// Text in at most width cells, a character a cell (the program's own texts
// hold UTF-8, such as precise mode's "±"); byte mnemonic (the letter after
// '&') in keyAttr.
void putCells(int row, int col, const std::string& text, int width, attr_t attr, int mnemonic,
              attr_t keyAttr) {
  int cell = 0;
  for (size_t i = 0; cell < width && i < text.size(); ++cell) {
    size_t length = static_cast<size_t>(characterBytes(static_cast<unsigned char>(text[i])));
    if (length > text.size() - i) length = text.size() - i;
    attr_t look = static_cast<int>(i) == mnemonic ? keyAttr : attr;
    if (length == 1) put(row, col + cell, byteAt(text, static_cast<int>(i)) | look);
    else if (unicode()) putUtf8(row, col + cell, text.substr(i, length).c_str(), look);
    else put(row, col + cell, '?' | look);
    i += length;
  }
}

// Text in at most width cells; the mnemonic letter (after '&') in keyAttr.
void putText(int row, int col, const std::string& text, int width, attr_t attr, attr_t keyAttr) {
  int mnemonic;
  std::string plain = plainText(text, &mnemonic);
  putCells(row, col, plain, width, attr, mnemonic, keyAttr);
}

// Text as it is, '&' included (place names, typed text).
void putPlain(int row, int col, const std::string& text, int width, attr_t attr) {
  putCells(row, col, text, width, attr, -1, attr);
}

void box(const Cells& at, attr_t attr) {
  for (int c = at.left + 1; c < at.right; ++c) {
    put(at.top, c, ACS_HLINE | attr);
    put(at.bottom, c, ACS_HLINE | attr);
  }
  for (int r = at.top + 1; r < at.bottom; ++r) {
    put(r, at.left, ACS_VLINE | attr);
    put(r, at.right, ACS_VLINE | attr);
  }
  put(at.top, at.left, ACS_ULCORNER | attr), put(at.top, at.right, ACS_URCORNER | attr);
  put(at.bottom, at.left, ACS_LLCORNER | attr), put(at.bottom, at.right, ACS_LRCORNER | attr);
}

void addHit(const Cells& at, HWND w, int32_t row, int button) {
  out->hits.push_back({at.top, at.left, at.bottom, at.right, w, row, button});
}

// ---- controls -------------------------------------------------------------

bool focused(HWND c) { return GetFocus() == c; }

attr_t lookOf(HWND c, Look normal) {
  if (!IsWindowEnabled(c)) return looks[Disabled];
  return focused(c) ? looks[Focus] : looks[normal];
}

// The mnemonic letter: underlined in the control's own look, or in colour red
// (yellow in the focus).
attr_t keyLook(bool focus, attr_t base) {
  if (palette == Palette::Mono) return base | looks[Key];
  return looks[focus ? KeyFocus : Key];
}

attr_t keyLook(HWND c, attr_t base) { return IsWindowEnabled(c) ? keyLook(focused(c), base) : base; }

// Windows breaks a static text that does not fit at its words, and a
// control one line high shows the first line: words, not a cut word.
std::string firstShownLine(const std::string& text, const Cells& at) {
  if (at.bottom != at.top || textCells(text) <= at.width()) return text;
  std::vector<std::string> lines = wrapText(text, at.width());
  return lines.empty() ? text : lines[0];
}

void drawStatic(HWND c, const Cells& at) {
  attr_t a = IsWindowEnabled(c) ? looks[Body] : looks[Disabled];
  std::string text = firstShownLine(c->text, at);
  int length = textCells(text), start = at.left;
  uint32_t align = c->style & SS_TYPEMASK;
  if (length < at.width() && align == SS_RIGHT) start = at.right - length + 1;
  if (length < at.width() && align == SS_CENTER) start = at.left + (at.width() - length) / 2;
  putText(at.top, start, text, at.right - start + 1, a, keyLook(c, a));
}

// A check box or radio button: a one-cell mark, a blank, then the text.
void drawMarked(HWND c, const Cells& at, bool radio) {
  const char* on = radio ? (unicode() ? "\u25CF" : "*") : (unicode() ? "\u2612" : "X");
  const char* off = radio ? (unicode() ? "\u25CB" : "o") : (unicode() ? "\u2610" : "_");
  attr_t a = lookOf(c, Body);
  fill(at.top, at.left, std::min(at.width(), textCells(c->text) + 2), a);
  putUtf8(at.top, at.left, c->check ? on : off, a);
  putText(at.top, at.left + 2, c->text, at.width() - 2, a, keyLook(c, a));
}

void drawButton(HWND c, const Cells& at) {
  uint32_t type = c->style & BS_TYPEMASK;
  if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) return drawMarked(c, at, false);
  if (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON) return drawMarked(c, at, true);
  bool isDefault = type == BS_DEFPUSHBUTTON;
  attr_t a = lookOf(c, Body) | (isDefault ? emphasis() : 0);
  fill(at.top, at.left, at.width(), a);
  put(at.top, at.left, (isDefault ? '<' : '[') | a);
  put(at.top, at.right, (isDefault ? '>' : ']') | a);
  int start = at.left + std::max(1, (at.width() - textCells(c->text)) / 2);
  putText(at.top, start, c->text, at.right - start, a, keyLook(c, a));
}

// The view keeps the caret in sight; an edit without the focus shows the
// start of its text, so a long path reads as the path it is.
void scrollEdit(HWND c, int width) {
  int size = static_cast<int>(c->text.size());
  int caret = std::min(std::max(0, c->caret), size);
  if (!focused(c)) c->scroll = 0;
  else if (caret < c->scroll) c->scroll = caret;
  else if (caret > c->scroll + width - 1) c->scroll = caret - width + 1;
  c->scroll = std::max(0, std::min(c->scroll, size - width + 1));
}

void drawEdit(HWND c, const Cells& at) {
  scrollEdit(c, at.width());
  attr_t a = lookOf(c, Field);
  fill(at.top, at.left, at.width(), a);
  int from = c->anchor < 0 ? c->caret : std::min(c->anchor, c->caret);
  int to = c->anchor < 0 ? c->caret : std::max(c->anchor, c->caret);
  for (int i = 0; i < at.width(); ++i) {
    int pos = c->scroll + i;
    if (pos >= static_cast<int>(c->text.size())) break;
    bool selected = focused(c) && pos >= from && pos < to;
    put(at.top, at.left + i, byteAt(c->text, pos) | (selected ? looks[Selection] : a));
  }
  if (focused(c) && c->parent == activeModal())
    out->caretRow = at.top, out->caretCol = at.left + std::min(c->caret - c->scroll, at.width() - 1);
}

void drawCombo(HWND c, const Cells& at) {
  attr_t a = lookOf(c, Field);
  fill(at.top, at.left, at.width(), a);
  if (c->selection >= 0)
    putPlain(at.top, at.left, c->items[static_cast<size_t>(c->selection)], at.width() - 2, a);
  if (unicode()) putUtf8(at.top, at.right, "\u25BC", a);
  else put(at.top, at.right, 'v' | a);
}

void drawIcon(HWND c, const Cells& at) {
  HICON icon = LoadIconA(programInstance(), MAKEINTRESOURCEA(c->control->iconId));
  if (!icon || !icon->picture) return;
  const PictureResource& p = *icon->picture;
  static const char* const compact[] = {" .-. ", "( o )"};
  int room = at.bottom - at.top + 1;
  bool small = p.rowCount > room;
  const char* const* art = small ? compact + (room == 1) : p.rows;  // one row: the face alone
  int rows = small ? std::min(2, room) : p.rowCount;
  for (int i = 0; i < rows; ++i) {
    int width = static_cast<int>(std::strlen(art[i]));
    putPlain(at.top + i, at.left + (at.width() - width) / 2, art[i], width, looks[Body] | emphasis());
  }
}

void drawControl(HWND c, const Cells& at) {
  if (!IsWindowVisible(c)) return;
  if (isFrame(c)) {
    box(at, looks[Body]);
    if (c->className == "Button")  // a group box's title sits on its top edge
      putText(at.top, at.left + 1, c->text, at.width() - 2, looks[Body], looks[Body]);
    return;
  }
  if (isIcon(c)) return drawIcon(c, at);
  addHit(at, c, -1, 0);
  if (c->className == "Edit") return drawEdit(c, at);
  if (c->className == "ComboBox") return drawCombo(c, at);
  if (c->className == "Button") return drawButton(c, at);
  drawStatic(c, at);
}

// ---- the open list -----------------------------------------------------------

// The row shown first in the open list, kept from one picture to the next
// while the list stays open, so the list moves only when the selection
// would leave it.
struct ListView {
  HWND combo = nullptr;
  int first = 0;
} shownList, lastList;

int firstListRow(HWND c, int rows) {
  int count = static_cast<int>(c->items.size()), selected = std::max(0, c->selection);
  int first = lastList.combo == c ? lastList.first : selected - rows / 2;
  first = std::min(std::max(first, selected - rows + 1), selected);
  shownList = {c, std::max(0, std::min(first, count - rows))};
  return shownList.first;
}

// Arrows on the frame say more rows lie above or below; the thumb on the
// right edge says where the rows shown sit among all of them.
void drawScrollMarks(const Cells& frame, int first, int rows, int count, attr_t a) {
  if (count <= rows) return;
  if (first > 0) put(frame.top, frame.right - 2, ACS_UARROW | a);
  if (first + rows < count) put(frame.bottom, frame.right - 2, ACS_DARROW | a);
  int thumb = frame.top + 1 + (rows - 1) * first / (count - rows);
  for (int r = frame.top + 1; r < frame.bottom; ++r)
    put(r, frame.right, (r == thumb ? ACS_BLOCK : ACS_CKBOARD) | a);
}

// Below the field, or above it when the room below is too small.
void drawOpenList(HWND c, const Cells& field) {
  int count = static_cast<int>(c->items.size());
  int wanted = std::min(count, (c->rect.bottom - c->rect.top - comboFieldHeight) / rowScale);
  int below = LINES - field.top - 3, above = field.top - 2;
  int rows = std::min(wanted, std::max(below, above));
  if (rows <= 0 || field.width() < 4) return;
  int top = rows <= below || below >= above ? field.top + 1 : field.top - rows - 2;
  Cells frame{top, field.left, top + rows + 1, field.right};
  attr_t a = looks[Field];
  for (int r = frame.top; r <= frame.bottom; ++r) fill(r, frame.left, frame.width(), a);
  box(frame, a);
  int first = firstListRow(c, rows);
  for (int i = 0; i < rows; ++i) {
    int item = first + i;
    attr_t row = item == c->selection ? looks[Focus] : a;
    fill(top + 1 + i, frame.left + 1, frame.width() - 2, row);
    putPlain(top + 1 + i, frame.left + 2, c->items[static_cast<size_t>(item)], frame.width() - 4, row);
    addHit({top + 1 + i, frame.left + 1, top + 1 + i, frame.right - 1}, c, item, 0);
  }
  drawScrollMarks(frame, first, rows, count, a);
}

// ---- windows --------------------------------------------------------------

// A window's shadow, as dialog(1) casts it, one row below and two columns to
// the right: what lies there shows dimmed, so overlapping windows part.
void castShadow(const Cells& at) {
  if (palette == Palette::Mono) return;  // in plain attributes it would only blur
  auto darken = [](int row, int col) {
    cchar_t cell;
    if (row >= LINES || col >= COLS || mvin_wch(row, col, &cell) == ERR) return;
    wchar_t text[CCHARW_MAX + 1] = {};
    attr_t attrs;
    short pair;
    getcchar(&cell, text, &attrs, &pair, nullptr);
    setcchar(&cell, text, (attrs & A_ALTCHARSET) | looks[Shadow], PAIR_NUMBER(looks[Shadow]), nullptr);
    mvadd_wch(row, col, &cell);
  };
  for (int r = at.top + 1; r <= at.bottom + 1; ++r) darken(r, at.right + 1), darken(r, at.right + 2);
  for (int c = at.left + 2; c <= at.right; ++c) darken(at.bottom + 1, c);
}

// The caption row, the side edges and, below the client area, the bottom edge.
void drawWindowFrame(HWND w, const Cells& at, bool busy) {
  castShadow(at);
  for (int r = at.top + 1; r < at.bottom; ++r) fill(r, at.left, at.width(), looks[Body]);
  box(at, looks[Body]);
  bool active = w == activeModal();
  attr_t bar = looks[active ? Caption : CaptionIdle];
  fill(at.top, at.left, at.width(), bar);  // the caption takes the place of the top edge
  putPlain(at.top, at.left + 1, w->text, at.width() - 2, bar);
  if (busy && active && at.width() > 10)
    putPlain(at.top, at.right - 7, "[busy]", 6, bar | emphasis() | A_BLINK);
}

struct Placed {
  HWND window;
  Layout layout;
  int top, left;
};

// A main dialog sits centred across with a third of the spare rows above it,
// as the program places it on Windows; an owned dialog at its template's
// offset from its owner. Either stays on the screen.
void place(Placed& p, const std::vector<Placed>& before) {
  const Layout& l = p.layout;
  int top = (LINES - l.height()) / 3, left = (COLS - l.width()) / 2;
  for (const Placed& owner : before)
    if (owner.window == p.window->owner) {
      top = owner.top + floorDiv(p.window->dialog->y, rowScale);
      left = owner.left + roundDiv(p.window->dialog->x, l.scale);
    }
  p.top = std::max(0, std::min(top, LINES - l.height()));
  p.left = std::max(0, std::min(left, COLS - l.width()));
}

void drawDialog(const Placed& p, bool busy) {
  const Layout& l = p.layout;
  drawWindowFrame(p.window, {p.top, p.left, p.top + l.height() - 1, p.left + l.width() - 1}, busy);
  const std::vector<HWND>& kids = p.window->children;
  auto onScreen = [&](const Cells& at) {
    return Cells{at.top + p.top + 1, at.left + p.left + 1, at.bottom + p.top + 1, at.right + p.left + 1};
  };
  for (size_t i = 0; i < kids.size(); ++i) drawControl(kids[i], onScreen(l.cells[i]));
  for (size_t i = 0; i < kids.size(); ++i)  // an open list lies over everything else
    if (kids[i]->droppedDown && IsWindowVisible(kids[i])) drawOpenList(kids[i], onScreen(l.cells[i]));
}

// The buttons of a box, centred on its bottom row, two blanks apart.
void drawBoxButtons(HWND box, int row, int left, int width) {
  std::vector<std::string> labels;
  int total = -2;
  for (int b : box->boxButtons) {
    labels.push_back(std::string("[ ") + boxButtonText(b) + " ]");
    total += textCells(labels.back()) + 2;
  }
  int col = left + (width - total) / 2;
  for (size_t i = 0; i < labels.size(); ++i) {
    bool focus = static_cast<int>(i) == std::max(0, box->selection);
    attr_t a = looks[focus ? Focus : Body];
    int cells = textCells(labels[i]);
    putText(row, col, labels[i], cells, a, keyLook(focus, a));
    addHit({row, col, row, col + cells - 1}, box, -1, box->boxButtons[i]);
    col += cells + 2;
  }
}

void drawBox(HWND box) {
  int textWidth = std::min(60, COLS - 8);
  std::vector<std::string> lines = wrapText(box->boxText, textWidth);
  if (lines.empty()) lines.emplace_back();
  int widest = static_cast<int>(box->text.size()) + 2;
  for (const std::string& l : lines) widest = std::max(widest, static_cast<int>(l.size()));
  int buttonsWidth = static_cast<int>(box->boxButtons.size()) * 12;
  bool warn = (box->boxType & MB_ICONMASK) != 0;
  int width = std::min(COLS, std::max(widest + (warn ? 8 : 4), buttonsWidth + 2));
  int height = static_cast<int>(lines.size()) + 5;
  int top = std::max(0, (LINES - height) / 2), left = std::max(0, (COLS - width) / 2);
  drawWindowFrame(box, {top, left, top + height - 1, left + width - 1}, false);
  if (warn) putPlain(top + 2, left + 2, "/!\\", 3, looks[Warning]);
  int indent = warn ? 6 : 2;  // room for the warning mark
  for (size_t i = 0; i < lines.size(); ++i)
    putPlain(top + 2 + static_cast<int>(i), left + indent, lines[i], width - indent - 2, looks[Body]);
  drawBoxButtons(box, top + height - 2, left, width);
}

void drawIconLine(HWND w, int* col) {
  std::string label = "(o) " + w->text;
  int width = std::min(static_cast<int>(label.size()) + 2, COLS - *col);
  if (width <= 0) return;
  fill(LINES - 1, *col, width, looks[Caption]);
  putPlain(LINES - 1, *col + 1, label, width - 2, looks[Caption]);
  addHit({LINES - 1, *col, LINES - 1, *col + width - 1}, w, -1, 0);
  *col += width + 1;
}

// Says in the middle of the screen how large the terminal must grow: one
// line, or where that is too wide, one line for each half of the sentence;
// and how to leave without growing it.
void drawSizeNotice(int cols, int rows) {
  char need[80], have[40];
  std::snprintf(need, sizeof need, "kronsec needs a terminal of at least %dx%d;", cols, rows);
  std::snprintf(have, sizeof have, "this one is %dx%d", COLS, LINES);
  std::vector<std::string> lines = wrapText(std::string(need) + " " + have, COLS - 2);
  if (lines.size() > 1) {
    lines = wrapText(need, COLS - 2);
    for (const std::string& line : wrapText(have, COLS - 2)) lines.push_back(line);
  }
  lines.emplace_back();
  for (const std::string& line : wrapText("Esc closes the dialog.", COLS - 2)) lines.push_back(line);
  int top = (LINES - static_cast<int>(lines.size())) / 2;
  for (size_t i = 0; i < lines.size(); ++i) {
    int width = static_cast<int>(lines[i].size());
    putPlain(top + static_cast<int>(i), std::max(0, (COLS - width) / 2), lines[i], COLS, looks[Notice]);
  }
}

// Lays out every dialog on the screen; false, with the size needed, when one
// of them cannot fit.
bool placeDialogs(std::vector<Placed>* placed, int* needCols, int* needRows) {
  bool fits = true;
  *needCols = *needRows = 0;
  for (HWND w : liveWindows()) {
    if (w->parent || !IsWindowVisible(w) || w->minimized || !w->dialog || w->ended) continue;
    Placed p{w, {}, 0, 0};
    Layout smallest;
    if (!chooseLayout(w, &p.layout, &smallest)) fits = false;
    *needCols = std::max(*needCols, smallest.width());
    *needRows = std::max(*needRows, smallest.height());
    place(p, *placed);
    placed->push_back(p);
  }
  return fits;
}
}  // namespace

void useLooks(Palette chosen) {
  palette = chosen;
  if (chosen == Palette::Colour) start_color();
  for (int i = 0; i < lookCount; ++i) {
    const LookStyle& style = lookStyles[i];
    if (chosen == Palette::Mono) {
      looks[i] = style.mono;
      continue;
    }
    short fg = style.fg == grey ? static_cast<short>(COLORS >= 16 ? 8 : COLOR_BLUE) : style.fg;
    init_pair(static_cast<short>(i + 1), fg, style.bg);
    looks[i] = COLOR_PAIR(i + 1) | style.extra;
  }
}

DrawnScreen drawWindows(bool busy) {
  DrawnScreen screen;
  out = &screen;
  werase(stdscr);
  for (int r = 0; r < LINES; ++r) fill(r, 0, COLS, looks[Screen]);
  std::vector<Placed> placed;
  int needCols, needRows;
  screen.tooSmall = !placeDialogs(&placed, &needCols, &needRows);
  lastList = shownList;
  shownList = {};
  if (screen.tooSmall) drawSizeNotice(needCols, needRows);
  int iconCol = 0;
  size_t next = 0;
  for (HWND w : liveWindows()) {
    if (screen.tooSmall || w->parent || !IsWindowVisible(w)) continue;
    if (w->minimized) drawIconLine(w, &iconCol);
    else if (w->isMessageBox && !w->ended) drawBox(w);
    else if (next < placed.size() && placed[next].window == w) drawDialog(placed[next++], busy);
  }
  out = nullptr;
  return screen;
}
