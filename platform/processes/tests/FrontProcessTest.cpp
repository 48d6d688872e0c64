#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdlib>
#include <string>

#include "platform/Processes.h"
#include "testing/ChildProcess.h"
#include "testing/EwmhDisplay.h"

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
