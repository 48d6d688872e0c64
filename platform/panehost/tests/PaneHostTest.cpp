// Runs the host program itself, with a small test pane, and checks the life cycle it drives.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

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
  EXPECT_EQ(pngs, QStringList{"01-pane.png"});
}
