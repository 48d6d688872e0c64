// The agent on a sway desktop: the front application from sway's IPC, as the window events say.
#include <filesystem>
#include <thread>

#include "DesktopSession.h"

namespace agenttest {
namespace {

namespace fs = std::filesystem;

class SwaySession : public DesktopSession {
 protected:
  void SetUp() override {
    DesktopSession::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string sway = FindProgram("sway");
    if (sway.empty()) GTEST_SKIP() << "sway is not installed (package sway)";
    corvimus::testing::WriteFile(root_ / "sway.conf", "xwayland enable\n");
    sway_ = Spawn({sway, "-c", root_ / "sway.conf"},
                  {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"});
    ASSERT_NE(nullptr, sway_);
    // Ready once its IPC socket and its Wayland socket are there.
    for (int i = 0; i < 1000 && (env_["SWAYSOCK"].empty() || env_["WAYLAND_DISPLAY"].empty());
         ++i) {
      std::error_code ec;
      for (auto& e : fs::directory_iterator(runtime_, ec)) {
        std::string name = e.path().filename();
        if (name.rfind("sway-ipc.", 0) == 0) env_["SWAYSOCK"] = e.path();
        if (name.rfind("wayland-", 0) == 0 && !name.ends_with(".lock"))
          env_["WAYLAND_DISPLAY"] = name;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(env_["SWAYSOCK"].empty()) << "sway did not start";
  }

  void Focus(const std::string& title) {
    ASSERT_EQ(0, RunAsUser({FindProgram("swaymsg"), "[title=\"^" + title + "$\"] focus"}));
  }

  corvimus::testing::ChildProcess* sway_ = nullptr;
};

TEST_F(SwaySession, RecordsFollowTheFocusedWindow) {
  ASSERT_NO_FATAL_FAILURE(StartAgentSession());
  ASSERT_NO_FATAL_FAILURE(SwitchThroughTheApplications([this] { Focus("alpha"); }));
  Focus("beta");
  ExpectBothMice(kBetaSpeed, "back to the wrapper's window");
  // An X11 window through XWayland comes with its pid: xmessage has no record.
  ASSERT_EQ(0, RunAsUser({FindProgram("swaymsg"), "exec xmessage -title xmsg corvimus"}));
  ExpectBothMice(kGlobalSpeed, "an XWayland window");
  Focus("gamma");
  ExpectBothMice(kGammaSpeed, "back to the sandboxed application");
}

}  // namespace
}  // namespace agenttest
