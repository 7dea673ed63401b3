/* The fault the chooser test must catch: a program that passes the
 * headers' full OPENFILENAMEA size (88 bytes on 32-bit Windows with today's
 * headers), which Windows 95 and NT 4 refuse. */
#include <windows.h>
#include <commdlg.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCmd) {
  char file[MAX_PATH] = "";
  OPENFILENAMEA ofn;
  (void)instance, (void)previous, (void)commandLine, (void)showCmd;
  ZeroMemory(&ofn, sizeof ofn);
  ofn.lStructSize = sizeof ofn;
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  GetOpenFileNameA(&ofn);
  return 0;
}
