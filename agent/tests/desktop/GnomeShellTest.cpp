// The agent on a GNOME desktop: the front application from the system's Shell extension, which
// the agent enables for the user.
#include <filesystem>
#include <thread>

#include "DesktopSession.h"
#include "platform/FrontSwitch.h"

namespace agenttest {
namespace {

namespace fs = std::filesystem;

class GnomeShellSession : public DesktopSession {
 protected:
  void SetUp() override {
    DesktopSession::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string shell = FindProgram("gnome-shell");
    if (shell.empty()) GTEST_SKIP() << "GNOME Shell is not installed (package gnome-shell)";
    // Installed among the user's extensions (`./corvimus install` puts it with everyone's); not enabled.
    std::string extensions = env_["XDG_DATA_HOME"] + "/gnome-shell/extensions";
    fs::create_directories(extensions);
    fs::copy(DESKTOP_GNOME_EXTENSION, extensions + "/" + kGnomeShellExtensionUUID,
             fs::copy_options::recursive);
    ASSERT_TRUE(StartBus(true)) << "no session bus (package dbus)";
    env_["XDG_CURRENT_DESKTOP"] = "GNOME";
    env_["XDG_DATA_DIRS"] = "/usr/local/share:/usr/share";  // the Shell's settings schemas
    env_["WAYLAND_DISPLAY"] = "corvimus-gnome";
    shell_ = Spawn({shell, "--headless", "--wayland", "--virtual-monitor", "1024x768",
                    "--wayland-display", "corvimus-gnome"});
    ASSERT_NE(nullptr, shell_);
    bool ready = false;
    for (int i = 0; i < 600 && !ready; ++i) {
      auto r = corvimus::testing::RunProgram(
          AsUser({FindProgram("gdbus"), "call", "--session", "-d", "org.gnome.Shell", "-o",
                  "/org/gnome/Shell", "-m", "org.gnome.Shell.Extensions.ListExtensions"}),
          {}, SessionEnv(), 5000);
      ready = r.exitCode == 0;
      if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(ready) << "GNOME Shell did not start";
  }

  // The overview the Shell starts with keeps new windows from taking the focus; it is asked to go
  // until it has gone (a request during the start-up animation is overtaken by it).
  void HideOverview() {
    std::string gdbus = FindProgram("gdbus");
    for (int i = 0; i < 100; ++i) {
      ASSERT_EQ(0, RunAsUser({gdbus, "call", "--session", "-d", "org.gnome.Shell", "-o",
                              "/org/gnome/Shell", "-m", "org.freedesktop.DBus.Properties.Set",
                              "org.gnome.Shell", "OverviewActive", "<false>"}));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::string active;
      RunAsUser({gdbus, "call", "--session", "-d", "org.gnome.Shell", "-o", "/org/gnome/Shell",
                 "-m", "org.freedesktop.DBus.Properties.Get", "org.gnome.Shell", "OverviewActive"},
                &active);
      if (active.find("false") != std::string::npos) return;
    }
    FAIL() << "the overview stays";
  }

  bool ExtensionAnswers() {
    auto r = corvimus::testing::RunProgram(
        AsUser({FindProgram("gdbus"), "call", "--session", "-d", kFrontWindowBusName, "-o",
                kFrontWindowObjectPath, "-m", "com.kelvane.mouse.FrontWindow.GetFocus"}),
        {}, SessionEnv(), 5000);
    return r.exitCode == 0;
  }

  corvimus::testing::ChildProcess* shell_ = nullptr;
};

TEST_F(GnomeShellSession, AgentEnablesTheExtensionAndRecordsFollowTheFocus) {
  EXPECT_FALSE(ExtensionAnswers()) << "installed, not yet enabled";
  ASSERT_NO_FATAL_FAILURE(StartAgentSession());
  bool enabled = false;
  for (int i = 0; i < 200 && !enabled; ++i) {
    enabled = ExtensionAnswers();
    if (!enabled) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!enabled) {
    std::string list;
    RunAsUser({FindProgram("gdbus"), "call", "--session", "-d", "org.gnome.Shell", "-o",
               "/org/gnome/Shell", "-m", "org.gnome.Shell.Extensions.GetExtensionInfo",
               kGnomeShellExtensionUUID},
              &list);
    FAIL() << "the agent did not enable the extension; the Shell says " << list;
  }
  std::string setting;
  RunAsUser({FindProgram("gsettings"), "get", "org.gnome.shell", "enabled-extensions"}, &setting);
  EXPECT_NE(std::string::npos, setting.find(kGnomeShellExtensionUUID)) << setting;

  // New windows take the focus; a closed one gives it back to the one below.
  ASSERT_NO_FATAL_FAILURE(HideOverview());
  ASSERT_NO_FATAL_FAILURE(SwitchThroughTheApplications([this] { Close("beta"); }));
  Close("gamma");
  ExpectBothMice(kGlobalSpeed, "back to the application without a record");
}

}  // namespace
}  // namespace agenttest
