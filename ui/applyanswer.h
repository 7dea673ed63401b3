// Carrying out the decision on a final answer in the main dialog: the
// over-limit sound and question, the clock, the log line and the result on
// show, in that order; and the result's texts, which every front end shows.
#pragma once
#include "platform/win32.h"
#include "timeclient/precise.h"
#include "timeclient/runreport.h"

struct AppState;

// Decides what the clock becomes for the answer (seconds since 1900, or with
// precise the offset the probes found), acts on it and records the decision
// and what was done in r.
void applyAnswer(HWND dialog, AppState* state, uint32_t answer, const PreciseOffset* precise,
                 RunReport* r);

// The same for the offset several servers agreed on (microseconds, with
// its bound), in precise mode or whole seconds.
void applyAgreedOffset(HWND dialog, AppState* state, int64_t offsetUs, int64_t boundUs,
                       bool precise, RunReport* r);

// The result lines of a decided request.
struct ResultTexts {
  bool dated;                // the value decided on has a date and time
  char date[64];             // "Sat Dec 5, 2026", or why there is none
  char clock[16];            // "14:03:07", or "--:--:--"
  char time[scratchSize];    // the clock, then the servers not used
  char diff[48];
  char lag[48];
};

// Returns the result lines of a decided record as the dialog shows them.
// With measured, the Diff is the difference measured before any limit
// (what a script reads), in full; without, it is the local clock minus the
// value decided on, as the dialog and the log keep it, its unit shortened
// where the field would cut it.
ResultTexts resultTexts(const RunReport& r, bool measured);

// Shows printf-formatted text (bounded by the scratch buffer) in a control.
void showText(HWND dialog, int id, const char* format, ...) __attribute__((format(printf, 3, 4)));

// The Diff field when the local clock could not be read, and the Big Change
// question's words for the difference then.
constexpr const char* unknownDiffText = "unknown";
constexpr char unknownDifference[] = "unknown: the local clock cannot be read";

// "±" in the character set the dialogs are shown in: the Windows ANSI code
// page there, UTF-8 on Linux.
#ifdef _WIN32
constexpr const char* plusMinusSign = "\xB1";
#else
constexpr const char* plusMinusSign = "\xC2\xB1";
#endif
