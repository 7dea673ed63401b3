// The keys of the terminal front end, as data: one table for each page (a
// dialog, a text field, an open list, a message box, the help viewer's
// Contents and topics, the file chooser and its parts), made of groups that
// pages share (Enter, Esc, a list's moves, the editing keys). Each binding
// names its key as the help's "Keys in the terminal" topic does.
#pragma once
#include <vector>

#include "platform/posix/core.h"

// A letter typed with Alt (ESC, then the letter) reaches the tables as this
// flag with the letter.
constexpr int altFlag = 0x10000;
constexpr int escapeKey = 27;

// What a key means on a page.
enum class KeyAction {
  None,
  Confirm,  // Enter: the default button, the line chosen, the topic, the file
  Cancel,   // Esc: close or cancel
  // A list's moves (movedRow).
  LineUp, LineDown, PageUp, PageDown, First, Last,
  // A text field's editing keys (editKeyOf).
  EditLeft, EditRight, EditHome, EditEnd, EditBackspace, EditDelete, EditClear,
  Type,             // a character typed as it is
  Mnemonic,         // Alt+letter
  NextControl,      // Tab
  PreviousControl,  // Shift-Tab
  Back, Forward,    // arrows among controls, radio buttons, file types
  Help, Minimize, Redraw,
  Contents,         // the help viewer's way back to Contents
  OpenTopic,        // a topic's number on Contents
  NextFileType, HiddenFiles,
};

struct KeyBinding {
  int first, last;   // the key codes it covers; one key when they are equal
  const char* name;  // the key as the help names it
  KeyAction action;
};
using KeyGroup = std::vector<KeyBinding>;
// A page's keys: its groups in the order they are looked through; the first
// binding that covers a key decides.
using KeyTable = std::vector<const KeyGroup*>;

// Returns what `key` (an ncurses key code, a character, or altFlag with a
// letter) means in `table`; KeyAction::None when nothing binds it.
KeyAction keyAction(const KeyTable& table, int key);

// The pages' tables.
const KeyTable& screenKeys();        // on every page: Ctrl-L
const KeyTable& dialogKeys();        // a dialog, whatever has the focus
const KeyTable& editKeys();          // a text field with the focus, before dialogKeys
const KeyTable& openListKeys();      // an open drop-down list, before dialogKeys
const KeyTable& messageBoxKeys();    // a message box
const KeyTable& helpContentsKeys();  // the help viewer's Contents
const KeyTable& helpTopicKeys();     // a topic of the help viewer
const KeyTable& chooserKeys();       // the file chooser, wherever its focus is
const KeyTable& chooserTypeKeys();   // its Files of type, before chooserKeys

// Returns the row a list move (LineUp to Last) leads to among `count` rows
// from `current`, a page being `pageRows`; from no row yet (current -1) every
// move lands on the first. Always a row of the list; -1 when it is empty.
int movedRow(KeyAction move, int current, int count, int pageRows);

// Whether the action is one of a list's moves.
bool isListMove(KeyAction action);

// Returns whether the action is an editing key, and which one in *key.
bool editKeyOf(KeyAction action, EditKey* key);
