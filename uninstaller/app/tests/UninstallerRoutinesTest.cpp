// The uninstaller's routines called directly: the process search, events to processes, running a
// tool with the (stand-in) authorizer, the restart request, the bundle look-up outside a bundle and
// the text helpers of the toolbox.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Uninstaller.h"
#include "UninstallerToolbox.h"
#include "platform/Authorization.h"
#include "platform/Processes.h"
#include "platform/SystemProcess.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using corvimus::FakeAuthorizer;
using corvimus::testing::ChildProcess;
using corvimus::testing::ReadFile;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

bool SamePSN(const ProcessSerialNumber& a, const ProcessSerialNumber& b) {
  return a.highLongOfPSN == b.highLongOfPSN && a.lowLongOfPSN == b.lowLongOfPSN;
}

class ProcessTable : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = {
        {{7, 100}, "Finder"},
        {{7, 101}, "Système"},
        {{7, 102}, "corvimushelper"},
        {{7, 103}, "CorvimusHelper"},
    };
    SetProcessTableForTesting(&table_);
  }
  void TearDown() override { SetProcessTableForTesting(nullptr); }
  std::vector<TestProcess> table_;
};

TEST_F(ProcessTable, FindsTheFirstProcessWhoseNameMatchesIgnoringCase) {
  ProcessSerialNumber psn{};
  EXPECT_EQ(FindRunningProcess((ConstStr255Param) "\016CorvimusHelper", &psn), noErr);
  EXPECT_TRUE(SamePSN(psn, {7, 102}));
  EXPECT_EQ(FindRunningProcess((ConstStr255Param) "\006FINDER", nullptr), noErr);
}

TEST_F(ProcessTable, AccentsAndLengthsMustMatch) {
  ProcessSerialNumber psn{1, 1};
  // "Systeme" without the accent is another name.
  EXPECT_EQ(FindRunningProcess((ConstStr255Param) "\007Systeme", &psn), procNotFound);
  EXPECT_TRUE(SamePSN(psn, {1, 1}));
  EXPECT_EQ(FindRunningProcess((ConstStr255Param) "\010Syst\xC3\xA8me", &psn), noErr);
  EXPECT_TRUE(SamePSN(psn, {7, 101}));
  EXPECT_EQ(FindRunningProcess((ConstStr255Param) "\005Finde", &psn), procNotFound);
  EXPECT_EQ(FindRunningProcess(nullptr, &psn), paramErr);
}

TEST_F(ProcessTable, EventWithoutClassAndIdOnlyTestsPresence) {
  // The table's processes do not exist: an event sent to one could not be delivered.
  EXPECT_EQ(SendEventToProcess((ConstStr255Param) "\006Finder", 0, 0), noErr);
  EXPECT_EQ(SendEventToProcess((ConstStr255Param) "\004Dock", 0, 0), procNotFound);
  EXPECT_EQ(SendEventToProcess((ConstStr255Param) "\004Dock", kCoreEventClass, kAEQuitApplication),
            procNotFound);
  EXPECT_NE(
      SendEventToProcess((ConstStr255Param) "\006Finder", kCoreEventClass, kAEQuitApplication),
      noErr);
}

TEST(SendEventToProcess, DeliversTheEventToTheNamedProcess) {
  TempDir dir;
  std::string peerPath = dir / "Peer";
  std::ifstream in(TEST_PEER_PATH, std::ios::binary);
  std::ofstream(peerPath, std::ios::binary) << in.rdbuf();
  chmod(peerPath.c_str(), 0755);
  ChildProcess peer;
  ASSERT_TRUE(peer.Start({peerPath}));
  std::string line;
  ASSERT_TRUE(peer.ReadLine(&line));
  ASSERT_EQ(line, "ready");
  SetProcessScopeForTesting(getpid());
  EXPECT_EQ(SendEventToProcess((ConstStr255Param) "\004peer", FourCC("Cvts"), FourCC("note")),
            noErr);
  ASSERT_TRUE(peer.ReadLine(&line));
  EXPECT_EQ(line, "note ");
  EXPECT_EQ(SendEventToProcess((ConstStr255Param) "\004Peer", kCoreEventClass, kAEQuitApplication),
            noErr);
  int code = -1;
  EXPECT_TRUE(peer.Wait(&code));
  EXPECT_EQ(code, 0);
  SetProcessScopeForTesting(0);
}

class ToolRun : public ::testing::Test {
 protected:
  void SetUp() override { corvimus::SetAuthorizerForTesting(&authorizer_); }
  void TearDown() override { corvimus::SetAuthorizerForTesting(nullptr); }

  // A tool that records its arguments and ends as `body` says.
  FSRef MakeTool(const std::string& body, mode_t mode = 0755) {
    std::string path = dir_ / "tool";
    unlink((dir_ / "args").c_str());
    WriteFile(path, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + (dir_ / "args") + "'\n" + body +
                        "\n");
    chmod(path.c_str(), mode);
    FSRef ref;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    return ref;
  }
  std::string Arguments() {
    std::string args;
    return ReadFile(dir_ / "args", &args) ? args : "(not run)";
  }

  TempDir dir_;
  FakeAuthorizer authorizer_;
};

TEST_F(ToolRun, ResultIsTheToolsExitCode) {
  FSRef tool = MakeTool("exit 7");
  char a[] = "--rmcvms";
  char b[] = "two words";
  char* arguments[] = {a, b, nullptr};
  EXPECT_EQ(RunToolWithPrivileges(&tool, arguments), 7);
  EXPECT_EQ(Arguments(), "2\n--rmcvms\ntwo words\n");
  EXPECT_EQ(authorizer_.rightRequests(), 1);
  EXPECT_TRUE(authorizer_.lastInteractionAllowed());
  EXPECT_EQ(authorizer_.destroys(), 1);

  tool = MakeTool("exit 0");
  EXPECT_EQ(RunToolWithPrivileges(&tool, nullptr), 0);
  EXPECT_EQ(Arguments(), "0\n");
}

TEST_F(ToolRun, RightNotGrantedRunsNothing) {
  for (OSStatus answer : {errAuthorizationCanceled, errAuthorizationDenied}) {
    FakeAuthorizer refusing(answer);
    corvimus::SetAuthorizerForTesting(&refusing);
    FSRef tool = MakeTool("exit 0");
    EXPECT_EQ(RunToolWithPrivileges(&tool, nullptr), answer);
    EXPECT_EQ(refusing.toolStarts(), 0);
    EXPECT_EQ(Arguments(), "(not run)");
  }
}

TEST_F(ToolRun, ToolThatDoesNotEndNormallyIsAFailure) {
  // Killed by a signal: the wait status shifted right would read as success.
  FSRef tool = MakeTool("kill -9 $$");
  EXPECT_EQ(RunToolWithPrivileges(&tool, nullptr), errAuthorizationToolExecuteFailure);
  // Not executable at all.
  tool = MakeTool("exit 0", 0644);
  EXPECT_EQ(RunToolWithPrivileges(&tool, nullptr), errAuthorizationToolExecuteFailure);
  EXPECT_EQ(Arguments(), "(not run)");
}

TEST_F(ToolRun, AnotherChildThatEndedFirstIsNotTakenForTheTool) {
  pid_t other = fork();
  if (other == 0) _exit(0);
  ASSERT_GT(other, 0);
  // Until the other child is a zombie: a wait for any child would now find it first.
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, id_t(other), &info, WEXITED | WNOWAIT), 0);
  FSRef tool = MakeTool("exit 5");
  EXPECT_EQ(RunToolWithPrivileges(&tool, nullptr), 5);
  int status;
  EXPECT_EQ(waitpid(other, &status, 0), other);
}

TEST_F(ToolRun, MissingToolReferenceFails) {
  EXPECT_NE(RunToolWithPrivileges(nullptr, nullptr), noErr);
  EXPECT_EQ(authorizer_.rightRequests(), 0);
}

TEST(SendRestartEvent, AsksTheSystemToRestartAllowingTheUserToBeAsked) {
  std::vector<bool> requests;
  corvimus::SetRestartRequestForTesting([&](bool interactive) {
    requests.push_back(interactive);
    return OSErr(noErr);
  });
  EXPECT_EQ(SendRestartEvent(), noErr);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0]);

  corvimus::SetRestartRequestForTesting([](bool) { return OSErr(procNotFound); });
  EXPECT_EQ(SendRestartEvent(), procNotFound);
  corvimus::SetRestartRequestForTesting({});
}

TEST(BundleResources, ProgramOutsideABundleHasNoResources) {
  int argc = 1;
  char name[] = "uninstaller_app_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  QUrl url = QUrl::fromLocalFile(QStringLiteral("/stale"));
  EXPECT_EQ(CopyBundleResourceURL("rmkvcv", &url), ioErr);
  EXPECT_TRUE(url.isEmpty());
  FSRef ref;
  EXPECT_EQ(GetBundleResourceRef("rmkvcv", &ref), ioErr);
  EXPECT_EQ(CopyBundleResourceURL("rmkvcv", nullptr), paramErr);
}

TEST(BundleResources, ResourcesAreLookedUpInsideContentsResourcesOnly) {
  TempDir dir;
  std::string bundle = dir / "X.app";
  WriteFile(dir / "secret", "x");
  std::filesystem::create_directories(bundle + "/Contents/Resources/sub");
  WriteFile(bundle + "/Contents/Resources/rmkvcv", "x");
  QString path = QString::fromStdString(bundle);
  using corvimus::toolbox::CopyBundleResource;
  EXPECT_EQ(CopyBundleResource(path, QStringLiteral("rmkvcv")).toLocalFile().toStdString(),
            bundle + "/Contents/Resources/rmkvcv");
  EXPECT_TRUE(CopyBundleResource(path, QStringLiteral("missing")).isEmpty());
  EXPECT_TRUE(CopyBundleResource(path, QStringLiteral("../../../secret")).isEmpty());
  EXPECT_TRUE(CopyBundleResource(path, QStringLiteral("..")).isEmpty());
  EXPECT_TRUE(CopyBundleResource(path, QString()).isEmpty());
  EXPECT_TRUE(CopyBundleResource(QString(), QStringLiteral("rmkvcv")).isEmpty());
}

TEST(ToolboxText, MacRomanUpperHalfMapsToUnicode) {
  using corvimus::toolbox::StringFromMacRoman;
  EXPECT_EQ(StringFromMacRoman("rmkvcv"), QStringLiteral("rmkvcv"));
  EXPECT_EQ(StringFromMacRoman("Caf\x8E"), QString::fromUtf8("Café"));
  EXPECT_EQ(StringFromMacRoman("\x80\xA5\xDB\xF0\xFF"), QString::fromUtf8("Ä•€\xEF\xA3\xBFˇ"));
  EXPECT_TRUE(StringFromMacRoman(nullptr).isEmpty());
}

TEST(ToolboxText, CommandPropertyMustBeFourLatin1Characters) {
  using corvimus::toolbox::CommandFromText;
  EXPECT_EQ(CommandFromText(QStringLiteral("CVCV")), FourCC("CVCV"));
  EXPECT_EQ(CommandFromText(QStringLiteral("abou")), FourCC("abou"));
  EXPECT_EQ(CommandFromText(QStringLiteral("ok  ")), FourCC("ok  "));
  EXPECT_EQ(CommandFromText(QStringLiteral("CLA")), 0u);
  EXPECT_EQ(CommandFromText(QStringLiteral("CLABS")), 0u);
  EXPECT_EQ(CommandFromText(QString::fromUtf8("CL€B")), 0u);
  EXPECT_EQ(CommandFromText(QString()), 0u);
}

}  // namespace
