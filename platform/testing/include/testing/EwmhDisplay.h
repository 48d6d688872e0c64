// A test on a private X server (Xvfb) with a connection that plays the window manager: it sets the
// root window's _NET_ACTIVE_WINDOW the way a desktop does when a window comes to the front.
#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include "testing/XvfbServer.h"

namespace corvimus::testing {

class EwmhDisplayTest : public ::testing::Test {
 protected:
  // Starts the server and points DISPLAY at it; skips the test when Xvfb is not installed.
  void SetUp() override;
  void TearDown() override;

  // Returns once the server has handled every request sent before.
  void RoundTrip();
  // As a window manager would: the root window's _NET_ACTIVE_WINDOW names the window (0: none).
  void Activate(xcb_window_t window);

  XvfbServer server_;
  xcb_connection_t* conn_ = nullptr;
  xcb_ewmh_connection_t ewmh_{};
  int screen_ = 0;

 private:
  bool ewmhReady_ = false;
};

}  // namespace corvimus::testing
