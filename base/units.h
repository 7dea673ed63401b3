// Units and the few fixed numbers of the protocol and the program, each named
// once: everything above the platform counts time and ports with these.
#pragma once
#include <cstdint>

constexpr int32_t msPerSecond = 1000;
constexpr int64_t usPerSecond = 1000000;
constexpr int64_t usPerMs = 1000;
constexpr int32_t secondsPerHour = 3600;
constexpr int32_t secondsPerDay = 86400;
constexpr int32_t secondsPerHalfHour = 1800;

// Seconds between 1900-01-01 (the Time protocol's epoch) and 1970-01-01.
constexpr uint32_t protocolEpochOffset = 2208988800u;

// The local clock's value in seconds since 1970 when it cannot be read.
constexpr int32_t unknownClockSecs = -1;

// Returns a / b rounded toward minus infinity (b > 0): the second or
// millisecond a time before an epoch falls in.
constexpr int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The Time service's well-known TCP port.
constexpr int32_t timePort = 37;

// The timer that ends a window 5 s after its work is done: the main dialog
// after a result (auto-close), and the host window after a minimised run.
constexpr uint32_t closeTimerId = 100;
constexpr uint32_t closeDelayMs = 5000;
