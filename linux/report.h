// What a run tells a person or a script at its end, beyond the dialog's own
// boxes: what was done with the clock, what held it back, and why a run
// stopped. Every text that came from outside is made printable first.
#pragma once
#include <string>

#include "timeclient/runreport.h"

// Returns text with every control byte (below 0x20, and DEL) as '?'.
std::string printable(const std::string& text);

// Returns the result lines of a decided request for stdout: Host, TZ,
// Date, Time, Diff (the difference measured, before any limit), Net Lag and
// Action, each "Label:    value"; "" when nothing was decided.
std::string resultLines(const RunReport& r);

// Returns what was done with the clock in the Action line's words: report,
// set (+N s; "stepped" when slewing was on), slewed, nothing to change,
// held back, partial, or not set and why.
std::string actionSummary(const RunReport& r);

// Returns what was done with the clock in one word for machines: "report",
// "unchanged", "stepped", "slewed", "held", "partial", "failed" or "out of
// range".
const char* clockText(const RunReport& r);

// Returns the stderr lines ("kronsec: ...") about a change that was held
// back or only partly made, about a clock that refused to be set, and the
// kernelStatusLine; "" when none apply. None states a difference from an
// unreadable clock.
std::string clockProblemLines(const RunReport& r);

// Returns the warning line about a change of the clock the kernel was not
// told of, else "".
std::string kernelStatusLine(const RunReport& r);

// Returns the line that says another process (holder: its PID, 0 when
// unknown) held the lock on the settings folder, so nothing was saved.
std::string lockBusyLine(const std::string& folder, int holder);

// Returns why a server's answer was not used, in a few words ("" when it
// was used): "disagrees with the others by 60 s", "did not answer: ...".
std::string serverWhy(const ServerRecord& s, bool precise);

// Returns the stderr lines about the servers: each of several that
// disagreed with the majority, did not answer, was refused or not waited
// for, the servers left out past the most asked, and those listed twice.
std::string serverLines(const RunReport& r);

// Returns the line that says a signal stopped the run ("kronsec: stopped by
// SIGTERM"), and that the settings were not saved when the signal gave up
// the wait for their lock after the result was told.
std::string stoppedLine(int signal, bool settingsNotSaved);

// Returns the line that says a file cannot serve as settings ("kronsec:
// PATH: REASON").
std::string fileProblemLine(const std::string& path, const std::string& reason);

// Returns the text of a box about the file at path: its path on a line of
// its own, then what is wrong.
std::string fileBoxText(const std::string& path, const std::string& text);

// Returns the line that says the settings could not be saved at the end.
std::string saveFailedLine(const std::string& path, const std::string& reason);

// Returns the line that says the folder given with --config is not there.
std::string configFolderMissingLine(const std::string& folder);

// Returns the line that says why the terminal front end asked for (by
// askedBy: "--terminal") cannot run.
std::string noTerminalLine(const std::string& askedBy, const std::string& reason);

// Returns the line that says in plain words why the one server asked gave
// no answer where the box's table text would mislead: a silent server on a
// connection that stood (10060 after the connect), or a name server that
// could not be reached (11002, the resolver's try again); else "".
std::string plainFailureLine(const RunReport& r);
