#include "tests/driver/driver.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/appstate.h"
#include "base/memory.h"
#include "platform/posix/clock.h"
#include "platform/posix/core.h"
#include "platform/posix/ini/store.h"
#include "platform/posix/winsock_seam.h"
#include "program/shell.h"
#include "ui/boxes.h"
#include "ui/maincycle.h"
#include "ui/res/resource.h"
#include "zones/environment.h"
#include "zones/localtime.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/timex.h>
#include <unistd.h>

namespace {
Driver* active = nullptr;

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp + (mp < 10 ? 3 : -9);
  *y = yoe + era * 400 + (*m <= 2);
}

// Runs work with TZ set to zone for the C library, then puts TZ back.
template <typename Work>
void inZone(const std::string& zone, Work work) {
  const char* was = std::getenv("TZ");
  std::string saved = was ? was : "";
  setenv("TZ", zone.c_str(), 1);
  tzset();
  work();
  if (was) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

// Milliseconds since 1970 UTC of a wall-clock time in zone.
int64_t utcMsOfLocal(const SYSTEMTIME& t, const std::string& zone) {
  tm fields{};
  fields.tm_year = t.wYear - 1900;
  fields.tm_mon = t.wMonth - 1;
  fields.tm_mday = t.wDay;
  fields.tm_hour = t.wHour;
  fields.tm_min = t.wMinute;
  fields.tm_sec = t.wSecond;
  fields.tm_isdst = -1;
  time_t seconds = 0;
  inZone(zone, [&] { seconds = mktime(&fields); });
  return static_cast<int64_t>(seconds) * 1000 + t.wMilliseconds;
}

// The wall clock in zone at utcMs.
SYSTEMTIME localOfUtcMs(int64_t utcMs, const std::string& zone) {
  time_t seconds = static_cast<time_t>(utcMs / 1000);
  tm fields{};
  inZone(zone, [&] { localtime_r(&seconds, &fields); });
  SYSTEMTIME out{static_cast<WORD>(fields.tm_year + 1900), static_cast<WORD>(fields.tm_mon + 1),
                 static_cast<WORD>(fields.tm_wday), static_cast<WORD>(fields.tm_mday),
                 static_cast<WORD>(fields.tm_hour), static_cast<WORD>(fields.tm_min),
                 static_cast<WORD>(fields.tm_sec), static_cast<WORD>(utcMs % 1000)};
  return out;
}

SYSTEMTIME addMilliseconds(const SYSTEMTIME& t, uint64_t ms) {
  int64_t total = (daysFromCivil(t.wYear, t.wMonth, t.wDay) * 86400 + t.wHour * 3600 +
                   t.wMinute * 60 + t.wSecond) * 1000 + t.wMilliseconds + static_cast<int64_t>(ms);
  int64_t days = total / 86400000, rest = total % 86400000;
  int64_t y, m, d;
  civilFromDays(days, &y, &m, &d);
  SYSTEMTIME out{};
  out.wYear = static_cast<WORD>(y);
  out.wMonth = static_cast<WORD>(m);
  out.wDay = static_cast<WORD>(d);
  out.wDayOfWeek = static_cast<WORD>((days % 7 + 11) % 7);  // 1970-01-01 was a Thursday
  out.wHour = static_cast<WORD>(rest / 3600000);
  out.wMinute = static_cast<WORD>(rest / 60000 % 60);
  out.wSecond = static_cast<WORD>(rest / 1000 % 60);
  out.wMilliseconds = static_cast<WORD>(rest % 1000);
  return out;
}
}  // namespace

struct DriverHooks {
  static DWORD tickCount() {
    DWORD now = active->tick_;
    active->tick_ += active->tickPerReading_;
    return now;
  }
  static int64_t utcMs() { return active->startUtcMs_ + (active->tick_ - active->startTick_); }
  static void localTime(SYSTEMTIME* out) { *out = localOfUtcMs(utcMs(), active->options_.machineZone); }
  static int64_t microseconds() { return utcMs() * 1000; }
  static void systemTime(SYSTEMTIME* out) { *out = addMilliseconds(SYSTEMTIME{1970, 1, 4, 1, 0, 0, 0, 0}, utcMs()); }
  static BOOL setSystemTime(const SYSTEMTIME* utc) {
    active->clockSets_.push_back(*utc);
    char call[64];
    std::snprintf(call, sizeof call, "set %04d-%02d-%02d %02d:%02d:%02d.%03d", utc->wYear,
                  utc->wMonth, utc->wDay, utc->wHour, utc->wMinute, utc->wSecond,
                  utc->wMilliseconds);
    active->clockCalls_.push_back(call);
    return active->options_.setSystemTimeResult;
  }
  // The kernel's clock discipline as adjtimex shows it: readings, adjtime's
  // slews and the status; what is refused fails as it would without the right.
  static int adjustTime(struct timex* t) {
    char call[96];
    bool refused = false;
    if (t->modes == 0) {
      std::snprintf(call, sizeof call, "read");
      t->status = active->kernelStatus_;
    } else if (t->modes == ADJ_OFFSET_SINGLESHOT) {
      std::snprintf(call, sizeof call, "slew %+ld us", static_cast<long>(t->offset));
      refused = !active->options_.setSystemTimeResult;
    } else if (t->modes == (ADJ_STATUS | ADJ_ESTERROR | ADJ_MAXERROR)) {
      std::snprintf(call, sizeof call, "status unsync=%d esterror=%ld maxerror=%ld",
                    (t->status & STA_UNSYNC) ? 1 : 0, static_cast<long>(t->esterror),
                    static_cast<long>(t->maxerror));
      refused = active->options_.kernelStatusRefused;
      if (!refused) active->kernelStatus_ = t->status;
    } else {
      std::snprintf(call, sizeof call, "adjtimex modes=%#x", static_cast<unsigned>(t->modes));
    }
    active->clockCalls_.push_back(call);
    if (!refused) return TIME_OK;
    errno = EPERM;
    return -1;
  }
  static void boxOpened(HWND box) {
    active->boxes_.push_back({box->text, box->boxText, box->boxType, box->owner});
  }
  static void beep(UINT) { ++active->beeps_; }
  static BOOL playSound(LPCSTR name, UINT flags) {
    active->sounds_.push_back({name ? name : "", flags, active->tick_});
    return TRUE;
  }
  static BOOL help(HWND, LPCSTR file, UINT command, ULONG_PTR data) {
    active->helps_.push_back({file ? file : "", command, data});
    return TRUE;
  }
  static BOOL chooseFile(OPENFILENAMEA* ofn) {
    std::string filter;
    for (const char* p = ofn->lpstrFilter; p && *p; p += std::strlen(p) + 1) filter += std::string(p) + "|";
    active->choosers_.push_back({ofn->lpstrTitle ? ofn->lpstrTitle : "",
                                 ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "",
                                 ofn->lpstrFile ? ofn->lpstrFile : "", filter, ofn->Flags, ofn->nMaxFile});
    const std::string& choice = active->nextFileChoice_;
    if (choice.empty() || choice.size() >= ofn->nMaxFile) return FALSE;
    std::strcpy(ofn->lpstrFile, choice.c_str());
    return TRUE;
  }
  static void cursorChanged(HCURSOR cursor) { active->cursor_ = cursor; }
  static void textChanged(HWND w) {
    if (w->control && w->parent && w->parent->dialog && w->parent->dialog->id == IDD_MAIN)
      active->texts_.emplace_back(w->id, w->text);
  }
  static void wait(int32_t) {
    if (pollEvents(0)) return;
    if (active->realWaitMs_ > 0 && socketsWatched()) {
      int32_t slice = active->realWaitMs_ < 20 ? active->realWaitMs_ : 20;
      active->realWaitMs_ -= slice;
      if (pollEvents(slice)) return;
      if (active->realWaitMs_ > 0) return;  // go round again: a timer may be due
    }
    active->programYield();
  }
};

namespace {
const ClockDriver virtualClock{DriverHooks::tickCount,     DriverHooks::localTime,
                               DriverHooks::systemTime,    DriverHooks::microseconds,
                               nullptr,                    DriverHooks::setSystemTime,
                               DriverHooks::adjustTime};
const FrontEnd driverFrontEnd = [] {
  FrontEnd f;
  f.boxOpened = DriverHooks::boxOpened;
  f.beep = DriverHooks::beep;
  f.playSound = DriverHooks::playSound;
  f.help = DriverHooks::help;
  f.chooseFile = DriverHooks::chooseFile;
  f.cursorChanged = DriverHooks::cursorChanged;
  f.textChanged = DriverHooks::textChanged;
  f.wait = DriverHooks::wait;
  return f;
}();

std::string saveEnv(const char* name, bool* had) {
  const char* value = std::getenv(name);
  *had = value != nullptr;
  return value ? value : "";
}

void restoreEnv(const char* name, bool had, const std::string& value) {
  if (had) setenv(name, value.c_str(), 1);
  else unsetenv(name);
}
}  // namespace

Driver::Driver(const DriverOptions& options) : options_(options) {
  active = this;
  savedConfigHome_ = saveEnv("XDG_CONFIG_HOME", &hadConfigHome_);
  savedTz_ = saveEnv("TZ", &hadTz_);
  char pattern[] = "/tmp/kronsec-driver-XXXXXX";
  configHome_ = mkdtemp(pattern) ? pattern : "/tmp";
  setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
  if (!options_.iniText.empty()) {
    std::string dir = configHome_ + "/kronsec";
    mkdir(dir.c_str(), 0700);
    if (FILE* f = std::fopen(configPath("orv.ini").c_str(), "wb")) {
      std::fwrite(options_.iniText.data(), 1, options_.iniText.size(), f);
      std::fclose(f);
    }
  }
  tick_ = startTick_ = options_.tickCount;
  kernelStatus_ = STA_UNSYNC;  // as the kernel leaves it after a boot or a step
  startUtcMs_ = options_.utcSeconds >= 0 ? options_.utcSeconds * 1000
                                         : utcMsOfLocal(options_.localTime, options_.machineZone);
  clearReport();
  setReportSink(nullptr);
  ini::clearRunOverrides();
  ini::setConfigFolder("");
  ini::dropProfileCache();
  resetWindowing();
  heapFailAfter(-1);
  useClockDriver(&virtualClock);
  FrontEnd* f = new FrontEnd(driverFrontEnd);
  f->screenWidth = options_.screenWidth;
  f->screenHeight = options_.screenHeight;
  useFrontEnd(f);
  setWinsockStartup(options_.winsockStartupError, options_.winsockVersion);
  setTestNetwork(options_.timePort, true);
}

Driver::~Driver() {
  if (started_ && !finished_) {
    terminateLoops();
    while (!finished_) resume();
  }
  if (program_.joinable()) program_.join();
  // A start that failed after the host window was made leaves the window and
  // its record behind, as the real program leaves them to the process's end.
  if (isLiveWindow(hostWindow))
    if (AppState* state = reinterpret_cast<AppState*>(GetWindowLongPtrA(hostWindow, 0)))
      freeSettings(state);
  const FrontEnd* f = &frontEnd();
  useFrontEnd(nullptr);
  delete f;
  useClockDriver(nullptr);
  resetWindowing();
  ini::dropProfileCache();
  restoreEnv("XDG_CONFIG_HOME", hadConfigHome_, savedConfigHome_);
  restoreEnv("TZ", hadTz_, savedTz_);
  if (configHome_.rfind("/tmp/kronsec-driver-", 0) == 0) {
    std::error_code ignored;
    std::filesystem::remove_all(configHome_, ignored);
  }
  active = nullptr;
}

std::string Driver::configPath(const char* name) const {
  return configHome_ + "/kronsec/" + name;
}

void Driver::programMain() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    turnChanged_.wait(lock, [this] { return programTurn_; });
  }
  for (const std::string& e : options_.environment) environment_.push_back(e.c_str());
  envInitFrom(environment_.data(), static_cast<int32_t>(environment_.size()));
  parseTz();
  if (options_.hostClassTaken) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = hostClassName;
    RegisterClassA(&wc);
  }
  char commandLine[] = "";
  exitCode_ = WinMain(programInstance(), nullptr, commandLine, options_.showCmd);
  std::unique_lock<std::mutex> lock(mutex_);
  finished_ = true;
  programTurn_ = false;
  turnChanged_.notify_all();
}

void Driver::programYield() {
  std::unique_lock<std::mutex> lock(mutex_);
  programTurn_ = false;
  turnChanged_.notify_all();
  turnChanged_.wait(lock, [this] { return programTurn_; });
}

void Driver::resume() {
  if (finished_) return;
  std::unique_lock<std::mutex> lock(mutex_);
  programTurn_ = true;
  turnChanged_.notify_all();
  turnChanged_.wait(lock, [this] { return !programTurn_; });
}

void Driver::start() {
  started_ = true;
  program_ = std::thread([this] { programMain(); });
  resume();
}

void Driver::run(int32_t realMs) {
  realWaitMs_ = realMs;
  resume();
  realWaitMs_ = 0;
}

bool Driver::runUntil(const std::function<bool()>& done, int32_t realMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
  while (!done() && !finished_ && std::chrono::steady_clock::now() < deadline) {
    run(50);
    if (!done() && !socketsWatched()) usleep(1000);  // nothing to wait on here
  }
  return done();
}

void Driver::advance(uint32_t ms) {
  uint32_t left = ms;
  for (;;) {
    int32_t next = msUntilNextTimer();
    if (next < 0 || static_cast<uint32_t>(next) > left) break;
    tick_ += static_cast<uint32_t>(next);
    left -= static_cast<uint32_t>(next);
    resume();
    if (finished_) return;
  }
  tick_ += left;
  resume();
}

void Driver::tickPerReading(uint32_t ms) { tickPerReading_ = ms; }

void Driver::act(std::function<void()> action) {
  pendingAction_ = std::move(action);
  postUserAction([](void* self) { static_cast<Driver*>(self)->pendingAction_(); }, this);
  resume();
}

void Driver::click(int id) { act([id] { userClick(GetDlgItem(activeModal(), id)); }); }
void Driver::type(int id, const std::string& text) {
  act([id, text] { userSetEditText(GetDlgItem(activeModal(), id), text.c_str()); });
}
void Driver::typeKeys(int id, const std::string& keys) {
  act([id] { userFocus(GetDlgItem(activeModal(), id)); });
  for (char key : keys) act([key] { userChar(key); });
}
void Driver::select(int id, int32_t row) { act([id, row] { userSelect(GetDlgItem(activeModal(), id), row); }); }
void Driver::enter() { act([] { userEnter(); }); }
void Driver::escape() { act([] { userEscape(); }); }
void Driver::tab(bool backwards) { act([backwards] { userTab(backwards); }); }
void Driver::arrow(int32_t delta) { act([delta] { userArrow(delta); }); }
void Driver::mnemonic(char letter) { act([letter] { userMnemonic(letter); }); }
void Driver::keys(const std::string& typed) {
  act([typed] {
    for (char c : typed) userChar(c);
  });
}
void Driver::pressF1() { act([] { userHelp(); }); }
void Driver::minimize(HWND window) {
  act([window] { userMinimize(window ? window : activeModal()); });
}
void Driver::restore(HWND window) { act([window] { userRestore(window ? window : activeModal()); }); }
void Driver::showNormally() { act([] { ShowWindow(activeModal(), SW_SHOWNORMAL); }); }
void Driver::answer(int button) { act([button] { answerBox(activeModal(), button); }); }
void Driver::chooseFile(const std::string& path) { nextFileChoice_ = path; }
void Driver::requestClose() { act([] { ::requestClose(); }); }

HWND Driver::dialog() const {
  const auto& all = liveWindows();
  for (size_t i = all.size(); i-- > 0;)
    if (all[i]->dialog && !all[i]->ended) return all[i];
  return nullptr;
}

HWND Driver::box() const {
  HWND modal = activeModal();
  return modal && modal->isMessageBox ? modal : nullptr;
}

HWND Driver::host() const { return isLiveWindow(hostWindow) ? hostWindow : nullptr; }

std::string Driver::text(int id) const {
  HWND c = GetDlgItem(dialog(), id);
  return c ? c->text : "<no control>";
}

std::string Driver::caption(HWND window) const { return isLiveWindow(window) ? window->text : ""; }
bool Driver::checked(int id) const { return IsDlgButtonChecked(dialog(), id) == BST_CHECKED; }
bool Driver::enabled(int id) const { return IsWindowEnabled(GetDlgItem(dialog(), id)); }
bool Driver::visible(int id) const { return IsWindowVisible(GetDlgItem(dialog(), id)); }
bool Driver::focused(int id) const {
  HWND c = GetDlgItem(dialog(), id);
  return c && GetFocus() == c;
}
std::pair<DWORD, DWORD> Driver::selection(int id) const {
  DWORD start = 0, end = 0;
  SendMessageA(GetDlgItem(dialog(), id), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  return {start, end};
}
bool Driver::iconic(HWND window) const { return IsIconic(window); }

RECT Driver::windowRect(HWND window) const {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

std::vector<std::string> Driver::listItems(int id) const {
  HWND c = GetDlgItem(dialog(), id);
  return c ? c->items : std::vector<std::string>();
}

int32_t Driver::listSelection(int id) const {
  return static_cast<int32_t>(SendDlgItemMessageA(dialog(), id, CB_GETCURSEL, 0, 0));
}

std::vector<std::string> Driver::textHistory(int id) const {
  std::vector<std::string> shown;
  for (const auto& t : texts_)
    if (t.first == id) shown.push_back(t.second);
  return shown;
}

bool Driver::busyCursorShown() const { return cursor_ && cursor_->picture && cursor_->picture->isCursor; }
