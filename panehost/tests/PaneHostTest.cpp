// Runs the host program itself, with a small test pane, and checks the life cycle it drives.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include <QDir>
#include <QFile>

#include "platform/AppleEvents.h"
#include "platform/Processes.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using corvimus::testing::RunProgram;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

std::string MakeTestPane(const TempDir& dir) {
  std::string path = dir / "Test.prefPane";
  QDir().mkpath(QString::fromStdString(path + "/Contents/MacOS"));
  WriteFile(path + "/Contents/Info.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
            "<key>CFBundleExecutable</key><string>TestPane</string>"
            "<key>CFBundleIdentifier</key><string>org.example.test</string></dict></plist>");
  EXPECT_TRUE(QFile::copy(PREFPANE_TEST_LIBRARY,
                          QString::fromStdString(path + "/Contents/MacOS/TestPane")));
  return path;
}

}  // namespace

TEST(PaneHost, ShowsRequestedPaneAndLeavesItOnClose) {
  TempDir dir;
  std::string pane = MakeTestPane(dir);
  auto r = RunProgram({PANEHOST_EXECUTABLE, "--pane", pane, "--exit-when-shown"}, {},
                      {"QT_QPA_PLATFORM=offscreen"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.find("pane loaded\npane selected\n"), 0u) << r.out;
  auto shown = r.out.find("shown after ");
  auto left = r.out.find("pane unselected\n");
  ASSERT_NE(shown, std::string::npos) << r.out;
  ASSERT_NE(left, std::string::npos) << r.out;
  EXPECT_LT(shown, left);
  EXPECT_EQ(r.out.find("pane unselected", left + 1), std::string::npos) << "left twice: " << r.out;
}

TEST(PaneHost, FailsOnBundleThatIsNoPane) {
  TempDir dir;
  auto r =
      RunProgram({PANEHOST_EXECUTABLE, "--pane", dir / "Nothing.prefPane", "--exit-when-shown"}, {},
                 {"QT_QPA_PLATFORM=offscreen"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("Nothing.prefPane"), std::string::npos) << r.err;
}

TEST(PaneHost, SavesScreenshotsOfShownPane) {
  TempDir dir;
  std::string pane = MakeTestPane(dir);
  auto r = RunProgram({PANEHOST_EXECUTABLE, "--pane", pane, "--screenshots", dir / "shots"}, {},
                      {"QT_QPA_PLATFORM=offscreen"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  QStringList pngs = QDir(QString::fromStdString(dir / "shots")).entryList({"*.png"});
  // The pane's own state after its view, and the pane put back as it was afterwards.
  EXPECT_EQ(pngs, (QStringList{"01-pane.png", "02-second-look.png"}));
  auto shown = r.out.find("pane state 0\n");
  ASSERT_NE(shown, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pane state -1\n", shown), std::string::npos) << r.out;
}

// The uninstaller finds the host by its process name and sends it the standard quit event: the
// shown pane must be left (so it saves) before the host ends.
TEST(PaneHost, QuitEventLeavesPaneAndEnds) {
  TempDir dir;
  std::string pane = MakeTestPane(dir);
  std::string runtime = dir / "run";
  QDir().mkpath(QString::fromStdString(runtime));
  QFile::setPermissions(QString::fromStdString(runtime),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  corvimus::testing::ChildProcess host;
  ASSERT_TRUE(host.Start({PANEHOST_EXECUTABLE, "--pane", pane},
                         {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime}));
  std::string line;
  ASSERT_TRUE(host.ReadLine(&line));
  EXPECT_EQ(line, "pane loaded");
  ASSERT_TRUE(host.ReadLine(&line));
  EXPECT_EQ(line, "pane selected");

  ProcessSerialNumber psn{};
  ASSERT_EQ(GetProcessForPID(host.pid(), &psn), noErr);
  ProcessInfoRec info{};
  Str255 name = {0};
  info.processInfoLength = sizeof info;
  info.processName = name;
  ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "System Preferences");

  AEAddressDesc target;
  ASSERT_EQ(AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target), noErr);
  AppleEvent quit;
  ASSERT_EQ(AECreateAppleEvent(kCoreEventClass, kAEQuitApplication, &target, kAutoGenerateReturnID,
                               kAnyTransactionID, &quit),
            noErr);
  // The host listens once its loop runs; retry briefly while its socket is not there yet.
  OSErr sent = procNotFound;
  for (int i = 0; i < 100 && sent != noErr; ++i) {
    sent =
        AESend(&quit, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
    if (sent != noErr) usleep(20000);
  }
  EXPECT_EQ(sent, noErr);
  AEDisposeDesc(&quit);
  AEDisposeDesc(&target);

  ASSERT_TRUE(host.ReadLine(&line));
  EXPECT_EQ(line, "pane unselected");
  int status = -1;
  ASSERT_TRUE(host.Wait(&status));
  EXPECT_EQ(status, 0);
}

// A logout ends the session's programs with SIGTERM; a closed terminal sends SIGHUP. Either is a
// request to quit: the pane is left (so it saves) before the host ends.
TEST(PaneHost, TerminationSignalsLeaveThePaneLikeTheQuitEvent) {
  for (int signo : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signo));
    TempDir dir;
    std::string pane = MakeTestPane(dir);
    corvimus::testing::ChildProcess host;
    ASSERT_TRUE(host.Start({PANEHOST_EXECUTABLE, "--pane", pane}, {"QT_QPA_PLATFORM=offscreen"}));
    std::string line;
    ASSERT_TRUE(host.ReadLine(&line));
    ASSERT_TRUE(host.ReadLine(&line));
    ASSERT_EQ(line, "pane selected");
    host.Signal(signo);
    ASSERT_TRUE(host.ReadLine(&line)) << "the host ended without leaving the pane";
    EXPECT_EQ(line, "pane unselected");
    int status = -1;
    ASSERT_TRUE(host.Wait(&status));
    EXPECT_EQ(status, 0);
  }
}

// Without --pane the host loads what the PreferencePanes folders of the installation hold, and says
// which bundles it could not load.
TEST(PaneHost, LoadsPanesFromLibraryFolders) {
  TempDir prefix;
  std::string panes = prefix / "lib/corvimus/Library/PreferencePanes";
  QDir().mkpath(QString::fromStdString(panes + "/Broken.prefPane/Contents"));
  WriteFile(panes + "/Broken.prefPane/Contents/Info.plist", "not a property list");
  auto r = RunProgram({PANEHOST_EXECUTABLE, "--exit-when-shown"}, {},
                      {"QT_QPA_PLATFORM=offscreen", "CORVIMUS_PREFIX=" + prefix.path()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("Broken.prefPane"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("pane "), std::string::npos) << "no pane is shown until one is chosen";
}
