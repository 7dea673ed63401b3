// The dialog procedures of the main dialog and its secondary dialogs.
#pragma once
#include "platform/win32.h"

// The main dialog (template 101); its parameter is the AppState record.
INT_PTR CALLBACK optionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Returns whether a program started with showCmd starts minimised: nobody
// watches it, and its dialog runs one cycle and ends by itself.
bool startsMinimised(int32_t showCmd);

// Returns the exit status of a program whose main dialog has ended (0 to 5,
// as on Linux): how its last request ended, on a dialog started with
// showCmd.
int runExitStatus(int32_t showCmd);

// Advanced Options (template 103); its parameter is the AppState record,
// whose fields it edits directly.
INT_PTR CALLBACK advancedDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The About box (template 102).
INT_PTR CALLBACK aboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the platform's open-file dialog; returns file when the user confirmed
// a file (now in file), else nullptr.
char* browseFile(HWND owner, const char* title, const char* filter, char* file,
                 DWORD fileSize, const char* initialDir, DWORD flags);

// Opens kronsec.hlp (the one beside the program; the bare name when the
// program's own path cannot be had) with WinHelp's command and data.
BOOL openHelp(HWND owner, UINT command, ULONG_PTR data);
