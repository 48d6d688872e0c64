#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "PaneTables.h"
#include "recordbase/PStrings.h"

TEST(SliderMappings, SpeedExamplesRoundTrip) {
  const int examples[][3] = {{0, 140, 0},  {25, 90, 25}, {49, 42, 49}, {50, 40, 50}, {51, 40, 50},
                             {52, 39, 51}, {75, 24, 75}, {99, 9, 98},  {100, 8, 100}};
  for (auto [slider, byte, back] : examples) {
    EXPECT_EQ(SpeedFromSlider(slider), byte) << "slider " << slider;
    EXPECT_EQ(SliderFromSpeed(UInt8(byte)), back) << "byte " << byte;
  }
  EXPECT_EQ(SliderFromSpeed(255), 50);
}

TEST(SliderMappings, EverySpeedValueStaysInRangeAndOrder) {
  int previous = 256;
  for (int v = 0; v <= 100; ++v) {
    int byte = SpeedFromSlider(v);
    EXPECT_GE(byte, 8) << v;
    EXPECT_LE(byte, 140) << v;
    EXPECT_LE(byte, previous) << "a larger slider value gave a larger byte at " << v;
    previous = byte;
    // Showing the stored byte puts the slider back at the value; above the middle one byte covers
    // more than one slider step and both conversions truncate, so it may land up to two below.
    int shown = SliderFromSpeed(UInt8(byte));
    EXPECT_LE(shown, v) << v;
    EXPECT_GE(shown, v - 2) << v;
    if (v <= 50) {
      EXPECT_EQ(shown, v) << v;  // two units per step below the middle: exact
    }
  }
}

TEST(SliderMappings, EveryAccelerationValueRoundTrips) {
  for (int v = 0; v <= 100; ++v) {
    EXPECT_EQ(AccelerationFromSlider(v), 2 * v);
    EXPECT_EQ(SliderFromAcceleration(AccelerationFromSlider(v)), v);
  }
  EXPECT_EQ(SliderFromAcceleration(255), 50);
  EXPECT_EQ(SliderFromAcceleration(75), 37);  // odd bytes from elsewhere round down
}

TEST(MenuTables, ActionRowsWriteTheirCommands) {
  const UInt16 expected[] = {0, 1, 0, 33, 24, 75, 27, 0, 8, 20, 0, 0};
  for (int row = 0; row < 12; ++row) EXPECT_EQ(CommandForActionRow(row), expected[row]) << row;
  EXPECT_EQ(CommandForActionRow(-1), 0);
  EXPECT_EQ(MenuTableCount(gClickTypeCommands), 13);
  EXPECT_EQ(MenuTableCount(gSpecialKeyCommands), 15);
  EXPECT_EQ(FindInMenuTable(gSpecialKeyCommands, 74), 14);
  EXPECT_EQ(FindInMenuTable(gClickTypeCommands, 41), -1);
}

TEST(MenuTables, ResetKeepsOnlyDataBeyondItsLengthByte) {
  CorvimusActionRec a;
  std::memset(&a, 0x5A, sizeof a);
  ResetActionForRow(&a, 8);
  EXPECT_EQ(a.command, 8);
  EXPECT_EQ(a.modifiers, 0);
  EXPECT_EQ(a.keyCode, 255);
  EXPECT_EQ(a.repeat, 0);
  EXPECT_EQ(a.delay, 0);
  EXPECT_EQ(a.reserved1, 0);
  EXPECT_EQ(a.reserved2, 0);
  EXPECT_EQ(a.data[0], 0);
  EXPECT_EQ(a.data[1], 0x5A);
  EXPECT_EQ(a.reserved3, 0x5A5A5A5Au);
}

TEST(MenuTables, MoreKeysRows) {
  EXPECT_EQ(GetKeycodeFromMenu(0), 255);
  EXPECT_EQ(GetKeycodeFromMenu(1), 255);
  EXPECT_EQ(GetKeycodeFromMenu(2), 0x35);
  EXPECT_EQ(GetKeycodeFromMenu(13), 0x79);
  EXPECT_EQ(GetKeycodeFromMenu(14), 0x7A);
  EXPECT_EQ(GetKeycodeFromMenu(28), 0x71);
  EXPECT_EQ(GetKeycodeFromMenu(29), 255);
  EXPECT_EQ(GetKeycodeFromMenu(-3), 255);
  EXPECT_EQ(gMoreKeysCount, 29);
}

TEST(MenuTables, ControlIdentifiersNameSlots) {
  EXPECT_EQ(GetActionFromControlID(0x4330), 0);  // 'C0'
  EXPECT_EQ(GetActionFromControlID(0x4333), 3);  // 'C3', first of its two entries
  EXPECT_EQ(GetActionFromControlID(0x4337), 7);
  EXPECT_EQ(GetActionFromControlID(0x5246), 12);  // 'RF'
  EXPECT_EQ(GetActionFromControlID(0x5042), 15);  // 'PB'
  EXPECT_EQ(GetActionFromControlID(0x2D2D), -1);  // '--'
  EXPECT_EQ(GetActionFromControlID(0), -1);
  std::set<int> slots;
  for (int i = 0; gMouseCtlID[i]; ++i) slots.insert(gMouseCtlIndex[i]);
  EXPECT_EQ(slots, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 12, 13, 14, 15}));
}

TEST(ScrollRules, AmountRowsKeepDirection) {
  EXPECT_EQ(ScrollCountRowFor(13, 0), 1);
  EXPECT_EQ(ScrollCountRowFor(18, 7), 2);
  EXPECT_EQ(ScrollCountRowFor(8, 0), 0);
  EXPECT_EQ(ScrollCountRowFor(8, 1), 0);
  EXPECT_EQ(ScrollCountRowFor(8, 2), 3);
  EXPECT_EQ(ScrollCountRowFor(9, 30), 15);
  EXPECT_EQ(ScrollCountRowFor(8, 12), 3);
  for (UInt16 command = 8; command <= 19; ++command) {
    for (int row = 0; row < 16; ++row) {
      CorvimusActionRec a{};
      a.command = command;
      ASSERT_TRUE(ApplyScrollCountRow(&a, row));
      EXPECT_EQ((a.command - 8) % 4, (command - 8) % 4) << command << " row " << row;
      EXPECT_EQ(ScrollCountRowFor(a.command, a.repeat), row) << command << " row " << row;
    }
  }
  CorvimusActionRec other{};
  other.command = 24;
  EXPECT_FALSE(ApplyScrollCountRow(&other, 3));
  EXPECT_FALSE(ApplyScrollDirection(&other, 1));
  EXPECT_EQ(other.command, 24);
  other.command = 14;
  EXPECT_TRUE(ApplyScrollDirection(&other, 3));
  EXPECT_EQ(other.command, 15);
  EXPECT_FALSE(ApplyScrollDirection(&other, 4));
}

TEST(MainClickRule, RepairsOnlyWhenNoneOfTheFirstThreeClicks) {
  CorvimusPrefsRec r{};
  r.device[0].action[2].command = kCmdMainClick;
  EXPECT_FALSE(EnforceMainClick(&r));
  r.device[0].action[2].command = kCmdBack;
  r.device[0].action[3].command = kCmdMainClick;  // the fourth button does not count
  r.device[0].action[0] =
      CorvimusActionRec{kCmdKeystroke, 7, cmdKey, 9, 5, 0x0C, 3, 0x11223344, {4}};
  EXPECT_TRUE(EnforceMainClick(&r));
  const CorvimusActionRec& a = r.device[0].action[0];
  EXPECT_EQ(a.command, kCmdMainClick);
  EXPECT_EQ(a.reserved1 | a.modifiers | a.reserved2 | a.delay | a.keyCode | a.repeat | a.data[0],
            0);
  EXPECT_EQ(a.reserved3, 0x11223344u);

  CorvimusPrefsRec app{};
  app.application = FourCC("sprf");
  EXPECT_TRUE(NeedsMainClick(3, app));
  app.application = FourCC("MACS");
  EXPECT_TRUE(NeedsMainClick(3, app));
  app.application = FourCC("ttxt");
  EXPECT_FALSE(NeedsMainClick(3, app));
  EXPECT_TRUE(NeedsMainClick(0, app));
}

namespace {

CorvimusPrefsRec App(OSType sig, const char* name) {
  CorvimusPrefsRec r{};
  r.application = sig;
  CStringPCopy(name, r.appName, 31);
  return r;
}

}  // namespace

TEST(CompareByApp, GlobalFirstThenNamesWithoutCase) {
  auto global = App(0, "All");
  auto alpha = App(1, "alpha"), alpha2 = App(1, "ALPHA2"), beta = App(1, "Beta"),
       alphaUp = App(2, "ALPHA");
  const SInt32 n = kCorvimusPrefsRecSize;
  EXPECT_LT(CompareByApp(&global, n, &beta, n), 0);
  EXPECT_GT(CompareByApp(&beta, n, &global, n), 0);
  EXPECT_LT(CompareByApp(&alpha, n, &alpha2, n), 0);
  EXPECT_LT(CompareByApp(&alpha2, n, &beta, n), 0);
  EXPECT_EQ(CompareByApp(&alpha, n, &alphaUp, n), 0);
  // A damaged name length never reads past the name.
  auto damaged = App(3, "Zed");
  damaged.appName[0] = 200;
  EXPECT_GT(CompareByApp(&damaged, n, &beta, n), 0);
  // A record of another size is no settings record: it goes last, behind the global one too.
  auto shortRecord = App(0, "");
  for (SInt32 size : {0, 1000, n - 1, n + 1}) {
    EXPECT_GT(CompareByApp(&shortRecord, size, &global, n), 0) << size;
    EXPECT_LT(CompareByApp(&global, n, &shortRecord, size), 0) << size;
    EXPECT_GT(CompareByApp(&shortRecord, size, &beta, n), 0) << size;
    EXPECT_EQ(CompareByApp(&shortRecord, size, &shortRecord, size), 0) << size;
  }
}

TEST(CaptureModifiers, EventFlagsBecomeSlotBits) {
  EXPECT_EQ(ModifiersFromCapture({true, false, false, false, false}), cmdKey);
  EXPECT_EQ(ModifiersFromCapture({false, true, false, false, false}), optionKey);
  EXPECT_EQ(ModifiersFromCapture({false, false, true, false, false}), controlKey);
  EXPECT_EQ(ModifiersFromCapture({false, false, false, true, false}), shiftKey);
  EXPECT_EQ(ModifiersFromCapture({false, false, false, false, true}), alphaLock);
  EXPECT_EQ(ModifiersFromCapture({true, true, true, true, true}), 0x1F00);
}
