#include "ui/applyanswer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/appstate.h"
#include "app/handles.h"
#include "app/names.h"
#include "base/text.h"
#include "base/units.h"
#include "log/logfile.h"
#include "timeclient/agreement.h"
#include "timeclient/answer.h"
#include "ui/boxes.h"
#include "ui/controls.h"
#include "ui/winsockbox.h"
#include "zones/localtime.h"

namespace {
const char* nameOrNull(const char* name) { return name ? name : "(null)"; }

// Plays the over-limit sound, asks when the policy says so, and measures how
// long both took.
PolicyOutcome runPolicy(HWND dialog, const ClockInputs& in, const ClockDecision& d) {
  DWORD noted = GetTickCount();
  sndPlaySoundA("kronsecMaxAdj", SND_SYNC);
  PolicyOutcome outcome{Answer::kNone, 0};
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
    int button = cycleMessageBox(dialog, scratchText, "Big Change", MB_YESNOCANCEL | MB_ICONEXCLAMATION);
    outcome.answer = button == IDYES ? Answer::kYes : button == IDNO ? Answer::kNo
                     : button == IDCANCEL ? Answer::kCancel : Answer::kNone;
  }
  outcome.elapsedMs = GetTickCount() - noted;
  return outcome;
}

// Sets the clock, telling the user when it could not be set.
ClockChange setClock(HWND dialog, const AnswerDecision& a) {
  ClockChange change = changeClock(a);
  if (!change.made) cycleMessageBox(dialog, "Error setting system time", "kronsec Error", MB_OK);
  sndPlaySoundA("kronsecReset", SND_ASYNC);
  return change;
}

void tellOutOfRange(HWND dialog, const AppState* state) {
  cycleMessageBox(dialog,
              formatWithHost("The time from ", state->host ? state->host : "",
                             " is outside the range kronsec can set (1970 to 2038). "
                             "The clock was not changed."),
              "kronsec Error", MB_OK | MB_ICONEXCLAMATION);
}

// Writes the log line when one is due; a line that could not be written is
// told in a box.
LogOutcome logResult(HWND dialog, const AppState* state, const RunReport& r) {
  if (state->logOpts == 0) return LogOutcome::kOff;
  if (writeLogLine(state, r.serverSecs, r.localSecs, actionText(r.action))) return LogOutcome::kWritten;
  const char* path = state->logPath ? state->logPath : "(no log file chosen)";
  cycleMessageBox(dialog, formatWithHost("Error writing to log file ", path, ""), "Log Error",
              MB_OK | MB_ICONEXCLAMATION);
  return LogOutcome::kFailed;
}

// The Diff field is 41 dialog units wide, room for 12 characters: a long
// number keeps all its digits and gives up its unit's letters instead.
constexpr size_t numberFitsWithSecs = 7;
constexpr size_t numberFitsWithS = 10;

void formatDiff(char* out, size_t size, const char* number, bool full) {
  size_t length = std::strlen(number);
  const char* unit = full || length <= numberFitsWithSecs ? " secs" : length <= numberFitsWithS ? " s" : "";
  std::snprintf(out, size, "%s%s", number, unit);
}

// The Diff: precise mode's milliseconds, or whole seconds.
void diffText(char* out, size_t size, const RunReport& r, bool measured) {
  char number[32];
  if (!r.diffKnown) {
    std::snprintf(out, size, "%s", unknownDiffText);
    return;
  }
  if (r.precise) {
    int64_t magnitude = r.diffUs < 0 ? -r.diffUs : r.diffUs;
    std::snprintf(number, sizeof number, "%s%lld.%03lld", r.diffUs < 0 ? "-" : "",
                  static_cast<long long>(magnitude / usPerSecond),
                  static_cast<long long>(magnitude / usPerMs % msPerSecond));
  } else {
    int64_t secs = measured ? r.diffUs / usPerSecond
                            : int64_t{static_cast<int32_t>(static_cast<uint32_t>(r.localSecs) -
                                                           static_cast<uint32_t>(r.serverSecs))};
    std::snprintf(number, sizeof number, "%lld", static_cast<long long>(secs));
  }
  formatDiff(out, size, number, measured);
}

// Precise mode's bound goes in the Net Lag field, where it fits: the bound
// is what the network's lag leaves unknown, and the precise offset uses no
// lag.
void lagText(char* out, size_t size, const RunReport& r) {
  constexpr int64_t usPerTenthMs = usPerMs / 10;
  if (r.precise && r.diffKnown)
    std::snprintf(out, size, "%s%lld.%lld ms", plusMinusSign, static_cast<long long>(r.boundUs / usPerMs),
                  static_cast<long long>(r.boundUs / usPerTenthMs % 10));
  else
    std::snprintf(out, size, "%ld ms", static_cast<long>(r.lagMs));
}

// "+5 s" in whole seconds, "+437 ms" in precise mode, rounded half away
// from zero.
void signedAmount(char* out, size_t size, int64_t us, bool precise) {
  ToldDistance d = toldDistance(us, precise);
  std::snprintf(out, size, "%c%lld %s", us < 0 && d.size > 0 ? '-' : '+', static_cast<long long>(d.size),
                d.unit);
}

// How a server that was not used is named after the time.
void notUsedText(char* out, size_t size, const ServerRecord& s, bool precise) {
  switch (s.use) {
    case ServerUse::kDisagreed: return signedAmount(out, size, s.distanceUs, precise);
    case ServerUse::kNotWaitedFor: std::snprintf(out, size, "not waited for"); return;
    case ServerUse::kRefused: std::snprintf(out, size, "refused"); return;
    default: std::snprintf(out, size, "no answer"); return;
  }
}

// The servers left out of a result, after its time: who disagreed by how
// much, who did not answer, how many were not asked, who was listed twice.
void appendServerNote(char* note, size_t size, const RunReport& r) {
  size_t used = std::strlen(note);
  bool opened = false;
  auto add = [&](const char* label, const char* what) {
    if (used >= size) return;
    used += static_cast<size_t>(std::snprintf(note + used, size - used, "%s%s%s%s",
                                              opened ? "; " : "  (not used: ", label, *what ? " " : "", what));
    opened = true;
  };
  char amount[32];
  for (int32_t i = 0; i < r.servers; ++i) {
    if (r.server[i].use == ServerUse::kUsed) continue;
    notUsedText(amount, sizeof amount, r.server[i], r.precise);
    add(r.server[i].label, amount);
  }
  if (r.leftOut) {
    std::snprintf(amount, sizeof amount, "%d more not asked", static_cast<int>(r.leftOut));
    add(amount, "");
  }
  if (opened && used < size) std::snprintf(note + used, size - used, ")");
}

void dateTexts(ResultTexts* t, const RunReport& r) {
  // The value shown is the unreadable local clock itself when the change
  // was held back from it: there is no time to show.
  bool unknownShown = !r.diffKnown && r.serverSecs == r.localSecs;
  std::optional<BrokenDownTime> when;
  if (!unknownShown) when = localFields(r.serverSecs);
  t->dated = when.has_value();
  if (!when) {
    std::snprintf(t->date, sizeof t->date, "%s",
                  unknownShown ? "(local clock unreadable)" : "(outside the clock's range)");
    std::snprintf(t->clock, sizeof t->clock, "--:--:--");
    return;
  }
  std::snprintf(t->date, sizeof t->date, "%s %s %d, %d", nameOrNull(dayNames[when->weekDay]),
                nameOrNull(monthNames[when->month]), static_cast<int>(when->monthDay),
                static_cast<int>(when->year + 1900));
  std::snprintf(t->clock, sizeof t->clock, "%02d:%02d:%02d", static_cast<int>(when->hour),
                static_cast<int>(when->minute), static_cast<int>(when->second));
}

void showResult(HWND dialog, const RunReport& r) {
  ResultTexts t = resultTexts(r, false);
  SetDlgItemTextA(dialog, IDC_DATE, t.date);
  SetDlgItemTextA(dialog, IDC_TIME, t.time);
  SetDlgItemTextA(dialog, IDC_DIFF, t.diff);
  SetDlgItemTextA(dialog, IDC_LAG, t.lag);
  if (!t.dated) return;
  std::snprintf(scratchText, scratchSize, " - Horavex - %s", t.clock);
  SetWindowTextA(hostWindow, scratchText);
  SetWindowTextA(dialog, scratchText);
}
}  // namespace

ResultTexts resultTexts(const RunReport& r, bool measured) {
  ResultTexts t{};
  dateTexts(&t, r);
  std::snprintf(t.time, sizeof t.time, "%s", t.clock);
  if (r.servers > 1) appendServerNote(t.time, sizeof t.time, r);
  diffText(t.diff, sizeof t.diff, r, measured);
  lagText(t.lag, sizeof t.lag, r);
  return t;
}

void showText(HWND dialog, int id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(scratchText, scratchSize, format, args);
  va_end(args);
  SetDlgItemTextA(dialog, id, scratchText);
}

namespace {
// Sounds and asks when the change is over the limit, sets the clock, logs
// and shows the result, and records each step.
void actOn(HWND dialog, AppState* state, AnswerDecision a, RunReport* r) {
  if (a.d.overLimit) decideAfterPolicy(&a, runPolicy(dialog, a.in, a.d));
  if (a.d.refused) tellOutOfRange(dialog, state);
  ClockChange change{};
  if (a.d.setsClock) change = setClock(dialog, a);
  recordDecision(r, a, a.d.setsClock ? &change : nullptr, state);
  r->log = logResult(dialog, state, *r);
  showResult(dialog, *r);
}
}  // namespace

void applyAnswer(HWND dialog, AppState* state, uint32_t answer, const PreciseOffset* precise,
                 RunReport* r) {
  actOn(dialog, state, decideAnswer(state, answer, precise), r);
}

void applyAgreedOffset(HWND dialog, AppState* state, int64_t offsetUs, int64_t boundUs,
                       bool precise, RunReport* r) {
  actOn(dialog, state, decideAgreed(state, offsetUs, boundUs, precise), r);
}
