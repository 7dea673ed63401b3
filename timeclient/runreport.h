// The one record of what a request did: each server asked and what became
// of it, the decision on the clock, what was done, the log line and the
// status a script reads. The engine and the decision fill it; every front
// end renders it (the dialog, the terminal, the headless lines, JSON,
// metrics, the journal, the exit status) and none reads a control back.
#pragma once
#include <cstdint>

#include "base/text.h"
#include "timeclient/adjust.h"
#include "timeclient/client.h"

// What became of one server of a request.
enum class ServerUse : int32_t {
  kUsed,          // its answer was used: the one server, or one that agreed
  kDisagreed,     // outside the majority's group, by distanceUs
  kSilent,        // no answer: failure says why
  kRefused,       // its answer could not be right (failure: kNoTime, kLate)
  kContradicted,  // precise mode: its answers contradict each other
  kNotWaitedFor,  // the others had settled the result first
  kUndecided,     // it answered, and no majority formed
};

// Returns the use's name as scripts read it: "used", "disagreed", "silent",
// "refused", "contradicted", "not waited for", "undecided".
const char* serverUseText(ServerUse use);

struct ServerRecord {
  char label[serverLabelSize];    // what it is called: its host, or its address
                                  // when its host has several
  char host[serverLabelSize];     // the host text's item it came from
  char address[serverLabelSize];  // its numeric address ("" when unresolved)
  bool answered;
  uint32_t answer;                // its last answer, seconds since 1900 as sent
  int64_t lowUs, highUs;          // the offsets (server minus local) it allows
  int64_t offsetUs;               // their middle
  int32_t lagMs;                  // its last query's lag
  ServerUse use;
  int64_t distanceUs;             // kDisagreed: from the agreed offset
  QueryFailure failure;           // kSilent, kRefused, kContradicted
};

// What the settings and the question asked of the clock.
enum class ClockAsk : int32_t {
  kReport,   // report only
  kSet,      // set it (within the limit, accepted, or no limit)
  kHold,     // over the limit and left alone (ignore, or the question's Cancel)
  kPartial,  // over the limit and moved by the limit only
};

// What was done to the clock.
enum class ClockDone : int32_t {
  kUntouched,   // report only, or held back
  kUnchanged,   // it agreed already: nothing to change
  kStepped,
  kSlewed,      // handed to the kernel to make gradually
  kFailed,      // setting it failed: clockError says why (errno, 0 unknown)
  kOutOfRange,  // the time is outside what kronsec can set (1970 to 2038)
};

// Why no request was made at the dialog's start.
enum class Missing : int32_t { kNothingMissing, kNoHost, kNoTz };

enum class LogOutcome : int32_t { kOff, kWritten, kFailed };

struct RunReport {
  bool asked;                // a cycle or Get time asked the servers
  Missing missing;
  char host[scratchSize];    // the host text as given, cut to fit
  char tz[scratchSize];      // the TZ text in use ("" when none)
  bool precise;
  int32_t servers;           // servers asked
  int32_t leftOut;           // past the most that are asked
  ServerRecord server[maxServers];
  HostTextNotes notes;       // servers listed twice; a refused host text
  bool stopped;              // the person stopped the request
  bool noMajority;           // several answered, and no majority agreed
  // The decision, once an answer (or several that agreed) was had.
  bool decided;
  ClockAction action;        // the log's word
  bool diffKnown;            // the local clock could be read
  int64_t diffUs;            // measured: the local clock minus the server
  int64_t boundUs;           // precise mode: how far the truth can be from it
  int32_t lagMs, connectLagMs;
  int32_t serverSecs, localSecs;  // the values decided on, as shown and logged
  ClockAsk ask;
  bool overLimit;
  uint32_t maxAdjust;
  int32_t adjOpt;
  int64_t movedUs;           // how far setting the clock was to move it
  bool slewOn;
  ClockDone clock;
  int32_t clockError;        // kFailed: the platform's code (errno on Linux)
  bool kernelTold;           // a changed clock's kernel took the news
  int32_t kernelError;       // not told: the platform's code for why
  LogOutcome log;
};

// The exit statuses, on Linux and Windows alike.
enum RunStatus : int32_t {
  kStatusDone = 0,        // an answer arrived and was handled as the settings say
  kStatusNoAnswer = 1,    // no answer, none usable, or no request could start
  kStatusUsage = 2,       // the command line or the host text is wrong
  kStatusClockNotSet = 3,
  kStatusChangeHeld = 4,  // over the limit and not fully made
  kStatusLogFailed = 5,
};

// Returns the status of how a run's last request ended: the first of 1, 3,
// 4, 5 that applies. A run nobody watched (minimised, headless) that asked
// nothing failed; one a person closed without asking is fine.
int32_t runStatus(const RunReport& r, bool unattended);

// Returns whether the request ended with the clock's setting failing or
// refused.
bool clockNotSet(const RunReport& r);

// Returns whether the change was over the limit and not fully made.
bool changeHeld(const RunReport& r);

struct AppState;
struct QueryCycle;
struct Agreement;
struct AnswerDecision;
struct ClockChange;

// Starts the record of a request to the settings' host text.
void beginReport(RunReport* r, const AppState* state, const HostTextNotes& notes);

// Records what each server of the cycle said and what became of it: by the
// agreement a when several were asked, else the one server's answer or
// failure.
void recordServers(RunReport* r, const QueryCycle& cycle, const Agreement* a);

// Records the decision on the answer and what carrying it out did to the
// clock (change: nullptr when the clock was not to be set), with the TZ
// text and the lags in force.
void recordDecision(RunReport* r, const AnswerDecision& a, const ClockChange* change,
                    const AppState* state);
