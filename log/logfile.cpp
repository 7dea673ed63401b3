// The result log: one line per processed answer, appended to the file the
// user chose, opened and closed for every line so the path can change and
// others can move or read the file between answers.
#include "log/logfile.h"

#include <cstdio>

#include "app/appstate.h"
#include "app/names.h"
#include "base/memory.h"
#include "base/text.h"
#include "base/units.h"
#include "zones/localtime.h"

namespace {
// Written for any text that is missing: the tz before one was chosen, or a
// name whose copy failed when the lists were loaded.
const char* const noText = "(null)";

// Written for the names of a value that has no local breakdown (before the
// zone offset from 1970, past 2038, or the local clock that could not be
// read). Its numbers are all 0, so the date
// reads "(none) (none) 0, 0" and the time "00:00:00": day 0 and year 0 cannot
// be mistaken for a real date, and the line keeps its field count.
const char* const noName = "(none)";

const char* textOrNull(const char* text) { return text ? text : noText; }

// One value's local breakdown, and whether it has one.
struct LocalValue {
  BrokenDownTime fields;
  bool known;
};

// The local clock that could not be read has no breakdown either, even
// where the zone would give -1 one (east of UTC, early on 1970-01-01).
LocalValue breakDown(int32_t seconds) {
  LocalValue value = {};
  if (seconds == unknownClockSecs) return value;
  if (std::optional<BrokenDownTime> fields = localFields(seconds)) {
    value.fields = *fields;
    value.known = true;
  }
  return value;
}

const char* nameAt(const LocalValue& value, char* const* names, int32_t index,
                   int32_t count) {
  if (!value.known || index < 0 || index >= count) return noName;
  return textOrNull(names[index]);
}

// Everything one line shows, ready for the format.
struct LineFields {
  const char* host;
  const char* dayName;
  const char* monthName;
  int32_t monthDay;
  int32_t year;  // in full
  const char* tz;
  BrokenDownTime server;
  BrokenDownTime local;
  int32_t serverSecs;
  int32_t localSecs;
  int32_t difference;  // server minus local
  int32_t readLag;
  int32_t connectLag;
  const char* action;
};

LineFields gatherFields(const AppState* state, int32_t serverSecs,
                        int32_t localSecs, const char* action) {
  LocalValue server = breakDown(serverSecs);
  LocalValue local = breakDown(localSecs);
  LineFields f;
  f.host = textOrNull(state->host);
  f.dayName = nameAt(server, dayNames, server.fields.weekDay, 7);
  f.monthName = nameAt(server, monthNames, server.fields.month, 12);
  f.monthDay = server.fields.monthDay;
  f.year = server.known ? server.fields.year + 1900 : 0;
  f.tz = textOrNull(state->tz);
  f.server = server.fields;
  f.local = local.fields;
  f.serverSecs = serverSecs;
  f.localSecs = localSecs;
  // Wrap-around subtraction: two values far apart still give their 32-bit
  // difference instead of overflowing.
  f.difference = static_cast<int32_t>(static_cast<uint32_t>(serverSecs) -
                                      static_cast<uint32_t>(localSecs));
  f.readLag = state->readLag;
  f.connectLag = state->connectLag;
  f.action = textOrNull(action);
  return f;
}

// snprintf semantics: returns the length of the whole line, writing at most
// size bytes of it (none when out is nullptr and size 0).
int formatLine(char* out, size_t size, const LineFields& f, bool verbose) {
  const BrokenDownTime& s = f.server;
  const BrokenDownTime& l = f.local;
  if (!verbose) {
    return std::snprintf(
        out, size, "%s\t%s %s %d, %d\t%s\t%02d:%02d:%02d\t%02d:%02d:%02d\t%ld\t%ld ms\t%s\n",
        f.host, f.dayName, f.monthName, static_cast<int>(f.monthDay),
        static_cast<int>(f.year), f.tz, static_cast<int>(s.hour),
        static_cast<int>(s.minute), static_cast<int>(s.second),
        static_cast<int>(l.hour), static_cast<int>(l.minute),
        static_cast<int>(l.second), static_cast<long>(f.difference),
        static_cast<long>(f.readLag), f.action);
  }
  return std::snprintf(
      out, size,
      "%s\t%s %s %d, %d\t%s\t%02d:%02d:%02d\t%02d:%02d:%02d\t%ld\t%ld\t%ld\t%ld ms\t%ld ms\t%s\n",
      f.host, f.dayName, f.monthName, static_cast<int>(f.monthDay),
      static_cast<int>(f.year), f.tz, static_cast<int>(s.hour),
      static_cast<int>(s.minute), static_cast<int>(s.second),
      static_cast<int>(l.hour), static_cast<int>(l.minute),
      static_cast<int>(l.second), static_cast<long>(f.serverSecs),
      static_cast<long>(f.localSecs), static_cast<long>(f.difference),
      static_cast<long>(f.readLag), static_cast<long>(f.connectLag), f.action);
}


// Appends the bytes to path and returns 1 only when they reached the file:
// a full disk often shows only when the buffered line is flushed at close.
// Binary mode so the CR LF we wrote is the CR LF in the file, on every
// platform; append mode so every write lands at the file's current end.
int32_t appendBytes(const char* path, const char* bytes, size_t count) {
  FILE* file = openLogForAppend(path);
  if (!file) return 0;
  bool written = std::fwrite(bytes, 1, count, file) == count;
  bool closed = std::fclose(file) == 0;
  return written && closed ? 1 : 0;
}
}  // namespace

// The texts of a line that come from outside (the host, the TZ text, the
// names), each with its control bytes as '?': a tab or a line break in one
// would move every field after it, an escape would act on a terminal that
// shows the log.
struct PrintableTexts {
  char* texts[4] = {};
  bool complete = true;
  explicit PrintableTexts(LineFields& f) {
    const char** fields[] = {&f.host, &f.dayName, &f.monthName, &f.tz};
    for (int i = 0; i < 4; ++i) {
      texts[i] = printableCopy(*fields[i]);
      if (texts[i]) *fields[i] = texts[i];
      else complete = false;
    }
  }
  ~PrintableTexts() {
    for (char* t : texts) heapFree(t);
  }
};

int32_t writeLogLine(const AppState* state, int32_t serverSecs, int32_t localSecs,
                     const char* action) {
  if (!state->logPath) return 0;
  LineFields fields = gatherFields(state, serverSecs, localSecs, action);
  PrintableTexts printable(fields);
  if (!printable.complete) return 0;
  bool verbose = state->logOpts != 1;
  // host and tz may each be hundreds of characters: measure, then format.
  int length = formatLine(nullptr, 0, fields, verbose);
  if (length < 1) return 0;
  size_t size = static_cast<size_t>(length);
  // One byte more than the line for the CR, one for the terminator.
  char* line = static_cast<char*>(heapAlloc(size + 2));
  if (!line) return 0;
  formatLine(line, size + 1, fields, verbose);
  // The line ends in the format's "\n"; the file gets CR LF on every platform.
  line[size - 1] = '\r';
  line[size] = '\n';
  int32_t result = appendBytes(state->logPath, line, size + 1);
  heapFree(line);
  return result;
}
