// The result log: one tab-separated line per processed answer.
#pragma once
#include <cstdint>

struct AppState;

// Appends one plain (logOpts 1) or verbose (any other value) line for the
// answer to state->logPath; returns 1 when the line reached the file, else 0.
int32_t writeLogLine(const AppState* state, int32_t serverSecs, int32_t localSecs,
                     const char* action);
