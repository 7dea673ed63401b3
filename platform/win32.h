// The one header through which kronsec reaches its platform.
//
// On Windows it is the real thing. Elsewhere it declares the same subset of
// Win32 names, types and constants that the program calls, implemented in
// platform/posix/ with the behaviour Windows shows for the ways kronsec uses
// them. Every width here is the 32-bit Windows width, also on 64-bit Linux.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsock.h>
#else
#include <cstddef>
#include <cstdint>

typedef int32_t BOOL;
typedef int32_t INT;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef char* LPCH;

typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;

#define WINAPI
#define DECLARE_HANDLE(name) struct name##__; typedef struct name##__* name
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HICON);
typedef HICON HCURSOR;

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0))
#define TRUE 1
#define FALSE 0

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME;

// Clocks: all three go through the seam of platform/posix/clock.h.
DWORD GetTickCount();
void GetLocalTime(SYSTEMTIME* out);
BOOL SetSystemTime(const SYSTEMTIME* utc);

// Profiles (INI files in the user's kronsec configuration folder).
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def,
                               LPSTR out, DWORD size, LPCSTR file);
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file);
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                LPCSTR file);
DWORD GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out,
                        DWORD size);
BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value);

// The process environment.
LPCH GetEnvironmentStrings();
BOOL FreeEnvironmentStringsA(LPCH block);
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);
#endif
