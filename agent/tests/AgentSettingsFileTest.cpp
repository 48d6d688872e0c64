// The agent against settings files it must not trust: something else where the file belongs.
#include <unistd.h>

#include "AgentWorld.h"
#include "testing/FifoWatch.h"

namespace agenttest {
namespace {

using AgentSettingsFileTest = AgentWorld;

TEST_F(AgentSettingsFileTest, AFifoWhereTheFileBelongsNeverHoldsIt) {
  corvimus::testing::FifoWatch fifo(SettingsPath());
  StartDriver(1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(1));
  // A reload request finds the FIFO again; the agent answers the next request all the same.
  ASSERT_EQ(noErr, RequestDriverPrefsUpdate());
  ASSERT_TRUE(WaitForDeviceCount(1));
  EXPECT_FALSE(fifo.ReaderSeen());
  CorvimusPrefsRec record;
  ASSERT_TRUE(LastRecord(1, &record));
  EXPECT_EQ(kCorvimusNoValue, record.device[0].speed) << "the built-in defaults stay";

  // Once a settings file stands there, the next reload takes it.
  unlink(SettingsPath().c_str());
  WriteSettings({MakeRecord(0, "", 10)});
  ASSERT_EQ(noErr, RequestDriverPrefsUpdate());
  EXPECT_TRUE(WaitForSpeed(1, 10));
}

}  // namespace
}  // namespace agenttest
