#include "linux/tui/keys.h"

#include <algorithm>

#include "linux/tui/curses.h"  // last: its names are macros

namespace {
constexpr int ctrlL = 12, ctrlU = 21;
constexpr int backspaceByte = 8, deleteByte = 127;
constexpr int highestByte = 255;
using A = KeyAction;

// ---- groups shared by pages ---------------------------------------------------

const KeyGroup enterGroup = {
    {'\n', '\n', "Enter", A::Confirm},
    {'\r', '\r', "Enter", A::Confirm},
    {KEY_ENTER, KEY_ENTER, "Enter", A::Confirm},
};
const KeyGroup escapeGroup = {{escapeKey, escapeKey, "Esc", A::Cancel}};
const KeyGroup listMoveGroup = {
    {KEY_UP, KEY_UP, "Up", A::LineUp},       {KEY_DOWN, KEY_DOWN, "Down", A::LineDown},
    {KEY_PPAGE, KEY_PPAGE, "PgUp", A::PageUp}, {KEY_NPAGE, KEY_NPAGE, "PgDn", A::PageDown},
    {KEY_HOME, KEY_HOME, "Home", A::First},  {KEY_END, KEY_END, "End", A::Last},
};
const KeyGroup backspaceGroup = {
    {KEY_BACKSPACE, KEY_BACKSPACE, "Backspace", A::EditBackspace},
    {deleteByte, deleteByte, "Backspace", A::EditBackspace},
    {backspaceByte, backspaceByte, "Backspace", A::EditBackspace},
};
const KeyGroup editGroup = {
    {KEY_LEFT, KEY_LEFT, "Left", A::EditLeft}, {KEY_RIGHT, KEY_RIGHT, "Right", A::EditRight},
    {KEY_HOME, KEY_HOME, "Home", A::EditHome}, {KEY_END, KEY_END, "End", A::EditEnd},
    {KEY_DC, KEY_DC, "Delete", A::EditDelete}, {ctrlU, ctrlU, "Ctrl-U", A::EditClear},
};
const KeyGroup tabGroup = {
    {'\t', '\t', "Tab", A::NextControl},
    {KEY_BTAB, KEY_BTAB, "Shift-Tab", A::PreviousControl},
};
const KeyGroup mnemonicGroup = {{altFlag | '!', altFlag | '~', "Alt+letter", A::Mnemonic}};
const KeyGroup typingGroup = {{'!', '~', "Typing", A::Type}};
const KeyGroup spaceTypes = {{' ', ' ', "Space", A::Type}};
const KeyGroup spaceConfirms = {{' ', ' ', "Space", A::Confirm}};
const KeyGroup screenGroup = {{ctrlL, ctrlL, "Ctrl-L", A::Redraw}};

// ---- the pages' own --------------------------------------------------------

const KeyGroup dialogGroup = {
    {KEY_UP, KEY_UP, "Up", A::Back},          {KEY_LEFT, KEY_LEFT, "Left", A::Back},
    {KEY_DOWN, KEY_DOWN, "Down", A::Forward}, {KEY_RIGHT, KEY_RIGHT, "Right", A::Forward},
    {KEY_F(1), KEY_F(1), "F1", A::Help},      {KEY_F(9), KEY_F(9), "F9", A::Minimize},
};
// In a box the arrows go round its buttons; a letter alone answers.
const KeyGroup boxGroup = {
    {KEY_RIGHT, KEY_RIGHT, "Right", A::NextControl}, {KEY_DOWN, KEY_DOWN, "Down", A::NextControl},
    {KEY_LEFT, KEY_LEFT, "Left", A::PreviousControl}, {KEY_UP, KEY_UP, "Up", A::PreviousControl},
    {'!', '~', "Typing", A::Mnemonic},
};
const KeyGroup helpGroup = {
    {'q', 'q', "q", A::Cancel},        {'Q', 'Q', "q", A::Cancel},
    {'b', 'b', "b", A::Contents},      {'B', 'B', "b", A::Contents},
    {KEY_BACKSPACE, KEY_BACKSPACE, "Backspace", A::Contents},
    {deleteByte, deleteByte, "Backspace", A::Contents},
    {backspaceByte, backspaceByte, "Backspace", A::Contents},
};
const KeyGroup topicNumbers = {{'1', '9', "1 to 9", A::OpenTopic}};
const KeyGroup spacePages = {{' ', ' ', "Space", A::PageDown}};
const KeyGroup chooserGroup = {
    {KEY_F(2), KEY_F(2), "F2", A::NextFileType},
    {KEY_F(3), KEY_F(3), "F3", A::HiddenFiles},
    // File names are bytes: anything from a blank up but DEL is typed as it is.
    {' ', ' ', "Space", A::Type},
    {'!', '~', "Typing", A::Type},
    {deleteByte + 1, highestByte, "Typing", A::Type},
};
const KeyGroup fileTypeGroup = {
    {KEY_LEFT, KEY_LEFT, "Left", A::Back},     {KEY_UP, KEY_UP, "Up", A::Back},
    {KEY_RIGHT, KEY_RIGHT, "Right", A::Forward}, {KEY_DOWN, KEY_DOWN, "Down", A::Forward},
    {' ', ' ', "Space", A::Forward},
};
}  // namespace

KeyAction keyAction(const KeyTable& table, int key) {
  for (const KeyGroup* group : table)
    for (const KeyBinding& b : *group)
      if (key >= b.first && key <= b.last) return b.action;
  return KeyAction::None;
}

const KeyTable& screenKeys() {
  static const KeyTable table = {&screenGroup};
  return table;
}

const KeyTable& dialogKeys() {
  static const KeyTable table = {&tabGroup,      &dialogGroup, &enterGroup, &escapeGroup,
                                 &mnemonicGroup, &spaceTypes,  &typingGroup};
  return table;
}

const KeyTable& editKeys() {
  static const KeyTable table = {&editGroup, &backspaceGroup};
  return table;
}

const KeyTable& openListKeys() {
  static const KeyTable table = {&listMoveGroup, &enterGroup, &spaceConfirms, &escapeGroup};
  return table;
}

const KeyTable& messageBoxKeys() {
  static const KeyTable table = {&tabGroup,      &boxGroup,   &enterGroup,
                                 &spaceConfirms, &escapeGroup, &mnemonicGroup};
  return table;
}

const KeyTable& helpContentsKeys() {
  static const KeyTable table = {&escapeGroup,   &helpGroup,    &topicNumbers,
                                 &enterGroup,    &spaceConfirms, &listMoveGroup};
  return table;
}

const KeyTable& helpTopicKeys() {
  static const KeyTable table = {&escapeGroup, &helpGroup, &spacePages, &listMoveGroup};
  return table;
}

const KeyTable& chooserKeys() {
  static const KeyTable table = {&escapeGroup,   &tabGroup,       &enterGroup,
                                 &listMoveGroup, &backspaceGroup, &chooserGroup};
  return table;
}

const KeyTable& chooserTypeKeys() {
  static const KeyTable table = {&fileTypeGroup};
  return table;
}

int movedRow(KeyAction move, int current, int count, int pageRows) {
  if (count <= 0) return -1;
  if (current < 0) return 0;
  int row = current;
  switch (move) {
    case A::LineUp: row = current - 1; break;
    case A::LineDown: row = current + 1; break;
    case A::PageUp: row = current - pageRows; break;
    case A::PageDown: row = current + pageRows; break;
    case A::First: row = 0; break;
    case A::Last: row = count - 1; break;
    default: break;
  }
  return std::clamp(row, 0, count - 1);
}

bool isListMove(KeyAction action) { return action >= A::LineUp && action <= A::Last; }

bool editKeyOf(KeyAction action, EditKey* key) {
  switch (action) {
    case A::EditLeft: *key = EditKey::Left; return true;
    case A::EditRight: *key = EditKey::Right; return true;
    case A::EditHome: *key = EditKey::Home; return true;
    case A::EditEnd: *key = EditKey::End; return true;
    case A::EditBackspace: *key = EditKey::Backspace; return true;
    case A::EditDelete: *key = EditKey::Delete; return true;
    case A::EditClear: *key = EditKey::Clear; return true;
    default: return false;
  }
}
