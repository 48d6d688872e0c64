// How the agent starts and ends: its process name, the quit event, SIGINT, and no driver layer.
#include <sys/stat.h>

#include <csignal>
#include <cstring>

#include "AgentWorld.h"
#include "platform/AppleEvents.h"

namespace agenttest {
namespace {

using AgentLifeTest = AgentWorld;

TEST_F(AgentLifeTest, QuitEventEndsItWithZero) {
  StartDriver(1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(1));
  // The pane finds the agent by its process name, which the bundle gives it.
  ProcessSerialNumber psn;
  ASSERT_EQ(noErr, FindNamedProcess(kCorvimusHelperName, &psn));
  pid_t pid = 0;
  ASSERT_EQ(noErr, GetProcessPID(&psn, &pid));
  EXPECT_EQ(agent_.pid(), pid);

  EXPECT_EQ(noErr, SendToAgent(kCoreEventClass, kAEQuitApplication));
  int status = -1;
  ASSERT_TRUE(agent_.Wait(&status, 10000));
  EXPECT_EQ(0, status);
}

TEST_F(AgentLifeTest, InterruptEndsItWithZeroAndTheFileUntouched) {
  WriteSettings({MakeRecord(0, "", 10), MakeRecord(FourCC("ttxt"), "Editor", 20)});
  std::string before;
  ASSERT_TRUE(corvimus::testing::ReadFile(SettingsPath(), &before));
  struct stat statBefore {};
  ASSERT_EQ(0, stat(SettingsPath().c_str(), &statBefore));

  StartDriver(2);
  ASSERT_NO_FATAL_FAILURE(StartAgent(2));
  TestApp* editor = Launch("Editor", "Editor", "ttxt");
  Front(editor);
  ASSERT_TRUE(WaitForSpeed(2, 20));
  ASSERT_EQ(noErr, RequestDriverPrefsUpdate());

  agent_.Signal(SIGINT);
  int status = -1;
  ASSERT_TRUE(agent_.Wait(&status, 10000));
  EXPECT_EQ(0, status);
  std::string after;
  ASSERT_TRUE(corvimus::testing::ReadFile(SettingsPath(), &after));
  EXPECT_EQ(before, after);
  struct stat statAfter {};
  ASSERT_EQ(0, stat(SettingsPath().c_str(), &statAfter));
  EXPECT_EQ(statBefore.st_ino, statAfter.st_ino);
  EXPECT_EQ(statBefore.st_mtim.tv_sec, statAfter.st_mtim.tv_sec);
  EXPECT_EQ(statBefore.st_mtim.tv_nsec, statAfter.st_mtim.tv_nsec);
}

TEST_F(AgentLifeTest, WithoutTheDriverLayerItEndsWith255) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer runtime needs descriptors of its own and reports the starved start-up instead.
  GTEST_SKIP() << "not meaningful with so few descriptors under the sanitizers";
#endif
  // Too few descriptors for the IOKit layer to start; everything before it just goes without.
  auto result = corvimus::testing::RunProgram({"/usr/bin/prlimit", "--nofile=5", CORVIMUS_HELPER},
                                              {}, {}, 20000);
  EXPECT_EQ(255, result.exitCode) << result.err;
}

TEST_F(AgentLifeTest, WithoutAnyMouseItWaitsAndTakesLaterOnes) {
  StartDriver(0);
  ASSERT_TRUE(agent_.Start({CORVIMUS_HELPER}));
  ASSERT_TRUE(WaitForDeviceCount(0));
  ASSERT_EQ("ok mouse 1", Sim("add bluetooth"));
  ASSERT_TRUE(WaitForDeviceCount(1));
  ASSERT_TRUE(WaitForCount(1, "CvSe", 1));
}

}  // namespace
}  // namespace agenttest
