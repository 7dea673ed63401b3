// Start-up, the host window and the ordered exit in which settings are saved.
#include "app/appstate.h"
#include "program/shell.h"
#include "ui/boxes.h"
#include "ui/dialogs.h"
#include "zones/environment.h"
#include "zones/localtime.h"

UINT_PTR hostTimer = 0;

namespace {
constexpr WORD winsockVersion = MAKEWORD(1, 1);
// Start-up failures other than the class registration end with this status,
// so that a script running kronsec can tell them from a normal exit.
constexpr int startupFailedStatus = 1;

AppState* stateOf(HWND window) {
  return reinterpret_cast<AppState*>(GetWindowLongPtrA(window, 0));
}

BOOL registerHostClass(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = kronSecProc;
  wc.cbWndExtra = sizeof(LONG_PTR);  // slot 0: the AppState pointer
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_KRONSEC));
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
  wc.lpszClassName = hostClassName;
  return RegisterClassA(&wc) != 0;
}

// Starts Winsock and accepts exactly version 1.1; false after telling the user.
bool startWinsock() {
  WSADATA data;
  if (WSAStartup(winsockVersion, &data) != 0) {
    MessageBoxA(hostWindow, "Could not find winsock.dll!", "Winsock Error", MB_OK);
    return false;
  }
  if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
    MessageBoxA(hostWindow, "Wrong winsock version", "Winsock Error", MB_OK);
    WSACleanup();
    return false;
  }
  return true;
}

int runMessageLoop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  WSACleanup();
  return static_cast<int>(msg.wParam);
}

void openMainDialog(HWND window) {
  AppState* state = stateOf(window);
  INT_PTR result = DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_MAIN), window,
                                   optionsDlgProc, reinterpret_cast<LPARAM>(state));
  if (result == 0) {
    SendMessageA(window, WM_CLOSE, 0, 0);
    return;
  }
  hostTimer = SetTimer(window, closeTimerId, closeDelayMs, nullptr);
  if (hostTimer) ShowWindow(window, SW_MINIMIZE);
  else SendMessageA(window, WM_CLOSE, 0, 0);
}

void exitSequence(HWND window) {
  AppState* state = stateOf(window);
  int exitStatus = startupFailedStatus;
  if (hostTimer) KillTimer(window, hostTimer);
  hostTimer = 0;
  if (state) {
    if (state->sock != INVALID_SOCKET) {
      closesocket(state->sock);
      state->sock = INVALID_SOCKET;
    }
    SetWindowLongPtrA(window, 0, 0);
    exitStatus = runExitStatus(state->showCmd);
    saveSettings(state);
  }
  // The program ends with how its last request ended, so that a scheduled
  // task's last result tells a failure.
  PostQuitMessage(exitStatus);
}
}  // namespace

void processStartup() {
  envInit();
  parseTz();
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCmd) {
  if (!previous && !registerHostClass(instance)) {
    MessageBoxA(nullptr, "Unable to register kronsec class!", "Windows Error", MB_OK);
    return 0;
  }
  appInstance = instance;
  Ctl3dRegister(instance);
  Ctl3dAutoSubclass(instance);
  int status = startupFailedStatus;
  HWND window = CreateWindowExA(0, hostClassName, "kronSec", WS_POPUP, 0, 0, 0, 0,
                                nullptr, nullptr, instance, nullptr);
  if (window) {
    stateOf(window)->showCmd = showCmd;
    if (startWinsock()) {
      PostMessageA(hostWindow, WM_OPEN_MAIN, 0, 0);
      status = runMessageLoop();
    }
  }
  Ctl3dUnregister(instance);
  return status;
}

LRESULT CALLBACK kronSecProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      hostWindow = window;
      hostTimer = 0;
      AppState* state = loadSettings();
      if (!state) return -1;
      SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(state));
      return 0;
    }
    case WM_OPEN_MAIN:
      openMainDialog(window);
      return 0;
    case WM_TIMER:
      SendMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_SYSCOMMAND:
      // Only closing is allowed: the minimised window cannot be restored,
      // maximised or moved.
      if (wParam == SC_CLOSE) return DefWindowProcA(window, message, wParam, lParam);
      return 0;
    case WM_DESTROY:
      exitSequence(window);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
