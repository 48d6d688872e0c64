// `corvimus-prefs apply` with agents of other login sessions of the same user about: it reaches this
// session's agent, and says so plainly when there is none.
#include <sys/stat.h>

#include <filesystem>

#include "AgentWorld.h"

namespace agenttest {
namespace {

namespace fs = std::filesystem;
using corvimus::testing::RunProgram;

using AgentApplyTest = AgentWorld;

size_t PushesOfSpeed(const std::vector<DriverCall>& calls, UInt8 speed) {
  size_t n = 0;
  for (const auto& call : calls) n += call.hasRecord && call.record.device[0].speed == speed;
  return n;
}

TEST_F(AgentApplyTest, ApplyReachesThisSessionsAgentOnly) {
  // Nobody runs here: the message says what starts the agent (or, while tests running beside this
  // one have agents, that those belong to other sessions).
  auto none = RunProgram({CORVIMUS_PREFS, "apply"});
  EXPECT_EQ(1, none.exitCode);
  EXPECT_NE(std::string::npos, none.err.find("not running in this session")) << none.err;
  EXPECT_TRUE(none.err.find("login") != std::string::npos ||
              none.err.find("another session") != std::string::npos)
      << none.err;

  StartDriver(2);
  // Two agents of the same user in other sessions, started first so that a search by name alone
  // meets them before this session's: one of another login (its own runtime folder, whose event
  // socket cannot be reached from here), one on another display sharing this runtime folder, with
  // a settings file of its own (speed 77) so that a reload reaching it would show.
  fs::create_directories(root_ / "run2");
  chmod((root_ / "run2").c_str(), 0700);
  corvimus::testing::ChildProcess otherLogin, otherDisplay;
  ASSERT_TRUE(otherLogin.Start({CORVIMUS_HELPER}, {"XDG_RUNTIME_DIR=" + (root_ / "run2")}));
  WriteSettings({MakeRecord(0, "", 77)});
  fs::create_directories(root_ / "config2");
  fs::rename(SettingsPath(), root_ / ("config2/" + std::string(kCorvimusPrefsFileName)));
  ASSERT_TRUE(otherDisplay.Start({CORVIMUS_HELPER},
                                 {"DISPLAY=:4242", "XDG_CONFIG_HOME=" + (root_ / "config2")}));
  ASSERT_TRUE(WaitForSpeed(2, 77));

  auto elsewhere = RunProgram({CORVIMUS_PREFS, "apply"});
  EXPECT_EQ(1, elsewhere.exitCode);
  EXPECT_NE(std::string::npos, elsewhere.err.find("another session")) << elsewhere.err;
  EXPECT_NE(std::string::npos, elsewhere.err.find("DISPLAY")) << elsewhere.err;

  WriteSettings({MakeRecord(0, "", 10)});
  size_t before[2] = {CallsOf(1, "CvSe").size(), CallsOf(2, "CvSe").size()};
  ASSERT_TRUE(agent_.Start({CORVIMUS_HELPER}));
  for (UInt32 mouse : {1u, 2u})
    ASSERT_TRUE(WaitForCount(mouse, "CvSe", before[mouse - 1] + 2)) << "mouse " << mouse;
  ASSERT_TRUE(WaitForSpeed(2, 10));
  // The pane's device query, too, goes to this session's agent.
  ASSERT_TRUE(WaitForDeviceCount(2));

  WriteSettings({MakeRecord(0, "", 90)});
  size_t foreign = PushesOfSpeed(Calls(), 77);
  auto apply = RunProgram({CORVIMUS_PREFS, "apply"});
  ASSERT_EQ(0, apply.exitCode) << apply.err;
  ASSERT_TRUE(WaitForSpeed(2, 90));
  // A reload of the other agent would have pushed its 77 once more.
  CorvimusDeviceList list;
  ASSERT_EQ(noErr, Devices(&list));
  EXPECT_EQ(foreign, PushesOfSpeed(Calls(), 77));
}

}  // namespace
}  // namespace agenttest
