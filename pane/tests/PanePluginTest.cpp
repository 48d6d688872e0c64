// The built Corvimus.prefPane loaded by the real host process: the bundle's own resources are what
// the pane reads (string list 132 for the global record's name, the outline's strings table).
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QThread>
#include <string>
#include <vector>

#include "PaneTestSupport.h"
#include "settings/MouseSettings.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using corvimus::testing::RunProgram;
using corvimus::testing::TempDir;

namespace {

// The bundle without the agent it may carry: a test must not start a real agent.
std::string CopyBundle(const TempDir& dir) {
  std::string to = dir / "Corvimus.prefPane";
  QString from = PANE_BUNDLE;
  for (const char* sub :
       {"/Contents/MacOS", "/Contents/Resources/en.lproj", "/Contents/Resources/de.lproj"})
    QDir().mkpath(QString::fromStdString(to) + sub);
  for (const char* file :
       {"/Contents/Info.plist", "/Contents/MacOS/Corvimus",
        "/Contents/Resources/en.lproj/MouseButtonsView.strings",
        "/Contents/Resources/en.lproj/StringLists.strings",
        "/Contents/Resources/de.lproj/MouseButtonsView.strings",
        "/Contents/Resources/de.lproj/StringLists.strings",
        "/Contents/Resources/de.lproj/Corvimus.qm", "/Contents/Resources/de.lproj/CommandTable.qm"})
    EXPECT_TRUE(QFile::copy(from + file, QString::fromStdString(to) + file)) << file;
  return to;
}

// A home of the test's own for the host: its Preferences and runtime folders, and the environment
// that names them.
struct HostHome {
  explicit HostHome(const TempDir& dir) : config(dir / "config"), run(dir / "run") {
    QDir().mkpath(QString::fromStdString(config));
    QDir().mkpath(QString::fromStdString(run));
    QFile::setPermissions(QString::fromStdString(run),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env = {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + config, "XDG_RUNTIME_DIR=" + run,
           "HOME=" + dir.path(), "LANGUAGE=en"};
  }
  std::string config, run;
  std::vector<std::string> env;
};

// The built pane shown by the real host in a home of its own, in the language `language` names
// (it overrides the home's English).
struct HostRun {
  TempDir dir;
  std::string bundle = CopyBundle(dir);
  HostHome home{dir};
  const std::string& config = home.config;
  corvimus::testing::RunResult result;

  explicit HostRun(const std::vector<std::string>& language) {
    std::vector<std::string> env = home.env;
    env.insert(env.end(), language.begin(), language.end());
    result = RunProgram({PANEHOST_EXECUTABLE, "--pane", bundle, "--exit-when-shown"}, {}, env);
  }

  // The records of the settings file the pane wrote when the host closed.
  std::vector<CorvimusPrefsRec> Records() const {
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    return PaneTest::FileRecords();
  }
};

std::string Name(const CorvimusPrefsRec& record) {
  return std::string(reinterpret_cast<const char*>(record.appName + 1), record.appName[0]);
}

}  // namespace

TEST(PanePlugin, FirstRunInTheHostNamesTheGlobalRecordAndSavesOnLeaving) {
  HostRun host({"LANGUAGE=en"});
  ASSERT_EQ(host.result.exitCode, 0) << host.result.err;
  EXPECT_NE(host.result.out.find("shown after "), std::string::npos);
  EXPECT_NE(host.result.out.find("title Mouse Buttons\n"), std::string::npos) << host.result.out;

  // Leaving the pane (the host closing) wrote the settings file with the named global record.
  auto records = host.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Name(records[0]), "All applications");
  EXPECT_EQ(records[0].device[0].action[0].command, kCmdMainClick);

  // And the agent is registered to start at login, from inside the pane's bundle.
  std::string loginItems;
  ASSERT_TRUE(corvimus::testing::ReadFile(host.config + "/loginwindow.plist", &loginItems));
  EXPECT_NE(loginItems.find(host.bundle + "/Contents/Resources/CorvimusHelper.app"),
            std::string::npos);
}

// A user whose desktop speaks German: the window is titled in German and a new settings file names
// the global record from the German string list.
TEST(PanePlugin, InGermanTheWindowAndTheGlobalRecordAreNamedInGerman) {
  HostRun host({"LANGUAGE=", "LC_ALL=de_DE.UTF-8"});
  ASSERT_EQ(host.result.exitCode, 0) << host.result.err;
  EXPECT_NE(host.result.out.find("title Maustasten\n"), std::string::npos) << host.result.out;
  auto records = host.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Name(records[0]), "Alle Programme");
}

// A logout ends the host with SIGTERM; the pane is left as on quitting, so its edits are saved.
TEST(PanePlugin, TerminationAtLogoutSavesLikeLeaving) {
  TempDir dir;
  std::string bundle = CopyBundle(dir);
  HostHome home(dir);
  const std::string& config = home.config;
  corvimus::testing::ChildProcess host;
  ASSERT_TRUE(host.Start({PANEHOST_EXECUTABLE, "--pane", bundle}, home.env));
  // The pane registers the agent as a login item while it loads: by then the host is set up.
  for (int i = 0; i < 1000 && !QFile::exists(QString::fromStdString(config + "/loginwindow.plist"));
       ++i)
    QThread::msleep(10);
  ASSERT_TRUE(QFile::exists(QString::fromStdString(config + "/loginwindow.plist")));
  host.Signal(SIGTERM);
  int status = -1;
  ASSERT_TRUE(host.Wait(&status));
  EXPECT_EQ(status, 0);
  std::string settings;
  ASSERT_TRUE(corvimus::testing::ReadFile(config + "/com.kelvane.mouse.prefs", &settings));
  EXPECT_EQ(settings.size(), 64u + 4 + 1022) << "the global record";
}
