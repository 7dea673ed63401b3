#include "ui/applyanswer.h"

#include <cstdarg>
#include <cstdio>

#include "app/appstate.h"
#include "app/handles.h"
#include "app/names.h"
#include "base/text.h"
#include "base/units.h"
#include "log/logfile.h"
#include "timeclient/answer.h"
#include "ui/boxes.h"
#include "ui/controls.h"
#include "ui/maincycle.h"
#include "ui/winsockbox.h"
#include "zones/localtime.h"

namespace {
const char* nameOrNull(const char* name) { return name ? name : "(null)"; }

// Plays the over-limit sound, asks when the policy says so, and measures how
// long both took.
PolicyOutcome runPolicy(HWND dialog, const ClockInputs& in, const ClockDecision& d) {
  DWORD noted = GetTickCount();
  sndPlaySoundA("kronsecMaxAdj", SND_SYNC);
  PolicyOutcome outcome{0, 0};
  if (d.asks) {
    // A clock that cannot be read gives no difference to name.
    char difference[sizeof unknownDifference + 32];
    if (d.localUnknown)
      std::snprintf(difference, sizeof difference, "%s", unknownDifference);
    else
      std::snprintf(difference, sizeof difference, "%ld secs", static_cast<long>(d.diffSecs));
    std::snprintf(scratchText, scratchSize,
                  "The difference between the time returned and the current local time "
                  "(%s) is greater than the specified maximum adjustment (%u secs).  "
                  "Do you want to override this maximum?",
                  difference, static_cast<unsigned>(in.maxAdjust));
    outcome.button = cycleMessageBox(dialog, scratchText, "Big Change", MB_YESNOCANCEL | MB_ICONEXCLAMATION);
  }
  outcome.elapsedMs = GetTickCount() - noted;
  return outcome;
}

// Returns false when the clock could not be set (after telling the user).
bool setClock(HWND dialog, const AnswerDecision& a) {
  ClockChange change = changeClock(a);
  if (!change.made) cycleMessageBox(dialog, "Error setting system time", "kronsec Error", MB_OK);
  sndPlaySoundA("kronsecReset", SND_ASYNC);
  queryOutcome.slewed = change.slewed;
  queryOutcome.kernelNotTold = change.made && !change.kernelTold;
  return change.made;
}

void tellOutOfRange(HWND dialog, const AppState* state) {
  cycleMessageBox(dialog,
              formatWithHost("The time from ", state->host ? state->host : "",
                             " is outside the range kronsec can set (1970 to 2038). "
                             "The clock was not changed."),
              "kronsec Error", MB_OK | MB_ICONEXCLAMATION);
}

// Returns false when a log line was due and could not be written.
bool logResult(HWND dialog, const AppState* state, const ClockDecision& d) {
  if (state->logOpts == 0 ||
      writeLogLine(state, d.serverSecs, d.localSecs, actionText(d.action)))
    return true;
  const char* path = state->logPath ? state->logPath : "(no log file chosen)";
  cycleMessageBox(dialog, formatWithHost("Error writing to log file ", path, ""), "Log Error",
              MB_OK | MB_ICONEXCLAMATION);
  return false;
}

// What a report of the run needs to know of the decision.
void noteDecision(const AnswerDecision& a) {
  const ClockDecision& d = a.d;
  queryOutcome.answered = 1;
  queryOutcome.changeHeld = heldBack(d);
  queryOutcome.action = d.action;
  queryOutcome.diffSecs = d.diffSecs;
  queryOutcome.overLimit = d.overLimit;
  queryOutcome.refused = d.refused;
  queryOutcome.setAsked = d.setsClock;
  queryOutcome.movedSecs = static_cast<int32_t>(static_cast<uint32_t>(d.serverSecs) -
                                                static_cast<uint32_t>(d.localSecs));
  queryOutcome.maxAdjust = a.in.maxAdjust;
  queryOutcome.adjOpt = a.in.adjOpt;
  queryOutcome.movedUs = movedUs(a);
  queryOutcome.localUnknown = d.localUnknown;
  queryOutcome.slewOn = a.slew;
}

// Precise mode's result line: Diff in seconds with milliseconds, and its
// bound in the Net Lag field, where it fits: the bound is what the
// network's lag leaves unknown, and the precise offset uses no lag.
void showPreciseDiff(HWND dialog, const PreciseOffset& p) {
  int64_t diff = -p.offsetUs;  // local minus server, as the field always shows
  // To the nearest millisecond; the bound to the next tenth above it.
  constexpr int64_t usPerTenthMs = usPerMs / 10;
  int64_t magnitude = ((diff < 0 ? -diff : diff) + usPerMs / 2) / usPerMs * usPerMs;
  // The bound shown holds every offset the answers allow around the
  // offset shown, which is rounded to the millisecond.
  int64_t rounding = magnitude - (diff < 0 ? -diff : diff);
  int64_t reach = p.boundUs + (rounding < 0 ? -rounding : rounding);
  int64_t bound = (reach + usPerTenthMs - 1) / usPerTenthMs * usPerTenthMs;
  showText(dialog, IDC_DIFF, "%s%ld.%03ld secs", diff < 0 && magnitude > 0 ? "-" : "",
           static_cast<long>(magnitude / usPerSecond), static_cast<long>(magnitude / usPerMs % 1000));
  showText(dialog, IDC_LAG, "%s%ld.%ld ms", plusMinusSign, static_cast<long>(bound / usPerMs),
           static_cast<long>(bound / usPerTenthMs % 10));
}

// Shows the date and time of t, or `none` and no time when there is none.
void showDate(HWND dialog, const std::optional<BrokenDownTime>& t, const char* none) {
  if (!t) {
    SetDlgItemTextA(dialog, IDC_DATE, none);
    SetDlgItemTextA(dialog, IDC_TIME, "--:--:--");
    return;
  }
  showText(dialog, IDC_DATE, "%s %s %d, %d", nameOrNull(dayNames[t->weekDay]),
           nameOrNull(monthNames[t->month]), static_cast<int>(t->monthDay),
           static_cast<int>(t->year + 1900));
  showText(dialog, IDC_TIME, "%02d:%02d:%02d", static_cast<int>(t->hour),
           static_cast<int>(t->minute), static_cast<int>(t->second));
}

void showResult(HWND dialog, const AppState* state, const AnswerDecision& a) {
  const ClockDecision& d = a.d;
  // The value shown is the unreadable local clock itself when the change
  // was held back from it: there is no time to show.
  bool unknownShown = d.localUnknown && d.serverSecs == d.localSecs;
  std::optional<BrokenDownTime> t;
  if (!unknownShown) t = localFields(d.serverSecs);
  showDate(dialog, t, unknownShown ? "(local clock unreadable)" : "(outside the clock's range)");
  bool preciseShown = a.precise && !d.localUnknown;
  if (d.localUnknown)
    SetDlgItemTextA(dialog, IDC_DIFF, unknownDiffText);
  else if (preciseShown)
    showPreciseDiff(dialog, a.offset);
  else
    showText(dialog, IDC_DIFF, "%ld secs",
             static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(d.localSecs) -
                                                    static_cast<uint32_t>(d.serverSecs))));
  if (!preciseShown) showText(dialog, IDC_LAG, "%ld ms", static_cast<long>(state->readLag));
  if (!t) return;
  std::snprintf(scratchText, scratchSize, " - Horavex - %02d:%02d:%02d", static_cast<int>(t->hour),
                static_cast<int>(t->minute), static_cast<int>(t->second));
  SetWindowTextA(hostWindow, scratchText);
  SetWindowTextA(dialog, scratchText);
}
}  // namespace

void showText(HWND dialog, int id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(scratchText, scratchSize, format, args);
  va_end(args);
  SetDlgItemTextA(dialog, id, scratchText);
}

namespace {
// Sounds and asks when the change is over the limit, sets the clock, logs
// and shows the result.
void actOn(HWND dialog, AppState* state, AnswerDecision a) {
  if (a.d.overLimit) decideAfterPolicy(&a, runPolicy(dialog, a.in, a.d));
  noteDecision(a);
  if (a.d.refused) {
    tellOutOfRange(dialog, state);
    queryOutcome.clockNotSet = 1;
  }
  if (a.d.setsClock) queryOutcome.clockNotSet = !setClock(dialog, a);
  queryOutcome.logFailed = !logResult(dialog, state, a.d);
  showResult(dialog, state, a);
}
}  // namespace

void applyAnswer(HWND dialog, AppState* state, uint32_t answer, const PreciseOffset* precise) {
  actOn(dialog, state, decideAnswer(state, answer, precise));
}

void applyAgreedOffset(HWND dialog, AppState* state, int64_t offsetUs, int64_t boundUs,
                       bool precise) {
  actOn(dialog, state, decideAgreed(state, offsetUs, boundUs, precise));
}
