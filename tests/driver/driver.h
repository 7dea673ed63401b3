// The test driver: runs kronsec in-process over the headless front end, on a
// virtual clock and a private configuration folder, and lets a test act as
// the user and look at what the user would see.
//
// The program runs on a thread of its own, but never at the same time as the
// test: control passes back and forth, the program running until it would
// wait for something, so everything stays single-threaded as it is in the
// real program.
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/win32.h"

struct DriverOptions {
  std::vector<std::string> environment;  // the inherited environment
  int32_t showCmd = SW_SHOWNORMAL;
  SYSTEMTIME localTime{1995, 7, 2, 4, 12, 0, 0, 0};  // virtual wall clock at start
  // The zone the virtual machine's wall clock keeps (a POSIX TZ string, read
  // by the C library): its UTC is localTime read in this zone.
  std::string machineZone = "EST5EDT,M4.1.0,M10.5.0";
  int64_t utcSeconds = -1;  // when set, the virtual UTC at start (localTime unused)
  uint32_t tickCount = 1000000;                     // virtual tick counter at start
  BOOL setSystemTimeResult = TRUE;  // also whether a slew is taken
  bool kernelStatusRefused = false;  // the kernel refuses to be told the clock's status
  int32_t screenWidth = 640;
  int32_t screenHeight = 480;
  int winsockStartupError = 0;
  WORD winsockVersion = MAKEWORD(1, 1);
  bool hostClassTaken = false;  // the window class is already registered
  uint16_t timePort = 0;        // where connections to port 37 really go
  std::string iniText;          // orv.ini contents to start with ("" = none)
};

struct BoxRecord {
  std::string caption;
  std::string text;
  UINT type;
  HWND owner;
};

struct SoundRecord {
  std::string name;
  UINT flags;
  uint32_t tick;
};

struct HelpRecord {
  std::string file;
  UINT command;
  ULONG_PTR data;
};

struct FileChooserRecord {
  std::string title, initialDir, initialFile, filter;
  DWORD flags;
  DWORD bufferSize;
};

class Driver {
 public:
  explicit Driver(const DriverOptions& options = DriverOptions());
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Starts the program and runs it until it waits for something.
  void start();
  // Lets the program run until it waits with nothing ready; with realMs,
  // waits up to that long in real time for sockets to deliver.
  void run(int32_t realMs = 0);
  // Runs until done() holds or realMs pass; returns done().
  bool runUntil(const std::function<bool()>& done, int32_t realMs = 5000);
  // Moves the virtual clock on; timers fall due in order and are handled.
  void advance(uint32_t ms);
  // Makes the next clock readings take `ms` real-looking milliseconds each
  // time the program asks (0: the clock only moves through advance).
  void tickPerReading(uint32_t ms);

  // The user's actions on the active dialog; each runs the program after.
  void click(int id);
  void type(int id, const std::string& text);
  // Moves the focus into the edit as Tab does (its text selected), then
  // presses the keys one at a time.
  void typeKeys(int id, const std::string& keys);
  void select(int id, int32_t row);
  void enter();
  void escape();
  void tab(bool backwards = false);
  void arrow(int32_t delta);
  void mnemonic(char letter);
  // Characters typed one by one as keys, each as the dialog manager takes
  // a key (into the focused edit, type-ahead in a list, or a mnemonic).
  void keys(const std::string& typed);
  void pressF1();                          // asks the active dialog for help
  // The person minimises or restores a window (by default the active one),
  // as from its button on the taskbar.
  void minimize(HWND window = nullptr);
  void restore(HWND window = nullptr);
  // What some platforms' dialog managers do the first time a modal dialog's
  // queue runs empty: show it normally, with no person involved.
  void showNormally();
  void answer(int button);                 // the open message box
  void chooseFile(const std::string& path);  // next file-chooser answer ("" = cancel)
  void requestClose();                     // as SIGTERM would

  // What the user sees.
  HWND dialog() const;  // the innermost open dialog, or nullptr
  HWND box() const;     // the open message box, or nullptr
  HWND host() const;
  std::string text(int id) const;
  std::string caption(HWND window) const;
  bool checked(int id) const;
  bool enabled(int id) const;
  bool visible(int id) const;
  bool focused(int id) const;
  // An edit's selection as EM_GETSEL gives it: (start, end), equal for a caret.
  std::pair<DWORD, DWORD> selection(int id) const;
  bool iconic(HWND window) const;
  RECT windowRect(HWND window) const;
  std::vector<std::string> listItems(int id) const;
  int32_t listSelection(int id) const;
  bool busyCursorShown() const;

  // Every text a control with this id of the main dialog has shown, in order.
  std::vector<std::string> textHistory(int id) const;
  const std::vector<BoxRecord>& boxes() const { return boxes_; }
  const std::vector<SoundRecord>& sounds() const { return sounds_; }
  const std::vector<SYSTEMTIME>& clockSets() const { return clockSets_; }
  // Every call that reached the clock, in order: "set 1995-07-04 16:01:40.000",
  // "read" (adjtimex reading), "slew +200000 us", "status unsync=0
  // esterror=1000000 maxerror=1100000" (microseconds).
  const std::vector<std::string>& clockCalls() const { return clockCalls_; }
  const std::vector<HelpRecord>& helps() const { return helps_; }
  const std::vector<FileChooserRecord>& fileChoosers() const { return choosers_; }
  int beeps() const { return beeps_; }
  bool exited() const { return finished_; }
  int exitCode() const { return exitCode_; }
  uint32_t tickCount() const { return tick_; }
  // Full path of a file in the program's configuration folder.
  std::string configPath(const char* name) const;

 private:
  friend struct DriverHooks;
  void resume();
  void programYield();
  void programMain();
  void act(std::function<void()> action);

  DriverOptions options_;
  std::string configHome_, savedConfigHome_, savedTz_;
  bool hadConfigHome_ = false, hadTz_ = false;
  std::vector<const char*> environment_;
  std::mutex mutex_;
  std::condition_variable turnChanged_;
  bool programTurn_ = false;
  bool started_ = false, finished_ = false;
  std::thread program_;
  int exitCode_ = -1;
  int32_t realWaitMs_ = 0;
  uint32_t tick_ = 0, startTick_ = 0, tickPerReading_ = 0;
  int64_t startUtcMs_ = 0;  // the virtual machine's UTC at startTick_
  std::vector<BoxRecord> boxes_;
  std::vector<std::pair<int, std::string>> texts_;
  std::vector<SoundRecord> sounds_;
  std::vector<SYSTEMTIME> clockSets_;
  std::vector<std::string> clockCalls_;
  int kernelStatus_ = 0;  // the virtual kernel's adjtimex status bits
  std::vector<HelpRecord> helps_;
  std::vector<FileChooserRecord> choosers_;
  std::string nextFileChoice_;
  int beeps_ = 0;
  HCURSOR cursor_ = nullptr;
  std::function<void()> pendingAction_;
};
