// The program's frame: the entry point, the invisible host window that owns
// the settings record, and the ordered exit in which settings are saved.
#pragma once
#include "app/handles.h"
#include "platform/win32.h"
#include "ui/res/resource.h"

// Posted once by WinMain to the host window: open the main dialog.
constexpr UINT WM_OPEN_MAIN = WM_USER + 3;

constexpr const char* hostClassName = "orv-kronsec";

// The host window's closing timer, armed after the main dialog ended by
// itself; 0 when none.
extern UINT_PTR hostTimer;

// Process start-up that runs before WinMain: the environment list from the
// inherited environment, then the first zone parse.
void processStartup();

// Runs the whole program; returns its exit status.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCmd);

// The host window's procedure.
LRESULT CALLBACK kronSecProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
