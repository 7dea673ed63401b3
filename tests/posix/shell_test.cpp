// The program's frame run whole through the test driver: start-up, the host
// window, the Winsock check and the ordered exit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/appstate.h"
#include "platform/posix/ini/store.h"
#include "program/shell.h"
#include "tests/driver/driver.h"
#include "tests/support/support.h"
#include "ui/res/resource.h"

namespace {

std::string fileText(const std::string& path) { return readFileBytes(path); }

AppState* stateOf(const Driver& d) {
  return reinterpret_cast<AppState*>(GetWindowLongPtrA(d.host(), 0));
}

TEST(Shell, StartsOpensTheMainDialogAndSavesOnClose) {
  Driver d;
  d.start();
  ASSERT_NE(d.host(), nullptr);
  EXPECT_EQ(d.caption(d.host()), "kronSec");
  EXPECT_FALSE(IsWindowVisible(d.host()));
  ASSERT_NE(d.dialog(), nullptr);
  EXPECT_EQ(d.caption(d.dialog()), "Kronsec");
  EXPECT_EQ(d.text(IDC_HOST), "time.nist.gov");
  // Nothing reaches the disk before the exit, which saves in one go.
  EXPECT_FALSE(fileExists(d.configPath("orv.ini")));
  EXPECT_FALSE(fileExists(d.configPath("win.ini")));

  d.click(IDC_CLOSE);
  EXPECT_TRUE(d.exited());
  EXPECT_EQ(d.exitCode(), 0);
  std::string sounds = fileText(d.configPath("win.ini"));
  EXPECT_TRUE(contains(sounds, "kronsecMaxAdj=,kronsec Max Adjust")) << sounds;
  std::string ini = fileText(d.configPath("orv.ini"));
  for (const char* key : {"months=Jan:Feb:", "host=time.nist.gov", "attempts=3", "useDST=1",
                          "useTZ=0", "TZindex=-1", "useCustom=0"})
    EXPECT_TRUE(contains(ini, key)) << key << " in\n" << ini;
}

TEST(Shell, EscapeIsTheCloseCommand) {
  Driver d;
  d.start();
  d.escape();
  EXPECT_TRUE(d.exited());
  EXPECT_EQ(d.exitCode(), 0);
}

TEST(Shell, CloseIsIgnoredWhileAQueryRuns) {
  Driver d;
  d.start();
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  stateOf(d)->sock = static_cast<SOCKET>(fds[0]);
  d.click(IDC_CLOSE);
  EXPECT_FALSE(d.exited());
  // Closing the program from outside still runs the exit, which closes it.
  d.requestClose();
  EXPECT_TRUE(d.exited());
  EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);  // the query's socket was closed
  EXPECT_TRUE(fileExists(d.configPath("orv.ini")));
  close(fds[1]);
}

struct FailedStart {
  const char* name;
  DriverOptions options;
  const char* caption;
  const char* text;
  bool ownedByHost;
  int exitCode;
};

DriverOptions withStartupError(int error) {
  DriverOptions o;
  o.winsockStartupError = error;
  return o;
}

DriverOptions withVersion(WORD version) {
  DriverOptions o;
  o.winsockVersion = version;
  return o;
}

DriverOptions withClassTaken() {
  DriverOptions o;
  o.hostClassTaken = true;
  return o;
}

TEST(Shell, FailedStartsShowTheirBoxAndWriteNoSettings) {
  const FailedStart rows[] = {
      {"class", withClassTaken(), "Windows Error", "Unable to register kronsec class!", false, 0},
      {"winsock", withStartupError(10091), "Winsock Error", "Could not find winsock.dll!", true, 1},
      {"version 1.0", withVersion(MAKEWORD(1, 0)), "Winsock Error", "Wrong winsock version", true, 1},
      {"version 2.2", withVersion(MAKEWORD(2, 2)), "Winsock Error", "Wrong winsock version", true, 1},
  };
  for (const FailedStart& row : rows) {
    Driver d(row.options);
    d.start();
    ASSERT_NE(d.box(), nullptr) << row.name;
    d.answer(IDOK);
    EXPECT_TRUE(d.exited()) << row.name;
    EXPECT_EQ(d.exitCode(), row.exitCode) << row.name;
    ASSERT_EQ(d.boxes().size(), 1u) << row.name;
    EXPECT_EQ(d.boxes()[0].caption, row.caption);
    EXPECT_EQ(d.boxes()[0].text, row.text);
    EXPECT_EQ(d.boxes()[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(d.boxes()[0].owner != nullptr, row.ownedByHost) << row.name;
    EXPECT_FALSE(fileExists(d.configPath("orv.ini"))) << row.name;
    // The sound entries were registered while the host window was created;
    // they reach the disk as the process ends.
    ini::flushProfiles();
    EXPECT_FALSE(fileExists(d.configPath("orv.ini"))) << row.name;
    EXPECT_EQ(fileExists(d.configPath("win.ini")), row.ownedByHost) << row.name;
  }
}

TEST(Shell, HostWindowIgnoresEverySystemCommandButClose) {
  Driver d;
  d.start();
  for (WPARAM command : {SC_RESTORE, SC_MOVE, SC_MAXIMIZE, SC_MINIMIZE, SC_CLOSE + 1})
    SendMessageA(d.host(), WM_SYSCOMMAND, command, 0);
  EXPECT_NE(d.host(), nullptr);
  PostMessageA(d.host(), WM_SYSCOMMAND, SC_CLOSE, 0);
  d.run();
  EXPECT_TRUE(d.exited());
  EXPECT_EQ(d.exitCode(), 0);
  EXPECT_TRUE(fileExists(d.configPath("orv.ini")));
}

TEST(Shell, AConfigurationFolderThatCannotExistGivesDefaults) {
  Driver d;
  std::string folder = d.configPath("");
  folder.pop_back();
  writeFileBytes(folder, "a file where the folder should be");
  d.start();
  EXPECT_EQ(d.text(IDC_HOST), "time.nist.gov");
  d.click(IDC_CLOSE);
  EXPECT_TRUE(d.exited());
  EXPECT_EQ(d.exitCode(), 0);
  EXPECT_FALSE(fileExists(d.configPath("orv.ini")));
}

}  // namespace
