#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/Keyboards.h"
#include "settings/KeyNames.h"

namespace {

std::string Text(const unsigned char* p) {
  return std::string(p + 1, p + 1 + p[0]);
}

std::string KeyName(UInt8 keyCode, SInt16 max = 255) {
  Str255 out;
  GetKeyName(keyCode, out, max);
  return Text(out);
}

std::string Combination(UInt16 keyWord, UInt16 modifierWord, SInt16 max = 255,
                        UInt16 useCodes = 0) {
  Str255 out;
  std::fill(out, out + 256, 0xEE);
  GetKeyCombinationName(keyWord, modifierWord, out, max, useCodes);
  return Text(out);
}

class KeyNames : public ::testing::Test {
 protected:
  void SetUp() override { UseLayout("us"); }
  void TearDown() override { KLSetCurrentKeyboardLayoutForTesting(nullptr); }
  void UseLayout(const char* name) {
    ASSERT_EQ(KLSetCurrentKeyboardLayoutForTesting(name), noErr);
    std::fill(gAsciiTable, gAsciiTable + 128, 0);
    GetKeyboardInformation();
  }
};

TEST_F(KeyNames, TableFollowsTheLayout) {
  EXPECT_EQ(GetKeyChar(0x06), 'z');
  EXPECT_EQ(GetKeyChar(0x86), 'z');  // the high bit is not part of the key code
  EXPECT_EQ(GetKeyChar(0x7A), 16);
  EXPECT_EQ(GetKeyChar(0x35), 27);
  EXPECT_EQ(GetKeyChar(0x38), 0);  // shift types nothing
  UseLayout("de");
  EXPECT_EQ(GetKeyChar(0x06), 'y');
  EXPECT_EQ(GetKeyChar(0x21), 0xFC);
  // Dead keys show their accent, and the key after one is named by its own character.
  EXPECT_EQ(GetKeyChar(0x32), '^');
  EXPECT_EQ(GetKeyChar(0x33), 8);
  EXPECT_NE(GetKeyChar(0x18), 0);
  EXPECT_EQ(GetKeyChar(0x19), '9');
  UseLayout(kKLBuiltInKCHRLayoutName);
  EXPECT_EQ(GetKeyChar(0x06), 'z');
  EXPECT_EQ(GetKeyChar(0x0A), 0xA4);
  EXPECT_EQ(GetKeyChar(0x47), 27);
}

TEST_F(KeyNames, SpecialKeysHaveWords) {
  EXPECT_EQ(KeyName(0x7A), "F1");
  EXPECT_EQ(KeyName(0x78), "F2");
  EXPECT_EQ(KeyName(0x6F), "F12");
  EXPECT_EQ(KeyName(0x35), "esc");
  EXPECT_EQ(KeyName(0x47), "clear");
  EXPECT_EQ(KeyName(0x31), "space");
  EXPECT_EQ(KeyName(0x75), "fw del");
  EXPECT_EQ(KeyName(0x33), "delete");
  EXPECT_EQ(KeyName(0x24), "return");
  EXPECT_EQ(KeyName(0x4C), "enter");
  EXPECT_EQ(KeyName(0x30), "tab");
  EXPECT_EQ(KeyName(0x73), "home");
  EXPECT_EQ(KeyName(0x77), "end");
  EXPECT_EQ(KeyName(0x72), "help");
  EXPECT_EQ(KeyName(0x74), "pg up");
  EXPECT_EQ(KeyName(0x79), "pg dwn");
  EXPECT_EQ(KeyName(0x7B), "left");
  EXPECT_EQ(KeyName(0x7C), "right");
  EXPECT_EQ(KeyName(0x7E), "up");
  EXPECT_EQ(KeyName(0x7D), "down");
  EXPECT_EQ(KeyName(0x37), "command");
  EXPECT_EQ(KeyName(0x38), "shift");
  EXPECT_EQ(KeyName(0x39), "caps lock");
  EXPECT_EQ(KeyName(0x3A), "option");
  EXPECT_EQ(KeyName(0x3B), "control");
  EXPECT_EQ(KeyName(0x06), "z");
  EXPECT_EQ(KeyName(0x53), "1");
  EXPECT_EQ(KeyName(0x34), "?");  // no key there
  EXPECT_EQ(KeyName(0x3C), "?");  // right shift types nothing and is not named

  // Function keys are named by position, whatever types character 16.
  gAsciiTable[0x69] = 16;
  gAsciiTable[0x50] = 16;
  EXPECT_EQ(KeyName(0x69), "F13");
  EXPECT_EQ(KeyName(0x50), "Fx");
  // Any key typing 27 other than escape is a clear key; control characters without a word are "?".
  gAsciiTable[0x10] = 27;
  EXPECT_EQ(KeyName(0x10), "clear");
  for (UInt8 ch : {0, 2, 6, 7, 10, 14, 15, 17, 26}) {
    gAsciiTable[0x10] = ch;
    EXPECT_EQ(KeyName(0x10), "?") << int(ch);
  }
  gAsciiTable[0x10] = 0xE9;
  EXPECT_EQ(KeyName(0x10), "\xE9");
}

TEST_F(KeyNames, ModifierWordsInFixedOrder) {
  EXPECT_EQ(Combination(0x5200, 0x1F00), "cmd+shift+caps+opt+ctrl+num+0");
  EXPECT_EQ(Combination(0x0600, 0x1100), "cmd+ctrl+z");
  EXPECT_EQ(Combination(0x6000, 0x0300), "cmd+shift+F5");
  EXPECT_EQ(Combination(0x0600, 0x2000), "z");  // the space bit has no word
  EXPECT_EQ(Combination(0x4100, 0x0000), "num+.");
  EXPECT_EQ(Combination(0x5C00, 0x0000), "num+9");
  EXPECT_EQ(Combination(0x4000, 0x0000), "?");  // 64 is not a keypad key
  EXPECT_EQ(Combination(0x5D00, 0x0000), "?");  // nor is 93
  Str255 out;
  GetModifiersName(0x06, 0x20, out, 255);
  EXPECT_EQ(Text(out), "");
  GetModifiersName(0x53, 0x08, out, 255);
  EXPECT_EQ(Text(out), "opt+num+");
}

TEST_F(KeyNames, CodeForm) {
  Str255 out;
  GetModifiersCode(0x06, 0x11, out, 255);
  EXPECT_EQ(Text(out), std::string("\x01\x04 ", 3));
  GetModifiersCode(0x06, 0x00, out, 255);
  EXPECT_EQ(Text(out), "");
  GetModifiersCode(0x06, 0x24, out, 255);  // caps lock and the space bit have no code
  EXPECT_EQ(Text(out), "");
  EXPECT_EQ(Combination(0x5200, 0x1F00, 255, 1), std::string("\x01\x02\x03\x04\x05 0", 7));
  EXPECT_EQ(Combination(0x0600, 0x0000, 255, 1), "z");
}

TEST_F(KeyNames, NoneAndLimits) {
  EXPECT_EQ(Combination(0xFFFF, 0x0100), "(none)");
  EXPECT_EQ(Combination(0x0600, 0xFFFF), "(none)");
  EXPECT_EQ(Combination(0xFFFF, 0x0000, 3), "(no");
  EXPECT_EQ(Combination(0x5200, 0x1F00, 10), "cmd+shift+");
  EXPECT_EQ(Combination(0x5200, 0x1F00, 28), "cmd+shift+caps+opt+ctrl+num+");
  EXPECT_EQ(Combination(0x5200, 0x1F00, 0), "");
  EXPECT_EQ(Combination(0x5200, 0x1F00, 2, 1), std::string("\x01\x02", 2));
  EXPECT_EQ(Combination(0x7500, 0x0100, 7), "cmd+fw ");
  EXPECT_EQ(KeyName(0x39, 4), "caps");
  EXPECT_EQ(KeyName(0x06, 0), "");

  // Nothing is written past the limit.
  Str255 out;
  std::fill(out, out + 256, 0xEE);
  GetKeyCombinationName(0x5200, 0x1F00, out, 5, 0);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[6], 0xEE);
}

}  // namespace
