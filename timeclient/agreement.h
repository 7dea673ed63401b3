// Agreement of several servers: each answer allows an interval of offsets
// (server minus local clock); the largest group of servers whose intervals
// share a point, when it holds more than half of those that answered, gives
// the offset: the middle of the group's common part, with half its width as
// the bound.
#pragma once
#include <cstdint>

struct ServerInterval {
  bool answered;
  int64_t lowUs, highUs;  // the offsets its answers allow, when answered
};

struct Agreement {
  bool found;          // a majority shares a point
  bool tied;           // two different groups of the largest size: none agrees
  int32_t answered;    // servers that answered
  int32_t groupSize;   // the largest group sharing a point
  uint32_t members;    // bit i: server i is in the group (when found)
  int64_t lowUs, highUs;       // the group's common part
  int64_t offsetUs, boundUs;   // its middle and half-width
};

// Returns the agreement of count servers' intervals (count <= 32).
Agreement agree(const ServerInterval* servers, int32_t count);

// Returns whether answers from stillOut more servers could no longer change
// the agreement: its group holds more servers than those outside it and
// those still out together, so none of them could outvote it, tie it, or
// make it a minority.
bool agreementSettled(const Agreement& a, int32_t stillOut);

// Returns how far a server's interval lies from an offset: 0 when it holds
// it, else the distance to its nearer edge, signed (positive: the server
// is ahead of the offset).
int64_t distanceFrom(const ServerInterval& server, int64_t offsetUs);

// A distance as it is told: its size rounded half away from zero to
// milliseconds (precise mode) or whole seconds, and the unit's name.
struct ToldDistance {
  int64_t size;
  const char* unit;  // "ms" or "s"
};
ToldDistance toldDistance(int64_t us, bool precise);

// Returns the offsets one whole-second answer allows: the server's clock lay
// in [serverSecs, serverSecs + 1) when it stamped, between the query's start
// (arrivedMs - lagMs) and the answer's arrival on the local clock.
ServerInterval wholeSecondInterval(int64_t serverSecs, int64_t arrivedMs, int32_t lagMs);
