/* A stand-in for COMDLG32.DLL, for tests/e2e/wine_chooser.sh: its
 * GetOpenFileNameA writes the record size the caller passed into
 * ofnsize.txt in the current folder and cancels, so a test can read what
 * the real program hands the chooser. */
#define WIN32_LEAN_AND_MEAN /* no commdlg.h: this file defines its function */
#include <windows.h>

/* The record's first field is its size (lStructSize). */
__declspec(dllexport) BOOL WINAPI GetOpenFileNameA(const DWORD *record) {
  char text[16];
  int length = wsprintfA(text, "%lu\r\n", (unsigned long)record[0]);
  HANDLE file = CreateFileA("ofnsize.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written;
    WriteFile(file, text, (DWORD)length, &written, NULL);
    CloseHandle(file);
  }
  return FALSE;
}
