// Which keystroke an action request becomes, and how it is packed for the driver.
#include <gtest/gtest.h>

#include "agent/AgentKeystrokes.h"
#include "settings/CorvimusDriver.h"

namespace {

TEST(GetActionKeystroke, EditCommandsAreCommandLetters) {
  const struct {
    UInt16 command;
    UInt8 ch;
  } cases[] = {{71, 'z'}, {72, 'x'}, {73, 'c'}, {74, 'v'}};
  for (const auto& c : cases) {
    UInt8 ch = 0;
    UInt16 mods = 0;
    ASSERT_TRUE(GetActionKeystroke(c.command, FourCC("ttxt"), &ch, &mods)) << c.command;
    EXPECT_EQ(c.ch, ch);
    EXPECT_EQ(cmdKey, mods);
  }
}

TEST(GetActionKeystroke, BackAndForwardDependOnTheFrontApplication) {
  for (OSType browser : {FourCC("sfri"), FourCC("MACS"), FourCC("hbwr")}) {
    UInt8 ch = 0;
    UInt16 mods = 0;
    ASSERT_TRUE(GetActionKeystroke(kCmdForward, browser, &ch, &mods));
    EXPECT_EQ(']', ch);
    ASSERT_TRUE(GetActionKeystroke(kCmdBack, browser, &ch, &mods));
    EXPECT_EQ('[', ch);
    EXPECT_EQ(cmdKey, mods);
  }
  for (OSType other : {OSType(0), FourCC("????"), FourCC("SFRI"), FourCC("CvMP")}) {
    UInt8 ch = 0;
    ASSERT_TRUE(GetActionKeystroke(kCmdForward, other, &ch, nullptr));
    EXPECT_EQ(0x1D, ch);
    ASSERT_TRUE(GetActionKeystroke(kCmdBack, other, &ch, nullptr));
    EXPECT_EQ(0x1C, ch);
  }
}

TEST(GetActionKeystroke, OtherCommandsAreNotTyped) {
  for (UInt16 command : {0, 1, 8, 20, 24, 26, 27, 33, 64, 70, 77, 0x4B00, 0xFFFF}) {
    UInt8 ch = 0x55;
    EXPECT_FALSE(GetActionKeystroke(command, FourCC("MACS"), &ch, nullptr)) << command;
    EXPECT_EQ(0x55, ch);
  }
}

TEST(MakeLayoutKeystroke, AddsTheLayoutsKeyAndModifiers) {
  UInt8 keyCodes[256], modifiers[256];
  for (int i = 0; i < 256; ++i) {
    keyCodes[i] = 255;
    modifiers[i] = 0;
  }
  keyCodes[']'] = 0x1E;
  modifiers[']'] = 0x08;  // a layout that needs option for ']'
  keyCodes['z'] = 0x06;

  UInt32 k = MakeLayoutKeystroke(']', cmdKey, keyCodes, modifiers);
  EXPECT_EQ(']', KeystrokeChar(k));
  EXPECT_EQ(0x1E, KeystrokeKeyCode(k));
  EXPECT_EQ(0x0900, KeystrokeModifiers(k));
  EXPECT_EQ(0x09001E5Du, k);

  EXPECT_EQ(PackKeystroke('z', 0x06, cmdKey),
            MakeLayoutKeystroke('z', cmdKey, keyCodes, modifiers));
  // No key types the character: it still goes out, with key code 255.
  EXPECT_EQ(PackKeystroke(0x1C, 255, cmdKey),
            MakeLayoutKeystroke(0x1C, cmdKey, keyCodes, modifiers));
}

}  // namespace
