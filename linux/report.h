// What a run tells a person or a script at its end, beyond the dialog's own
// boxes: what was done with the clock, what held it back, and why a run
// stopped. Every text that came from outside is made printable first.
#pragma once
#include <string>

#include "ui/maincycle.h"

// Returns text with every control byte (below 0x20, and DEL) as '?'.
std::string printable(const std::string& text);

// Returns the summary's "Action:" line (ending in a line feed) for a query
// that was answered: report, set (+N s; "stepped" when slewing was on),
// slewed, nothing to change, held back, partial, or not set and why.
std::string actionLine(const QueryOutcome& outcome);

// Returns the stderr lines ("kronsec: ...") about a change that was held
// back or only partly made, about a clock that refused to be set (setError
// is errno of that failure, 0 when unknown), and the kernelStatusLine;
// "" when none apply. None states a difference from an unreadable clock.
std::string clockProblemLines(const QueryOutcome& outcome, int setError, int statusError);

// Returns the warning line about a change of the clock the kernel was not
// told of (statusError: errno of that failure, 0 when unknown), else "".
std::string kernelStatusLine(const QueryOutcome& outcome, int statusError);

// Returns the line that says another process (holder: its PID, 0 when
// unknown) held the lock on the settings folder, so nothing was saved.
std::string lockBusyLine(const std::string& folder, int holder);

// Returns the stderr lines about several servers: each that disagreed with
// the majority or did not answer, not used, and servers left out past the
// most asked; "" for one server.
std::string serverLines(const QueryOutcome& outcome);

// Returns the line that says a signal stopped the run ("kronsec: stopped by
// SIGTERM").
std::string stoppedLine(int signal);

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

// Returns the line that says in plain words what a "Winsock Error" box with
// the Winsock code `code` means where the box's table text would mislead:
// a silent server on a connection that stood (10060 after the connect),
// or a name server that could not be reached (11002, the resolver's try
// again); "" for every other box. outcome is the query the box is about.
std::string winsockPlainLine(int code, const QueryOutcome& outcome);
