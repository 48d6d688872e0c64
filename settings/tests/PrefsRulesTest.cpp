#include <gtest/gtest.h>

#include <cstring>

#include "SettingsTestSupport.h"
#include "settings/CommandTable.h"
#include "settings/MouseSettings.h"
#include "settings/PrefsRules.h"

using settingstest::Bytes;

namespace {

TEST(PrefsRules, TheDefaultsAndEveryEdgeValueBreakNothing) {
  EXPECT_TRUE(FindRuleBreaks(kCorvimusDefaultPrefs, true).empty());
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  r.active = 0;
  r.device[0].speed = 8;
  r.device[0].acceleration = 0;
  r.device[0].action[5] = {kCmdKeystroke, 0, AllModifierBits(), 0, 0, 127, 0, 0, {}};
  r.device[0].action[6] = {kCmdKeystroke, 0, 0, 0, 0, 255, 0, 0, {}};
  r.device[0].action[7] = {11, 0, 0, 0, 0, 0, 30, 0, {}};
  r.device[0].action[8] = {kCmdOpenItem, 0, 0, 0, 0, 0, 0, 0, {5, '.', 'n', 'o', 't', 'e'}};
  r.device[0].action[9] = {kCmdOpenItem, 0, 0, 0, 0, 0, 0, 0, {}};  // no item chosen yet
  r.device[0].action[10] = {kCmdAsGlobal, 0, 0, 0, 0, 0, 0, 0, {}};
  // Fields a command does not use are not its business: a key code on a click, a count on a page.
  r.device[0].action[11] = {kCmdMainClick, 0, 0, 0, 0, 200, 99, 0, {}};
  r.device[0].action[12] = {12, 0, 0, 0, 0, 1, 99, 0, {}};
  EXPECT_TRUE(FindRuleBreaks(r, false).empty());
  r.device[0].speed = 140;
  r.device[0].acceleration = 200;
  EXPECT_TRUE(FindRuleBreaks(r, false).empty());
  ASSERT_EQ(FindRuleBreaks(r, true).size(), 1u) << "only the deferring action";
  EXPECT_EQ(FindRuleBreaks(r, true)[0].field, "actions[10].command");
}

TEST(PrefsRules, ForTheDriverOnlyWhatBreaksARuleIsReplaced) {
  CorvimusPrefsRec fallback = kCorvimusDefaultPrefs;
  for (auto& a : fallback.device[0].action) a = {kCmdCut, 0, shiftKey, 0, 0, 0, 0, 0, {}};
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  r.active = 2;
  r.device[0].speed = 7;
  r.device[0].acceleration = 201;
  r.device[0].options = 1;
  auto* a = r.device[0].action;
  a[0].command = 60000;
  a[1].modifiers = 0x0001;
  a[2] = {kCmdKeystroke, 0, 0, 0, 0, 128, 0, 0, {}};
  a[5] = {9, 0, 0, 0, 0, 0, 31, 0, {}};
  a[6] = {kCmdOpenItem, 0, 0, 0, 0, 0, 0, 0, {3, 'a', ':', 'b'}};
  a[7] = {kCmdOpenItem, 0, 0, 0, 0, 0, 0, 0, {32}};
  a[8] = {kCmdAsGlobal, 0, 0, 0, 0, 0, 0, 0, {}};
  EXPECT_EQ(FindRuleBreaks(r, true).size(), 11u);
  CorvimusPrefsRec before = r;
  MakeRecordDefinedForDriver(&r, fallback, true);
  EXPECT_TRUE(FindRuleBreaks(r, true).empty());
  EXPECT_EQ(r.active, 1);
  EXPECT_EQ(r.device[0].speed, 255);
  EXPECT_EQ(r.device[0].acceleration, 255);
  EXPECT_EQ(r.device[0].options, 0);
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    bool broken = slot <= 2 || (slot >= 5 && slot <= 8);
    const CorvimusActionRec& expected =
        broken ? fallback.device[0].action[slot] : before.device[0].action[slot];
    EXPECT_EQ(std::memcmp(&r.device[0].action[slot], &expected, sizeof expected), 0) << slot;
  }
  // A record that breaks nothing comes through byte for byte; in an application's record command 1
  // is the agent's own business.
  r = kCorvimusDefaultPrefs;
  r.device[0].action[8].command = kCmdAsGlobal;
  before = r;
  MakeRecordDefinedForDriver(&r, fallback, false);
  EXPECT_EQ(Bytes(r), Bytes(before));
}

}  // namespace
