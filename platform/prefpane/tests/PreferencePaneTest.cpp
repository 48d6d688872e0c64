#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <memory>

#include "prefpane/PreferencePane.h"
#include "testing/TempDir.h"

using namespace corvimus::prefpane;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

QApplication* App() {
  static int argc = 1;
  static char name[] = "prefpane_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

std::string InfoPlist(const std::string& executable, const std::string& extra = {}) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n";
  if (!executable.empty())
    s += "<key>CFBundleExecutable</key><string>" + executable + "</string>\n";
  return s + extra + "</dict></plist>\n";
}

// Makes "<dir>/<name>.prefPane" with the given Info.plist and, when asked, the test pane library.
QString MakeBundle(const TempDir& dir, const std::string& name, const std::string& plist,
                   bool withLibrary) {
  std::string path = dir / (name + ".prefPane");
  QDir().mkpath(QString::fromStdString(path + "/Contents/MacOS"));
  WriteFile(path + "/Contents/Info.plist", plist);
  if (withLibrary) {
    EXPECT_TRUE(QFile::copy(PREFPANE_TEST_LIBRARY,
                            QString::fromStdString(path + "/Contents/MacOS/TestPane")));
  }
  return QString::fromStdString(path);
}

}  // namespace

TEST(PaneBundle, ReadsInfoPlistAndFallsBackToFolderName) {
  TempDir dir;
  QString path = MakeBundle(dir, "Mice",
                            InfoPlist("Mice",
                                      "<key>CFBundleIdentifier</key>"
                                      "<string>org.example.mice</string>"),
                            false);
  PaneBundle b;
  QString error;
  ASSERT_TRUE(ReadPaneBundle(path, &b, &error)) << error.toStdString();
  EXPECT_EQ(b.executableName, "Mice");
  EXPECT_EQ(b.identifier, "org.example.mice");
  EXPECT_EQ(b.name, "Mice");
  EXPECT_EQ(b.iconLabel, "Mice");
  EXPECT_EQ(b.executablePath(), path + "/Contents/MacOS/Mice");
  EXPECT_EQ(b.resourcePath(), path + "/Contents/Resources");
}

TEST(PaneBundle, RejectsFoldersThatAreNoPanes) {
  TempDir dir;
  PaneBundle b;
  QString error;
  EXPECT_FALSE(ReadPaneBundle(QString::fromStdString(dir / "missing.prefPane"), &b, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(ReadPaneBundle(MakeBundle(dir, "NoExec", InfoPlist(""), false), &b, &error));
  EXPECT_FALSE(
      ReadPaneBundle(MakeBundle(dir, "Escapes", InfoPlist("../../evil"), false), &b, &error));
  std::string garbage = dir / "Garbage.prefPane";
  QDir().mkpath(QString::fromStdString(garbage + "/Contents"));
  WriteFile(garbage + "/Contents/Info.plist", std::string("\x00\x01 not a plist", 14));
  EXPECT_FALSE(ReadPaneBundle(QString::fromStdString(garbage), &b, &error));
}

TEST(PaneLoading, LoadsLibraryAndDrivesLifeCycle) {
  App();
  TempDir dir;
  QString path = MakeBundle(dir, "Test",
                            InfoPlist("TestPane",
                                      "<key>CFBundleIdentifier</key>"
                                      "<string>org.example.test</string>"),
                            true);
  QString error;
  std::unique_ptr<PreferencePane> pane(LoadPreferencePane(path, &error));
  ASSERT_TRUE(pane) << error.toStdString();
  EXPECT_EQ(pane->mainView(), nullptr);
  QWidget* view = pane->loadMainView();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(pane->loadMainView(), view);  // built once
  EXPECT_EQ(view->property("loaded").toInt(), 1);
  EXPECT_EQ(qobject_cast<QLabel*>(view)->text(), "org.example.test");
  pane->didSelect();
  pane->willUnselect();
  EXPECT_EQ(view->property("selected").toInt(), 1);
  EXPECT_EQ(view->property("unselected").toInt(), 1);
}

TEST(PaneLoading, ReportsMissingLibraryAndFactory) {
  App();
  TempDir dir;
  QString error;
  EXPECT_EQ(LoadPreferencePane(MakeBundle(dir, "NoLib", InfoPlist("Nothing"), false), &error),
            nullptr);
  EXPECT_TRUE(error.contains("NoLib"));
  // A real shared library without the factory.
  QString path = MakeBundle(dir, "WrongLib", InfoPlist("libc.so.6"), false);
  QFile::link("/lib/x86_64-linux-gnu/libc.so.6", path + "/Contents/MacOS/libc.so.6");
  error.clear();
  EXPECT_EQ(LoadPreferencePane(path, &error), nullptr);
  EXPECT_TRUE(error.contains("CreatePreferencePane")) << error.toStdString();
}

TEST(PaneLoading, FindsBundlesInFolderOrder) {
  TempDir a, b;
  MakeBundle(a, "Zeta", InfoPlist("Z"), false);
  MakeBundle(a, "Alpha", InfoPlist("A"), false);
  MakeBundle(b, "Beta", InfoPlist("B"), false);
  QDir().mkpath(QString::fromStdString(a / "NotAPane"));
  QStringList found = FindPreferencePaneBundles({QString::fromStdString(a.path()),
                                                 QString::fromStdString(a / "missing"),
                                                 QString::fromStdString(b.path())});
  ASSERT_EQ(found.size(), 3);
  EXPECT_TRUE(found[0].endsWith("/Alpha.prefPane"));
  EXPECT_TRUE(found[1].endsWith("/Zeta.prefPane"));
  EXPECT_TRUE(found[2].endsWith("/Beta.prefPane"));
}
