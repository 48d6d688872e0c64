// The built Corvimus.prefPane loaded by the real host process: the bundle's own resources are what
// the pane reads (string list 132 for the global record's name, the outline's strings table).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <cstring>

#include "recordbase/PStrings.h"
#include "recordbase/QBase.h"
#include "settings/MouseSettings.h"
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

}  // namespace

TEST(PanePlugin, FirstRunInTheHostNamesTheGlobalRecordAndSavesOnLeaving) {
  TempDir dir;
  std::string bundle = CopyBundle(dir);
  std::string config = dir / "config", run = dir / "run";
  QDir().mkpath(QString::fromStdString(config));
  QDir().mkpath(QString::fromStdString(run));
  QFile::setPermissions(QString::fromStdString(run),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  auto r = RunProgram({PANEHOST_EXECUTABLE, "--pane", bundle, "--exit-when-shown"}, {},
                      {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + config,
                       "XDG_RUNTIME_DIR=" + run, "HOME=" + dir.path(), "LANGUAGE=en"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("shown after "), std::string::npos);
  EXPECT_NE(r.out.find("title Mouse Buttons\n"), std::string::npos) << r.out;

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

// A user whose desktop speaks German: the window is titled in German and a new settings file names
// the global record from the German string list.
TEST(PanePlugin, InGermanTheWindowAndTheGlobalRecordAreNamedInGerman) {
  TempDir dir;
  std::string bundle = CopyBundle(dir);
  std::string config = dir / "config", run = dir / "run";
  QDir().mkpath(QString::fromStdString(config));
  QDir().mkpath(QString::fromStdString(run));
  QFile::setPermissions(QString::fromStdString(run),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  auto r = RunProgram(
      {PANEHOST_EXECUTABLE, "--pane", bundle, "--exit-when-shown"}, {},
      {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + config, "XDG_RUNTIME_DIR=" + run,
       "HOME=" + dir.path(), "LANGUAGE=", "LC_ALL=de_DE.UTF-8"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("title Maustasten\n"), std::string::npos) << r.out;

  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  QBaseHandle base = NewMouseSettingsBase(4);
  Str255 name;
  CStringPCopy(kCorvimusPrefsFileName, name, 255);
  FSSpec spec;
  ASSERT_EQ(FindMouseSettingsFile(name, 0, &spec), noErr);
  ASSERT_EQ(ReadMouseSettingsFile(base, &spec), noErr);
  CorvimusPrefsRec global;
  std::memcpy(&global, QBaseGetRecord(base, 0, nullptr), sizeof global);
  QBaseDispose(base);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(global.appName + 1), global.appName[0]),
            "Alle Programme");
}
