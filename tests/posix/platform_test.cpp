// The Linux window layer on its own: timers, nested modal loops and socket
// notifications, with a front end that moves a virtual clock.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <errno.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/posix/clock.h"
#include "platform/posix/core.h"
#include "ui/res/resource.h"

#undef socket
#undef connect
#undef recv

namespace {
uint32_t virtualTick = 0;
DWORD tick() { return virtualTick; }
void noLocalTime(SYSTEMTIME* t) { *t = SYSTEMTIME{}; }
BOOL refuseSet(const SYSTEMTIME*) { return FALSE; }
int refuseAdjust(struct timex*) {
  errno = EPERM;
  return -1;
}
int64_t count() { return int64_t{virtualTick} * 1000; }
const ClockDriver testClock{tick, noLocalTime, noLocalTime, count, nullptr, refuseSet, refuseAdjust};

// Timers: jump to the next one. Sockets: wait for them in real time, but a
// test that would wait forever is stopped instead.
void testWait(int32_t timeoutMs) {
  if (socketsWatched()) {
    int32_t slice = timeoutMs < 0 || timeoutMs > 2000 ? 2000 : timeoutMs;
    if (pollEvents(slice)) return;
    if (timeoutMs < 0) return terminateLoops();
  }
  if (timeoutMs >= 0) virtualTick += static_cast<uint32_t>(timeoutMs);
  else terminateLoops();
}

std::vector<HWND> openedBoxes;
void recordBox(HWND box) { openedBoxes.push_back(box); }

FrontEnd testFrontEnd = [] {
  FrontEnd f;
  f.wait = testWait;
  f.boxOpened = recordBox;
  return f;
}();

class Platform : public ::testing::Test {
 protected:
  void SetUp() override {
    resetWindowing();
    virtualTick = 1000;
    openedBoxes.clear();
    useClockDriver(&testClock);
    useFrontEnd(&testFrontEnd);
  }
  void TearDown() override {
    useFrontEnd(nullptr);
    useClockDriver(nullptr);
    resetWindowing();
  }
};

// Script state for the dialog procedures below.
struct Script {
  std::vector<UINT_PTR> timers;
  std::vector<uint32_t> timerTicks;
  bool timerSawBox = false;
  int boxResult = 0;
  INT_PTR innerResult = 0;
  HWND outer = nullptr;
  std::vector<LPARAM> socketEvents;
} script;

INT_PTR CALLBACK threeTicks(HWND d, UINT m, WPARAM w, LPARAM) {
  if (m == WM_INITDIALOG) SetTimer(d, 7, 100, nullptr);
  if (m == WM_TIMER) {
    script.timers.push_back(w);
    script.timerTicks.push_back(virtualTick);
    if (script.timers.size() == 3) EndDialog(d, 42);
  }
  return m == WM_INITDIALOG;
}

TEST_F(Platform, TimersRepeatAtTheirPeriodUntilTheDialogEnds) {
  script = Script();
  EXPECT_EQ(DialogBoxParamA(programInstance(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, threeTicks, 0), 42);
  EXPECT_EQ(script.timers, (std::vector<UINT_PTR>{7, 7, 7}));
  EXPECT_EQ(script.timerTicks, (std::vector<uint32_t>{1100, 1200, 1300}));
}

INT_PTR CALLBACK boxThenTimer(HWND d, UINT m, WPARAM, LPARAM) {
  if (m == WM_INITDIALOG) {
    SetTimer(d, 1, 5000, nullptr);
    PostMessageA(d, WM_USER, 0, 0);
  } else if (m == WM_USER) {
    script.boxResult = MessageBoxA(d, "question", "Big Change", MB_YESNOCANCEL | MB_ICONEXCLAMATION);
    EndDialog(d, 3);
  } else if (m == WM_TIMER) {
    KillTimer(d, 1);
    script.timerSawBox = !openedBoxes.empty() && IsWindow(openedBoxes.back());
    answerBox(openedBoxes.back(), IDNO);
  }
  return m == WM_INITDIALOG;
}

TEST_F(Platform, ATimerFiringWhileABoxIsOpenReachesTheDialog) {
  script = Script();
  EXPECT_EQ(DialogBoxParamA(programInstance(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, boxThenTimer, 0), 3);
  EXPECT_TRUE(script.timerSawBox);
  EXPECT_EQ(script.boxResult, IDNO);
  EXPECT_EQ(virtualTick, 6000u);
}

INT_PTR CALLBACK innerDialog(HWND d, UINT m, WPARAM, LPARAM) {
  if (m == WM_INITDIALOG) SetTimer(d, 2, 3000, nullptr);
  if (m == WM_TIMER) EndDialog(d, 11);
  return m == WM_INITDIALOG;
}

INT_PTR CALLBACK outerDialog(HWND d, UINT m, WPARAM, LPARAM) {
  if (m == WM_INITDIALOG) {
    script.outer = d;
    SetTimer(d, 1, 1000, nullptr);
    PostMessageA(d, WM_USER, 0, 0);
  } else if (m == WM_USER) {
    script.innerResult = DialogBoxParamA(programInstance(), MAKEINTRESOURCEA(IDD_ADVANCED), d, innerDialog, 0);
  } else if (m == WM_TIMER) {
    KillTimer(d, 1);
    EndDialog(d, 9);  // while the inner dialog's loop runs
  }
  return m == WM_INITDIALOG;
}

TEST_F(Platform, EndDialogFromInsideANestedLoopTakesEffectWhenItReturns) {
  script = Script();
  EXPECT_EQ(DialogBoxParamA(programInstance(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, outerDialog, 0), 9);
  EXPECT_EQ(script.innerResult, 11);  // the inner dialog ran to its own end
  EXPECT_EQ(virtualTick, 4000u);
  EXPECT_FALSE(IsWindow(script.outer));
}

INT_PTR CALLBACK missingTemplate(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST_F(Platform, AMissingTemplateGivesMinusOne) {
  EXPECT_EQ(DialogBoxParamA(programInstance(), MAKEINTRESOURCEA(999), nullptr, missingTemplate, 0), -1);
}

// A listening loopback socket on an ephemeral port.
struct Listener {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  Listener() {
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::listen(fd, 4);
  }
  ~Listener() { ::close(fd); }
};

constexpr UINT socketMessage = WM_USER + 2;

TEST_F(Platform, AsyncSelectReportsConnectAndEachReadinessOnce) {
  script = Script();
  Listener server;
  SOCKET s = kronSocket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  ASSERT_EQ(kronConnect(s, reinterpret_cast<sockaddr*>(&server.address), sizeof server.address), 0);
  int peer = ::accept(server.fd, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ASSERT_EQ(::write(peer, "ab", 2), 2);

  // The dialog exists only to receive the notifications.
  struct Watch {
    static INT_PTR CALLBACK proc(HWND d, UINT m, WPARAM w, LPARAM l) {
      if (m == WM_INITDIALOG) {
        WSAAsyncSelect(static_cast<SOCKET>(l), d, socketMessage, FD_READ | FD_CONNECT);
        return TRUE;
      }
      if (m == socketMessage) {
        script.socketEvents.push_back(l);
        SOCKET s = static_cast<SOCKET>(w);
        char byte;
        if (WSAGETSELECTEVENT(l) == FD_READ && kronRecv(s, &byte, 1, 0) <= 0) EndDialog(d, 1);
      }
      return FALSE;
    }
  };
  std::thread closer([peer] {
    usleep(100000);
    ::close(peer);
  });
  EXPECT_EQ(DialogBoxParamA(programInstance(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, Watch::proc,
                            static_cast<LPARAM>(s)), 1);
  closer.join();
  // Connect, then one read per byte (each recv re-arms), then the close.
  std::vector<LPARAM> expected{FD_CONNECT, FD_READ, FD_READ, FD_READ};
  EXPECT_EQ(script.socketEvents, expected);
  closesocket(s);
}

// Registers the socket in lParam for reads and ends itself after 500 ms.
INT_PTR CALLBACK halfSecondWatch(HWND d, UINT m, WPARAM, LPARAM l) {
  if (m == WM_INITDIALOG) {
    WSAAsyncSelect(static_cast<SOCKET>(l), d, socketMessage, FD_READ);
    SetTimer(d, 1, 500, nullptr);
  }
  if (m == socketMessage) script.socketEvents.push_back(l);
  if (m == WM_TIMER) EndDialog(d, 0);
  return m == WM_INITDIALOG;
}

TEST_F(Platform, AsyncSelectPostsOneReadUntilRecvRearmsIt) {
  script = Script();
  Listener server;
  SOCKET s = kronSocket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(kronConnect(s, reinterpret_cast<sockaddr*>(&server.address), sizeof server.address), 0);
  int peer = ::accept(server.fd, nullptr, nullptr);
  ASSERT_EQ(::write(peer, "abcd", 4), 4);
  EXPECT_EQ(WSAAsyncSelect(s, nullptr, socketMessage, FD_READ), SOCKET_ERROR);  // no window
  DialogBoxParamA(programInstance(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, halfSecondWatch,
                  static_cast<LPARAM>(s));
  EXPECT_EQ(script.socketEvents, std::vector<LPARAM>{FD_READ});  // unread data: no repeat
  ::close(peer);
  closesocket(s);
}

TEST_F(Platform, RefusedConnectIsWinsockError10061) {
  sockaddr_in nowhere;
  {
    Listener probe;  // a port that was just free and now has no listener
    nowhere = probe.address;
  }
  SOCKET s = kronSocket(AF_INET, SOCK_STREAM, 0);
  EXPECT_EQ(kronConnect(s, reinterpret_cast<sockaddr*>(&nowhere), sizeof nowhere), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), 10061);
  closesocket(s);
}

TEST_F(Platform, UnresolvableNameIsAResolverError) {
  EXPECT_EQ(kronGetHostByName("no-such-host.invalid"), nullptr);
  int code = WSAGetLastError();
  EXPECT_TRUE(code == 11001 || code == 11002 || code == 11004) << code;
  EXPECT_EQ(kronInetAddr("255.255.255.255"), INADDR_NONE);
  EXPECT_EQ(kronInetAddr("127.0.0.1"), htonl(INADDR_LOOPBACK));
}

// GetModuleFileNameA names the running program, cut to the buffer as on
// Windows: the length without the terminator, or the size when cut.
TEST(ModuleFileName, TheProgramItselfCutToTheBuffer) {
  char own[4096];
  ssize_t length = readlink("/proc/self/exe", own, sizeof own - 1);
  ASSERT_GT(length, 4);
  own[length] = '\0';
  const struct {
    DWORD size;
    DWORD result;
    std::string text;
  } rows[] = {
      {static_cast<DWORD>(sizeof own), static_cast<DWORD>(length), own},
      {static_cast<DWORD>(length + 1), static_cast<DWORD>(length), own},
      {static_cast<DWORD>(length), static_cast<DWORD>(length), std::string(own, static_cast<size_t>(length - 1))},
      {4, 4, std::string(own, 3)},
  };
  for (const auto& row : rows) {
    char name[4096];
    EXPECT_EQ(GetModuleFileNameA(nullptr, name, row.size), row.result) << row.size;
    EXPECT_EQ(name, row.text) << row.size;
  }
  EXPECT_EQ(GetModuleFileNameA(nullptr, own, 0), 0u);
}

}  // namespace
