// The whole road with real processes: the simulated driver, the agent and the tester, on a private
// X server whose active window the test sets as a window manager would.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Processes.h"
#include "settings/CorvimusEvents.h"
#include "settings/CorvimusPrefs.h"
#include "settings/PaneAgentEvents.h"
#include "testing/ChildProcess.h"
#include "testing/EwmhDisplay.h"
#include "testing/TempDir.h"

namespace {

using corvimus::testing::ChildProcess;

class ButtonTesterRoad : public corvimus::testing::EwmhDisplayTest {
 protected:
  void SetUp() override {
    EwmhDisplayTest::SetUp();
    if (IsSkipped()) return;
    for (const char* dir : {"run", "config", "home"})
      std::filesystem::create_directories(root_ / dir);
    chmod((root_ / "run").c_str(), 0700);
    for (auto [name, dir] : {std::pair{"XDG_RUNTIME_DIR", "run"},
                             std::pair{"XDG_CONFIG_HOME", "config"}, std::pair{"HOME", "home"}})
      setenv(name, (root_ / dir).c_str(), 1);
    SetProcessScopeForTesting(getpid());
  }
  void TearDown() override {
    agent_.Signal(SIGKILL);
    agent_.Wait(5000);
    tester_.Signal(SIGKILL);
    tester_.Wait(5000);
    if (sim_.running()) sim_.Command("quit");
    sim_.Wait(5000);
    SetProcessScopeForTesting(0);
    EwmhDisplayTest::TearDown();
  }

  // The top-level window of a process, found by the _NET_WM_PID that Qt sets; 0 when none.
  xcb_window_t WindowOf(pid_t pid) {
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(conn_, xcb_query_tree(conn_, ewmh_.screens[screen_]->root), nullptr);
    if (!tree) return 0;
    xcb_window_t found = 0;
    xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
      uint32_t windowPid = 0;
      if (xcb_ewmh_get_wm_pid_reply(&ewmh_, xcb_ewmh_get_wm_pid(&ewmh_, children[i]), &windowPid,
                                    nullptr) &&
          pid_t(windowPid) == pid)
        found = children[i];
    }
    free(tree);
    return found;
  }

  corvimus::testing::TempDir root_;
  ChildProcess sim_, agent_, tester_;
};

TEST_F(ButtonTesterRoad, InFrontItIsToldEveryPressAndNamesTheControl) {
  ASSERT_TRUE(sim_.Start({CORVIMUS_SIMDRIVER, "--mice", "2", "--bluetooth", "1"}));
  std::string line;
  ASSERT_TRUE(sim_.ReadLine(&line));
  ASSERT_EQ(line.rfind("ready", 0), 0u) << line;
  const std::string display = "DISPLAY=" + server_.display();
  ASSERT_TRUE(tester_.Start({std::string(TESTER_BUNDLE) + "/Contents/MacOS/Mouse Button Tester"},
                            {display, "QT_QPA_PLATFORM=xcb", "LANGUAGE=en", "LC_ALL=C"}));
  ASSERT_TRUE(tester_.ReadLine(&line, 20000));
  ASSERT_EQ(line, "ready");
  ASSERT_TRUE(agent_.Start({CORVIMUS_HELPER}, {display}));

  xcb_window_t window = 0;
  for (int i = 0; i < 200 && !window; ++i) {
    window = WindowOf(tester_.pid());
    if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_NE(window, 0u) << "the tester shows no window";
  Activate(window);

  // Once the agent has seen the tester in front the mouse reports instead of remapping; until then
  // a press is simply remapped and the tester hears nothing.
  bool heard = false;
  for (int attempt = 0; attempt < 60 && !heard; ++attempt) {
    ASSERT_EQ(sim_.Command("press 1 C5").rfind("ok", 0), 0u);
    heard = tester_.ReadLine(&line, 250) && line == "Button 6 pressed";
  }
  ASSERT_TRUE(heard) << "last line: " << line;
  ASSERT_TRUE(tester_.ReadLine(&line));
  EXPECT_EQ(line, "Button 6 released");
  ASSERT_EQ(sim_.Command("press 2 tilt-left").rfind("ok", 0), 0u);
  ASSERT_TRUE(tester_.ReadLine(&line));
  EXPECT_EQ(line.rfind("Wheel tilted left", 0), 0u) << line;

  // The agent tells the pane the same: the tester in front, nothing remapped, both mice on the
  // simulated driver, each with its link.
  CorvimusAgentStatus status;
  OSErr err = noErr;
  for (int i = 0; i < 40 && (err = GetAgentStatus(&status)) != noErr; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(err, noErr);
  EXPECT_EQ(status.recordKind, kRecordKindOwnApplication);
  EXPECT_EQ(status.frontSignature, kCorvimusAppSignature);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(status.frontName + 1), status.frontName[0]),
            "Mouse Button Tester");
  EXPECT_EQ(status.driversLinked, kDriverLinkedUser);
  ASSERT_EQ(status.count, 2);
  EXPECT_EQ(status.mouse[0].driverPlace, kDriverPlaceUser);
  EXPECT_STREQ(status.mouse[0].link, "Bluetooth");
  EXPECT_STREQ(status.mouse[1].link, "USB");
}

}  // namespace
