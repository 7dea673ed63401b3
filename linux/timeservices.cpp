#include "linux/timeservices.h"

#include <dirent.h>

#include <cstdio>
#include <cstring>

namespace {
struct TimeService {
  const char* processName;  // as the kernel keeps it: at most 15 bytes
  const char* name;
  const char* unit;         // the Debian package's systemd unit
};

const TimeService timeServices[] = {
    {"systemd-timesyn", "systemd-timesyncd", "systemd-timesyncd"},
    {"chronyd", "chronyd", "chrony"},
    {"ntpd", "ntpd", "ntpsec"},
};

// The process name of /proc/PID, without its line feed.
std::string processName(const std::string& procRoot, const char* pid) {
  std::string path = procRoot + "/" + pid + "/comm";
  FILE* f = std::fopen(path.c_str(), "re");
  if (!f) return "";
  char name[32] = "";
  if (!std::fgets(name, sizeof name, f)) name[0] = '\0';
  std::fclose(f);
  name[std::strcspn(name, "\n")] = '\0';
  return name;
}

bool isPid(const char* name) {
  if (!*name) return false;
  for (; *name; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

const TimeService* serviceNamed(const std::string& processName) {
  for (const TimeService& s : timeServices)
    if (processName == s.processName) return &s;
  return nullptr;
}
}  // namespace

std::string runningTimeService(const std::string& procRoot) {
  DIR* dir = opendir(procRoot.c_str());
  if (!dir) return "";
  const TimeService* found = nullptr;
  while (dirent* entry = readdir(dir)) {
    if (!isPid(entry->d_name)) continue;
    if ((found = serviceNamed(processName(procRoot, entry->d_name)))) break;
  }
  closedir(dir);
  return found ? found->name : "";
}

std::string timeServiceLine(const std::string& service) {
  const char* unit = service.c_str();
  for (const TimeService& s : timeServices)
    if (service == s.name) unit = s.unit;
  return "kronsec: warning: " + service + " keeps this machine's clock too and will undo what "
         "kronsec sets: let one of them keep it (systemctl disable --now " + unit +
         " stops " + service + "), or run kronsec with reportOnly=1\n";
}
