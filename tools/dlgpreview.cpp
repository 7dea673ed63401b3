// dlgpreview: shows one dialog template of ui/res/kronsec.rc exactly as the
// template lays it out, for screenshots and layout checks (Windows only).
//
//   dlgpreview.exe 101|102|103|104
//
// The dialog procedure fills nothing in, so every control shows the text and
// state of the template. Any push button, Escape and Enter end the dialog.
// Exit status: 0 after the dialog closed, 2 for a bad argument, 3 when the
// template cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int badArgumentStatus = 2;
constexpr int noDialogStatus = 3;

// Reads the template number; 0 when the command line is not one number.
int templateNumber(const char* commandLine) {
  char* end = nullptr;
  long number = std::strtol(commandLine, &end, 10);
  while (*end == ' ' || *end == '\t') ++end;
  if (end == commandLine || *end != '\0' || number <= 0 || number > 0xFFFF) return 0;
  return static_cast<int>(number);
}

// Check boxes and radio buttons also report BN_CLICKED; only push buttons
// (and the keyboard's IDOK/IDCANCEL, which come without a control) end.
bool isPushButton(HWND control) {
  if (!control) return false;
  LONG_PTR type = GetWindowLongPtrA(control, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

INT_PTR CALLBACK previewProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;  // default focus, nothing filled in
    case WM_COMMAND: {
      HWND control = reinterpret_cast<HWND>(lParam);
      bool keyboard = !control && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL);
      if (keyboard || (HIWORD(wParam) == BN_CLICKED && isPushButton(control))) {
        EndDialog(dialog, LOWORD(wParam));
      }
      return TRUE;
    }
    case WM_CLOSE:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  int number = templateNumber(commandLine);
  if (number == 0) {
    std::fprintf(stderr, "usage: dlgpreview TEMPLATE (a dialog number, e.g. 101)\n");
    return badArgumentStatus;
  }
  // A message box would wait for a user nobody sends; report on stderr only.
  INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(number), nullptr, previewProc, 0);
  if (result == -1) {
    std::fprintf(stderr, "dlgpreview: cannot open dialog template %d (error %lu)\n", number,
                 static_cast<unsigned long>(GetLastError()));
    return noDialogStatus;
  }
  return 0;
}
