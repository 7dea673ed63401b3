// What the command line changes for one run alone, kept apart from main so
// that the tests take the same steps as the program.
#pragma once

// Makes this run report-only whatever the settings say: the setting is
// overridden for the run (never saved), and the main dialog shows "Report
// only" ticked and disabled, so that no key or click can untick it.
void makeRunReportOnly();
