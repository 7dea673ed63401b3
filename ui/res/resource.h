// Resource numbers of kronsec: dialog templates, the icon, the busy cursor and
// every control identifier. Included by C++ code and by kronsec.rc; on Linux
// tools/gen/rcgen reads it too, so it holds nothing but "#define NAME number" lines
// (and comments).
#pragma once

// Dialog templates.
#define IDD_MAIN 101
#define IDD_ABOUT 102
#define IDD_ADVANCED 103
#define IDD_CUSTOMZONE 104

// The program icon and the busy cursor (two resource types, one number).
#define IDI_KRONSEC 100
#define IDCUR_BUSY 100

// Help contexts: the topic of kronsec.hlp each Help button opens at.
#define IDH_ADVANCED 1000

// A control nobody addresses.
#define IDC_STATIC (-1)

// Main dialog (template 101).
#define IDC_GETTIME 1
#define IDC_CLOSE 2
#define IDC_HOST 101
#define IDC_USEDST 102
#define IDC_ZONELIST 103
#define IDC_DATE 104
#define IDC_TIME 105
#define IDC_DIFF 106
#define IDC_LAG 107
#define IDC_ABOUT 108
#define IDC_USETZ 109
#define IDC_TZVAR 110
#define IDC_ADD30 111
#define IDC_REPORTONLY 112
#define IDC_AUTOCLOSE 113
#define IDC_TZINUSE 114
#define IDC_ADVANCED 115
#define IDC_HELPBUTTON 1000

// Secondary dialogs (templates 102 to 104) share the button numbers.
#define IDC_OK 1
#define IDC_CANCEL 2

// Advanced Options (template 103).
#define IDC_MAXADJUST 201
#define IDC_ADJPROMPT 202
#define IDC_ADJIGNORE 203
#define IDC_ADJACCEPT 204
#define IDC_USELOG 205
#define IDC_VERBOSE 206
#define IDC_LOGBROWSE 207
#define IDC_LOGPATH 208
#define IDC_ATTEMPTS 209
#define IDC_CUSTOMTZ 210

// Custom Timezone Settings (template 104).
#define IDC_USECUSTOM 300
#define IDC_CUSTOMDST 301
#define IDC_CZLABEL 302
#define IDC_CZPREFIX 303
#define IDC_CZOFFSET 304
#define IDC_CZSUFFIX 305
#define IDC_STARTMONTH 306
#define IDC_STARTWDAY 307
#define IDC_STARTRULE 308
#define IDC_STARTADJUST 309
#define IDC_ENDMONTH 310
#define IDC_ENDWDAY 311
#define IDC_ENDRULE 312
#define IDC_ENDADJUST 313
