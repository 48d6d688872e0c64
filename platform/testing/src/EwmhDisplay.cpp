#include "testing/EwmhDisplay.h"

#include <cstdlib>
#include <string>

namespace corvimus::testing {

void EwmhDisplayTest::SetUp() {
  if (!XvfbServer::Available()) GTEST_SKIP() << "Xvfb is not installed";
  std::string why;
  ASSERT_TRUE(server_.Start(&why)) << why;
  setenv("DISPLAY", server_.display().c_str(), 1);
  conn_ = xcb_connect(server_.display().c_str(), &screen_);
  ASSERT_FALSE(xcb_connection_has_error(conn_));
  ASSERT_TRUE(xcb_ewmh_init_atoms_replies(&ewmh_, xcb_ewmh_init_atoms(conn_, &ewmh_), nullptr));
  ewmhReady_ = true;
}

void EwmhDisplayTest::TearDown() {
  if (ewmhReady_) xcb_ewmh_connection_wipe(&ewmh_);
  if (conn_) xcb_disconnect(conn_);
  unsetenv("DISPLAY");
}

void EwmhDisplayTest::RoundTrip() {
  std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
}

void EwmhDisplayTest::Activate(xcb_window_t window) {
  xcb_ewmh_set_active_window(&ewmh_, screen_, window);
  RoundTrip();
}

}  // namespace corvimus::testing
