// Windows keeps local time: the decision's frame is the local clock read
// through the TZ text, and the value it chose is set as it stands.
#include "timeclient/frame.h"

#include "zones/localtime.h"

int32_t judgedClockSeconds(int32_t) { return localClockSeconds(); }

int32_t clockSecondsToSet(int32_t decided, int32_t) { return decided; }
