// The agent on a KDE Plasma desktop: the front application from the KWin script the agent loads.
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "DesktopSession.h"

namespace agenttest {
namespace {

namespace fs = std::filesystem;

class KWinSession : public DesktopSession {
 protected:
  void SetUp() override {
    DesktopSession::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string kwin = FindProgram("kwin_wayland");
    if (kwin.empty()) GTEST_SKIP() << "KWin is not installed (package kwin-wayland)";
    // The installed program carries a file capability that a container may refuse to execute; a
    // copy has none, and KWin only asks that its file name end in "kwin_wayland".
    std::string copy = root_ / "kwin/kwin_wayland";
    fs::create_directories(root_ / "kwin");
    fs::copy_file(kwin, copy, fs::copy_options::overwrite_existing);
    chmod(copy.c_str(), 0755);
    ASSERT_TRUE(StartBus()) << "no session bus (package dbus)";
    env_["XDG_CURRENT_DESKTOP"] = "KDE";
    env_["WAYLAND_DISPLAY"] = "corvimus-kwin";
    kwin_ = Spawn({copy, "--virtual", "--xwayland", "--socket", "corvimus-kwin"},
                  {"QT_QPA_PLATFORM=wayland-org.kde.kwin.qpa", "KWIN_COMPOSE=Q"});
    ASSERT_NE(nullptr, kwin_);
    // Ready once it answers on the bus.
    bool ready = false;
    for (int i = 0; i < 300 && !ready; ++i) {
      auto r = corvimus::testing::RunProgram(
          AsUser({FindProgram("dbus-send"), "--session", "--print-reply", "--dest=org.kde.KWin",
                  "/Scripting", "org.freedesktop.DBus.Peer.Ping"}),
          {}, SessionEnv(), 5000);
      ready = r.exitCode == 0 && fs::exists(runtime_ + "/corvimus-kwin");
      if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(ready) << "KWin did not start";
  }

  // A one-shot script that activates the window titled `title`.
  void Focus(const std::string& title) {
    std::string name = "corvimus-focus-" + std::to_string(++focusCount_);
    std::string path = root_ / (name + ".js");
    corvimus::testing::WriteFile(
        path, "var all = workspace.clientList();\nfor (var i = 0; i < all.length; ++i)\n"
              "  if (all[i].caption == \"" + title + "\") workspace.activeClient = all[i];\n");
    chmod(path.c_str(), 0644);
    std::string gdbus = FindProgram("gdbus");
    ASSERT_EQ(0, RunAsUser({gdbus, "call", "--session", "-d", "org.kde.KWin", "-o", "/Scripting",
                            "-m", "org.kde.kwin.Scripting.loadScript", path, name}));
    ASSERT_EQ(0, RunAsUser({gdbus, "call", "--session", "-d", "org.kde.KWin", "-o", "/Scripting",
                            "-m", "org.kde.kwin.Scripting.start"}));
    RunAsUser({gdbus, "call", "--session", "-d", "org.kde.KWin", "-o", "/Scripting", "-m",
               "org.kde.kwin.Scripting.unloadScript", name});
  }

  corvimus::testing::ChildProcess* kwin_ = nullptr;
  int focusCount_ = 0;
};

TEST_F(KWinSession, RecordsFollowTheActiveWindow) {
  ASSERT_NO_FATAL_FAILURE(StartAgentSession());
  ASSERT_NO_FATAL_FAILURE(SwitchThroughTheApplications([this] { Focus("alpha"); }));
  Focus("beta");
  ExpectBothMice(kBetaSpeed, "back to the wrapper's window");
}

}  // namespace
}  // namespace agenttest
