// The dialog manager's keyboard: Tab order, Enter and Escape, arrows inside
// radio groups and lists, and the & mnemonics.
#include <cctype>
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
  SetFocus(target);
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
        if (isFocusable(kids[j])) return SetFocus(kids[j]), true;
      return true;
    }
    if (!IsWindowEnabled(c)) return true;
    userClick(c);
    return true;
  }
  return false;
}

void userMinimize(HWND w) {
  if (isLiveWindow(w)) ShowWindow(w, SW_MINIMIZE);
}
