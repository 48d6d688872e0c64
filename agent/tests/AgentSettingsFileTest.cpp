// The agent against settings files it must not trust: something else where the file belongs.
#include <unistd.h>

#include <functional>

#include "AgentWorld.h"
#include "settings/CommandTable.h"
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

// Values no pane writes and no driver defines never reach a driver: an out-of-range speed or
// acceleration means no custom value, options none, and an action that breaks a rule does what
// that control does otherwise: the built-in default in the global record, the global record's
// action in an application's record.
TEST_F(AgentSettingsFileTest, ValuesNothingDefinesNeverReachTheDriver) {
  CorvimusPrefsRec global = MakeRecord(0, "", 10);
  global.device[0].speed = 250;
  global.device[0].acceleration = 254;
  global.device[0].options = 0xFFFF;
  global.device[0].action[1].modifiers = 0xFFFF;
  global.device[0].action[3].command = 60000;
  global.device[0].action[4].command = kCmdCopy;
  global.device[0].action[5].command = kCmdPaste;
  global.device[0].action[6].command = kCmdAsGlobal;
  CorvimusPrefsRec editor = MakeRecord(FourCC("ttxt"), "Editor", 20);
  editor.device[0].action[4].command = 60000;
  editor.device[0].action[5] = {kCmdKeystroke, 0, 0, 0, 0, 200, 0, 0, {}};
  editor.device[0].action[7] = {kCmdKeystroke, 0, cmdKey, 0, 0, 0x24, 0, 0, {}};
  WriteSettings({global, editor});
  StartDriver(1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(1));

  auto lastRecordHas = [this](const std::function<bool(const CorvimusPrefsRec&)>& wanted) {
    return WaitForCalls([&](const std::vector<DriverCall>& calls) {
      const DriverCall* last = nullptr;
      for (const auto& call : calls)
        if (call.mouse == 1 && call.hasRecord) last = &call;
      return last && wanted(last->record);
    });
  };
  Front(Launch("Plain", "Plain", "plan"));  // no record of its own: the global one
  CorvimusPrefsRec pushed;
  ASSERT_TRUE(lastRecordHas([](const CorvimusPrefsRec& r) {
    return r.device[0].action[4].command == kCmdCopy;
  }));
  ASSERT_TRUE(LastRecord(1, &pushed));
  const auto& defaults = kCorvimusDefaultPrefs.device[0];
  EXPECT_EQ(kCorvimusNoValue, pushed.device[0].speed);
  EXPECT_EQ(kCorvimusNoValue, pushed.device[0].acceleration);
  EXPECT_EQ(0, pushed.device[0].options);
  EXPECT_EQ(defaults.action[1].command, pushed.device[0].action[1].command);
  EXPECT_EQ(0, pushed.device[0].action[1].modifiers);
  EXPECT_EQ(defaults.action[3].command, pushed.device[0].action[3].command);
  EXPECT_EQ(defaults.action[6].command, pushed.device[0].action[6].command);
  EXPECT_EQ(kCmdPaste, pushed.device[0].action[5].command) << "what is defined stays";

  Front(Launch("Editor", "Editor", "ttxt"));
  ASSERT_TRUE(lastRecordHas([](const CorvimusPrefsRec& r) { return r.device[0].speed == 20; }));
  ASSERT_TRUE(LastRecord(1, &pushed));
  EXPECT_EQ(kCmdCopy, pushed.device[0].action[4].command) << "the global record's action";
  EXPECT_EQ(kCmdPaste, pushed.device[0].action[5].command);
  EXPECT_EQ(kCmdKeystroke, pushed.device[0].action[7].command);
  EXPECT_EQ(0x24, pushed.device[0].action[7].keyCode);
  EXPECT_EQ(defaults.action[3].command, pushed.device[0].action[3].command)
      << "as in the global record, which itself gave way to the default";
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    EXPECT_TRUE(FindCommand(pushed.device[0].action[slot].command)) << slot;
    EXPECT_NE(kCmdAsGlobal, pushed.device[0].action[slot].command) << slot;
  }
}

}  // namespace
}  // namespace agenttest
