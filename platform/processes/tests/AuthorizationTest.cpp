// Authorization with polkit's programs replaced by stand-in scripts that record how they were
// called, and the calls' own checks with the fake authorizer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/Authorization.h"
#include "testing/TempDir.h"

using corvimus::FakeAuthorizer;
using corvimus::PolkitAuthorizer;
using corvimus::testing::ReadFile;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

class PolkitPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    // pkcheck: appends its arguments to a log and exits with the code in a file.
    WriteFile(dir_ / "pkcheck", "#!/bin/sh\necho \"$*\" >> '" + (dir_ / "pkcheck.log") +
                                    "'\nexit $(cat '" + (dir_ / "pkcheck.code") + "')\n");
    // pkexec: records its arguments, then runs them as the real one would after authentication.
    WriteFile(dir_ / "pkexec",
              "#!/bin/sh\necho \"$*\" >> '" + (dir_ / "pkexec.log") + "'\nexec \"$@\"\n");
    WriteFile(dir_ / "tool",
              "#!/bin/sh\necho \"$#:$*\" >> '" + (dir_ / "tool.log") + "'\nexit 4\n");
    // pkaction: knows the action when its code file says 0.
    WriteFile(dir_ / "pkaction", "#!/bin/sh\necho \"$*\" >> '" + (dir_ / "pkaction.log") +
                                     "'\nexit $(cat '" + (dir_ / "pkaction.code") + "')\n");
    WriteFile(dir_ / "pkaction.code", "0\n");
    for (const char* p : {"pkcheck", "pkexec", "pkaction", "tool"}) chmod((dir_ / p).c_str(), 0755);
    SetAnswer(0);
  }

  void SetAnswer(int code) { WriteFile(dir_ / "pkcheck.code", std::to_string(code) + "\n"); }
  std::string Log(const char* name) {
    std::string text;
    return ReadFile(dir_ / name, &text) ? text : "";
  }
  PolkitAuthorizer MakeAuthorizer(PolkitAuthorizer::Identity identity) {
    return PolkitAuthorizer(dir_.path(), "com.example.test", identity);
  }
  static int Finish(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  TempDir dir_;
};

TEST_F(PolkitPrograms, RightIsCheckedForThisProcessWithInteractionWhenAllowed) {
  PolkitAuthorizer authorizer = MakeAuthorizer(PolkitAuthorizer::Identity::kUser);
  EXPECT_EQ(authorizer.CopyAdminRight(true), noErr);
  EXPECT_EQ(authorizer.CopyAdminRight(false), noErr);
  std::string log = Log("pkcheck.log");
  std::string subject = "--process " + std::to_string(getpid()) + ",";
  size_t first = log.find('\n');
  ASSERT_NE(first, std::string::npos);
  std::string interactive = log.substr(0, first);
  std::string quiet = log.substr(first + 1);
  EXPECT_EQ(interactive.rfind("--action-id com.example.test " + subject, 0), 0u) << interactive;
  EXPECT_NE(interactive.find("," + std::to_string(getuid()) + " --allow-user-interaction"),
            std::string::npos)
      << interactive;
  EXPECT_EQ(quiet.find("--allow-user-interaction"), std::string::npos) << quiet;
}

TEST_F(PolkitPrograms, PkcheckAnswersBecomeAuthorizationResults) {
  PolkitAuthorizer authorizer = MakeAuthorizer(PolkitAuthorizer::Identity::kUser);
  const std::pair<int, OSStatus> answers[] = {
      {0, noErr},
      {1, errAuthorizationDenied},
      {2, errAuthorizationInteractionNotAllowed},
      {3, errAuthorizationCanceled},
      {4, errAuthorizationInternal},
      {127, errAuthorizationInternal},
  };
  for (const auto& [code, result] : answers) {
    SetAnswer(code);
    EXPECT_EQ(authorizer.CopyAdminRight(true), result) << code;
  }
}

TEST_F(PolkitPrograms, ActionPolkitDoesNotKnowLeavesTheQuestionToPkexec) {
  WriteFile(dir_ / "pkaction.code", "1\n");
  SetAnswer(1);  // would be a refusal
  PolkitAuthorizer authorizer = MakeAuthorizer(PolkitAuthorizer::Identity::kUser);
  EXPECT_EQ(authorizer.CopyAdminRight(true), noErr);
  EXPECT_EQ(Log("pkaction.log"), "--action-id com.example.test\n");
  EXPECT_EQ(Log("pkcheck.log"), "");
  pid_t child = -1;
  ASSERT_EQ(authorizer.StartTool(dir_ / "tool", {"--rmcvms"}, &child), noErr);
  EXPECT_EQ(Finish(child), 4);
  EXPECT_EQ(Log("pkexec.log"), (dir_ / "tool") + " --rmcvms\n");

  // Without polkit's programs at all the tool cannot be started.
  PolkitAuthorizer missing(dir_ / "nowhere", "com.example.test", PolkitAuthorizer::Identity::kUser);
  EXPECT_EQ(missing.CopyAdminRight(true), noErr);
  EXPECT_EQ(missing.StartTool(dir_ / "tool", {}, &child), errAuthorizationToolExecuteFailure);
}

TEST_F(PolkitPrograms, ToolStartsThroughPkexecForAUserAndDirectlyForRoot) {
  PolkitAuthorizer user = MakeAuthorizer(PolkitAuthorizer::Identity::kUser);
  pid_t child = -1;
  ASSERT_EQ(user.StartTool(dir_ / "tool", {"--rmcvms"}, &child), noErr);
  EXPECT_EQ(Finish(child), 4);
  EXPECT_EQ(Log("pkexec.log"), (dir_ / "tool") + " --rmcvms\n");
  EXPECT_EQ(Log("tool.log"), "1:--rmcvms\n");

  PolkitAuthorizer root = MakeAuthorizer(PolkitAuthorizer::Identity::kRoot);
  EXPECT_EQ(root.CopyAdminRight(true), noErr);
  EXPECT_EQ(Log("pkcheck.log"), "");  // root is not asked
  ASSERT_EQ(root.StartTool(dir_ / "tool", {}, &child), noErr);
  EXPECT_EQ(Finish(child), 4);
  EXPECT_EQ(Log("pkexec.log"), (dir_ / "tool") + " --rmcvms\n");  // not called again
  EXPECT_EQ(Log("tool.log"), "1:--rmcvms\n0:\n");
}

TEST_F(PolkitPrograms, DestroyingRightsRevokesAKeptGrantOnly) {
  PolkitAuthorizer authorizer = MakeAuthorizer(PolkitAuthorizer::Identity::kUser);
  SetAnswer(3);
  EXPECT_EQ(authorizer.CopyAdminRight(true), errAuthorizationCanceled);
  authorizer.DestroyRights();
  EXPECT_EQ(Log("pkcheck.log").find("--revoke-temp"), std::string::npos);
  SetAnswer(0);
  EXPECT_EQ(authorizer.CopyAdminRight(true), noErr);
  authorizer.DestroyRights();
  authorizer.DestroyRights();
  std::string log = Log("pkcheck.log");
  size_t at = log.find("--revoke-temp\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(log.find("--revoke-temp", at + 1), std::string::npos);  // once
}

TEST_F(PolkitPrograms, ProgramThatCannotBeStartedIsAnExecuteFailure) {
  pid_t child = 77;
  EXPECT_EQ(corvimus::StartChildProcess({dir_ / "absent"}, &child),
            errAuthorizationToolExecuteFailure);
  EXPECT_EQ(child, 77);
  EXPECT_EQ(corvimus::StartChildProcess({"tool"}, &child), errAuthorizationToolExecuteFailure);
  EXPECT_EQ(corvimus::StartChildProcess({}, &child), errAuthorizationToolExecuteFailure);
  chmod((dir_ / "tool").c_str(), 0644);
  EXPECT_EQ(corvimus::StartChildProcess({dir_ / "tool"}, &child),
            errAuthorizationToolExecuteFailure);
}

class AuthorizationCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    corvimus::SetAuthorizerForTesting(&fake_);
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref_), noErr);
  }
  void TearDown() override {
    if (ref_) AuthorizationFree(ref_, kAuthorizationFlagDestroyRights);
    corvimus::SetAuthorizerForTesting(nullptr);
  }
  OSStatus Ask(const char* right, AuthorizationFlags flags) {
    AuthorizationItem item{right, 0, nullptr, 0};
    AuthorizationRights rights{1, &item};
    return AuthorizationCopyRights(ref_, &rights, nullptr, flags, nullptr);
  }

  FakeAuthorizer fake_;
  AuthorizationRef ref_ = nullptr;
  TempDir dir_;
};

TEST_F(AuthorizationCalls, OnlyTheAdminRightIsKnownAndItIsAskedForOnce) {
  EXPECT_EQ(Ask("system.privilege.taskport", kAuthorizationFlagInteractionAllowed),
            errAuthorizationDenied);
  EXPECT_EQ(fake_.rightRequests(), 0);
  EXPECT_EQ(Ask(kAuthorizationRightExecute, kAuthorizationFlagDefaults), noErr);
  EXPECT_FALSE(fake_.lastInteractionAllowed());
  EXPECT_EQ(Ask(kAuthorizationRightExecute, kAuthorizationFlagInteractionAllowed), noErr);
  EXPECT_EQ(fake_.rightRequests(), 1);
}

TEST_F(AuthorizationCalls, BadArgumentsAreRefused) {
  AuthorizationItem item{kAuthorizationRightExecute, 0, nullptr, 0};
  AuthorizationRights rights{1, &item};
  AuthorizationRights* out = nullptr;
  EXPECT_EQ(AuthorizationCopyRights(nullptr, &rights, nullptr, 0, nullptr),
            errAuthorizationInvalidRef);
  EXPECT_EQ(AuthorizationCopyRights(ref_, &rights, nullptr, 0, &out),
            errAuthorizationInvalidPointer);
  EXPECT_EQ(AuthorizationCopyRights(ref_, nullptr, nullptr, 0, nullptr),
            errAuthorizationInvalidSet);
  AuthorizationRights broken{2, nullptr};
  EXPECT_EQ(AuthorizationCopyRights(ref_, &broken, nullptr, 0, nullptr),
            errAuthorizationInvalidSet);
  AuthorizationItem unnamed{nullptr, 0, nullptr, 0};
  AuthorizationRights noName{1, &unnamed};
  EXPECT_EQ(AuthorizationCopyRights(ref_, &noName, nullptr, 0, nullptr),
            errAuthorizationInvalidSet);
  EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, 0, nullptr), errAuthorizationInvalidPointer);
  EXPECT_EQ(AuthorizationFree(nullptr, 0), errAuthorizationInvalidRef);
  EXPECT_EQ(fake_.rightRequests(), 0);
}

TEST_F(AuthorizationCalls, ToolRunsOnlyWithTheRight) {
  std::string tool = dir_ / "tool";
  WriteFile(tool, "#!/bin/sh\nexit 3\n");
  chmod(tool.c_str(), 0755);
  char arg[] = "--rmcvms";
  char* args[] = {arg, nullptr};
  pid_t child = -1;
  EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref_, tool.c_str(), 0, args, nullptr, &child),
            errAuthorizationDenied);
  EXPECT_EQ(fake_.toolStarts(), 0);
  ASSERT_EQ(Ask(kAuthorizationRightExecute, kAuthorizationFlagInteractionAllowed), noErr);
  FILE* pipe = nullptr;
  EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref_, tool.c_str(), 0, args, &pipe, &child),
            errAuthorizationInvalidPointer);
  EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref_, nullptr, 0, args, nullptr, &child),
            errAuthorizationInvalidPointer);
  ASSERT_EQ(AuthorizationExecuteWithPrivileges(ref_, tool.c_str(), 0, args, nullptr, &child),
            noErr);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(AuthorizationFree(ref_, kAuthorizationFlagDestroyRights), noErr);
  ref_ = nullptr;
  EXPECT_EQ(fake_.destroys(), 1);
}

TEST_F(AuthorizationCalls, FreeingWithoutDestroyingKeepsAGrantForLater) {
  ASSERT_EQ(Ask(kAuthorizationRightExecute, kAuthorizationFlagInteractionAllowed), noErr);
  EXPECT_EQ(AuthorizationFree(ref_, kAuthorizationFlagDefaults), noErr);
  ref_ = nullptr;
  EXPECT_EQ(fake_.destroys(), 0);
}

}  // namespace
