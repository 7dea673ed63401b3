#include "linux/machineout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "base/units.h"
#include "linux/report.h"

namespace {
double seconds(int64_t us) { return static_cast<double>(us) / usPerSecond; }

// A server's difference as the Diff line gives it: its local clock minus
// the server's time.
nlohmann::ordered_json serverJson(const ServerRecord& s, bool precise) {
  nlohmann::ordered_json j;
  j["host"] = s.host;
  j["address"] = s.address;
  j["diff"] = s.answered ? nlohmann::ordered_json(seconds(-s.offsetUs)) : nlohmann::ordered_json();
  j["lag_ms"] = s.answered ? nlohmann::ordered_json(s.lagMs) : nlohmann::ordered_json();
  j["used"] = s.use == ServerUse::kUsed;
  j["use"] = serverUseText(s.use);
  std::string why = serverWhy(s, precise);
  j["why"] = why.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(why);
  return j;
}

nlohmann::ordered_json orNull(bool known, const nlohmann::ordered_json& value) {
  return known ? value : nlohmann::ordered_json();
}
}  // namespace

std::string reportJson(const RunReport& r, const RunEnd& end) {
  nlohmann::ordered_json j;
  j["status"] = end.status;
  j["action"] = orNull(r.decided, actionText(r.action));
  j["diff"] = orNull(r.decided && r.diffKnown, seconds(r.diffUs));
  j["bound"] = orNull(r.decided && r.precise && r.diffKnown, seconds(r.boundUs));
  j["lag_ms"] = orNull(r.decided, r.lagMs);
  j["clock"] = orNull(r.decided, clockText(r));
  j["summary"] = orNull(r.decided, actionSummary(r));
  j["kernel_told"] = orNull(r.decided && (r.clock == ClockDone::kStepped || r.clock == ClockDone::kSlewed),
                             r.kernelTold);
  j["log"] = r.log == LogOutcome::kOff ? "off" : r.log == LogOutcome::kWritten ? "written" : "failed";
  j["host"] = r.host;
  j["tz"] = orNull(r.tz[0] != '\0', r.tz);
  j["precise"] = r.precise;
  j["servers"] = nlohmann::ordered_json::array();
  for (int32_t i = 0; i < r.servers; ++i) j["servers"].push_back(serverJson(r.server[i], r.precise));
  j["warnings"] = end.warnings;
  j["time"] = end.when;
  const DriftEstimate& e = end.drift.estimate;
  bool known = end.drift.measured && e.kind == DriftEstimate::kKnown;
  j["drift_ppm"] = orNull(known, e.driftPpm);
  j["drift_runs"] = orNull(end.drift.measured, e.runs);
  j["drift"] = orNull(end.drift.measured, driftText(end.drift));
  // Bytes that are not UTF-8 (a host name typed in Latin-1) are replaced,
  // never a reason to print nothing.
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

namespace {
// One gauge with its HELP and TYPE lines.
std::string gauge(const char* name, const char* help, const std::string& samples) {
  return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n" + samples;
}

std::string sample(const char* name, double value) {
  char text[96];
  std::snprintf(text, sizeof text, "%s %.6f\n", name, value);
  return text;
}

std::string sample(const char* name, int64_t value) {
  return std::string(name) + " " + std::to_string(value) + "\n";
}

// A label's value in Prometheus text: backslash, quote and line feed escaped.
std::string labelValue(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '\\' || *p == '"') out += '\\';
    if (*p == '\n') {
      out += "\\n";
      continue;
    }
    out += *p;
  }
  return out;
}

std::string serverSamples(const RunReport& r) {
  std::string samples;
  for (int32_t i = 0; i < r.servers; ++i) {
    const ServerRecord& s = r.server[i];
    const char* name = s.address[0] ? s.address : s.host;
    samples += "kronsec_server_used{server=\"" + labelValue(name) + "\"} " +
               (s.use == ServerUse::kUsed ? "1" : "0") + "\n";
  }
  return samples;
}
}  // namespace

std::string reportMetrics(const RunReport& r, const RunEnd& end, int64_t lastSuccess) {
  std::string text;
  if (r.decided && r.diffKnown)
    text += gauge("kronsec_diff_seconds", "The local clock minus the servers' time, as measured.",
                  sample("kronsec_diff_seconds", seconds(r.diffUs)));
  if (r.decided && r.precise && r.diffKnown)
    text += gauge("kronsec_bound_seconds", "How far the true difference can be from the one measured.",
                  sample("kronsec_bound_seconds", seconds(r.boundUs)));
  if (r.decided)
    text += gauge("kronsec_lag_seconds", "The network lag of the answer used.",
                  sample("kronsec_lag_seconds", static_cast<double>(r.lagMs) / msPerSecond));
  text += gauge("kronsec_exit_status", "The run's exit status (0 when all went as the settings say).",
                sample("kronsec_exit_status", int64_t{end.status}));
  text += gauge("kronsec_last_run_timestamp_seconds", "When the last run ended.",
                sample("kronsec_last_run_timestamp_seconds", end.when));
  if (lastSuccess > 0)
    text += gauge("kronsec_last_success_timestamp_seconds", "When the last run that ended with status 0 ended.",
                  sample("kronsec_last_success_timestamp_seconds", lastSuccess));
  if (end.drift.measured && end.drift.estimate.kind == DriftEstimate::kKnown)
    text += gauge("kronsec_drift_ppm", "How fast the clock gains without correction (negative: loses), learnt.",
                  sample("kronsec_drift_ppm", end.drift.estimate.driftPpm));
  if (r.servers > 0)
    text += gauge("kronsec_server_used", "1 when the server's answer was used, else 0.", serverSamples(r));
  return text;
}

int64_t lastSuccessIn(const std::string& metricsText) {
  const std::string name = "\nkronsec_last_success_timestamp_seconds ";
  size_t at = ("\n" + metricsText).find(name);
  if (at == std::string::npos) return 0;
  return std::strtoll(metricsText.c_str() + at + name.size() - 1, nullptr, 10);
}

std::string writeMetricsFile(const std::string& path, const RunReport& r, const RunEnd& end) {
  std::string old;
  if (FILE* f = std::fopen(path.c_str(), "re")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) old.append(buffer, n);
    std::fclose(f);
  }
  int64_t lastSuccess = end.status == kStatusDone ? end.when : lastSuccessIn(old);
  std::string text = reportMetrics(r, end, lastSuccess);
  // The collector reads only *.prom files: the new file is named apart.
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string temporary = folder + "/.kronsec-metrics-XXXXXX";
  int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                 fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  int error = errno;
  if (close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return "";
  if (written) error = errno;
  unlink(temporary.c_str());
  return std::strerror(error);
}
