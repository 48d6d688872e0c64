// Naming applications the way Linux does, against real desktop entries, bundles and processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/ApplicationNames.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using corvimus::ApplicationChoice;
using corvimus::DescribeApplication;
using corvimus::testing::ChildProcess;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;
namespace fs = std::filesystem;

namespace {

// A private set of desktop entries: the user's folder and one system folder.
class ApplicationNames : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "data/applications");
    fs::create_directories(dir_ / "sys/applications");
    fs::create_directories(dir_ / "bin");
    setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir_ / "sys").c_str(), 1);
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir_ / "bin:" + oldPath_).c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_DATA_DIRS");
    setenv("PATH", oldPath_.c_str(), 1);
  }

  void Entry(const std::string& where, const std::string& file, const std::string& body) {
    std::string folder = dir_ / (where + "/applications");
    fs::create_directories(fs::path(folder + "/" + file).parent_path());
    WriteFile(folder + "/" + file, "[Desktop Entry]\nType=Application\n" + body);
  }
  // An executable file in the test's own PATH folder.
  std::string Program(const std::string& name, const std::string& source) {
    std::string path = dir_ / ("bin/" + name);
    fs::copy_file(source, path, fs::copy_options::overwrite_existing);
    chmod(path.c_str(), 0755);
    return path;
  }
  std::string Script(const std::string& name, const std::string& text) {
    std::string path = dir_ / ("bin/" + name);
    WriteFile(path, text);
    chmod(path.c_str(), 0755);
    return path;
  }
  std::string Bundle(const std::string& name, const std::string& signatureXml) {
    std::string path = dir_ / name;
    fs::create_directories(path + "/Contents/MacOS");
    WriteFile(path + "/Contents/Info.plist", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" +
                                                 signatureXml + "</dict></plist>");
    return path;
  }
  // Waits until the child runs `program` (after its exec, whose new arguments the kernel shows a
  // moment after the new executable), then names it.
  std::string NameOf(const ChildProcess& child, const corvimus::WindowIdentity* window,
                     const std::string& program) {
    std::string exe = fs::canonical(program).string();
    for (int i = 0; i < 500; ++i) {
      std::error_code ec;
      auto target = fs::read_symlink("/proc/" + std::to_string(child.pid()) + "/exe", ec);
      std::string arguments;
      corvimus::testing::ReadFile("/proc/" + std::to_string(child.pid()) + "/cmdline", &arguments);
      if (!ec && target == exe && !arguments.empty()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return corvimus::ApplicationNameOfProcess(child.pid(), window);
  }

  TempDir dir_;
  std::string oldPath_;
};

TEST_F(ApplicationNames, DesktopEntriesAreReadInXdgOrder) {
  Entry("data", "org.example.Zeta.desktop",
        "Name=Zeta\nName[de]=Zett\nIcon=zeta\nExec=zeta --new %U\nStartupWMClass=ZetaWin\n");
  Entry("sys", "org.example.Zeta.desktop", "Name=Hidden by the user's entry\nExec=zeta\n");
  Entry("sys", "kde/dolphin.desktop", "Name=Dolphin\nExec=dolphin\n");
  Entry("sys", "gone.desktop", "Name=Gone\nHidden=true\nExec=gone\n");
  WriteFile(dir_ / "sys/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=L\n");
  WriteFile(dir_ / "sys/applications/action-first.desktop",
            "[Desktop Action new]\nType=Application\nName=No\n[Desktop Entry]\nType=Application\n");

  const char* oldLocale = std::getenv("LC_ALL");
  std::string saved = oldLocale ? oldLocale : "";
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  const auto& all = corvimus::InstalledApplications();
  if (oldLocale)
    setenv("LC_ALL", saved.c_str(), 1);
  else
    unsetenv("LC_ALL");
  std::vector<std::string> ids;
  for (const auto& e : all) ids.push_back(e.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"org.example.Zeta", "kde-dolphin"}));
  EXPECT_EQ(all[0].name, "Zett");
  EXPECT_EQ(all[0].icon, "zeta");
  EXPECT_EQ(all[0].startupWMClass, "ZetaWin");

  // A window class finds its entry through StartupWMClass, an app_id by the id; case is ignored.
  ASSERT_NE(nullptr, corvimus::FindDesktopEntryForHint("zetawin"));
  EXPECT_EQ("org.example.Zeta", corvimus::FindDesktopEntryForHint("zetawin")->id);
  EXPECT_EQ("org.example.Zeta", corvimus::FindDesktopEntryForHint("ORG.EXAMPLE.ZETA")->id);
  EXPECT_EQ(nullptr, corvimus::FindDesktopEntryForHint("zeta"));

  // A new entry is seen without asking for it: the folder changed.
  Entry("data", "late.desktop", "Name=Late\nExec=late\n");
  EXPECT_NE(nullptr, corvimus::FindDesktopEntryForHint("late"));
}

TEST_F(ApplicationNames, ExecLines) {
  using corvimus::ProgramOfExecLine;
  EXPECT_EQ(ProgramOfExecLine("firefox %u"), "firefox");
  EXPECT_EQ(ProgramOfExecLine("env GDK_BACKEND=x11 LANG=C /usr/bin/gimp-2.10 %U"),
            "/usr/bin/gimp-2.10");
  EXPECT_EQ(ProgramOfExecLine("\"/opt/a \\\"b\\\"/run\" --x"), "/opt/a \"b\"/run");
  EXPECT_EQ(ProgramOfExecLine(""), "");
  EXPECT_EQ(ProgramOfExecLine("env"), "");
  EXPECT_EQ(ProgramOfExecLine("%U"), "");
}

TEST_F(ApplicationNames, ChoicesOfBundlesEntriesAndPrograms) {
  ApplicationChoice app;
  std::string error;
  ASSERT_TRUE(DescribeApplication(
      Bundle("TextEdit.app", "<key>CFBundleSignature</key><string>ttxt</string>"), &app, &error));
  EXPECT_EQ(app.fileName, "TextEdit");
  EXPECT_EQ(app.signature, FourCC("ttxt"));
  ASSERT_TRUE(DescribeApplication(Bundle("Short.APP", "<key>CFBundleSignature</key><string>ab"
                                                      "</string>"),
                                  &app, &error));
  EXPECT_EQ(app.fileName, "Short");
  EXPECT_EQ(app.signature, 0x61620000u);
  ASSERT_TRUE(DescribeApplication(Bundle("None.app", ""), &app, &error));
  EXPECT_EQ(app.signature, kUnknownSignature);
  ASSERT_TRUE(DescribeApplication(
      Bundle("Num.app", "<key>CFBundleSignature</key><integer>5</integer>"), &app, &error));
  EXPECT_EQ(app.signature, kUnknownSignature) << "a signature that is no text";
  std::string damaged = Bundle("Damaged.app", "");
  WriteFile(damaged + "/Contents/Info.plist", "<plist><dict><key>CFBundleSig");
  ASSERT_TRUE(DescribeApplication(damaged, &app, &error));
  EXPECT_EQ(app.fileName, "Damaged");
  EXPECT_EQ(app.signature, kUnknownSignature);
  fs::create_directories(dir_ / "Plain");
  ASSERT_TRUE(DescribeApplication(dir_ / "Plain", &app, &error));
  EXPECT_EQ(app.fileName, "Plain");

  // An entry, by id or by file, is its id and its name; one whose program lies in a bundle is the
  // bundle.
  std::string tool = Script("solaar", "#!/usr/bin/python3\nimport time\ntime.sleep(60)\n");
  Entry("sys", "solaar.desktop", "Name=Solaar\nIcon=solaar\nExec=solaar --window=hide\n");
  for (const std::string& what :
       {std::string("solaar"), std::string("solaar.desktop"), dir_ / "sys/applications/solaar.desktop"}) {
    ASSERT_TRUE(DescribeApplication(what, &app, &error)) << what << ": " << error;
    EXPECT_EQ(app.fileName, "solaar") << what;
    EXPECT_EQ(app.displayName, "Solaar");
    EXPECT_EQ(app.icon, "solaar");
    EXPECT_EQ(app.signature, kUnknownSignature);
  }
  // The program itself is known by the entry that starts it.
  ASSERT_TRUE(DescribeApplication(tool, &app, &error));
  EXPECT_EQ(app.fileName, "solaar");
  std::string mail = Bundle("Mail.app", "<key>CFBundleSignature</key><string>emal</string>");
  WriteFile(dir_ / "mail.desktop",
            "[Desktop Entry]\nType=Application\nExec=" + mail + "/Contents/MacOS/Mail\n");
  WriteFile(mail + "/Contents/MacOS/Mail", "");
  chmod((mail + "/Contents/MacOS/Mail").c_str(), 0755);
  ASSERT_TRUE(DescribeApplication(dir_ / "mail.desktop", &app, &error));
  EXPECT_EQ(app.fileName, "Mail");
  EXPECT_EQ(app.signature, FourCC("emal"));

  // Plain programs keep their file names ("A.app" loses ".app"; ".app" alone stays).
  ASSERT_TRUE(DescribeApplication(Script("A.app", "#!/bin/sh\n"), &app, &error));
  EXPECT_EQ(app.fileName, "A");
  ASSERT_TRUE(DescribeApplication(Script(".app", "#!/bin/sh\n"), &app, &error));
  EXPECT_EQ(app.fileName, ".app");

  // What names nothing says so.
  EXPECT_FALSE(DescribeApplication("no.such.Application", &app, &error));
  EXPECT_NE(error.find("no.such.Application"), std::string::npos);
  WriteFile(dir_ / "broken.desktop", "[Desktop Entry]\nName=Broken\n");
  EXPECT_FALSE(DescribeApplication(dir_ / "broken.desktop", &app, &error));
  EXPECT_FALSE(DescribeApplication("", &app, &error));
}

TEST_F(ApplicationNames, ProcessesAreNamedByEntryScriptOrExecutable) {
  // A program that an entry starts: the entry's id.
  std::string sleeper = Program("sleeper", "/bin/sleep");
  Entry("sys", "org.example.Sleeper.desktop", "Name=Sleeper\nExec=sleeper 60\n");
  ChildProcess entry;
  ASSERT_TRUE(entry.Start({sleeper, "60"}));
  EXPECT_EQ(NameOf(entry, nullptr, sleeper), "org.example.Sleeper");

  // A script run by python3: the script's entry, or without one the script's name.
  Script("solaar", "#!/usr/bin/python3\nimport time\ntime.sleep(60)\n");
  Entry("sys", "solaar.desktop", "Name=Solaar\nExec=solaar\n");
  ChildProcess python;
  ASSERT_TRUE(python.Start({dir_ / "bin/solaar"}));
  EXPECT_EQ(NameOf(python, nullptr, "/usr/bin/python3"), "solaar");
  Script("helper.py", "import time\ntime.sleep(60)\n");
  ChildProcess bare;
  ASSERT_TRUE(bare.Start({"/usr/bin/python3", "-u", "-W", "ignore", dir_ / "bin/helper.py"}));
  EXPECT_EQ(NameOf(bare, nullptr, "/usr/bin/python3"), "helper.py");
  ChildProcess module;
  ASSERT_TRUE(module.Start({"/usr/bin/python3", "-m", "http.server", "0", "-b", "127.0.0.1"}));
  EXPECT_EQ(NameOf(module, nullptr, "/usr/bin/python3"), "http.server");
  ChildProcess inlineCode;
  ASSERT_TRUE(inlineCode.Start({"/bin/sh", "-c", "sleep 60"}));
  std::string shell = fs::canonical("/bin/sh").filename();
  EXPECT_EQ(NameOf(inlineCode, nullptr, "/bin/sh"), shell) << "inline code names no script";

  // The window's identity: app_id, then WM_CLASS through StartupWMClass. An app_id without an
  // entry leaves the executable's name.
  ChildProcess plain;
  ASSERT_TRUE(plain.Start({"/bin/sleep", "60"}));
  Entry("sys", "org.example.Viewer.desktop", "Name=Viewer\nExec=viewer\nStartupWMClass=Vw\n");
  corvimus::WindowIdentity window;
  window.pid = plain.pid();
  window.appId = "org.example.viewer";
  EXPECT_EQ(NameOf(plain, &window, "/bin/sleep"), "org.example.Viewer");
  window.appId = "unknown.app";
  window.wmClass = "VW";
  EXPECT_EQ(NameOf(plain, &window, "/bin/sleep"), "org.example.Viewer");
  window.wmClass.clear();
  window.desktopFileName = "/usr/share/applications/org.example.Viewer.desktop";
  EXPECT_EQ(NameOf(plain, &window, "/bin/sleep"), "org.example.Viewer");
  window.desktopFileName.clear();
  EXPECT_EQ(NameOf(plain, &window, "/bin/sleep"), "sleep");
  // A sandbox id the compositor reports wins, and is the id even without an installed entry.
  window.sandboxedAppId = "org.example.Sandboxed";
  EXPECT_EQ(NameOf(plain, &window, "/bin/sleep"), "org.example.Sandboxed");
  Entry("sys", "exported-viewer.desktop", "Name=V\nExec=flatpak run org.example.Sandboxed\n"
                                          "X-Flatpak=org.example.Sandboxed\n");
  EXPECT_EQ(NameOf(plain, &window, "/bin/sleep"), "exported-viewer");

  EXPECT_EQ(corvimus::ApplicationNameOfProcess(0x7ffffff0, nullptr), "") << "no such process";
}

}  // namespace
