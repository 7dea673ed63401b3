// The clock the decision judges and the value it hands the clock.
//
// The decision counts seconds in the zone's frame: the server's UTC moved by
// the zone options ("Add 30 minutes", and an hour back for a daylight zone
// with "Use daylight savings" unticked), so that the local times it shows and
// logs come out right. What it compares that with is the platform's:
// - Windows keeps local time: the local clock read through the TZ text, as
//   the TZ text must then match Windows' own zone.
// - Linux keeps UTC: the kernel's clock moved by the same zone options, so
//   a correct clock compares equal whatever the TZ text and the place say,
//   and the clock is set to UTC.
// Each platform links one of frame_windows.cpp and frame_linux.cpp.
#pragma once
#include <cstdint>

// Returns the local clock in the decision's frame, seconds since 1970, or -1
// when it cannot be read; correction is zoneCorrection of the inputs.
int32_t judgedClockSeconds(int32_t correction);

// Returns the local clock the decision judges, before the zone options, with
// its milliseconds: milliseconds since 1970, or -1 when it cannot be read.
int64_t judgedClockMs();

// Reads the same clock to the microsecond into *us where the platform can;
// returns false where it cannot (Windows reads it to the millisecond).
bool judgedClockUs(int64_t* us);

// Returns the seconds since 1970 UTC to set the clock to for a value the
// decision chose in its frame.
int32_t clockSecondsToSet(int32_t decided, int32_t correction);
