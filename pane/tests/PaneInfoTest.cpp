// The Info tab against the real agent and the simulated driver, with a private X server whose
// active window belongs to this test, as a window manager would set it.
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <QElapsedTimer>
#include <QLabel>
#include <functional>

#include "PaneTestSupport.h"
#include "settings/CorvimusEvents.h"
#include "settings/PaneAgentEvents.h"
#include "settings/Version.h"
#include "testing/XvfbServer.h"

namespace {

class PaneInfoTest : public PaneTest {
 protected:
  void SetUp() override {
    if (!corvimus::testing::XvfbServer::Available()) GTEST_SKIP() << "Xvfb is not installed";
    PaneTest::SetUp();
    std::string why;
    ASSERT_TRUE(x_.Start(&why)) << why;
    // The pane runs on the desktop whose front it shows: it asks the agent of its own session,
    // which the display tells.
    if (const char* display = getenv("DISPLAY")) savedDisplay_ = display;
    setenv("DISPLAY", x_.display().c_str(), 1);
  }
  void TearDown() override {
    if (savedDisplay_.empty())
      unsetenv("DISPLAY");
    else
      setenv("DISPLAY", savedDisplay_.c_str(), 1);
    realAgent_.Signal(SIGKILL);
    realAgent_.Wait(5000);
    if (sim_.running()) sim_.Command("quit");
    sim_.Wait(5000);
    if (conn_) {
      xcb_ewmh_connection_wipe(&ewmh_);
      xcb_disconnect(conn_);
    }
    PaneTest::TearDown();
  }

  void StartSimulator(int mice, int bluetooth) {
    ASSERT_TRUE(sim_.Start({CORVIMUS_SIMDRIVER, "--mice", std::to_string(mice), "--bluetooth",
                            std::to_string(bluetooth)}));
    std::string line;
    ASSERT_TRUE(sim_.ReadLine(&line));
    ASSERT_EQ(line.rfind("ready", 0), 0u) << line;
  }

  // Shows a window of this process and makes it the active one: the test is the application in
  // front.
  void BringThisProcessToFront() {
    conn_ = xcb_connect(x_.display().c_str(), &screen_);
    ASSERT_FALSE(xcb_connection_has_error(conn_));
    ASSERT_TRUE(xcb_ewmh_init_atoms_replies(&ewmh_, xcb_ewmh_init_atoms(conn_, &ewmh_), nullptr));
    xcb_screen_t* screen = ewmh_.screens[screen_];
    xcb_window_t window = xcb_generate_id(conn_);
    xcb_create_window(conn_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 32, 32, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_ewmh_set_wm_pid(&ewmh_, window, uint32_t(getpid()));
    xcb_map_window(conn_, window);
    xcb_ewmh_set_active_window(&ewmh_, screen_, window);
    free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
  }

  // Refreshes the tab as its timer does until `done` holds (at most 15 s).
  bool WaitForInfo(const std::function<bool()>& done) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 15000) {
      pane_->CountConnectedMice();
      pane_->RefreshInfo();
      if (done()) return true;
      QApplication::processEvents(QEventLoop::AllEvents, 100);
    }
    return false;
  }

  corvimus::testing::XvfbServer x_;
  corvimus::testing::ChildProcess sim_, realAgent_;
  xcb_connection_t* conn_ = nullptr;
  xcb_ewmh_connection_t ewmh_{};
  int screen_ = 0;
  std::string savedDisplay_;
};

std::string Text(QLabel* label) {
  return label->text().toStdString();
}

}  // namespace

TEST_F(PaneInfoTest, ShowsWhatRunsAndWhatIsInForceAsTheAgentSeesIt) {
  OpenPane();
  EXPECT_EQ(Text(pane_->outletInfoVersion),
            std::string("Mouse Buttons ") + CorvimusVersionString());
  pane_->RefreshInfo();
  EXPECT_EQ(Text(pane_->outletInfoAgent), "Not running: the settings reach no mouse");
  EXPECT_EQ(Text(pane_->outletInfoDriver), "Unknown while the agent does not answer");

  StartSimulator(2, 1);
  BringThisProcessToFront();
  ASSERT_TRUE(realAgent_.Start({CORVIMUS_HELPER}, {"DISPLAY=" + x_.display()}));
  // The count and the facts are separate questions to the agent, and the mice connect to it one
  // after the other: wait until both answers show the two mice.
  ASSERT_TRUE(WaitForInfo([&] {
    return Text(pane_->outletInfoFront) == "pane_tests" && Text(pane_->outletInfoCountBth) == "1" &&
           pane_->outletInfoMice->text().count(QChar('\n')) == 1;
  })) << Text(pane_->outletInfoFront)
      << " / " << Text(pane_->outletInfoCountBth);
  EXPECT_EQ(Text(pane_->outletInfoAgent), "Running");
  EXPECT_EQ(Text(pane_->outletInfoDriver), "The simulated driver runs: its mice are not real ones");
  // Each mouse by the name its driver gives it and its link, in the order the agent lists them.
  CorvimusDeviceList devices;
  ASSERT_EQ(GetConnectedDevices(&devices), noErr);
  ASSERT_EQ(devices.count, 2);
  EXPECT_EQ(Text(pane_->outletInfoMice), std::string(devices.device[0].productName) +
                                             ", Bluetooth\n" + devices.device[1].productName +
                                             ", USB");
  EXPECT_EQ(Text(pane_->outletInfoCountBth), "1");
  // No settings file yet: the agent holds the built-in defaults, which change nothing.
  EXPECT_EQ(Text(pane_->outletInfoRecord),
            "The built-in defaults: every button does what it always did");

  // Applying writes the file: the global record is in force for an application without its own.
  pane_->actionPrefsApply();
  EXPECT_TRUE(WaitForInfo([&] {
    return Text(pane_->outletInfoRecord) == "The settings for all applications";
  })) << Text(pane_->outletInfoRecord);
  // This very program gets a record of its own, found by its file name.
  pane_->addPrefsDidEnd(MakeAppBundle("pane_tests", ""), 1);
  pane_->actionPrefsApply();
  EXPECT_TRUE(WaitForInfo([&] {
    return Text(pane_->outletInfoRecord) == "Its own settings (pane_tests)";
  })) << Text(pane_->outletInfoRecord);

  // A mouse arrives, then the agent ends.
  ASSERT_EQ(sim_.Command("add bluetooth").rfind("ok", 0), 0u);
  EXPECT_TRUE(WaitForInfo([&] { return Text(pane_->outletInfoCountBth) == "2"; }));
  EXPECT_EQ(pane_->outletInfoMice->text().count(QChar('\n')), 2) << Text(pane_->outletInfoMice);
  realAgent_.Signal(SIGKILL);
  realAgent_.Wait(5000);
  EXPECT_TRUE(WaitForInfo(
      [&] { return Text(pane_->outletInfoAgent) == "Not running: the settings reach no mouse"; }));
  EXPECT_EQ(Text(pane_->outletInfoMice), "Unknown while the agent does not answer");
}
