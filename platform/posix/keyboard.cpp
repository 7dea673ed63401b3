// The dialog manager's keyboard: Tab order, Enter and Escape, arrows inside
// radio groups and lists, and the & mnemonics.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "platform/posix/core.h"

namespace {
bool isFocusable(HWND c) {
  return IsWindowVisible(c) && IsWindowEnabled(c) && (c->style & WS_TABSTOP);
}

bool isPushButton(HWND c) {
  uint32_t type = c->style & BS_TYPEMASK;
  return c->className == "Button" && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

bool isRadio(HWND c) {
  return c->className == "Button" && (c->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

HWND defaultButton(HWND dialog) {
  for (HWND c : dialog->children)
    if (c->className == "Button" && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return c;
  return nullptr;
}

void command(HWND dialog, int id, HWND from) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(from));
}

// The radio buttons of c's group that the keyboard can reach.
std::vector<HWND> reachableRadios(HWND c) {
  std::vector<HWND> group;
  for (HWND r : radioGroup(c))
    if (IsWindowVisible(r) && IsWindowEnabled(r)) group.push_back(r);
  return group;
}

// A control's mnemonic: the letter after a single '&', lower-cased, or 0.
char mnemonicOf(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') { ++i; continue; }
    return static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 1])));
  }
  return 0;
}

// Letters typed closer together than this make one prefix, as in a Windows
// list; after a longer pause a letter starts a new one.
constexpr DWORD typeAheadGapMs = 1000;

bool startsWithFolded(const std::string& item, const std::string& prefix) {
  if (item.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(item[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// "t", "tt", "tT": one letter, typed once or again and again.
bool oneLetterOnly(const std::string& typed) {
  return startsWithFolded(std::string(typed.size(), typed[0]), typed);
}

// The first row from `from` on, round from the top again, whose item starts
// with prefix (letter case aside); -1 for none.
int32_t findInList(HWND combo, const std::string& prefix, int32_t from) {
  int32_t count = static_cast<int32_t>(combo->items.size());
  for (int32_t i = 0; i < count; ++i) {
    int32_t row = (from + i) % count;
    if (startsWithFolded(combo->items[static_cast<size_t>(row)], prefix)) return row;
  }
  return -1;
}

// Type-ahead: letters typed in quick succession gather into a prefix, and the
// selection goes to the first item that starts with it. A single letter (or
// the same letter again and again) moves on to the next item after the
// selection that starts with it, as a Windows drop-down list does.
void typeInList(HWND combo, char letter) {
  DWORD now = GetTickCount();
  bool gathering = !combo->typed.empty() && now - combo->typedAt < typeAheadGapMs;
  combo->typed = gathering ? combo->typed + letter : std::string(1, letter);
  combo->typedAt = now;
  int32_t current = combo->selection;
  int32_t row = oneLetterOnly(combo->typed)
                    ? findInList(combo, std::string(1, letter), current + 1)
                    : findInList(combo, combo->typed, 0);
  if (row < 0 || row == combo->selection) return;
  bool open = combo->droppedDown;
  userSelect(combo, row);
  if (open && isLiveWindow(combo)) SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
}

struct EditState {
  std::string text;
  size_t caret, from, to;  // the selection is [from, to); empty when equal
};

EditState editState(const EditField& field) {
  size_t size = field.text.size();
  size_t caret = std::min(static_cast<size_t>(std::max(0, field.caret)), size);
  size_t anchor = field.anchor < 0 ? caret : std::min(static_cast<size_t>(field.anchor), size);
  return {field.text, caret, std::min(caret, anchor), std::max(caret, anchor)};
}

bool movesCaret(EditKey key) {
  return key == EditKey::Left || key == EditKey::Right || key == EditKey::Home ||
         key == EditKey::End;
}

int32_t movedCaret(const EditState& e, EditKey key) {
  bool selected = e.from != e.to;
  size_t at = e.caret;
  if (key == EditKey::Left) at = selected ? e.from : (at > 0 ? at - 1 : 0);
  if (key == EditKey::Right) at = selected ? e.to : std::min(at + 1, e.text.size());
  if (key == EditKey::Home) at = 0;
  if (key == EditKey::End) at = e.text.size();
  return static_cast<int32_t>(at);
}

// Applies a key that changes the text; false when it changes nothing.
bool editText(EditState& e, EditKey key, char ch) {
  bool selected = e.from != e.to;
  if (key == EditKey::Clear) {
    e.text.clear(), e.caret = 0;
    return true;
  }
  if (selected) {
    e.text.erase(e.from, e.to - e.from), e.caret = e.from;
  } else if (key == EditKey::Backspace) {
    if (e.caret == 0) return false;
    e.text.erase(--e.caret, 1);
  } else if (key == EditKey::Delete) {
    if (e.caret >= e.text.size()) return false;
    e.text.erase(e.caret, 1);
  }
  if (key == EditKey::Type) e.text.insert(e.caret++, 1, ch);
  return true;
}

void focusBoxButton(HWND box, int32_t delta) {
  int32_t n = static_cast<int32_t>(box->boxButtons.size());
  box->selection = ((box->selection < 0 ? 0 : box->selection) + delta + n) % n;
  if (frontEnd().changed) frontEnd().changed();
}
}  // namespace

void userEnter() {
  HWND d = activeModal();
  if (!d) return;
  if (d->isMessageBox) {
    int32_t at = d->selection < 0 ? 0 : d->selection;
    return answerBox(d, d->boxButtons[static_cast<size_t>(at)]);
  }
  HWND focus = GetFocus();
  if (focus && focus->parent == d && isPushButton(focus)) return userClick(focus);
  HWND def = defaultButton(d);
  if (!def) return command(d, IDOK, nullptr);
  if (!IsWindowEnabled(def)) return MessageBeep(0), void();
  command(d, def->id, def);
}

void userEscape() {
  HWND d = activeModal();
  if (!d) return;
  if (d->isMessageBox) {
    for (int b : d->boxButtons)
      if (b == IDCANCEL || (d->boxButtons.size() == 1 && b == IDOK)) return answerBox(d, b);
    return;
  }
  command(d, IDCANCEL, GetDlgItem(d, IDCANCEL));
}

void userTab(bool backwards) {
  HWND d = activeModal();
  if (!d) return;
  if (d->isMessageBox) return focusBoxButton(d, backwards ? -1 : 1);
  std::vector<HWND> stops;
  for (HWND c : d->children)
    if (isFocusable(c)) stops.push_back(c);
  if (stops.empty()) return;
  size_t at = stops.size();
  HWND focus = GetFocus();
  for (size_t i = 0; i < stops.size(); ++i)
    if (stops[i] == focus || (focus && isRadio(focus) && isRadio(stops[i]) &&
                              reachableRadios(focus).front() == reachableRadios(stops[i]).front()))
      at = i;
  size_t n = stops.size();
  size_t next = at == n ? (backwards ? n - 1 : 0) : (backwards ? (at + n - 1) % n : (at + 1) % n);
  HWND target = stops[next];
  if (isRadio(target))  // entering a radio group lands on its checked button
    for (HWND r : reachableRadios(target))
      if (r->check) target = r;
  userFocus(target);
}

void userArrow(int32_t delta) {
  HWND d = activeModal();
  if (!d) return;
  if (d->isMessageBox) return focusBoxButton(d, delta);
  HWND focus = GetFocus();
  if (!focus || focus->parent != d) return userTab(delta < 0);
  if (focus->className == "ComboBox") {
    int32_t count = static_cast<int32_t>(focus->items.size());
    int32_t row = focus->selection + delta;
    if (focus->selection < 0) row = delta > 0 ? 0 : count - 1;
    if (row < 0 || row >= count) return;
    return userSelect(focus, row);
  }
  if (isRadio(focus)) {
    std::vector<HWND> group = reachableRadios(focus);
    size_t at = 0;
    while (group[at] != focus) ++at;
    size_t n = group.size();
    return userClick(group[(at + n + static_cast<size_t>(delta < 0 ? n - 1 : 1)) % n]);
  }
  userTab(delta < 0);
}

bool userMnemonic(char letter) {
  HWND d = activeModal();
  if (!d) return false;
  letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  if (d->isMessageBox) {
    for (int b : d->boxButtons)
      if (mnemonicOf(boxButtonText(b)) == letter) return answerBox(d, b), true;
    return false;
  }
  auto& kids = d->children;
  for (size_t i = 0; i < kids.size(); ++i) {
    HWND c = kids[i];
    if (mnemonicOf(c->text) != letter || !IsWindowVisible(c)) continue;
    if (c->className == "Static") {  // a label gives the focus to what follows it
      for (size_t j = i + 1; j < kids.size(); ++j)
        if (isFocusable(kids[j])) return userFocus(kids[j]), true;
      return true;
    }
    if (!IsWindowEnabled(c)) return true;
    userClick(c);
    return true;
  }
  return false;
}

// F1: the window with the focus is asked for help, and a control hands the
// question to its dialog, as the default window procedure does on Windows.
void userHelp() {
  HWND d = activeModal();
  if (!d || d->isMessageBox) return;
  HWND focus = GetFocus();
  if (focus && focus->parent != d) focus = nullptr;
  HELPINFO info{sizeof info, HELPINFO_WINDOW, focus ? focus->id : 0, focus ? focus : d, 0, {0, 0}};
  SendMessageA(d, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
}

// The person's minimise and restore arrive as system commands, as they do
// from a window's menu or the taskbar on Windows.
void userMinimize(HWND w) {
  if (isLiveWindow(w)) SendMessageA(w, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void userRestore(HWND w) {
  if (!isLiveWindow(w)) return;
  SendMessageA(w, WM_SYSCOMMAND, SC_RESTORE, 0);
  if (isLiveWindow(w) && !w->minimized && w->dialog && !w->ended) focusIntoDialog(w);
}

void userChar(char ch) {
  HWND d = activeModal();
  if (!d) return;
  HWND focus = d->isMessageBox ? nullptr : GetFocus();
  if (focus && focus->parent != d) focus = nullptr;
  if (focus && focus->className == "Edit") return userEditKey(focus, EditKey::Type, ch);
  if (focus && focus->className == "ComboBox") return ch == ' ' ? userClick(focus) : typeInList(focus, ch);
  if (ch == ' ') {
    if (focus && focus->className == "Button") userClick(focus);
    return;
  }
  userMnemonic(ch);
}

void userEditKey(HWND edit, EditKey key, char ch) {
  if (!isLiveWindow(edit) || !IsWindowEnabled(edit)) return;
  EditState e = editState(EditField{edit->text, edit->caret, edit->anchor});
  if (movesCaret(key)) {
    edit->caret = movedCaret(e, key);
    edit->anchor = -1;
    if (frontEnd().changed) frontEnd().changed();
    return;
  }
  if (!editText(e, key, ch)) return;
  // The caret stands after the change before the dialog hears of it, as on
  // Windows: a validation that puts text back places the selection itself.
  userTypeInEdit(edit, e.text.c_str(), static_cast<int32_t>(e.caret));
}

bool editFieldKey(EditField& field, EditKey key, char ch) {
  EditState e = editState(field);
  field.anchor = -1;
  if (movesCaret(key)) {
    field.caret = movedCaret(e, key);
    return false;
  }
  if (!editText(e, key, ch)) return false;
  field.text = e.text;
  field.caret = static_cast<int32_t>(e.caret);
  return true;
}
