// Icons, cursors, painting, help, the file chooser and sounds: kept as
// resources here and handed to the front end to show.
#include "platform/posix/core.h"

struct HINSTANCE__ {};
struct HDC__ {};

namespace {
HICON__ arrowCursor{nullptr, 32512};
HICON__ waitCursor{nullptr, 32514};
HCURSOR currentCursor = &arrowCursor;
HDC__ paintDevice;

// Resource pictures are shared: loading one twice gives the same handle, and
// destroying it is harmless, as for the resources of a Windows program.
HICON sharedPicture(LPCSTR name, bool isCursor) {
  static HICON__ loaded[8];
  static size_t loadedCount = 0;
  if (!IS_INTRESOURCE(name)) return nullptr;
  int32_t id = LOWORD(reinterpret_cast<ULONG_PTR>(name));
  const PictureResource* picture = findPicture(id, isCursor);
  if (!picture) return nullptr;
  for (size_t i = 0; i < loadedCount; ++i)
    if (loaded[i].picture == picture) return &loaded[i];
  if (loadedCount == sizeof loaded / sizeof loaded[0]) return nullptr;
  loaded[loadedCount] = HICON__{picture, 0};
  return &loaded[loadedCount++];
}
}  // namespace

HINSTANCE programInstance() {
  static HINSTANCE__ instance;
  return &instance;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  return instance ? sharedPicture(name, false) : nullptr;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  if (instance) return sharedPicture(name, true);
  if (name == IDC_ARROW) return &arrowCursor;
  if (name == IDC_WAIT) return &waitCursor;
  return nullptr;
}

BOOL DestroyIcon(HICON icon) { return icon ? TRUE : FALSE; }
// A destroyed cursor cannot stay on show: the arrow comes back.
BOOL DestroyCursor(HCURSOR cursor) {
  if (cursor && cursor == currentCursor) SetCursor(&arrowCursor);
  return cursor ? TRUE : FALSE;
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR old = currentCursor;
  currentCursor = cursor;
  if (frontEnd().cursorChanged) frontEnd().cursorChanged(cursor);
  return old;
}

HGDIOBJ GetStockObject(int) {
  static int stock;
  return &stock;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  if (!isLiveWindow(window) || !paint) return nullptr;
  paint->hdc = &paintDevice;
  paint->fErase = FALSE;
  GetClientRect(window, &paint->rcPaint);
  return &paintDevice;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }

BOOL DrawIcon(HDC dc, int, int, HICON icon) { return dc && icon ? TRUE : FALSE; }

BOOL WinHelpA(HWND window, LPCSTR file, UINT command, ULONG_PTR data) {
  return frontEnd().help ? frontEnd().help(window, file, command, data) : FALSE;
}

BOOL GetOpenFileNameA(OPENFILENAMEA* ofn) {
  return frontEnd().chooseFile ? frontEnd().chooseFile(ofn) : FALSE;
}

BOOL sndPlaySoundA(LPCSTR sound, UINT flags) {
  return frontEnd().playSound ? frontEnd().playSound(sound, flags) : FALSE;
}

BOOL Ctl3dRegister(HINSTANCE) { return FALSE; }
BOOL Ctl3dAutoSubclass(HINSTANCE) { return FALSE; }
BOOL Ctl3dUnregister(HINSTANCE) { return FALSE; }
HBRUSH Ctl3dCtlColorEx(UINT, WPARAM, LPARAM) { return nullptr; }
