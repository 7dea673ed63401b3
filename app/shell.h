// The program's frame: the entry point, the invisible host window that owns
// the settings record, and the globals set once at start.
#pragma once
#include "platform/win32.h"
#include "ui/res/resource.h"

// Posted once by WinMain to the host window: open the main dialog.
constexpr UINT WM_OPEN_MAIN = WM_USER + 3;
// Socket notifications of the query, posted to the main dialog.
constexpr UINT WM_SOCKET_EVENT = WM_USER + 2;

constexpr const char* hostClassName = "orv-kronsec";
constexpr UINT_PTR closingTimerId = 100;
constexpr UINT closingDelayMs = 5000;

extern HINSTANCE appInstance;
extern HWND hostWindow;
extern UINT_PTR hostTimer;

// Process start-up that runs before WinMain: the environment list from the
// inherited environment, then the first zone parse.
void processStartup();

// Runs the whole program; returns its exit status.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCmd);

// The host window's procedure.
LRESULT CALLBACK kronSecProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
