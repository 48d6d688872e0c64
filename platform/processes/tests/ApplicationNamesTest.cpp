#include <gtest/gtest.h>

#include <QDir>

#include "AppIdentity.h"
#include "testing/TempDir.h"

using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

QString Bundle(const TempDir& dir, const std::string& name, const std::string& signatureXml) {
  std::string path = dir / name;
  QDir().mkpath(QString::fromStdString(path + "/Contents/MacOS"));
  WriteFile(path + "/Contents/Info.plist", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" +
                                               signatureXml + "</dict></plist>");
  return QString::fromStdString(path);
}

}  // namespace

TEST(ApplicationIdentity, BundleSignatures) {
  TempDir dir;
  auto app = DescribeApplication(
      Bundle(dir, "TextEdit.app", "<key>CFBundleSignature</key><string>ttxt</string>"));
  EXPECT_EQ(app.name, "TextEdit.app");
  EXPECT_EQ(app.signature, FourCC("ttxt"));
  EXPECT_EQ(DescribeApplication(Bundle(dir, "None.app", "")).signature, 0u);
  EXPECT_EQ(DescribeApplication(
                Bundle(dir, "Short.app", "<key>CFBundleSignature</key><string>ab</string>"))
                .signature,
            0x61620000u);
  EXPECT_EQ(DescribeApplication(
                Bundle(dir, "Num.app", "<key>CFBundleSignature</key><integer>5</integer>"))
                .signature,
            0u);
  std::string damaged = dir / "Damaged.app";
  QDir().mkpath(QString::fromStdString(damaged + "/Contents"));
  WriteFile(damaged + "/Contents/Info.plist", "<plist><dict><key>CFBundleSig");
  EXPECT_EQ(ReadBundleSignature(QString::fromStdString(damaged)), 0u);
}

TEST(ApplicationIdentity, DesktopEntriesNameTheProgramTheyStart) {
  TempDir dir;
  std::string entry = dir / "x.desktop";
  WriteFile(entry,
            "[Desktop Action New]\nExec=other\n[Desktop Entry]\nName=Files\nExec = \"/opt/my "
            "apps/nautilus\" --new-window %U\n");
  EXPECT_EQ(DescribeApplication(QString::fromStdString(entry)).name, "nautilus");
  // A program inside a bundle is known by the bundle's name and signature.
  QString bundle = Bundle(dir, "Mail.app", "<key>CFBundleSignature</key><string>emal</string>");
  WriteFile(entry, "[Desktop Entry]\nExec=" + bundle.toStdString() + "/Contents/MacOS/Mail\n");
  auto app = DescribeApplication(QString::fromStdString(entry));
  EXPECT_EQ(app.name, "Mail.app");
  EXPECT_EQ(app.signature, FourCC("emal"));
  WriteFile(entry, "[Desktop Entry]\nName=No program\n");
  EXPECT_TRUE(DescribeApplication(QString::fromStdString(entry)).name.isEmpty());
}

TEST(ApplicationIdentity, ExecLines) {
  EXPECT_EQ(ProgramOfExecLine("firefox %u"), "firefox");
  EXPECT_EQ(ProgramOfExecLine("env GDK_BACKEND=x11 LANG=C /usr/bin/gimp-2.10 %U"),
            "/usr/bin/gimp-2.10");
  EXPECT_EQ(ProgramOfExecLine("\"/opt/a \\\"b\\\"/run\" --x"), "/opt/a \"b\"/run");
  EXPECT_EQ(ProgramOfExecLine(""), "");
  EXPECT_EQ(ProgramOfExecLine("env"), "");
  EXPECT_EQ(ProgramOfExecLine("%U"), "");
}

TEST(ApplicationIdentity, ProgramsAndFolders) {
  TempDir dir;
  std::string program = dir / "tool";
  WriteFile(program, "#!/bin/sh\n");
  auto app = DescribeApplication(QString::fromStdString(program));
  EXPECT_EQ(app.name, "tool");
  EXPECT_EQ(app.signature, 0u);
  QString bundle = Bundle(dir, "Calc.app", "<key>CFBundleSignature</key><string>calc</string>");
  WriteFile(bundle.toStdString() + "/Contents/MacOS/Calc", "");
  EXPECT_EQ(DescribeApplication(bundle + "/Contents/MacOS/Calc").name, "Calc.app");
  QDir().mkpath(QString::fromStdString(dir / "Plain"));
  EXPECT_EQ(DescribeApplication(QString::fromStdString(dir / "Plain")).name, "Plain");
}
