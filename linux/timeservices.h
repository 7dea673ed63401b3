// Other programs that keep this machine's clock: a daemon that disciplines
// the clock undoes each change kronsec makes, so a run that would set the
// clock says so.
#pragma once
#include <string>

// Returns the name of a time service running on this machine
// (systemd-timesyncd, chronyd, ntpd), read from the process names under
// procRoot, or "" when none runs.
std::string runningTimeService(const std::string& procRoot = "/proc");

// Returns the warning line ("kronsec: warning: ...", ending in a line feed)
// about the running time service, with how to stop it.
std::string timeServiceLine(const std::string& service);
