// Keys, modifiers and actions in the words corvimus-prefs takes and shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "platform/Keyboards.h"
#include "settings/CommandTable.h"
#include "settings/KeyNames.h"
#include "settings/PrefsText.h"

namespace {

TEST(KeyWords, EveryKeyOfTheTableHasOneWordThatNamesItBack) {
  std::set<std::string> words, labels;
  int named = 0;
  for (int code = 0; code < 128; ++code) {
    const char* word = KeyWord(UInt8(code));
    // A word exactly where the virtual key code table puts a key.
    EXPECT_EQ(word != nullptr, KeyboardEvdevCodeForVirtualKey(UInt16(code)) >= 0) << code;
    if (!word) {
      EXPECT_EQ(UsKeyLabel(UInt8(code)), nullptr);
      continue;
    }
    ++named;
    EXPECT_TRUE(words.insert(word).second) << word;
    EXPECT_TRUE(labels.insert(UsKeyLabel(UInt8(code))).second) << UsKeyLabel(UInt8(code));
    EXPECT_EQ(KeyCodeFromWord(word), code) << word;
    EXPECT_EQ(KeyCodeFromWord(UsKeyLabel(UInt8(code))), code) << UsKeyLabel(UInt8(code));
  }
  EXPECT_GT(named, 100);
  EXPECT_STREQ(KeyWord(255), "none");
  EXPECT_EQ(KeyCodeFromWord("none"), 255);
}

TEST(KeyWords, LettersNameUsPositionsAndLinuxNamesAreTaken) {
  // The positions of the virtual key codes: c is 0x08 on every layout.
  EXPECT_EQ(KeyCodeFromWord("c"), 0x08);
  EXPECT_EQ(KeyCodeFromWord("C"), 0x08);
  EXPECT_EQ(KeyCodeFromWord("z"), 0x06);
  EXPECT_EQ(KeyCodeFromWord("5"), 0x17);
  EXPECT_EQ(KeyCodeFromWord("-"), 0x1B);
  EXPECT_EQ(KeyCodeFromWord("minus"), 0x1B);
  EXPECT_EQ(KeyCodeFromWord("F5"), 0x60);
  EXPECT_EQ(KeyCodeFromWord("f13"), 0x69);
  EXPECT_EQ(KeyCodeFromWord("left"), 0x7B);
  EXPECT_EQ(KeyCodeFromWord("Left Arrow"), 0x7B);
  EXPECT_EQ(KeyCodeFromWord("space"), 0x31);
  EXPECT_EQ(KeyCodeFromWord("kp-5"), 0x57);
  EXPECT_EQ(KeyCodeFromWord("Keypad 5"), 0x57);
  EXPECT_EQ(KeyCodeFromWord("KEY_KP5"), 0x57);
  EXPECT_EQ(KeyCodeFromWord("Keypad -"), 0x4E);
  EXPECT_EQ(KeyCodeFromWord("page_up"), 0x74);
  EXPECT_EQ(KeyCodeFromWord("KEY_PAGEUP"), 0x74);
  EXPECT_EQ(KeyCodeFromWord("esc"), 0x35);
  // As Linux keyboards name them: Enter is the main key, Delete deletes forward, Backspace back.
  EXPECT_EQ(KeyCodeFromWord("enter"), 0x24);
  EXPECT_EQ(KeyCodeFromWord("return"), 0x24);
  EXPECT_EQ(KeyCodeFromWord("kp-enter"), 0x4C);
  EXPECT_EQ(KeyCodeFromWord("delete"), 0x75);
  EXPECT_EQ(KeyCodeFromWord("backspace"), 0x33);
  EXPECT_EQ(KeyCodeFromWord("insert"), 0x72);
  for (const char* nothing : {"", "nokey", "f21", "kp", "key", "key_", "ü", "page-up-down"})
    EXPECT_EQ(KeyCodeFromWord(nothing), -1) << nothing;
  EXPECT_STREQ(UsKeyLabel(0x08), "C");
  EXPECT_STREQ(UsKeyLabel(0x74), "Page Up");
}

TEST(KeyWords, ModifierWordsGoBothWays) {
  for (UInt16 bits = 0; bits <= AllModifierBits(); bits += 0x0100) {
    if (bits & ~AllModifierBits()) continue;
    UInt16 back = 0xFFFF;
    ASSERT_TRUE(ModifiersFromWords(ModifierWords(bits), &back)) << ModifierWords(bits);
    EXPECT_EQ(back, bits) << ModifierWords(bits);
  }
  UInt16 bits = 0;
  EXPECT_TRUE(ModifiersFromWords("Control,option-SUPER+caps-lock", &bits));
  EXPECT_EQ(bits, controlKey | optionKey | cmdKey | alphaLock);
  EXPECT_FALSE(ModifiersFromWords("ctrl+hyper", &bits));
  EXPECT_FALSE(ModifiersFromWords("ctrl++alt", &bits));
  EXPECT_EQ(ModifierWords(0x0040), "0x0040");
}

TEST(KeyWords, ActionsReadAsTheSetCommandThatMakesThem) {
  CorvimusActionRec a{};
  a.command = kCmdBack;
  EXPECT_EQ(ActionWords(a), "back");
  EXPECT_EQ(ActionEffect(a), "Alt+Left");
  a = {kCmdKeystroke, 0, UInt16(controlKey | shiftKey), 0, 0, 0x08, 0, 0, {}};
  EXPECT_EQ(ActionWords(a), "keystroke --key c --modifiers ctrl+shift");
  EXPECT_EQ(ActionEffect(a), "Ctrl+Shift+C");
  a.keyCode = 0x34;  // no key there
  EXPECT_EQ(ActionWords(a), "keystroke --key 0x34 --modifiers ctrl+shift");
  a = {kCmdKeystroke, 0, 0, 0, 0, 255, 0, 0, {}};
  EXPECT_EQ(ActionWords(a), "keystroke --key none");
  EXPECT_EQ(ActionEffect(a), "nothing: the control is silenced");
  a = {9, 0, 0, 0, 0, 255, 3, 0, {}};
  EXPECT_EQ(ActionWords(a), "scroll-down --repeat 3");
  EXPECT_EQ(ActionEffect(a), "");
  // The tilting wheel's entry scrolls sideways: named by the way it goes.
  a = {8, 0, 0, 0, 0, kScrollTiltKeyCode, 0, 0, {}};
  EXPECT_EQ(ActionWords(a), "scroll-left");
  a = {13, 0, 0, 0, 0, 255, 0, 0, {}};
  EXPECT_EQ(ActionWords(a), "scroll-down-by-a-page");
  EXPECT_EQ(ActionEffect(a), "Page Down");
  a = {43, 0, optionKey, 0, 0, 255, 0, 0, {}};
  EXPECT_EQ(ActionWords(a), "double-click --modifiers alt");
  a = {99, 0, 0, 0, 0, 0, 0, 0, {}};
  EXPECT_EQ(ActionWords(a), "unknown command 99");
}

TEST(KeyWords, ControlsTakeTheirLinuxWordsAndTheOlderOnes) {
  EXPECT_EQ(SlotFromText("left"), 0);
  EXPECT_EQ(SlotFromText("Middle"), 2);
  EXPECT_EQ(SlotFromText("back"), 3);
  EXPECT_EQ(SlotFromText("button4"), 3);
  EXPECT_EQ(SlotFromText("forward"), 4);
  EXPECT_EQ(SlotFromText("button6"), 5);
  EXPECT_EQ(SlotFromText("button-8"), 7);
  EXPECT_EQ(SlotFromText("left-button"), 0);
  EXPECT_EQ(SlotFromText("wheel-down"), kSlotRB);
  EXPECT_EQ(SlotFromText("button9"), -1);
}

}  // namespace

namespace {

// The names are US positions; on another layout the keystroke says what its key types there.
TEST(KeyWords, AKeystrokeSaysWhatItsKeyTypesOnTheUsersLayout) {
  ASSERT_EQ(KLSetCurrentKeyboardLayoutForTesting("de"), noErr);
  std::fill(gAsciiTable, gAsciiTable + 128, 0);
  GetKeyboardInformation();
  CorvimusActionRec a = {kCmdKeystroke, 0, controlKey, 0, 0, 0x10, 0, 0, {}};  // US Y, German Z
  EXPECT_EQ(ActionEffect(a, gAsciiTable), "Ctrl+Y: the key that types z on this keyboard layout");
  EXPECT_EQ(ActionEffect(a), "Ctrl+Y");
  a.keyCode = 0x29;  // US ;, German ö
  EXPECT_EQ(ActionEffect(a, gAsciiTable),
            "Ctrl+;: the key that types \xC3\xB6 on this keyboard layout");
  a.keyCode = 0x08;  // C on both
  EXPECT_EQ(ActionEffect(a, gAsciiTable), "Ctrl+C");
  a.keyCode = 0x60;  // F5 types no character
  EXPECT_EQ(ActionEffect(a, gAsciiTable), "Ctrl+F5");
  ASSERT_EQ(KLSetCurrentKeyboardLayoutForTesting("us"), noErr);
  GetKeyboardInformation();
  a.keyCode = 0x10;
  EXPECT_EQ(ActionEffect(a, gAsciiTable), "Ctrl+Y");
  KLSetCurrentKeyboardLayoutForTesting(nullptr);
}

}  // namespace
