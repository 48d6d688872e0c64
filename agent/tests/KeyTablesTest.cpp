#include <gtest/gtest.h>

#include "agent/KeyTables.h"
#include "platform/Keyboards.h"
#include "platform/MacMemory.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"

namespace {

// The key tables of one layout, released at the end of the test.
class Tables {
 public:
  explicit Tables(const char* layout) {
    EXPECT_EQ(KLSetCurrentKeyboardLayoutForTesting(layout), noErr) << layout;
    filled_ = BuildKeyTables(&keys_, &mods_);
  }
  ~Tables() {
    DisposeKeyTables(keys_, mods_);
    KLSetCurrentKeyboardLayoutForTesting(nullptr);
  }
  SInt16 filled() const { return filled_; }
  int key(unsigned char ch) const { return keys_[ch]; }
  int mods(unsigned char ch) const { return mods_[ch]; }
  // The keystroke the agent sends for a character with the action's own modifiers.
  UInt32 Keystroke(unsigned char ch, UInt16 actionModifiers) const {
    return PackKeystroke(ch, keys_[ch], UInt16(actionModifiers | (mods_[ch] << 8)));
  }

 private:
  UInt8* keys_ = nullptr;
  UInt8* mods_ = nullptr;
  SInt16 filled_ = 0;
};

TEST(KeyTables, UsLayout) {
  Tables us("us");
  ASSERT_EQ(us.filled(), 1);
  EXPECT_EQ(us.key('z'), 0x06);
  EXPECT_EQ(us.mods('z'), 0);
  EXPECT_EQ(us.key('['), 0x21);
  EXPECT_EQ(us.mods('['), 0);
  EXPECT_EQ(us.key('{'), 0x21);
  EXPECT_EQ(us.mods('{'), 0x02);
  // Found with shift first and with caps lock later: shift is cheaper and stays.
  EXPECT_EQ(us.key('Z'), 0x06);
  EXPECT_EQ(us.mods('Z'), 0x02);
  // The digit 1 is on the main keyboard and on the keypad; the main keyboard wins.
  EXPECT_EQ(us.key('1'), 0x12);
  EXPECT_EQ(us.mods('1'), 0);
  EXPECT_EQ(us.key('*'), 0x1C);  // shift-8 beats the keypad's unshifted key
  EXPECT_EQ(us.mods('*'), 0x02);
  // Escape and keypad clear both type 0x1B.
  EXPECT_EQ(us.key(0x1B), 0x35);
  EXPECT_EQ(us.mods(0x1B), 0);
  // The arrows and the keys the agent sends.
  EXPECT_EQ(us.key(0x1C), 0x7B);
  EXPECT_EQ(us.key(0x1D), 0x7C);
  EXPECT_EQ(us.key(0x7F), 0x75);
  EXPECT_EQ(us.mods(0x1D), 0);
  // Keypad enter and control-c both type 0x03: the main keyboard wins despite the control key.
  EXPECT_EQ(us.key(0x03), 0x08);
  EXPECT_EQ(us.mods(0x03), 0x10);
  // Characters no key types.
  for (unsigned char ch : {0xE9, 0xA7, 0xFF, 0x80}) {
    EXPECT_EQ(us.key(ch), kNoKeyCode) << int(ch);
    EXPECT_EQ(us.mods(ch), 0) << int(ch);
  }
  EXPECT_EQ(us.Keystroke('z', cmdKey), 0x0100067Au);  // command-z for undo
  EXPECT_EQ(us.Keystroke(0xE9, cmdKey), 0x0100FFE9u);
}

TEST(KeyTables, GermanLayoutNeedsOptionForBrackets) {
  Tables de("de");
  ASSERT_EQ(de.filled(), 1);
  EXPECT_EQ(de.key('z'), 0x10);
  EXPECT_EQ(de.key('y'), 0x06);
  EXPECT_EQ(de.key(']'), 0x19);
  EXPECT_EQ(de.mods(']'), 0x08);
  EXPECT_EQ(de.key('['), 0x1C);
  EXPECT_EQ(de.mods('['), 0x08);
  // Forward in a browser: command-] with the option the layout needs.
  EXPECT_EQ(KeystrokeModifiers(de.Keystroke(']', cmdKey)), 0x0900);
  EXPECT_EQ(de.Keystroke(']', cmdKey), 0x0900195Du);
  EXPECT_EQ(de.key(0x1C), 0x7B);  // the left-arrow character needs nothing
  EXPECT_EQ(KeystrokeModifiers(de.Keystroke(0x1C, cmdKey)), 0x0100);
  EXPECT_EQ(de.key(0xFC), 0x21);  // u umlaut
  EXPECT_EQ(de.key(0xDC), 0x21);
  EXPECT_EQ(de.mods(0xDC), 0x02);
}

TEST(KeyTables, DeadKeysTypeNothingAndDoNotLeak) {
  // On the French layout the key at 0x21 is a dead circumflex and 'i' is the key scanned after it.
  Tables fr("fr");
  ASSERT_EQ(fr.filled(), 1);
  EXPECT_EQ(fr.key('i'), 0x22);
  EXPECT_EQ(fr.mods('i'), 0);
  EXPECT_EQ(fr.key(0xEE), kNoKeyCode);  // i circumflex needs two keys
  EXPECT_EQ(fr.key('^'), 0x19);         // option-9, not the dead key
  EXPECT_EQ(fr.mods('^'), 0x08);
  EXPECT_EQ(fr.key('a'), 0x0C);
  EXPECT_EQ(fr.key('1'), 0x12);
  EXPECT_EQ(fr.mods('1'), 0x02);
  EXPECT_EQ(fr.key(0xE9), 0x13);  // e acute has its own key

  Tables de("de");
  EXPECT_EQ(de.key(0xE9), kNoKeyCode);
  EXPECT_EQ(de.key('e'), 0x0E);
}

TEST(KeyTables, BuiltInKCHRLayout) {
  Tables kchr(kKLBuiltInKCHRLayoutName);
  ASSERT_EQ(kchr.filled(), 1);
  EXPECT_EQ(kchr.key('z'), 0x06);
  EXPECT_EQ(kchr.mods('z'), 0);
  EXPECT_EQ(kchr.key('Z'), 0x06);
  EXPECT_EQ(kchr.mods('Z'), 0x02);
  EXPECT_EQ(kchr.key(0xA7), 0x01);  // sharp s in Mac OS Roman: option-s
  EXPECT_EQ(kchr.mods(0xA7), 0x08);
  EXPECT_EQ(kchr.key(0x1B), 0x35);
  EXPECT_EQ(kchr.key('1'), 0x12);
  EXPECT_EQ(kchr.key(0x01), 0x73);  // home beats control-a
  EXPECT_EQ(kchr.mods(0x01), 0);
  EXPECT_EQ(kchr.key(0x11), 0x0C);  // control-q: nothing else types 0x11
  EXPECT_EQ(kchr.mods(0x11), 0x10);
  EXPECT_EQ(kchr.key(0xE9), kNoKeyCode);
}

TEST(KeyTables, TablesKeepTheLayoutOfTheirBuilding) {
  Tables us("us");
  ASSERT_EQ(KLSetCurrentKeyboardLayoutForTesting("de"), noErr);
  EXPECT_EQ(us.key('z'), 0x06);
  EXPECT_EQ(us.key(']'), 0x1E);
}

TEST(KeyTables, FailedAllocationStoresNullAndFillsNothing) {
  for (long failing : {1, 2}) {
    UInt8* keys = reinterpret_cast<UInt8*>(1);
    UInt8* mods = reinterpret_cast<UInt8*>(1);
    MemoryFailAllocation(failing);
    EXPECT_EQ(BuildKeyTables(&keys, &mods), 0);
    MemoryFailAllocation(0);
    EXPECT_EQ(failing == 1 ? keys : mods, nullptr);
    EXPECT_NE(failing == 1 ? mods : keys, nullptr);
    DisposeKeyTables(keys, mods);
  }
}

TEST(PreferNewKey, EscapeBeatsKeypadClearInEitherOrder) {
  UInt8 keys[256], mods[256];
  std::fill(keys, keys + 256, kNoKeyCode);
  std::fill(mods, mods + 256, 0);
  OfferKey(keys, mods, 0x1B, 0x47, 0);
  OfferKey(keys, mods, 0x1B, 0x35, 0);
  EXPECT_EQ(keys[0x1B], 0x35);
  OfferKey(keys, mods, 0x1B, 0x47, 0);
  EXPECT_EQ(keys[0x1B], 0x35);
  // Escape beats clear even when it needs more modifiers.
  EXPECT_TRUE(PreferNewKey(0x35, 0x10, 0x47, 0));
}

TEST(PreferNewKey, MainKeyboardBeatsKeypadWhateverTheModifiers) {
  EXPECT_TRUE(PreferNewKey(0x12, 0x1F, 0x53, 0));
  EXPECT_FALSE(PreferNewKey(0x53, 0, 0x12, 0x1F));
  // Pad keys are 0x40 to 0x5F; 0x3F and 0x60 are not.
  EXPECT_TRUE(PreferNewKey(0x3F, 0x02, 0x40, 0));
  EXPECT_TRUE(PreferNewKey(0x60, 0x02, 0x5F, 0));
  EXPECT_FALSE(PreferNewKey(0x40, 0, 0x3F, 0x02));
}

TEST(PreferNewKey, CheaperModifiersWinAndTiesKeepTheFirst) {
  UInt8 keys[256], mods[256];
  std::fill(keys, keys + 256, kNoKeyCode);
  std::fill(mods, mods + 256, 0);
  OfferKey(keys, mods, 'x', 0x07, 0x04);  // caps lock, cost 8
  OfferKey(keys, mods, 'x', 0x08, 0x08);  // option, cost 2
  EXPECT_EQ(keys['x'], 0x08);
  EXPECT_EQ(mods['x'], 0x08);
  OfferKey(keys, mods, 'y', 0x07, 0x02);  // shift, cost 1
  OfferKey(keys, mods, 'y', 0x08, 0x10);  // control, cost 4
  EXPECT_EQ(keys['y'], 0x07);
  EXPECT_EQ(mods['y'], 0x02);
  OfferKey(keys, mods, 'w', 0x01, 0x08);
  OfferKey(keys, mods, 'w', 0x02, 0x08);  // same cost
  EXPECT_EQ(keys['w'], 0x01);
  // command 16 > caps 8 > control 4 > option 2 > shift 1; costs add up.
  EXPECT_TRUE(PreferNewKey(1, 0x04, 2, 0x01));
  EXPECT_TRUE(PreferNewKey(1, 0x10, 2, 0x04));
  EXPECT_TRUE(PreferNewKey(1, 0x08, 2, 0x10));
  EXPECT_TRUE(PreferNewKey(1, 0x02, 2, 0x08));
  EXPECT_TRUE(PreferNewKey(1, 0x1E, 2, 0x01));  // 15 < 16
  EXPECT_FALSE(PreferNewKey(1, 0x0A, 2, 0x08));
}

}  // namespace
