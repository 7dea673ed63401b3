// The one header through which kronsec reaches its platform.
//
// On Windows it is the real thing. Elsewhere it declares the same subset of
// Win32 names, types and constants that the program calls, implemented in
// platform/posix/ with the behaviour Windows shows for the ways kronsec uses
// them. Every width here is the 32-bit Windows width, also on 64-bit Linux.
#pragma once
#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <winsock.h>
#else
#include <cstddef>
#include <cstdint>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

typedef int32_t BOOL;
typedef int32_t INT;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef char* LPCH;
typedef void* LPVOID;
typedef uintptr_t UINT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t INT_PTR;
typedef intptr_t LONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0
#define DECLARE_HANDLE(name) struct name##__; typedef struct name##__* name
DECLARE_HANDLE(HINSTANCE);
typedef HINSTANCE HMODULE;
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HICON);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HBRUSH);
typedef void* HGDIOBJ;
typedef HICON HCURSOR;

#define MAKEWORD(lo, hi) ((WORD)(((BYTE)(lo)) | ((WORD)((BYTE)(hi))) << 8))
#define MAKELONG(lo, hi) ((LONG)(((WORD)(lo)) | ((DWORD)((WORD)(hi))) << 16))
#define LOWORD(l) ((WORD)(((DWORD)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD)(l)) >> 16) & 0xffff))
#define LOBYTE(w) ((BYTE)(((DWORD)(w)) & 0xff))
#define HIBYTE(w) ((BYTE)((((DWORD)(w)) >> 8) & 0xff))
#define MAKEWPARAM(lo, hi) ((WPARAM)(DWORD)MAKELONG(lo, hi))
#define MAKELPARAM(lo, hi) ((LPARAM)(DWORD)MAKELONG(lo, hi))
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
typedef BOOL (*WNDENUMPROC)(HWND, LPARAM);

struct POINT { LONG x; LONG y; };
struct RECT { LONG left; LONG top; LONG right; LONG bottom; };
typedef RECT* LPRECT;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
};

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

struct OPENFILENAMEA {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpstrFilter;
  LPSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPSTR lpstrFile;
  DWORD nMaxFile;
  LPSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCSTR lpstrDefExt;
  LPARAM lCustData;
  void* lpfnHook;
  LPCSTR lpTemplateName;
};
// The record's size as Windows 95 and NT 4 know it: every field up to
// lpTemplateName (later systems added more after it).
#define OPENFILENAME_SIZE_VERSION_400A (offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR))

// What WM_HELP carries: the control or window help was asked for.
struct HELPINFO {
  UINT cbSize;
  int iContextType;
  int iCtrlId;
  HWND hItemHandle;
  ULONG_PTR dwContextId;
  POINT MousePos;
};
#define HELPINFO_WINDOW 0x0001

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

// Window messages.
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_QUERYOPEN 0x0013
#define WM_SETCURSOR 0x0020
#define WM_HELP 0x0053
#define WM_KEYDOWN 0x0100
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_CTLCOLORMSGBOX 0x0132
#define WM_CTLCOLOREDIT 0x0133
#define WM_CTLCOLORLISTBOX 0x0134
#define WM_CTLCOLORBTN 0x0135
#define WM_CTLCOLORDLG 0x0136
#define WM_CTLCOLORSCROLLBAR 0x0137
#define WM_CTLCOLORSTATIC 0x0138
#define WM_USER 0x0400

// Control messages and notifications.
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BN_CLICKED 0
#define EM_GETSEL 0x00B0
#define EM_SETSEL 0x00B1
#define EN_CHANGE 0x0300
#define EN_UPDATE 0x0400
#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_RESETCONTENT 0x014B
#define CB_SETCURSEL 0x014E
#define CB_SHOWDROPDOWN 0x014F
#define CB_GETDROPPEDSTATE 0x0157
#define CBN_SELCHANGE 1

// Window, dialog and control styles.
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_MINIMIZE 0x20000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_VSCROLL 0x00200000u
#define WS_HSCROLL 0x00100000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_MINIMIZEBOX 0x00020000u
#define WS_TABSTOP 0x00010000u
#define DS_SETFONT 0x40u
#define DS_MODALFRAME 0x80u
#define BS_PUSHBUTTON 0x0u
#define BS_DEFPUSHBUTTON 0x1u
#define BS_CHECKBOX 0x2u
#define BS_AUTOCHECKBOX 0x3u
#define BS_RADIOBUTTON 0x4u
#define BS_GROUPBOX 0x7u
#define BS_AUTORADIOBUTTON 0x9u
#define BS_TYPEMASK 0xFu
#define SS_LEFT 0x0u
#define SS_CENTER 0x1u
#define SS_RIGHT 0x2u
#define SS_ICON 0x3u
#define SS_BLACKFRAME 0x7u
#define SS_TYPEMASK 0x1Fu
#define ES_LEFT 0x0u
#define ES_AUTOHSCROLL 0x80u
#define CBS_DROPDOWNLIST 0x3u
#define CS_DBLCLKS 0x0008u

// Dialog results and message boxes.
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define MB_OK 0x0u
#define MB_OKCANCEL 0x1u
#define MB_ABORTRETRYIGNORE 0x2u
#define MB_YESNOCANCEL 0x3u
#define MB_YESNO 0x4u
#define MB_RETRYCANCEL 0x5u
#define MB_ICONHAND 0x10u
#define MB_ICONQUESTION 0x20u
#define MB_ICONEXCLAMATION 0x30u
#define MB_ICONASTERISK 0x40u
#define MB_TYPEMASK 0xFu
#define MB_ICONMASK 0xF0u

// Show states, system commands, metrics, positions.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SC_MOVE 0xF010
#define SC_MINIMIZE 0xF020
#define SC_MAXIMIZE 0xF030
#define SC_CLOSE 0xF060
#define SC_RESTORE 0xF120
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXICON 11
#define SM_CYICON 12
#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOACTIVATE 0x0010u
#define GWLP_USERDATA (-21)
#define GW_OWNER 4
#define DWLP_MSGRESULT 0
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
#define LTGRAY_BRUSH 1
#define HELP_CONTEXT 0x0001u
#define HELP_QUIT 0x0002u
#define HELP_CONTENTS 0x0003u
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_PATHMUSTEXIST 0x00000800u
#define OFN_FILEMUSTEXIST 0x00001000u
#define SND_SYNC 0x0000u
#define SND_ASYNC 0x0001u
#define SND_NODEFAULT 0x0002u
#define MAX_PATH 260

// Windows, classes and messages.
ATOM RegisterClassA(const WNDCLASSA* wc);
BOOL UnregisterClassA(LPCSTR name, HINSTANCE instance);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title,
                     DWORD style, int x, int y, int width, int height,
                     HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL SetWindowTextA(HWND window, LPCSTR text);
int GetWindowTextA(HWND window, LPSTR out, int size);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsIconic(HWND window);
HWND SetFocus(HWND window);
HWND GetFocus();
// The owner of a top-level window (GW_OWNER); nothing else is asked.
HWND GetWindow(HWND window, UINT relation);
int GetClassNameA(HWND window, LPSTR out, int size);
// One thread runs every window: its id is the only one that has windows.
DWORD GetCurrentThreadId();
BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM lParam);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy,
                  UINT flags);
int GetSystemMetrics(int index);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL GetMessageA(LPMSG msg, HWND window, UINT first, UINT last);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
void PostQuitMessage(int exitCode);

// Dialogs and controls.
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                        DLGPROC proc, LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR out, int size);
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL CheckRadioButton(HWND dialog, int first, int last, int check);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam,
                            LPARAM lParam);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL MessageBeep(UINT type);

// Timers, cursors, icons, painting.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
BOOL DestroyIcon(HICON icon);
BOOL DestroyCursor(HCURSOR cursor);
HCURSOR SetCursor(HCURSOR cursor);
HGDIOBJ GetStockObject(int object);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);

// Help, file chooser, sounds.
BOOL WinHelpA(HWND window, LPCSTR file, UINT command, ULONG_PTR data);
// The running program's own file (any module is the program here).
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
BOOL GetOpenFileNameA(OPENFILENAMEA* ofn);
BOOL sndPlaySoundA(LPCSTR sound, UINT flags);

// Clocks: these and kronsec's own clock calls below go through the seam of
// platform/posix/clock.h.
DWORD GetTickCount();
void GetLocalTime(SYSTEMTIME* out);
void GetSystemTime(SYSTEMTIME* utc);
// The performance counter: a monotonic count at QueryPerformanceFrequency
// counts per second (here microseconds).
typedef union _LARGE_INTEGER {
  int64_t QuadPart;
} LARGE_INTEGER;
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL SetSystemTime(const SYSTEMTIME* utc);
// The error of the latest clock call that failed (SetSystemTime, and
// kronsec's own kronSlewClock and kronClockSynchronised): errno here, as
// Windows' GetLastError gives a failed call's code there.
DWORD GetLastError();

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

// Winsock 1.1 over BSD sockets. The address records, hostent, servent, htons
// and ntohl are the C library's own; the calls below record their failure as
// a Winsock error code for WSAGetLastError.
typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)
#ifndef INADDR_NONE
#define INADDR_NONE 0xffffffffu
#endif
// AF_INET and SOCK_STREAM are the C library's, with Winsock's values (2, 1).
// The Winsock error codes kronsec names, as Winsock numbers them.
#define WSAEINTR 10004
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEPROTOTYPE 10041
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004
#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20
#define WSAGETSELECTEVENT(l) LOWORD(l)
#define WSAGETSELECTERROR(l) HIWORD(l)
#define WSAMAKESELECTREPLY(event, error) MAKELONG(event, error)
#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};
typedef WSADATA* LPWSADATA;

int WSAStartup(WORD version, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);
int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events);
SOCKET kronSocket(int family, int type, int protocol);
int kronConnect(SOCKET s, const struct sockaddr* name, int length);
int kronRecv(SOCKET s, char* buffer, int length, int flags);
int closesocket(SOCKET s);
struct hostent* kronGetHostByName(const char* name);
struct servent* kronGetServByName(const char* name, const char* proto);
in_addr_t kronInetAddr(const char* text);
#define socket kronSocket
#define connect kronConnect
#define recv kronRecv
#define gethostbyname kronGetHostByName
#define getservbyname kronGetServByName
#define inet_addr kronInetAddr
#endif

// kronsec's own clock calls beside the Win32 ones: the kernel's clock
// discipline (Linux's adjtimex), which Windows 95 lacks.
#define KRON_CLOCK_FAILED 0
#define KRON_CLOCK_SLEWED 1
#define KRON_CLOCK_STEPPED 2
// Moves the clock by deltaUs microseconds (below half a second) gradually:
// Linux hands the change to the kernel, which makes it at 0.5 ms per second
// as adjtime does. Windows steps the clock by it instead, since its gradual
// adjustment (SetSystemTimeAdjustment) exists only on NT. Returns
// KRON_CLOCK_SLEWED, KRON_CLOCK_STEPPED or KRON_CLOCK_FAILED.
int32_t kronSlewClock(int32_t deltaUs);
// Tells the kernel that its clock has just been set from a time source:
// STA_UNSYNC cleared, the estimated and the maximum error set (microseconds),
// as timedatectl and node_exporter's timex collector read them. Returns
// TRUE when told. Windows keeps no such state: nothing to do, TRUE.
BOOL kronClockSynchronised(int32_t estErrorUs, int32_t maxErrorUs);
// The kernel's correction of its clock's frequency, in parts per million
// times 65536 (adjtimex's freq): read into *scaled, or set to scaled (as
// ADJ_FREQUENCY). Each returns FALSE where the system has no such
// correction (Windows 95) or refused it.
BOOL kronClockFrequency(int64_t* scaled);
BOOL kronSetClockFrequency(int64_t scaled);
// Reads the UTC clock to the microsecond into *usSince1970 where the system
// can (Linux); returns FALSE where it cannot: Windows reads its clock to
// the millisecond, and Windows 95 has nothing finer.
BOOL kronPreciseSystemTime(int64_t* usSince1970);

// kronsec's own name service beside Winsock 1.1's, which knows IPv4 only:
// the addresses of one item of a host text, of both families where the
// system speaks IPv6 (Linux), IPv4 alone where it does not (Windows 95).
#ifdef _WIN32
#define KRON_HAS_IPV6 0
#else
#define KRON_HAS_IPV6 1
#endif
#define KRON_ANY_FAMILY 0
#define KRON_IPV4_ONLY 4
#define KRON_IPV6_ONLY 6
struct KronAddress {
  int32_t family;     // AF_INET, or AF_INET6 where the system has it
  uint8_t bytes[16];  // network order; an IPv4 address in the first four
  uint32_t scope;     // an IPv6 link-local address's interface, else 0
};
// Resolves host: a name, an IPv4 address, or an IPv6 address (bare,
// bracketed, or with its link's zone: fe80::1%eth0), limited to one family
// (KRON_IPV4_ONLY, KRON_IPV6_ONLY) or not (KRON_ANY_FAMILY). Returns how many
// of its addresses it put in out (at most most), in the system's order of
// preference; 0 when it has none, with WSAGetLastError saying why: the
// resolver's WSAHOST_NOT_FOUND, WSATRY_AGAIN, ..., or WSAEAFNOSUPPORT for a
// literal of the family not asked for, or of IPv6 where there is none.
int32_t kronResolveHost(const char* host, int32_t family, KronAddress* out, int32_t most);
// Writes the address's numeric text into out (size bytes): "192.0.2.7",
// "2001:db8::37", "fe80::1%eth0".
void kronAddressText(const KronAddress* address, char* out, size_t size);
// Connects s (a stream socket of the address's family) to address on port
// (network order), as connect does; SOCKET_ERROR with the Winsock error.
int kronConnectTo(SOCKET s, const KronAddress* address, uint16_t port);

// Opens path for appending bytes at its end (binary, created when missing);
// returns the stream, which the caller closes with fclose, or nullptr. On
// Linux it never blocks and takes only a regular file or /dev/null: a FIFO or
// a terminal in a log's place would hang or garble a run.
FILE* openLogForAppend(const char* path);

// The three-dimensional control library: loaded at run time on Windows and
// skipped where it is absent; purely visual, so elsewhere these do nothing.
BOOL Ctl3dRegister(HINSTANCE instance);
BOOL Ctl3dAutoSubclass(HINSTANCE instance);
BOOL Ctl3dUnregister(HINSTANCE instance);
HBRUSH Ctl3dCtlColorEx(UINT message, WPARAM wParam, LPARAM lParam);
