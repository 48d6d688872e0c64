// Corvimus Uninstaller as a running program: each test lays out a bundle of its own (the test
// build of the application, the windows, a stand-in removal tool that records its arguments) in a
// temporary installation, starts it, and drives its windows through its standard input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/AppleEvents.h"
#include "platform/Authorization.h"
#include "platform/Processes.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

namespace fs = std::filesystem;
using corvimus::testing::ChildProcess;
using corvimus::testing::ReadFile;
using corvimus::testing::RunProgram;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

const char* const kWindowFiles[] = {"Confirm", "NotNeeded", "Success", "Error", "Info", "Menus"};

// The low 8 bits of a status, as the process's exit code carries it.
int ExitCodeOf(long status) {
  return int(status & 0xFF);
}

class UninstallerApp : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = dir_ / "prefix";
    bundle_ = dir_ / "prefix/lib/corvimus/Applications/Utilities/Corvimus Uninstaller.app";
    toolLog_ = dir_ / "tool.log";
    fs::create_directories(prefix_ + "/lib/corvimus/Extensions");
    fs::create_directories(bundle_ + "/Contents/MacOS");
    fs::create_directories(Nib());
    fs::copy_file(UNINSTALLER_HARNESS, bundle_ + "/Contents/MacOS/Corvimus Uninstaller");
    fs::copy_file(UNINSTALLER_INFO_PLIST, bundle_ + "/Contents/Info.plist");
    for (const char* name : kWindowFiles) {
      std::string file = std::string(name) + ".ui";
      fs::copy_file(std::string(UNINSTALLER_NIB) + "/" + file, Nib() + "/" + file);
    }
  }

  void TearDown() override {
    if (app_.pid() > 0) {
      app_.Signal(SIGKILL);
      int code;
      app_.Wait(&code);
    }
  }

  std::string Nib() const { return bundle_ + "/Contents/Resources/main.nib"; }

  void InstallDriver() {
    fs::create_directories(prefix_ + "/lib/corvimus/Extensions/Corvimus.kext");
  }

  // The stand-in removal tool: writes its argument count and arguments, then exits with `code`.
  void InstallTool(int code) {
    std::string tool = bundle_ + "/Contents/Resources/rmkvcv";
    WriteFile(tool, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" >> '" + toolLog_ + "'\nexit " +
                        std::to_string(code) + "\n");
    chmod(tool.c_str(), 0755);
  }

  bool ToolRan(std::string* log) const { return ReadFile(toolLog_, log); }

  // A test program that ends on the quit event, laid out as a bundle so that its process has the
  // given name.
  std::unique_ptr<ChildProcess> StartPeer(const std::string& name) {
    std::string folder = dir_ / ("peers/" + name + ".app/Contents/MacOS");
    fs::create_directories(folder);
    fs::copy_file(TEST_PEER_PATH, folder + "/" + name, fs::copy_options::overwrite_existing);
    auto peer = std::make_unique<ChildProcess>();
    std::string line;
    if (!peer->Start({folder + "/" + name}) || !peer->ReadLine(&line) || line != "ready")
      ADD_FAILURE() << "peer " << name << " did not start";
    return peer;
  }

  void Start(const std::string& authorizerAnswer = "grant", const std::string& language = "en") {
    ASSERT_TRUE(app_.Start({bundle_ + "/Contents/MacOS/Corvimus Uninstaller", authorizerAnswer},
                           {"CORVIMUS_PREFIX=" + prefix_, "LANGUAGE=" + language}));
  }

  // Sends one command and returns its answer; restart requests printed on the way are kept.
  std::string Ask(const std::string& command) {
    if (!app_.WriteInput(command + "\n")) return "(no input)";
    std::string line;
    while (app_.ReadLine(&line, 30000)) {
      if (line.rfind("restart ", 0) == 0) {
        restarts_.push_back(line);
        continue;
      }
      return line;
    }
    return "(ended)";
  }

  struct Ending {
    int exitCode = -1;
    std::string rights, toolStarts, destroys, status;
  };
  // Reads what the program prints after its event loop and waits for its end.
  Ending Finish() {
    Ending end;
    std::string line;
    while (app_.ReadLine(&line, 30000)) {
      auto take = [&](const char* key, std::string* value) {
        std::string k = std::string(key) + " ";
        if (line.rfind(k, 0) == 0) *value = line.substr(k.size());
      };
      if (line.rfind("restart ", 0) == 0) restarts_.push_back(line);
      take("rights", &end.rights);
      take("tool-starts", &end.toolStarts);
      take("destroys", &end.destroys);
      take("status", &end.status);
    }
    EXPECT_TRUE(app_.Wait(&end.exitCode, 30000));
    return end;
  }

  TempDir dir_;
  std::string prefix_, bundle_, toolLog_;
  ChildProcess app_;
  std::vector<std::string> restarts_;
};

TEST_F(UninstallerApp, WithoutTheDriverNotNeededIsShownAndItsCloseBoxEndsTheProgram) {
  InstallTool(0);
  Start();
  EXPECT_EQ(Ask("windows"), "windows NotNeeded");
  EXPECT_EQ(Ask("close NotNeeded"), "closed");
  Ending end = Finish();
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.status, "0");
  EXPECT_EQ(end.rights, "0");
  EXPECT_EQ(end.toolStarts, "0");
  std::string log;
  EXPECT_FALSE(ToolRan(&log));
}

TEST_F(UninstallerApp, RemovalQuitsTheRunningPartsRunsTheToolOnceAndShowsSuccess) {
  InstallDriver();
  InstallTool(0);
  auto helper = StartPeer("CorvimusHelper");
  auto preferences = StartPeer("System Preferences");
  auto bystander = StartPeer("Dock");
  Start();
  ASSERT_EQ(Ask("windows"), "windows Confirm");
  EXPECT_EQ(Ask("click Confirm CVCV"), "clicked");

  int code = -1;
  EXPECT_TRUE(helper->Wait(&code));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(preferences->Wait(&code));
  EXPECT_EQ(code, 0);
  // Only the two named programs were asked to quit: the other one still answers.
  std::string line;
  bystander->Signal(SIGINT);
  EXPECT_TRUE(bystander->ReadLine(&line));
  EXPECT_EQ(line, "interrupt");

  std::string log;
  ASSERT_TRUE(ToolRan(&log));
  EXPECT_EQ(log, "1\n--rmcvms\n");
  EXPECT_EQ(Ask("windows"), "windows Success");

  EXPECT_EQ(Ask("click Success BOOT"), "clicked");
  Ending end = Finish();
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.rights, "1");
  EXPECT_EQ(end.toolStarts, "1");
  EXPECT_EQ(end.destroys, "1");  // the right is given back once the tool has ended
  ASSERT_EQ(restarts_.size(), 1u);
  EXPECT_EQ(restarts_[0], "restart interactive=1");
}

TEST_F(UninstallerApp, TheResultIsShownWhenTheRemovalTookTheUninstallerAway) {
  // As the package manager deletes the uninstaller's files, and the removal tool moves its bundle
  // into the cleanup folder, before the result window is made.
  InstallDriver();
  std::string tool = bundle_ + "/Contents/Resources/rmkvcv";
  WriteFile(tool, "#!/bin/sh\nrm -rf '" + bundle_ + "'\n");
  chmod(tool.c_str(), 0755);
  Start();
  ASSERT_EQ(Ask("windows"), "windows Confirm");
  EXPECT_EQ(Ask("click Confirm CVCV"), "clicked");
  EXPECT_EQ(Ask("windows"), "windows Success");
  EXPECT_FALSE(fs::exists(bundle_));
  EXPECT_EQ(Ask("close Success"), "closed");
  EXPECT_EQ(Finish().exitCode, 0);
}

TEST_F(UninstallerApp, ToolEndingWith213ShowsError) {
  InstallDriver();
  InstallTool(213);
  Start();
  ASSERT_EQ(Ask("windows"), "windows Confirm");
  EXPECT_EQ(Ask("click Confirm CVCV"), "clicked");
  EXPECT_EQ(Ask("windows"), "windows Error");
  std::string log;
  ASSERT_TRUE(ToolRan(&log));
  EXPECT_EQ(log, "1\n--rmcvms\n");
  // The close command of the menu ends the program; the status stays that of a normal run.
  EXPECT_EQ(Ask("menu Error clos"), "chose");
  Ending end = Finish();
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_TRUE(restarts_.empty());
}

TEST_F(UninstallerApp, MissingToolShowsErrorWithoutAskingForTheRight) {
  InstallDriver();
  auto helper = StartPeer("CorvimusHelper");
  Start();
  ASSERT_EQ(Ask("windows"), "windows Confirm");
  EXPECT_EQ(Ask("click Confirm CVCV"), "clicked");
  EXPECT_EQ(Ask("windows"), "windows Error");
  // The quit requests go out before the tool is looked for.
  int code = -1;
  EXPECT_TRUE(helper->Wait(&code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Ask("close Error"), "closed");
  Ending end = Finish();
  EXPECT_EQ(end.rights, "0");
  EXPECT_EQ(end.toolStarts, "0");
  EXPECT_EQ(end.exitCode, 0);
}

class UninstallerAuthorization : public UninstallerApp,
                                 public ::testing::WithParamInterface<const char*> {};

TEST_P(UninstallerAuthorization, NotGrantedShowsErrorAndRunsNothing) {
  InstallDriver();
  InstallTool(0);
  auto preferences = StartPeer("System Preferences");
  Start(GetParam());
  ASSERT_EQ(Ask("windows"), "windows Confirm");
  EXPECT_EQ(Ask("click Confirm CVCV"), "clicked");
  EXPECT_EQ(Ask("windows"), "windows Error");
  // The quit requests went out before the right was asked for.
  int code = -1;
  EXPECT_TRUE(preferences->Wait(&code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Ask("close Error"), "closed");
  Ending end = Finish();
  EXPECT_EQ(end.rights, "1");
  EXPECT_EQ(end.toolStarts, "0");
  std::string log;
  EXPECT_FALSE(ToolRan(&log));
}

INSTANTIATE_TEST_SUITE_P(CancelledOrRefused, UninstallerAuthorization,
                         ::testing::Values("cancel", "deny"));

TEST_F(UninstallerApp, DismissClosesOnlyItsWindowWhileACloseBoxEndsTheProgram) {
  InstallDriver();
  Start();
  ASSERT_EQ(Ask("windows"), "windows Confirm");
  EXPECT_EQ(Ask("menu Confirm abou"), "chose");
  EXPECT_EQ(Ask("windows"), "windows Confirm Info");
  EXPECT_EQ(Ask("click Info CLAB"), "clicked");
  EXPECT_EQ(Ask("windows"), "windows Confirm");
  EXPECT_EQ(Ask("menu Confirm abou"), "chose");
  EXPECT_EQ(Ask("windows"), "windows Confirm Info");
  EXPECT_EQ(Ask("close Info"), "closed");
  Ending end = Finish();
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.rights, "0");
}

TEST_F(UninstallerApp, QuitCommandEndsTheProgram) {
  Start();
  ASSERT_EQ(Ask("windows"), "windows NotNeeded");
  EXPECT_EQ(Ask("menu NotNeeded quit"), "chose");
  EXPECT_EQ(Finish().exitCode, 0);
}

TEST_F(UninstallerApp, DismissingTheLastWindowEndsTheProgram) {
  // A nib whose only window dismisses itself: with no window left nothing could end the program.
  std::string window;
  ASSERT_TRUE(ReadFile(Nib() + "/NotNeeded.ui", &window));
  size_t at = window.find(">clos</string>");
  ASSERT_NE(at, std::string::npos);
  window.replace(at + 1, 4, "CLAB");
  WriteFile(Nib() + "/NotNeeded.ui", window);
  Start();
  ASSERT_EQ(Ask("windows"), "windows NotNeeded");
  EXPECT_EQ(Ask("click NotNeeded CLAB"), "clicked");
  EXPECT_EQ(Finish().exitCode, 0);
}

TEST_F(UninstallerApp, ResultWindowThatCannotBeMadeEndsTheProgram) {
  InstallDriver();
  InstallTool(0);
  fs::remove(Nib() + "/Success.ui");
  Start();
  ASSERT_EQ(Ask("windows"), "windows Confirm");
  EXPECT_EQ(Ask("click Confirm CVCV"), "clicked");
  Ending end = Finish();
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.toolStarts, "1");
}

struct NibDamage {
  const char* what;
  void (*damage)(const std::string& nib);
  long status;
};

class UninstallerNib : public UninstallerApp, public ::testing::WithParamInterface<NibDamage> {};

TEST_P(UninstallerNib, NibThatCannotBeUsedEndsTheProcessAtOnceWithItsStatus) {
  InstallDriver();
  GetParam().damage(Nib());
  Start();
  Ending end = Finish();
  EXPECT_EQ(end.status, std::to_string(GetParam().status));
  EXPECT_EQ(end.exitCode, ExitCodeOf(GetParam().status));
  EXPECT_EQ(end.rights, "0");
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, UninstallerNib,
    ::testing::Values(
        NibDamage{"no nib", [](const std::string& nib) { fs::remove_all(nib); }, -10960},
        NibDamage{"no menu bar", [](const std::string& nib) { fs::remove(nib + "/Menus.ui"); },
                  -10962},
        NibDamage{"menu bar that is a window",
                  [](const std::string& nib) {
                    fs::copy_file(nib + "/Info.ui", nib + "/Menus.ui",
                                  fs::copy_options::overwrite_existing);
                  },
                  -10961},
        NibDamage{"first window not a Designer file",
                  [](const std::string& nib) {
                    WriteFile(nib + "/Confirm.ui", "<ui version=\"4.0\"><wid");
                  },
                  -10962},
        NibDamage{"first window named otherwise",
                  [](const std::string& nib) {
                    fs::copy_file(nib + "/Error.ui", nib + "/Confirm.ui",
                                  fs::copy_options::overwrite_existing);
                  },
                  -10961}),
    [](const ::testing::TestParamInfo<NibDamage>& info) {
      std::string name;
      for (const char* c = info.param.what; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
      return name;
    });

TEST_F(UninstallerApp, QuitAppleEventEndsTheProgram) {
  Start();
  ASSERT_EQ(Ask("windows"), "windows NotNeeded");
  ProcessSerialNumber psn;
  ASSERT_EQ(GetProcessForPID(app_.pid(), &psn), noErr);
  AEAddressDesc target;
  ASSERT_EQ(AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target), noErr);
  AppleEvent quit;
  ASSERT_EQ(AECreateAppleEvent(kCoreEventClass, kAEQuitApplication, &target, kAutoGenerateReturnID,
                               kAnyTransactionID, &quit),
            noErr);
  AppleEvent reply;
  EXPECT_EQ(
      AESend(&quit, &reply, kAEWaitReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr),
      noErr);
  AEDisposeDesc(&reply);
  AEDisposeDesc(&quit);
  AEDisposeDesc(&target);
  EXPECT_EQ(Finish().exitCode, 0);
}

// Sends the quit event to a program that may not listen yet; the status of the last attempt.
OSErr QuitWhenListening(pid_t pid) {
  ProcessSerialNumber psn;
  OSErr err = GetProcessForPID(pid, &psn);
  if (err != noErr) return err;
  AEAddressDesc target;
  err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
  if (err != noErr) return err;
  AppleEvent quit;
  err = AECreateAppleEvent(kCoreEventClass, kAEQuitApplication, &target, kAutoGenerateReturnID,
                           kAnyTransactionID, &quit);
  if (err == noErr) {
    err = procNotFound;
    for (int attempt = 0; attempt < 300 && err != noErr; ++attempt) {
      AppleEvent reply;
      err = AESend(&quit, &reply, kAEWaitReply, kAENormalPriority, 120, nullptr, nullptr);
      AEDisposeDesc(&reply);
      if (err != noErr) usleep(50 * 1000);
    }
    AEDisposeDesc(&quit);
  }
  AEDisposeDesc(&target);
  return err;
}

// The program as built: its bundle carries the tool and every window, and it starts from there.
TEST(UninstallerBundle, BuiltBundleHoldsTheProgramTheToolAndTheNib) {
  std::string bundle = UNINSTALLER_BUNDLE;
  EXPECT_EQ(access((bundle + "/Contents/MacOS/Corvimus Uninstaller").c_str(), X_OK), 0);
  EXPECT_EQ(access((bundle + "/Contents/Resources/rmkvcv").c_str(), X_OK), 0);
  EXPECT_TRUE(fs::exists(bundle + "/Contents/Info.plist"));
  for (const char* name : kWindowFiles)
    EXPECT_TRUE(fs::exists(bundle + "/Contents/Resources/main.nib/" + name + ".ui")) << name;

  TempDir prefix;
  ChildProcess app;
  ASSERT_TRUE(app.Start({bundle + "/Contents/MacOS/Corvimus Uninstaller"},
                        {"CORVIMUS_PREFIX=" + prefix.path()}));
  EXPECT_EQ(QuitWhenListening(app.pid()), noErr);
  int code = -1;
  EXPECT_TRUE(app.Wait(&code, 30000));
  EXPECT_EQ(code, 0);
}

// The installation: the bundle, and the desktop entry and polkit action that name its programs.
TEST(UninstallerBundle, InstalledEntryAndActionNameTheInstalledPrograms) {
  TempDir prefix;
  auto installed = RunProgram(
      {CORVIMUS_CMAKE_COMMAND, "--install", CORVIMUS_BUILD_DIR, "--prefix", prefix.path()}, {}, {},
      300000);
  ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
  std::string app = prefix / UNINSTALLER_INSTALLED;
  EXPECT_EQ(access((app + "/Contents/MacOS/Corvimus Uninstaller").c_str(), X_OK), 0);
  EXPECT_EQ(access((app + "/Contents/Resources/rmkvcv").c_str(), X_OK), 0);
  EXPECT_TRUE(fs::exists(app + "/Contents/Info.plist"));
  for (const char* name : kWindowFiles)
    EXPECT_TRUE(fs::exists(app + "/Contents/Resources/main.nib/" + name + ".ui")) << name;

  std::string policy;
  ASSERT_TRUE(
      ReadFile(prefix / "share/polkit-1/actions/com.kelvane.mouse.uninstall.policy", &policy));
  EXPECT_NE(policy.find("<action id=\"" + std::string(kCorvimusAdminAction) + "\">"),
            std::string::npos);
  EXPECT_NE(policy.find("\"org.freedesktop.policykit.exec.path\">" + app +
                        "/Contents/Resources/rmkvcv</annotate>"),
            std::string::npos)
      << policy;
  std::string entry;
  ASSERT_TRUE(
      ReadFile(prefix / "share/applications/com.kelvane.mouse.uninstaller.desktop", &entry));
  EXPECT_NE(entry.find("\nExec=\"" + app + "/Contents/MacOS/Corvimus Uninstaller\"\n"),
            std::string::npos)
      << entry;

  // The installed program finds its prefix from its own place.
  ChildProcess started;
  ASSERT_TRUE(started.Start({app + "/Contents/MacOS/Corvimus Uninstaller"}, {"CORVIMUS_PREFIX="}));
  EXPECT_EQ(QuitWhenListening(started.pid()), noErr);
  int code = -1;
  EXPECT_TRUE(started.Wait(&code, 30000));
  EXPECT_EQ(code, 0);
}

}  // namespace

// The windows speak the user's language: the Designer files' texts go through the bundle's
// translations, while the commands the controls carry stay as they are.
TEST_F(UninstallerApp, WindowsAndMenusSpeakGermanWhenTheUserDoes) {
  fs::create_directories(bundle_ + "/Contents/Resources/de.lproj");
  fs::copy_file(std::string(UNINSTALLER_BUNDLE) + "/Contents/Resources/de.lproj/Uninstaller.qm",
                bundle_ + "/Contents/Resources/de.lproj/Uninstaller.qm");
  InstallTool(0);
  Start("grant", "de");
  ASSERT_EQ(Ask("windows"), "windows NotNeeded");
  std::string texts = Ask("texts NotNeeded");
  for (const char* german :
       {"Corvimus entfernen", "Corvimus ist nicht installiert", "Beenden", "Ablage", "Schließen"})
    EXPECT_NE(texts.find(german), std::string::npos) << german << " in " << texts;
  for (const char* english : {"Uninstaller", "is not installed", "Quit", "File", "Close"})
    EXPECT_EQ(texts.find(english), std::string::npos) << english << " in " << texts;
  EXPECT_EQ(Ask("click NotNeeded clos"), "clicked");
  EXPECT_EQ(Finish().exitCode, 0);
}

TEST_F(UninstallerApp, WithoutTranslationsForTheLanguageTheWindowsStayEnglish) {
  InstallTool(0);
  Start("grant", "de");  // this bundle has no de.lproj
  ASSERT_EQ(Ask("windows"), "windows NotNeeded");
  std::string texts = Ask("texts NotNeeded");
  EXPECT_NE(texts.find("Corvimus is not installed"), std::string::npos) << texts;
  EXPECT_EQ(Ask("close NotNeeded"), "closed");
  EXPECT_EQ(Finish().exitCode, 0);
}
