#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

  Boolean same = false;
  Activate(w1);
  ASSERT_EQ(GetFrontProcess(&front), noErr);
  ASSERT_EQ(SameProcess(&front, &expected1, &same), noErr);
  EXPECT_TRUE(same);

  Activate(w2);
  ASSERT_EQ(GetFrontProcess(&front), noErr);
  ASSERT_EQ(SameProcess(&front, &expected2, &same), noErr);
  EXPECT_TRUE(same);

  // A window that does not say whose it is: an application nobody can name.
  Activate(w3);
  EXPECT_EQ(GetFrontProcess(&front), kFrontProcessUnknownErr);

  Activate(w1);
  ASSERT_EQ(GetFrontProcess(&front), noErr);
  ASSERT_EQ(SameProcess(&front, &expected1, &same), noErr);
  EXPECT_TRUE(same);

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

  ProcessSerialNumber front;
  ASSERT_EQ(GetFrontProcess(&front), noErr);
  Str255 name;
  ProcessInfoRec info{};
  info.processName = name;
  ASSERT_EQ(GetProcessInformation(&front, &info), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "org.example.Wrapped");
  unsetenv("XDG_DATA_HOME");
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
