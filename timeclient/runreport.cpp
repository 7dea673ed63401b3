#include "timeclient/runreport.h"

#include <cstdio>

#include "app/appstate.h"
#include "base/units.h"
#include "timeclient/answer.h"
#include "timeclient/cycle.h"

const char* serverUseText(ServerUse use) {
  switch (use) {
    case ServerUse::kUsed: return "used";
    case ServerUse::kDisagreed: return "disagreed";
    case ServerUse::kSilent: return "silent";
    case ServerUse::kRefused: return "refused";
    case ServerUse::kContradicted: return "contradicted";
    case ServerUse::kNotWaitedFor: return "not waited for";
    case ServerUse::kUndecided: return "undecided";
  }
  return "";
}

bool clockNotSet(const RunReport& r) {
  return r.decided && (r.clock == ClockDone::kFailed || r.clock == ClockDone::kOutOfRange);
}

bool changeHeld(const RunReport& r) {
  return r.decided && r.overLimit && (r.ask == ClockAsk::kHold || r.ask == ClockAsk::kPartial);
}

int32_t runStatus(const RunReport& r, bool unattended) {
  if (!r.asked) return unattended ? kStatusNoAnswer : kStatusDone;
  // A host text that holds a comment is a mistake in what was given to run.
  if (r.notes.refused) return kStatusUsage;
  if (!r.decided) return kStatusNoAnswer;
  if (clockNotSet(r)) return kStatusClockNotSet;
  if (changeHeld(r)) return kStatusChangeHeld;
  if (r.log == LogOutcome::kFailed) return kStatusLogFailed;
  return kStatusDone;
}

namespace {
void copyInto(char* out, size_t size, const char* text) { std::snprintf(out, size, "%s", text ? text : ""); }

void addressText(char* out, size_t size, const ServerAddress& where) {
  if (!where.resolved) {
    out[0] = '\0';
    return;
  }
  kronAddressText(&where.address, out, size);
}

ServerUse failedUse(const QueryFailure& f) {
  if (f.step == QueryStep::kNoTime || f.step == QueryStep::kLate) return ServerUse::kRefused;
  if (f.step == QueryStep::kContradiction) return ServerUse::kContradicted;
  return ServerUse::kSilent;
}

// What server i's answer or failure came to: by the agreement when there
// is one, else it is the one server asked.
ServerUse useOf(const ServerQuery& q, const ServerInterval& v, const Agreement* a, int32_t i) {
  if (q.state == ServerQuery::State::kNotWaitedFor) return ServerUse::kNotWaitedFor;
  if (!v.answered) return failedUse(q.result.failure);
  if (!a) return ServerUse::kUsed;
  if (!a->found) return ServerUse::kUndecided;
  return a->members & (1u << i) ? ServerUse::kUsed : ServerUse::kDisagreed;
}

ClockAsk askOf(const ClockDecision& d) {
  if (d.action == ClockAction::kReport) return ClockAsk::kReport;
  if (heldBack(d)) return d.action == ClockAction::kPartial ? ClockAsk::kPartial : ClockAsk::kHold;
  return ClockAsk::kSet;
}

ClockDone doneOf(const ClockDecision& d, const ClockChange* change) {
  if (d.action == ClockAction::kReport) return ClockDone::kUntouched;
  if (d.refused) return ClockDone::kOutOfRange;
  if (!change) return heldBack(d) ? ClockDone::kUntouched : ClockDone::kUnchanged;
  if (!change->made) return ClockDone::kFailed;
  return change->slewed ? ClockDone::kSlewed : ClockDone::kStepped;
}
}  // namespace

void beginReport(RunReport* r, const AppState* state, const HostTextNotes& notes) {
  *r = RunReport{};
  r->asked = true;
  copyInto(r->host, sizeof r->host, state->host);
  r->precise = state->precise != 0;
  r->notes = notes;
}

void recordServers(RunReport* r, const QueryCycle& cycle, const Agreement* a) {
  r->servers = cycle.count;
  r->leftOut = cycle.leftOut;
  r->noMajority = a && a->answered > 0 && !a->found;
  for (int32_t i = 0; i < cycle.count; ++i) {
    const ServerQuery& q = cycle.servers[i];
    ServerRecord& s = r->server[i];
    ServerInterval v = intervalOf(q);
    copyInto(s.label, sizeof s.label, q.where.label);
    copyInto(s.host, sizeof s.host, q.where.name);
    addressText(s.address, sizeof s.address, q.where);
    s.answered = v.answered;
    s.answer = v.answered ? q.result.answer : 0;
    s.lowUs = v.lowUs;
    s.highUs = v.highUs;
    s.offsetUs = v.lowUs + (v.highUs - v.lowUs) / 2;
    s.lagMs = q.readLag;
    s.use = useOf(q, v, a, i);
    if (s.use == ServerUse::kDisagreed) s.distanceUs = s.offsetUs - a->offsetUs;
    if (!v.answered) s.failure = q.result.failure;
  }
}

void recordDecision(RunReport* r, const AnswerDecision& a, const ClockChange* change,
                    const AppState* state) {
  const ClockDecision& d = a.d;
  r->decided = true;
  r->action = change && !change->made ? ClockAction::kFailed : d.action;
  r->diffKnown = !d.localUnknown;
  r->diffUs = -int64_t{d.diffSecs} * usPerSecond;
  if (a.precise) {
    ShownOffset shown = shownOffset(a.offset);
    r->diffUs = shown.diffUs;
    r->boundUs = shown.boundUs;
  }
  r->lagMs = state->readLag;
  r->connectLagMs = state->connectLag;
  copyInto(r->tz, sizeof r->tz, state->tz);
  r->serverSecs = d.serverSecs;
  r->localSecs = d.localSecs;
  r->ask = askOf(d);
  r->overLimit = d.overLimit;
  r->maxAdjust = a.in.maxAdjust;
  r->adjOpt = a.in.adjOpt;
  r->movedUs = a.precise ? movedUs(a)
                         : int64_t{static_cast<int32_t>(static_cast<uint32_t>(d.serverSecs) -
                                                        static_cast<uint32_t>(d.localSecs))} *
                               usPerSecond;
  r->slewOn = a.slew;
  r->clock = doneOf(d, change);
  r->clockError = change && !change->made ? change->error : 0;
  r->kernelTold = change && change->made && change->kernelTold;
  r->kernelError = change ? change->statusError : 0;
}
