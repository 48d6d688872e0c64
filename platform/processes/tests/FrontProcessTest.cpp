#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Processes.h"
#include "testing/ChildProcess.h"
#include "testing/EwmhDisplay.h"
#include "testing/TempDir.h"

using corvimus::testing::ChildProcess;

namespace {

class FrontProcessTest : public corvimus::testing::EwmhDisplayTest {
 protected:
  void OpenWindow(ChildProcess* child, xcb_window_t* window, bool withPid = true) {
    std::vector<std::string> argv = {TEST_WINDOW_PATH};
    if (!withPid) argv.push_back("--no-pid");
    ASSERT_TRUE(child->Start(argv));
    std::string line;
    ASSERT_TRUE(child->ReadLine(&line));
    *window = xcb_window_t(std::stoul(line));
  }

  // The server tells the Process Manager's own connection about a change on its own schedule, a
  // moment after it answered the round trip above: wait (up to 5 s) for the answer to follow.
  OSErr FrontAfterChange(ProcessSerialNumber* front, const ProcessSerialNumber* expected) {
    OSErr err = noErr;
    for (int i = 0; i < 500; ++i) {
      err = GetFrontProcess(front);
      Boolean same = false;
      if (expected ? err == noErr && SameProcess(front, expected, &same) == noErr && same
                   : err != noErr)
        return err;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return err;
  }
};

TEST_F(FrontProcessTest, FollowsTheActiveWindow) {
  ChildProcess first, second, nameless;
  xcb_window_t w1, w2, w3;
  ASSERT_NO_FATAL_FAILURE(OpenWindow(&first, &w1));
  ASSERT_NO_FATAL_FAILURE(OpenWindow(&second, &w2));
  ASSERT_NO_FATAL_FAILURE(OpenWindow(&nameless, &w3, false));
  ProcessSerialNumber expected1, expected2, front;
  ASSERT_EQ(GetProcessForPID(first.pid(), &expected1), noErr);
  ASSERT_EQ(GetProcessForPID(second.pid(), &expected2), noErr);

  // No active window yet.
  EXPECT_EQ(GetFrontProcess(&front), procNotFound);

  Activate(w1);
  EXPECT_EQ(FrontAfterChange(&front, &expected1), noErr);

  Activate(w2);
  EXPECT_EQ(FrontAfterChange(&front, &expected2), noErr);

  // A window that does not say whose it is: an application nobody can name.
  Activate(w3);
  EXPECT_EQ(FrontAfterChange(&front, nullptr), kFrontProcessUnknownErr);

  Activate(w1);
  EXPECT_EQ(FrontAfterChange(&front, &expected1), noErr);

  // The process behind the window ends: its serial number is not handed out any more.
  first.CloseInput();
  int status;
  ASSERT_TRUE(first.Wait(&status));
  EXPECT_EQ(GetFrontProcess(&front), procNotFound);
}

TEST_F(FrontProcessTest, ActiveWindowsClassNamesItsProcess) {
  // A process that shows no window itself: the window below names it, as a wrapper's would.
  corvimus::testing::TempDir data;
  std::filesystem::create_directories(data / "applications");
  corvimus::testing::WriteFile(data / "applications/org.example.Wrapped.desktop",
                               "[Desktop Entry]\nType=Application\nName=Wrapped\n"
                               "Exec=wrapped-launcher\nStartupWMClass=WrappedWin\n");
  setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  ChildProcess sleeper;
  ASSERT_TRUE(sleeper.Start({"/bin/sleep", "60"}));
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data;
  xcb_window_t window = xcb_generate_id(conn_);
  xcb_create_window(conn_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 10, 10, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  uint32_t pid = uint32_t(sleeper.pid());
  xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, window, ewmh_._NET_WM_PID, XCB_ATOM_CARDINAL,
                      32, 1, &pid);
  const char wmClass[] = "wrapped\0WrappedWin";
  xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      sizeof wmClass, wmClass);
  Activate(window);

  ProcessSerialNumber front, expected;
  ASSERT_EQ(GetProcessForPID(sleeper.pid(), &expected), noErr);
  ASSERT_EQ(FrontAfterChange(&front, &expected), noErr);
  Str255 name;
  ProcessInfoRec info{};
  info.processName = name;
  ASSERT_EQ(GetProcessInformation(&front, &info), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "org.example.Wrapped");
  unsetenv("XDG_DATA_HOME");
}

// Both kinds: a thread that waits for the server's reply either sleeps (voluntary) or, when the
// woken server takes its processor at once, is put aside until the reply is there (nonvoluntary).
long SwitchesOfThisThread() {
  std::ifstream in("/proc/thread-self/status");
  long total = -1;
  for (std::string line; std::getline(in, line);) {
    size_t colon = line.find(':');
    if (colon != std::string::npos && line.find("ctxt_switches") != std::string::npos)
      total = (total < 0 ? 0 : total) + std::stol(line.substr(colon + 1));
  }
  return total;
}

// The agent asks twice a second; while nothing changes, asking must not wait for the server, or
// every idle agent would be woken by the server's replies.
TEST_F(FrontProcessTest, AnUnchangedFrontIsAnsweredWithoutWaitingForTheServer) {
  ChildProcess child;
  xcb_window_t window;
  ASSERT_NO_FATAL_FAILURE(OpenWindow(&child, &window));
  ProcessSerialNumber expected, front;
  ASSERT_EQ(GetProcessForPID(child.pid(), &expected), noErr);
  Activate(window);
  ASSERT_EQ(FrontAfterChange(&front, &expected), noErr);

  constexpr int kAsks = 50;
  long before = SwitchesOfThisThread();
  ASSERT_GE(before, 0);
  for (int i = 0; i < kAsks; ++i) ASSERT_EQ(GetFrontProcess(&front), noErr);
  long waits = SwitchesOfThisThread() - before;
  // Each round trip to the server takes this thread off its processor at least once; a few
  // switches may come from elsewhere (another program's turn on a busy machine).
  EXPECT_LT(waits, kAsks / 5) << "the front process cost " << waits << " switches for " << kAsks
                              << " asks";
  Boolean same = false;
  ASSERT_EQ(SameProcess(&front, &expected, &same), noErr);
  EXPECT_TRUE(same);

  // A change of the process the window names is heard too.
  ChildProcess other;
  xcb_window_t otherWindow;
  ASSERT_NO_FATAL_FAILURE(OpenWindow(&other, &otherWindow));
  ProcessSerialNumber otherExpected;
  ASSERT_EQ(GetProcessForPID(other.pid(), &otherExpected), noErr);
  xcb_ewmh_set_wm_pid(&ewmh_, window, uint32_t(other.pid()));
  RoundTrip();
  EXPECT_EQ(FrontAfterChange(&front, &otherExpected), noErr);
}

TEST(FrontProcess, WithoutADisplayThereIsNoFrontProcess) {
  const char* saved = std::getenv("DISPLAY");
  std::string keep = saved ? saved : "";
  unsetenv("DISPLAY");
  ProcessSerialNumber front;
  EXPECT_EQ(GetFrontProcess(&front), procNotFound);
  setenv("DISPLAY", ":9999", 1);  // nobody there
  EXPECT_EQ(GetFrontProcess(&front), procNotFound);
  if (saved)
    setenv("DISPLAY", keep.c_str(), 1);
  else
    unsetenv("DISPLAY");
}

}  // namespace
