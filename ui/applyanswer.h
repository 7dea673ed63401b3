// Carrying out the decision on a final answer in the main dialog: the
// over-limit sound and question, the clock, the log line and the result on
// show, in that order.
#pragma once
#include "platform/win32.h"
#include "timeclient/precise.h"

struct AppState;

// Decides what the clock becomes for the answer (seconds since 1900, or with
// precise the offset the probes found) and acts on it; records the decision
// in queryOutcome.
void applyAnswer(HWND dialog, AppState* state, uint32_t answer, const PreciseOffset* precise);

// The same for the offset several servers agreed on (microseconds, with
// its bound), in precise mode or whole seconds.
void applyAgreedOffset(HWND dialog, AppState* state, int64_t offsetUs, int64_t boundUs,
                       bool precise);

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
