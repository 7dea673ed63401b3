// The dialog templates as each platform carries them: on Linux the tables that
// tools/gen/rcgen makes from ui/res/kronsec.rc, on Windows the resources windres
// linked into this executable, read back with FindResource and a small
// DLGTEMPLATE parser. Both are held against the same table, so the two
// platforms show the same template numbers, identifiers, texts and layout.
// Template 103 is also run by its real procedure under each platform's own
// dialog manager.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/appstate.h"
#include "ui/dialogs.h"
#include "ui/res/resource.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/resources.h"
#endif

namespace {

// Window style bits with Windows' values; the platform header need not
// define them on Linux.
constexpr uint32_t kPopup = 0x80000000, kChild = 0x40000000, kVisible = 0x10000000,
                   kDisabled = 0x08000000, kCaption = 0x00C00000, kBorder = 0x00800000,
                   kVScroll = 0x00200000, kGroup = 0x00020000, kTabStop = 0x00010000,
                   kMinimizeBox = 0x00020000, kModalFrame = 0x0080, kSetFont = 0x0040;

// A control as either platform describes it. An icon control's text is "#"
// and the icon's number.
struct Item {
  std::string cls, text;
  int id, x, y, cx, cy;
  uint32_t style;
};

struct Template {
  bool found = false;
  std::string title, fontName;
  int x = 0, y = 0, cx = 0, cy = 0, pointSize = 0;
  uint32_t style = 0;
  std::vector<Item> items;
};

#ifdef _WIN32

// A WORD sequence in the template: 0xFFFF and an ordinal, or a zero-terminated
// UTF-16 text (ours is ASCII). Advances p past it.
std::string readSzOrOrd(const WORD*& p) {
  if (*p == 0xFFFF) {
    std::string s = "#" + std::to_string(p[1]);
    p += 2;
    return s;
  }
  std::string s;
  for (; *p; ++p) s += *p < 0x100 ? char(*p) : '?';
  ++p;
  return s;
}

// windres may write a class as its ordinal or as its name in any case.
std::string canonicalClass(std::string cls) {
  static const char* const ordinals[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
  if (cls.size() > 1 && cls[0] == '#') {
    int ordinal = std::atoi(cls.c_str() + 1);
    return ordinal >= 0x80 && ordinal <= 0x85 ? ordinals[ordinal - 0x80] : cls;
  }
  for (const char* known : ordinals) {
    if (_stricmp(cls.c_str(), known) == 0) return known;
  }
  return cls;
}

const WORD* alignToDword(const WORD* p, const BYTE* base) {
  size_t offset = size_t(reinterpret_cast<const BYTE*>(p) - base);
  return reinterpret_cast<const WORD*>(base + ((offset + 3) & ~size_t(3)));
}

Item readItem(const WORD*& p, const BYTE* base) {
  p = alignToDword(p, base);
  const DLGITEMTEMPLATE* item = reinterpret_cast<const DLGITEMTEMPLATE*>(p);
  Item it;
  it.style = uint32_t(item->style);
  it.x = item->x;
  it.y = item->y;
  it.cx = item->cx;
  it.cy = item->cy;
  it.id = short(item->id);  // -1 is stored as 0xFFFF
  p = reinterpret_cast<const WORD*>(item + 1);
  it.cls = canonicalClass(readSzOrOrd(p));
  it.text = readSzOrOrd(p);
  WORD extra = *p++;
  p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
  return it;
}

Template loadTemplate(int id) {
  Template t;
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (!res) return t;
  const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(module, res)));
  const DLGTEMPLATE* dlg = reinterpret_cast<const DLGTEMPLATE*>(base);
  if (reinterpret_cast<const WORD*>(base)[1] == 0xFFFF) {
    ADD_FAILURE() << "template " << id << " is a DIALOGEX";
    return t;
  }
  t.found = true;
  t.style = uint32_t(dlg->style);
  t.x = dlg->x;
  t.y = dlg->y;
  t.cx = dlg->cx;
  t.cy = dlg->cy;
  const WORD* p = reinterpret_cast<const WORD*>(dlg + 1);
  EXPECT_EQ(readSzOrOrd(p), "") << "menu";
  EXPECT_EQ(readSzOrOrd(p), "") << "class";
  t.title = readSzOrOrd(p);
  if (t.style & kSetFont) {
    t.pointSize = *p++;
    t.fontName = readSzOrOrd(p);
  }
  for (int i = 0; i < dlg->cdit; ++i) t.items.push_back(readItem(p, base));
  return t;
}

#else

Template loadTemplate(int id) {
  Template t;
  const DialogTemplate* d = findDialogTemplate(id);
  if (!d) return t;
  t.found = true;
  t.title = d->title;
  t.fontName = d->fontName;
  t.pointSize = d->pointSize;
  t.x = d->x;
  t.y = d->y;
  t.cx = d->cx;
  t.cy = d->cy;
  t.style = d->style;
  for (int i = 0; i < d->controlCount; ++i) {
    const ControlTemplate& c = d->controls[i];
    std::string text = c.iconId ? "#" + std::to_string(c.iconId) : std::string(c.text);
    t.items.push_back({c.className, text, c.id, c.x, c.y, c.cx, c.cy, c.style});
  }
  return t;
}

#endif

// One expected control. `kind` is the class's own style bits (the low word);
// `flags` lists the window bits that must be set, all others of
// kCheckedBits being clear: V visible, D disabled, T tab stop, G starts a
// group, B border, S vertical scroll bar.
struct Row {
  int id;
  const char* cls;
  const char* text;
  int x, y, cx, cy;
  uint32_t kind;
  const char* flags;
};

constexpr uint32_t kCheckedBits = kChild | kVisible | kDisabled | kTabStop | kGroup | kBorder | kVScroll;

uint32_t flagBits(const char* flags) {
  uint32_t bits = kChild;
  for (const char* f = flags; *f; ++f) {
    switch (*f) {
      case 'V': bits |= kVisible; break;
      case 'D': bits |= kDisabled; break;
      case 'T': bits |= kTabStop; break;
      case 'G': bits |= kGroup; break;
      case 'B': bits |= kBorder; break;
      case 'S': bits |= kVScroll; break;
      default: ADD_FAILURE() << "unknown flag " << *f;
    }
  }
  return bits;
}

// Class style values, as Windows defines them.
constexpr uint32_t kSsLeft = 0, kSsCenter = 1, kSsRight = 2, kSsIcon = 3, kSsBlackFrame = 7;
constexpr uint32_t kBsPush = 0, kBsDefPush = 1, kBsAutoCheck = 3, kBsGroupBox = 7, kBsAutoRadio = 9;
constexpr uint32_t kEsAutoHScroll = 0x80, kCbsDropDownList = 3;

const Row kMain[] = {
    {IDC_STATIC, "Static", "Host:", 16, 8, 28, 8, kSsRight, "V"},
    {IDC_HOST, "Edit", "", 47, 6, 111, 12, kEsAutoHScroll, "VTB"},
    {IDC_STATIC, "Static", "Local TZ:", 3, 25, 41, 8, kSsRight, "V"},
    {IDC_ZONELIST, "ComboBox", "", 47, 23, 111, 136, kCbsDropDownList, "VTS"},
    {IDC_TZVAR, "Static", "", 49, 25, 98, 8, kSsLeft, ""},
    {IDC_STATIC, "Static", "TZ:", 29, 41, 15, 8, kSsRight, "V"},
    {IDC_TZINUSE, "Static", "---", 47, 41, 42, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "", 6, 54, 154, 42, kSsBlackFrame, "V"},
    {IDC_USEDST, "Button", "&Use daylight savings", 12, 58, 81, 12, kBsAutoCheck, "VT"},
    {IDC_USETZ, "Button", "Use &TZ Env Var", 12, 69, 81, 12, kBsAutoCheck, "VT"},
    {IDC_ADD30, "Button", "Add &30 minutes", 12, 80, 81, 12, kBsAutoCheck, "VT"},
    {IDC_REPORTONLY, "Button", "&Report only", 102, 58, 54, 12, kBsAutoCheck, "VT"},
    {IDC_AUTOCLOSE, "Button", "Auto C&lose", 102, 69, 54, 12, kBsAutoCheck, "VT"},
    {IDC_ADVANCED, "Button", "Ad&vanced ...", 5, 105, 58, 14, kBsPush, "VT"},
    {IDC_ABOUT, "Button", "&About", 5, 123, 28, 14, kBsPush, "VT"},
    {IDC_HELPBUTTON, "Button", "&Help", 34, 123, 28, 14, kBsPush, "VT"},
    {IDC_GETTIME, "Button", "&Get time", 106, 105, 51, 14, kBsDefPush, "VT"},
    {IDC_CLOSE, "Button", "&Close", 106, 123, 51, 14, kBsPush, "VT"},
    {IDC_STATIC, "Static", "kronsec", 66, 100, 34, 8, kSsCenter, "V"},
    {IDC_STATIC, "Static", "#100", 73, 110, 18, 20, kSsIcon, "V"},
    {IDC_STATIC, "Static", "v. 1.05", 65, 131, 34, 8, kSsCenter, "V"},
    {IDC_STATIC, "Static", "", 6, 144, 152, 35, kSsBlackFrame, "V"},
    {IDC_STATIC, "Static", "Date:", 10, 148, 21, 8, kSsLeft, "V"},
    {IDC_DATE, "Static", "", 32, 148, 120, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "Time:", 10, 158, 21, 8, kSsLeft, "V"},
    {IDC_TIME, "Static", "", 31, 158, 120, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "Diff:", 10, 167, 21, 8, kSsLeft, "V"},
    {IDC_DIFF, "Static", "", 31, 167, 41, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "Net Lag:", 75, 167, 30, 8, kSsRight, "V"},
    {IDC_LAG, "Static", "", 108, 167, 46, 8, kSsLeft, "V"},
};

const Row kAbout[] = {
    {IDC_STATIC, "Static", "#100", 22, 10, 18, 20, kSsIcon, "V"},
    {IDC_STATIC, "Static", "Kronsec v. 1.05", 48, 13, 94, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "32 bit Version", 48, 22, 94, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "", 8, 40, 145, 88, kSsBlackFrame, "V"},
    {IDC_STATIC, "Static", "Sets this computer's clock from", 14, 48, 133, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "a network Time server (RFC 868).", 14, 57, 133, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "With \"Report only\" checked it", 14, 72, 133, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "shows the difference and leaves", 14, 81, 133, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "the clock as it is.", 14, 90, 133, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "Settings are kept in orv.ini,", 14, 104, 133, 8, kSsLeft, "V"},
    {IDC_STATIC, "Static", "help in kronsec.hlp.", 14, 113, 133, 8, kSsLeft, "V"},
    {IDC_OK, "Button", "Ok", 55, 136, 50, 14, kBsPush, "VT"},
};

const Row kAdvanced[] = {
    {IDC_STATIC, "Static", "Max adjust (secs):", 12, 19, 60, 8, kSsLeft, "V"},
    {IDC_MAXADJUST, "Edit", "", 12, 30, 51, 12, kEsAutoHScroll, "VTB"},
    {IDC_ADJPROMPT, "Button", "Prompt", 85, 18, 39, 12, kBsAutoRadio, "VTG"},
    {IDC_ADJIGNORE, "Button", "Ignore", 85, 28, 39, 12, kBsAutoRadio, "V"},
    {IDC_ADJACCEPT, "Button", "Accept", 85, 38, 39, 12, kBsAutoRadio, "V"},
    {IDC_STATIC, "Button", " Max Time Adjustments ", 4, 6, 126, 50, kBsGroupBox, "VG"},
    {IDC_USELOG, "Button", " Use Log", 61, 75, 45, 12, kBsAutoCheck, "VT"},
    {IDC_VERBOSE, "Button", "Verbose", 113, 75, 60, 12, kBsAutoCheck, "VT"},
    {IDC_LOGBROWSE, "Button", "&Log file ...", 11, 90, 42, 14, kBsPush, "VT"},
    {IDC_LOGPATH, "Edit", "", 62, 91, 112, 12, kEsAutoHScroll, "VTB"},
    {IDC_STATIC, "Button", " Logging ", 4, 62, 176, 50, kBsGroupBox, "V"},
    {IDC_STATIC, "Static", "Calibration attempts:", 6, 120, 68, 8, kSsRight, "V"},
    {IDC_CUSTOMTZ, "Button", "Custom T&Z ...", 116, 118, 55, 14, kBsPush, "VDT"},
    {IDC_ATTEMPTS, "Edit", "", 78, 119, 20, 12, 0, "VTB"},
    {IDC_OK, "Button", "&Ok", 138, 10, 40, 14, kBsDefPush, "VT"},
    {IDC_CANCEL, "Button", "&Cancel", 138, 27, 40, 14, kBsPush, "VT"},
    {IDC_HELPBUTTON, "Button", "&Help", 138, 44, 40, 14, kBsPush, "VT"},
};

const Row kCustomZone[] = {
    {IDC_USECUSTOM, "Button", "use Custom", 13, 7, 52, 12, kBsAutoCheck, "VT"},
    {IDC_CUSTOMDST, "Button", "use DST", 89, 7, 46, 12, kBsAutoCheck, "VT"},
    {IDC_CZLABEL, "Edit", "Montreal", 10, 24, 50, 12, 0, "VTB"},
    {IDC_CZPREFIX, "Edit", "EST", 67, 24, 22, 12, 0, "VTB"},
    {IDC_CZOFFSET, "Edit", "3600*5", 95, 24, 42, 12, 0, "VTB"},
    {IDC_CZSUFFIX, "Edit", "EDT", 142, 24, 22, 12, 0, "VTB"},
    {IDC_STATIC, "Static", "Start DST", 56, 49, 49, 8, kSsLeft, "V"},
    {IDC_STARTMONTH, "ComboBox", "", 56, 60, 49, 63, kCbsDropDownList, "VTS"},
    {IDC_STARTWDAY, "ComboBox", "", 56, 77, 49, 63, kCbsDropDownList, "VTS"},
    {IDC_STARTRULE, "ComboBox", "", 56, 95, 49, 63, kCbsDropDownList, "VTS"},
    {IDC_STARTADJUST, "Edit", "", 56, 113, 40, 12, 0, "VTB"},
    {IDC_STATIC, "Static", "End DST", 116, 49, 49, 8, kSsLeft, "V"},
    {IDC_ENDMONTH, "ComboBox", "", 116, 60, 49, 63, kCbsDropDownList, "VTS"},
    {IDC_ENDWDAY, "ComboBox", "", 116, 77, 49, 63, kCbsDropDownList, "VTS"},
    {IDC_ENDRULE, "ComboBox", "", 116, 95, 49, 63, kCbsDropDownList, "VTS"},
    {IDC_ENDADJUST, "Edit", "", 116, 113, 40, 12, 0, "VTB"},
    {IDC_STATIC, "Static", "Month:", 10, 63, 42, 8, kSsRight, "V"},
    {IDC_STATIC, "Static", "Week day:", 8, 80, 44, 8, kSsRight, "V"},
    {IDC_STATIC, "Static", "Rule:", 19, 97, 33, 8, kSsRight, "V"},
    {IDC_STATIC, "Static", "Adjust (s):", 5, 115, 47, 8, kSsRight, "V"},
    {IDC_OK, "Button", "&Ok", 176, 22, 31, 14, kBsPush, "VT"},
    {IDC_CANCEL, "Button", "&Cancel", 176, 39, 31, 14, kBsPush, "VT"},
    {IDC_HELPBUTTON, "Button", "&Help", 176, 56, 31, 14, kBsPush, "VT"},
};

struct Expected {
  int id;
  const char* title;
  int x, y, cx, cy;
  uint32_t style;
};

// Every template: modal frame, popup, visible, caption, no system menu; the
// font statement adds DS_SETFONT as both resource compilers do.
constexpr uint32_t kDialogStyle = kModalFrame | kPopup | kVisible | kCaption | kSetFont;

template <size_t N>
void checkTemplate(const Expected& e, const Row (&rows)[N]) {
  Template t = loadTemplate(e.id);
  ASSERT_TRUE(t.found) << "template " << e.id;
  EXPECT_EQ(t.title, e.title);
  EXPECT_EQ(t.x, e.x);
  EXPECT_EQ(t.y, e.y);
  EXPECT_EQ(t.cx, e.cx);
  EXPECT_EQ(t.cy, e.cy);
  EXPECT_EQ(t.style, e.style) << std::hex << t.style;
  EXPECT_EQ(t.fontName, "MS Sans Serif");
  EXPECT_EQ(t.pointSize, 8);
  ASSERT_EQ(t.items.size(), N);
  for (size_t i = 0; i < N; ++i) {
    const Row& r = rows[i];
    const Item& it = t.items[i];
    SCOPED_TRACE("template " + std::to_string(e.id) + ", control " + std::to_string(i) + " \"" + r.text + "\"");
    EXPECT_EQ(it.id, r.id);
    EXPECT_EQ(it.cls, r.cls);
    EXPECT_EQ(it.text, r.text);
    EXPECT_EQ(it.x, r.x);
    EXPECT_EQ(it.y, r.y);
    EXPECT_EQ(it.cx, r.cx);
    EXPECT_EQ(it.cy, r.cy);
    EXPECT_EQ(it.style & 0xFFFF, r.kind);
    EXPECT_EQ(it.style & kCheckedBits, flagBits(r.flags)) << std::hex << it.style;
  }
}

TEST(Resources, MainDialogTemplate) {
  checkTemplate({IDD_MAIN, "Kronsec", 23, 31, 165, 184, kDialogStyle | kMinimizeBox}, kMain);
}

TEST(Resources, AboutTemplate) {
  checkTemplate({IDD_ABOUT, "About Kronsec", 39, 30, 161, 157, kDialogStyle}, kAbout);
}

TEST(Resources, AdvancedOptionsTemplate) {
  checkTemplate({IDD_ADVANCED, "Advanced Options", 11, 21, 185, 138, kDialogStyle}, kAdvanced);
}

TEST(Resources, CustomZoneTemplate) {
  checkTemplate({IDD_CUSTOMZONE, "Custom Timezone Settings", 11, 25, 211, 139, kDialogStyle},
                kCustomZone);
}

TEST(Resources, NoOtherTemplateNumbers) {
  EXPECT_FALSE(loadTemplate(100).found);
  EXPECT_FALSE(loadTemplate(105).found);
}

// The notice of the About box stays inside its area, below the name lines and
// above the button.
TEST(Resources, AboutNoticeStaysInItsArea) {
  Template t = loadTemplate(IDD_ABOUT);
  ASSERT_TRUE(t.found);
  for (const Item& it : t.items) {
    if (it.cls != "Static" || it.text.empty() || it.text[0] == '#' || it.y < 40) continue;
    EXPECT_LE(it.y + it.cy, 128) << it.text;
    EXPECT_LE(it.x + it.cx, t.cx) << it.text;
  }
}

#ifdef _WIN32

TEST(Resources, IconAndBusyCursor) {
  HINSTANCE module = GetModuleHandleA(nullptr);
  HICON icon = LoadIconA(module, MAKEINTRESOURCEA(IDI_KRONSEC));
  ASSERT_NE(icon, nullptr);
  ICONINFO info;
  ASSERT_TRUE(GetIconInfo(icon, &info));
  EXPECT_TRUE(info.fIcon);
  BITMAP bm;
  ASSERT_TRUE(GetObjectA(info.hbmColor, sizeof bm, &bm));
  EXPECT_EQ(bm.bmWidth, 32);
  EXPECT_EQ(bm.bmHeight, 32);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);

  HCURSOR cursor = LoadCursorA(module, MAKEINTRESOURCEA(IDCUR_BUSY));
  ASSERT_NE(cursor, nullptr);
  ASSERT_TRUE(GetIconInfo(cursor, &info));
  EXPECT_FALSE(info.fIcon);
  EXPECT_EQ(info.xHotspot, 17u);
  EXPECT_EQ(info.yHotspot, 13u);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
}

// FILEVERSION 1,0,5,0 in the fixed part of the version record.
TEST(Resources, VersionRecord) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));  // RT_VERSION
  ASSERT_NE(res, nullptr);
  const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, res)));
  DWORD size = SizeofResource(module, res);
  const VS_FIXEDFILEINFO* fixed = nullptr;
  for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    const VS_FIXEDFILEINFO* candidate = reinterpret_cast<const VS_FIXEDFILEINFO*>(bytes + at);
    if (candidate->dwSignature == 0xFEEF04BD) {
      fixed = candidate;
      break;
    }
  }
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00050000u);
}

#else

TEST(Resources, IconAndBusyCursor) {
  const PictureResource* icon = findPicture(IDI_KRONSEC, false);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->width, 32);
  EXPECT_EQ(icon->height, 32);
  ASSERT_GT(icon->rowCount, 0);
  for (int i = 0; i < icon->rowCount; ++i) EXPECT_EQ(std::strlen(icon->rows[i]), std::strlen(icon->rows[0]));

  const PictureResource* cursor = findPicture(IDCUR_BUSY, true);
  ASSERT_NE(cursor, nullptr);
  EXPECT_TRUE(cursor->isCursor);
  EXPECT_EQ(cursor->width, 32);
  EXPECT_EQ(cursor->height, 32);
  EXPECT_EQ(cursor->hotX, 17);
  EXPECT_EQ(cursor->hotY, 13);
  EXPECT_GT(cursor->rowCount, 0);
  EXPECT_EQ(findPicture(101, false), nullptr);
}

// The texts of the version record's StringFileInfo; VarFileInfo's numbers are
// no texts.
TEST(Resources, VersionTexts) {
  const struct {
    const char* name;
    const char* text;
  } rows[] = {
      {"ProductName", "kronsec"},
      {"ProductVersion", "1.05"},
      {"productversion", "1.05"},
      {"Comments", nullptr},
      {"Translation", nullptr},
  };
  for (const auto& r : rows) EXPECT_STREQ(versionValue(r.name), r.text) << r.name;
}

#endif

// --- Advanced Options under the platform's dialog manager -------------------

// Posted by the initialisation, so that the platform's own modal loop
// delivers the script to the open dialog.
constexpr UINT runScript = WM_USER + 100;
std::function<void(HWND)> advancedScript;

INT_PTR CALLBACK scriptedAdvanced(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) PostMessageA(dialog, runScript, 0, 0);
  if (message != runScript) return advancedDlgProc(dialog, message, wParam, lParam);
  advancedScript(dialog);
  EndDialog(dialog, 0);
  return TRUE;
}

// Runs script in Advanced Options opened over state; false when the
// platform could make no window (wine without a display: tests/e2e/wine_gui.sh
// runs these tests again on Xvfb).
bool inAdvancedDialog(AppState* state, const std::function<void(HWND)>& script) {
  bool ran = false;
  advancedScript = [&](HWND dialog) {
    ran = true;
    script(dialog);
  };
  INT_PTR result = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ADVANCED), nullptr,
                                   scriptedAdvanced, reinterpret_cast<LPARAM>(state));
  advancedScript = nullptr;
  if (result == -1) return false;
  EXPECT_TRUE(ran) << "the dialog ended before its script ran";
  return true;
}

std::string fieldText(HWND dialog, int id) {
  char text[64];
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

DWORD caretOf(HWND dialog, int id) {
  DWORD start = 0, end = 0;
  SendDlgItemMessageA(dialog, id, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                      reinterpret_cast<LPARAM>(&end));
  return end;
}

uint32_t storedNumber(const AppState& state, int id) {
  return id == IDC_MAXADJUST ? state.maxAdjust : state.attempts;
}

// A text put into a number field, in order: what the field shows afterwards
// and what the record holds.
struct NumberRow {
  int id;
  const char* text;
  const char* shown;
  uint32_t stored;
};

TEST(AdvancedNumbers, OnlyDigitsThatFit32BitsAreKept) {
  const NumberRow rows[] = {
      {IDC_MAXADJUST, "-120", "60", 60},
      {IDC_MAXADJUST, "7x", "60", 60},
      {IDC_MAXADJUST, "+5", "60", 60},
      {IDC_MAXADJUST, "4294967296", "60", 60},
      {IDC_MAXADJUST, "", "60", 60},
      {IDC_MAXADJUST, "4294967295", "4294967295", 4294967295u},
      {IDC_MAXADJUST, "-1", "4294967295", 4294967295u},
      {IDC_ATTEMPTS, "3x", "3", 3},
      {IDC_ATTEMPTS, "-3", "3", 3},
      {IDC_ATTEMPTS, "12", "12", 12},
  };
  AppState state{};
  state.maxAdjust = 60;
  state.attempts = 3;
  bool shown = inAdvancedDialog(&state, [&](HWND dialog) {
    for (const NumberRow& row : rows) {
      SetDlgItemTextA(dialog, row.id, row.text);
      EXPECT_EQ(fieldText(dialog, row.id), row.shown) << row.text;
      EXPECT_EQ(storedNumber(state, row.id), row.stored) << row.text;
      if (std::strcmp(row.text, row.shown) != 0) {
        EXPECT_EQ(caretOf(dialog, row.id), std::strlen(row.shown)) << row.text;
      }
    }
  });
  if (!shown) GTEST_SKIP() << "no window can be made here (no display)";
}

#ifdef _WIN32

// Keys typed over a field's selected number, as after Tab: a refused key
// beeps and leaves the text and the selection as they were, so the keys
// after it go where they would have gone without it. Typed keys reach the
// edit control only on Windows.
TEST(AdvancedNumbers, ARefusedKeyLeavesTheFieldAsItWas) {
  const struct {
    int id;
    const char* start;
    const char* keys;
    const char* shown;
    uint32_t stored;
    DWORD from, to;  // the selection afterwards
  } rows[] = {
      {IDC_ATTEMPTS, "3", "-120", "120", 120, 3, 3},
      {IDC_ATTEMPTS, "3", "-", "3", 3, 0, 1},
      {IDC_MAXADJUST, "0", "7x2", "72", 72, 2, 2},
      {IDC_MAXADJUST, "0", "x12", "12", 12, 2, 2},
      {IDC_MAXADJUST, "0", "42949672950", "4294967295", 4294967295u, 10, 10},
  };
  AppState state{};
  bool shown = inAdvancedDialog(&state, [&](HWND dialog) {
    for (const auto& row : rows) {
      SetDlgItemTextA(dialog, row.id, row.start);
      SendDlgItemMessageA(dialog, row.id, EM_SETSEL, 0, -1);
      for (const char* key = row.keys; *key; ++key)
        SendDlgItemMessageA(dialog, row.id, WM_CHAR, static_cast<WPARAM>(*key), 1);
      EXPECT_EQ(fieldText(dialog, row.id), row.shown) << row.keys;
      EXPECT_EQ(storedNumber(state, row.id), row.stored) << row.keys;
      DWORD from = 0, to = 0;
      SendDlgItemMessageA(dialog, row.id, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                          reinterpret_cast<LPARAM>(&to));
      EXPECT_EQ(from, row.from) << row.keys;
      EXPECT_EQ(to, row.to) << row.keys;
    }
  });
  if (!shown) GTEST_SKIP() << "no window can be made here (no display)";
}

#endif

}  // namespace
