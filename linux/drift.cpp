#include "linux/drift.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/units.h"
#include "linux/report.h"
#include "platform/win32.h"

namespace {
// adjtimex counts its frequency in ppm times 2^16.
constexpr double frequencyScale = 65536.0;
// A boot's suspended time that grew by more than this was a suspend: the
// clock was then set from the hardware clock, which drifts otherwise.
constexpr int64_t suspendSlackUs = usPerSecond;
// The whole-second offset is sure to its second and the lag.
constexpr int64_t wholeSecondErrorUs = usPerSecond;
constexpr double sameCorrectionPpm = 1e-3;
constexpr const char* historyHeader =
    "# kronsec drift history, one run a line, oldest first: when (us since 1970 UTC), the offset\n"
    "# (server minus clock, us), its error (us), the clock moved by (us), the kernel's correction\n"
    "# in force and once done (ppm), the boot's id, its suspended time (us)\n";

// One line of the history: the sample and what tells a restart or a
// suspend from the line before.
struct Entry {
  DriftSample sample;
  std::string boot;
  int64_t suspendedUs;
};

int64_t clockUs(clockid_t which) {
  timespec t{};
  clock_gettime(which, &t);
  return int64_t{t.tv_sec} * usPerSecond + t.tv_nsec / 1000;
}

std::string bootId() {
  char id[64] = "";
  if (FILE* f = std::fopen("/proc/sys/kernel/random/boot_id", "re")) {
    if (!std::fgets(id, sizeof id, f)) id[0] = '\0';
    std::fclose(f);
  }
  id[std::strcspn(id, "\n")] = '\0';
  return id[0] ? id : "-";
}

bool parseEntry(const char* line, Entry* e) {
  long long at, offset, error, moved, suspended;
  double inForce, set;
  char boot[64];
  int used = 0;
  if (std::sscanf(line, "%lld %lld %lld %lld %lf %lf %63s %lld%n", &at, &offset, &error, &moved, &inForce,
                  &set, boot, &suspended, &used) != 8 || line[used] != '\0' || error < 0)
    return false;
  e->sample = DriftSample{at, offset, error, moved, inForce, set, true};
  e->boot = boot;
  e->suspendedUs = suspended;
  return true;
}

// A sample follows on from the one before when the machine neither
// restarted nor slept in between.
void linkToPrevious(std::vector<Entry>* entries) {
  if (entries->size() < 2) return;
  Entry& last = entries->back();
  const Entry& before = (*entries)[entries->size() - 2];
  last.sample.sameBoot = last.boot == before.boot && last.suspendedUs - before.suspendedUs < suspendSlackUs &&
                         last.sample.atUs > before.sample.atUs;
}

// Reads the history; a file that does not read as one is set aside, and
// said, and the drift is learnt again.
std::vector<Entry> readHistory(const std::string& path, std::string* notes) {
  std::vector<Entry> entries;
  FILE* f = std::fopen(path.c_str(), "re");
  if (!f) return entries;
  char line[512];
  bool damaged = false;
  while (!damaged && std::fgets(line, sizeof line, f)) {
    line[std::strcspn(line, "\n")] = '\0';
    if (line[0] == '#' || line[0] == '\0') continue;
    Entry e;
    damaged = !parseEntry(line, &e);
    if (!damaged) entries.push_back(e), linkToPrevious(&entries);
  }
  std::fclose(f);
  if (!damaged) return entries;
  std::string aside = path + ".damaged";
  std::rename(path.c_str(), aside.c_str());
  *notes += "kronsec: " + printable(path) + " is damaged: set aside as " + printable(aside) +
            "; the drift is learnt again\n";
  return {};
}

// Writes the history whole: a new file beside it, then renamed over it.
std::string writeHistory(const std::string& path, const std::vector<Entry>& entries) {
  std::string text = historyHeader;
  char line[256];
  for (const Entry& e : entries) {
    const DriftSample& s = e.sample;
    std::snprintf(line, sizeof line, "%lld %lld %lld %lld %.6f %.6f %s %lld\n", static_cast<long long>(s.atUs),
                  static_cast<long long>(s.offsetUs), static_cast<long long>(s.errorUs),
                  static_cast<long long>(s.movedUs), s.inForcePpm, s.setPpm, e.boot.c_str(),
                  static_cast<long long>(e.suspendedUs));
    text += line;
  }
  std::string temporary = path + ".XXXXXX";
  int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  int error = errno;
  if (close(fd) != 0 && written) written = false, error = errno;
  if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return "";
  if (written) error = errno;
  unlink(temporary.c_str());
  return std::strerror(error);
}

// Makes the history's folder and those above it, as mkdir -p does.
void makeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    mkdir(path.substr(0, at).c_str(), 0700);
}

Entry thisRun(const RunReport& r, double inForce) {
  Entry e;
  bool moved = r.clock == ClockDone::kStepped || r.clock == ClockDone::kSlewed;
  int64_t error = r.precise ? r.boundUs : wholeSecondErrorUs + int64_t{r.lagMs} * usPerMs;
  e.sample = DriftSample{clockUs(CLOCK_REALTIME), -r.diffUs, error, moved ? r.movedUs : 0, inForce, inForce, true};
  e.boot = bootId();
  e.suspendedUs = clockUs(CLOCK_BOOTTIME) - clockUs(CLOCK_MONOTONIC);
  return e;
}

// Why the kernel is not told the correction, or "" when it may be.
std::string reasonNotToTell(const RunReport& r, const std::string& otherService) {
  if (r.ask == ClockAsk::kReport) return "report only";
  if (!otherService.empty()) return otherService + " keeps this clock";
  return "";
}

void tellKernel(DriftOutcome* d, Entry* run) {
  double correction = d->estimate.correctionPpm;
  if (!kronSetClockFrequency(std::llround(correction * frequencyScale))) {
    int error = static_cast<int>(GetLastError());
    d->notTold = error == EPERM ? "setting the frequency needs root or CAP_SYS_TIME" : std::strerror(error);
    return;
  }
  d->kernelTold = true;
  run->sample.setPpm = correction;
}
}  // namespace

std::string driftHistoryPath() {
  const char* state = std::getenv("STATE_DIRECTORY");
  if (state && *state) return std::string(state).substr(0, std::string(state).find(':')) + "/drift";
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/kronsec/drift";
  const char* home = std::getenv("HOME");
  return home && *home ? std::string(home) + "/.local/state/kronsec/drift" : "";
}

DriftOutcome learnDrift(const RunReport& r, const std::string& otherService) {
  DriftOutcome d;
  d.on = true;
  std::string path = driftHistoryPath();
  if (!r.decided || !r.diffKnown || path.empty()) return d;
  int64_t scaled = 0;
  double inForce = kronClockFrequency(&scaled) ? static_cast<double>(scaled) / frequencyScale : 0;
  std::vector<Entry> history = readHistory(path, &d.notes);
  history.push_back(thisRun(r, inForce));
  linkToPrevious(&history);
  std::vector<DriftSample> samples;
  for (const Entry& e : history) samples.push_back(e.sample);
  d.measured = true;
  d.estimate = estimateDrift(samples.data(), static_cast<int32_t>(samples.size()));
  d.notTold = reasonNotToTell(r, otherService);
  bool due = d.estimate.kind == DriftEstimate::kKnown;
  if (due && d.notTold.empty()) tellKernel(&d, &history.back());
  history.erase(history.begin(), history.begin() + d.estimate.keepFrom);
  if (history.size() > static_cast<size_t>(mostDriftSamples))
    history.erase(history.begin(), history.end() - mostDriftSamples);
  makeFolders(path);
  std::string problem = writeHistory(path, history);
  if (!problem.empty()) d.notes += "kronsec: could not save " + printable(path) + ": " + problem + "\n";
  return d;
}

std::string driftText(const DriftOutcome& d) {
  char text[160];
  const DriftEstimate& e = d.estimate;
  if (e.kind == DriftEstimate::kReset) return std::string("reset: ") + e.why;
  if (e.kind == DriftEstimate::kLearning)
    return "learning (" + std::to_string(e.runs) + (e.runs == 1 ? " run)" : " runs)");
  std::snprintf(text, sizeof text, "%+.1f ppm (%d runs), ", e.driftPpm, static_cast<int>(e.runs));
  return text + (d.kernelTold ? std::string("kernel told") : "kernel not told: " + d.notTold);
}

std::string driftLine(const DriftOutcome& d) {
  if (!d.measured) return "";
  char line[200];
  std::snprintf(line, sizeof line, "%-9s %s\n", "Drift:", driftText(d).c_str());
  return line;
}
