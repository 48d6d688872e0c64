// Active-window change notices from a real X server.
#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/FrontSwitch.h"
#include "testing/EwmhDisplay.h"

namespace {

class FrontSwitchTest : public corvimus::testing::EwmhDisplayTest {
 protected:
  void SetOtherRootProperty() {
    xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, ewmh_.screens[screen_]->root,
                        ewmh_._NET_CLIENT_LIST, XCB_ATOM_WINDOW, 32, 0, nullptr);
    RoundTrip();
  }
  // Waits for the watcher's descriptor, then drains it.
  Boolean WaitAndDrain(FrontSwitchWatcherRef watcher, int timeoutMs, Boolean* lost = nullptr) {
    pollfd p = {GetFrontSwitchWatcherDescriptor(watcher), POLLIN, 0};
    poll(&p, 1, timeoutMs);
    return DrainFrontSwitchWatcher(watcher, lost);
  }
};

TEST_F(FrontSwitchTest, ReportsActiveWindowChangesOnly) {
  FrontSwitchWatcherRef watcher = nullptr;
  ASSERT_EQ(noErr, NewFrontSwitchWatcher(&watcher));
  ASSERT_GE(GetFrontSwitchWatcherDescriptor(watcher), 0);
  EXPECT_FALSE(DrainFrontSwitchWatcher(watcher, nullptr));  // nothing happened yet

  Activate(0x200001);
  EXPECT_TRUE(WaitAndDrain(watcher, 5000));
  EXPECT_FALSE(DrainFrontSwitchWatcher(watcher, nullptr));  // drained: no second report

  SetOtherRootProperty();
  EXPECT_FALSE(WaitAndDrain(watcher, 200));

  // Several changes before one drain come out as one report.
  Activate(0x200002);
  Activate(0x200003);
  EXPECT_TRUE(WaitAndDrain(watcher, 5000));

  // Removing the property is a change too (no window is active any more).
  xcb_delete_property(conn_, ewmh_.screens[screen_]->root, ewmh_._NET_ACTIVE_WINDOW);
  RoundTrip();
  EXPECT_TRUE(WaitAndDrain(watcher, 5000));
  DisposeFrontSwitchWatcher(watcher);
}

TEST_F(FrontSwitchTest, LosingTheServerIsReportedOnce) {
  FrontSwitchWatcherRef watcher = nullptr;
  ASSERT_EQ(noErr, NewFrontSwitchWatcher(&watcher));
  server_.Stop();
  Boolean lost = false;
  WaitAndDrain(watcher, 5000, &lost);
  EXPECT_TRUE(lost);
  EXPECT_EQ(-1, GetFrontSwitchWatcherDescriptor(watcher));
  EXPECT_FALSE(DrainFrontSwitchWatcher(watcher, &lost));
  EXPECT_TRUE(lost);
  DisposeFrontSwitchWatcher(watcher);
}

TEST(FrontSwitchWatcher, NoDisplayMeansNoWatcher) {
  std::string old = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
  FrontSwitchWatcherRef watcher = reinterpret_cast<FrontSwitchWatcherRef>(1);
  unsetenv("DISPLAY");
  EXPECT_EQ(kFrontSwitchNoDisplayErr, NewFrontSwitchWatcher(&watcher));
  EXPECT_EQ(nullptr, watcher);
  // A display nobody serves.
  setenv("DISPLAY", ":4093", 1);
  EXPECT_EQ(kFrontSwitchNoDisplayErr, NewFrontSwitchWatcher(&watcher));
  EXPECT_EQ(nullptr, watcher);
  if (old.empty())
    unsetenv("DISPLAY");
  else
    setenv("DISPLAY", old.c_str(), 1);
  EXPECT_EQ(paramErr, NewFrontSwitchWatcher(nullptr));
  EXPECT_FALSE(DrainFrontSwitchWatcher(nullptr, nullptr));
  EXPECT_EQ(-1, GetFrontSwitchWatcherDescriptor(nullptr));
}

}  // namespace
