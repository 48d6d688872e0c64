// The built Corvimus.prefPane loaded by the real host process: the bundle's own resources are what
// the pane reads (string list 132 for the global record's name, the outline's strings table).
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QThread>
#include <cstring>
#include <string>
#include <vector>

#include "recordbase/PStrings.h"
#include "recordbase/QBase.h"
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
  for (const char* sub : {"/Contents/MacOS", "/Contents/Resources/en.lproj"})
    QDir().mkpath(QString::fromStdString(to) + sub);
  for (const char* file : {"/Contents/Info.plist", "/Contents/MacOS/Corvimus",
                           "/Contents/Resources/en.lproj/MouseButtonsView.strings",
                           "/Contents/Resources/en.lproj/StringLists.strings"})
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

}  // namespace

TEST(PanePlugin, FirstRunInTheHostNamesTheGlobalRecordAndSavesOnLeaving) {
  TempDir dir;
  std::string bundle = CopyBundle(dir);
  HostHome home(dir);
  const std::string& config = home.config;
  auto r = RunProgram({PANEHOST_EXECUTABLE, "--pane", bundle, "--exit-when-shown"}, {}, home.env);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("shown after "), std::string::npos);

  // Leaving the pane (the host closing) wrote the settings file with the named global record.
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  QBaseHandle base = NewMouseSettingsBase(4);
  Str255 name;
  CStringPCopy(kCorvimusPrefsFileName, name, 255);
  FSSpec spec;
  ASSERT_EQ(FindMouseSettingsFile(name, 0, &spec), noErr);
  ASSERT_EQ(ReadMouseSettingsFile(base, &spec), noErr);
  ASSERT_EQ(QBaseCountRecords(base), 1);
  CorvimusPrefsRec global;
  std::memcpy(&global, QBaseGetRecord(base, 0, nullptr), sizeof global);
  QBaseDispose(base);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(global.appName + 1), global.appName[0]),
            "All applications");
  EXPECT_EQ(global.device[0].action[0].command, kCmdMainClick);

  // And the agent is registered to start at login, from inside the pane's bundle.
  std::string loginItems;
  ASSERT_TRUE(corvimus::testing::ReadFile(config + "/loginwindow.plist", &loginItems));
  EXPECT_NE(loginItems.find(bundle + "/Contents/Resources/CorvimusHelper.app"), std::string::npos);
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
