#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Keyboards.h"
#include "testing/TempDir.h"

namespace {

using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

const UCKeyboardLayout* UseLayout(const char* name) {
  EXPECT_EQ(KLSetCurrentKeyboardLayoutForTesting(name), noErr) << name;
  KeyboardLayoutRef layout = nullptr;
  EXPECT_EQ(KLGetCurrentKeyboardLayout(&layout), noErr);
  const void* kind = nullptr;
  EXPECT_EQ(KLGetKeyboardLayoutProperty(layout, kKLKind, &kind), noErr);
  EXPECT_EQ(*static_cast<const KeyboardLayoutKind*>(kind), kKLuchrKind);
  const void* data = nullptr;
  EXPECT_EQ(KLGetKeyboardLayoutProperty(layout, kKLuchrData, &data), noErr);
  return static_cast<const UCKeyboardLayout*>(data);
}

// The units a key types, with a fresh dead-key state.
std::u16string Type(const UCKeyboardLayout* layout, UInt16 key, UInt32 modifiers = 0) {
  UInt32 dead = 0;
  UniChar units[8];
  UniCharCount n = 0;
  EXPECT_EQ(UCKeyTranslate(layout, key, kUCKeyActionDown, modifiers, LMGetKbdType(), 0, &dead, 8,
                           &n, units),
            noErr);
  return std::u16string(units, units + n);
}

class KeyboardLayouts : public ::testing::Test {
 protected:
  void TearDown() override {
    KLSetCurrentKeyboardLayoutForTesting(nullptr);
    KLSetDefaultKeyboardFileForTesting(nullptr);
  }
};

TEST(VirtualKeyTable, MatchesTheDataFile) {
  std::ifstream in(CORVIMUS_VK_TABLE);
  ASSERT_TRUE(in) << CORVIMUS_VK_TABLE;
  std::string line;
  std::getline(in, line);
  ASSERT_EQ(line.rfind("mac_vk\t", 0), 0u);
  std::vector<bool> seen(128, false);
  int rows = 0;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) fields.push_back(field);
    ASSERT_GE(fields.size(), 1u) << line;
    const unsigned long vk = std::stoul(fields[0], nullptr, 16);
    ASSERT_LT(vk, 128u) << line;
    EXPECT_FALSE(seen[vk]) << line;
    seen[vk] = true;
    ++rows;
    const SInt32 expected = fields.size() >= 3 && !fields[2].empty() ? std::stoi(fields[2]) : -1;
    EXPECT_EQ(KeyboardEvdevCodeForVirtualKey(UInt16(vk)), expected) << line;
  }
  EXPECT_EQ(rows, 128);
  EXPECT_EQ(KeyboardEvdevCodeForVirtualKey(128), -1);
  EXPECT_EQ(KeyboardEvdevCodeForVirtualKey(0xFFFF), -1);
}

TEST_F(KeyboardLayouts, UsTypesLettersAndControlCharactersByPosition) {
  const UCKeyboardLayout* us = UseLayout("us");
  EXPECT_EQ(Type(us, 0x06), u"z");
  EXPECT_EQ(Type(us, 0x06, 0x02), u"Z");
  EXPECT_EQ(Type(us, 0x06, 0x04), u"Z");  // caps lock
  EXPECT_EQ(Type(us, 0x06, 0x10), u"\x1a");
  EXPECT_EQ(Type(us, 0x06, 0x01), u"z");  // command does not change the character
  EXPECT_EQ(Type(us, 0x21), u"[");
  EXPECT_EQ(Type(us, 0x21, 0x02), u"{");
  EXPECT_EQ(Type(us, 0x12), u"1");
  EXPECT_EQ(Type(us, 0x12, 0x04), u"1");  // caps lock leaves digits alone

  // Keys whose keysym has no character give the classic control characters.
  const std::pair<UInt16, char16_t> special[] = {
      {0x7A, 0x10}, {0x78, 0x10}, {0x6F, 0x10}, {0x73, 0x01}, {0x77, 0x04},
      {0x72, 0x05}, {0x74, 0x0B}, {0x79, 0x0C}, {0x7B, 0x1C}, {0x7C, 0x1D},
      {0x7E, 0x1E}, {0x7D, 0x1F}, {0x75, 0x7F}, {0x33, 0x08}, {0x4C, 0x03},
      {0x24, 0x0D}, {0x30, 0x09}, {0x35, 0x1B}, {0x47, 0x1B}, {0x31, 0x20}};
  for (auto [key, ch] : special) EXPECT_EQ(Type(us, key), std::u16string(1, ch)) << int(key);
  EXPECT_EQ(Type(us, 0x30, 0x02), u"\t");  // shift-tab is still tab

  // The keypad always types digits: num lock is on.
  EXPECT_EQ(Type(us, 0x53), u"1");
  EXPECT_EQ(Type(us, 0x5C), u"9");

  // Positions with no key, modifier keys and keys past 127 type nothing.
  for (UInt16 key : {0x34, 0x42, 0x7F, 0x38, 0x3A, 0x37, 0x80, 0x1234})
    EXPECT_EQ(Type(us, key), u"") << key;
}

TEST_F(KeyboardLayouts, OptionIsTheThirdLevel) {
  const UCKeyboardLayout* de = UseLayout("de");
  EXPECT_EQ(Type(de, 0x06), u"y");  // German keyboards swap y and z
  EXPECT_EQ(Type(de, 0x10), u"z");
  EXPECT_EQ(Type(de, 0x19), u"9");
  EXPECT_EQ(Type(de, 0x19, 0x02), u")");
  EXPECT_EQ(Type(de, 0x19, 0x08), u"]");
  EXPECT_EQ(Type(de, 0x1C, 0x08), u"[");
  EXPECT_EQ(Type(de, 0x0C, 0x08), u"@");
  EXPECT_EQ(Type(de, 0x0E, 0x08), u"\u20ac");  // euro sign
  EXPECT_EQ(Type(de, 0x21), u"\u00fc");
  EXPECT_EQ(Type(de, 0x21, 0x04), u"\u00dc");

  const UCKeyboardLayout* fr = UseLayout("fr");
  EXPECT_EQ(Type(fr, 0x0C), u"a");  // AZERTY
  EXPECT_EQ(Type(fr, 0x00), u"q");
  EXPECT_EQ(Type(fr, 0x12), u"&");
  EXPECT_EQ(Type(fr, 0x12, 0x02), u"1");
  EXPECT_EQ(Type(fr, 0x1A), u"\u00e8");
}

TEST_F(KeyboardLayouts, DeadKeysComposeWithTheNextKey) {
  const UCKeyboardLayout* de = UseLayout("de");
  const UInt16 acute = 0x18, circumflex = 0x32, e = 0x0E, x = 0x07, space = 0x31;
  UInt32 dead = 0;
  UniChar units[4] = {};
  UniCharCount n = 99;

  ASSERT_EQ(UCKeyTranslate(de, acute, kUCKeyActionDown, 0, LMGetKbdType(), 0, &dead, 4, &n, units),
            noErr);
  EXPECT_EQ(n, 0u);
  EXPECT_NE(dead, 0u);
  ASSERT_EQ(UCKeyTranslate(de, e, kUCKeyActionDown, 0, LMGetKbdType(), 0, &dead, 4, &n, units),
            noErr);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(units[0], 0x00E9);
  EXPECT_EQ(dead, 0u);

  // A modifier key in between does not end the sequence.
  dead = 0;
  UCKeyTranslate(de, circumflex, kUCKeyActionDown, 0, 0, 0, &dead, 4, &n, units);
  ASSERT_NE(dead, 0u);
  UCKeyTranslate(de, 0x38, kUCKeyActionDown, 0, 0, 0, &dead, 4, &n, units);
  EXPECT_EQ(n, 0u);
  EXPECT_NE(dead, 0u);
  UCKeyTranslate(de, e, kUCKeyActionDown, 0x02, 0, 0, &dead, 4, &n, units);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(units[0], 0x00CA);

  // A key that does not combine types the dead key's own character, then its own.
  dead = 0;
  UCKeyTranslate(de, circumflex, kUCKeyActionDown, 0, 0, 0, &dead, 4, &n, units);
  ASSERT_EQ(UCKeyTranslate(de, x, kUCKeyActionDown, 0, 0, 0, &dead, 4, &n, units), noErr);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(units[0], u'^');
  EXPECT_EQ(units[1], u'x');
  EXPECT_EQ(dead, 0u);

  // Room for fewer units than the result: nothing is written.
  dead = 0;
  UCKeyTranslate(de, circumflex, kUCKeyActionDown, 0, 0, 0, &dead, 1, &n, units);
  units[0] = 0;
  EXPECT_EQ(UCKeyTranslate(de, x, kUCKeyActionDown, 0, 0, 0, &dead, 1, &n, units),
            kUCOutputBufferTooSmall);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(units[0], 0);

  // Dead key then space gives the accent alone; without dead keys the accent comes at once.
  dead = 0;
  UCKeyTranslate(de, circumflex, kUCKeyActionDown, 0, 0, 0, &dead, 4, &n, units);
  UCKeyTranslate(de, space, kUCKeyActionDown, 0, 0, 0, &dead, 4, &n, units);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(units[0], u'^');
  dead = 0;
  ASSERT_EQ(UCKeyTranslate(de, circumflex, kUCKeyActionDown, 0, 0, kUCKeyTranslateNoDeadKeysMask,
                           &dead, 4, &n, units),
            noErr);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(units[0], u'^');
  EXPECT_EQ(dead, 0u);

  // Key-up types nothing; bad arguments are refused.
  EXPECT_EQ(UCKeyTranslate(de, e, kUCKeyActionUp, 0, 0, 0, &dead, 4, &n, units), noErr);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(UCKeyTranslate(de, e, 7, 0, 0, 0, &dead, 4, &n, units), paramErr);
  EXPECT_EQ(UCKeyTranslate(de, e, 0, 0, 0, 0, nullptr, 4, &n, units), paramErr);
  EXPECT_EQ(UCKeyTranslate(nullptr, e, 0, 0, 0, 0, &dead, 4, &n, units), kUCKeyLayoutNotFound);
}

TEST_F(KeyboardLayouts, VariantsAreNamedInParentheses) {
  const UCKeyboardLayout* intl = UseLayout("us(intl)");
  UInt32 dead = 0;
  UniChar unit = 0;
  UniCharCount n = 0;
  // The quote key is a dead acute accent on the international variant.
  UCKeyTranslate(intl, 0x27, kUCKeyActionDown, 0, 0, 0, &dead, 1, &n, &unit);
  EXPECT_EQ(n, 0u);
  EXPECT_NE(dead, 0u);
  UCKeyTranslate(intl, 0x00, kUCKeyActionDown, 0, 0, 0, &dead, 1, &n, &unit);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(unit, 0x00E1);

  KeyboardLayoutRef layout = nullptr;
  ASSERT_EQ(KLGetCurrentKeyboardLayout(&layout), noErr);
  const void* name = nullptr;
  ASSERT_EQ(KLGetKeyboardLayoutProperty(layout, kKLName, &name), noErr);
  EXPECT_STREQ(static_cast<const char*>(name), "us(intl)");
}

TEST_F(KeyboardLayouts, UnknownLayoutLeavesTheChoiceAlone) {
  UseLayout("fr");
  EXPECT_EQ(KLSetCurrentKeyboardLayoutForTesting("no-such-layout"), kUCKeyLayoutNotFound);
  KeyboardLayoutRef layout = nullptr;
  ASSERT_EQ(KLGetCurrentKeyboardLayout(&layout), noErr);
  const void* name = nullptr;
  ASSERT_EQ(KLGetKeyboardLayoutProperty(layout, kKLName, &name), noErr);
  EXPECT_STREQ(static_cast<const char*>(name), "fr");

  // The same layout asked for twice is the same layout.
  UseLayout("de");
  KeyboardLayoutRef first = nullptr, second = nullptr;
  KLGetCurrentKeyboardLayout(&first);
  UseLayout("de");
  KLGetCurrentKeyboardLayout(&second);
  EXPECT_EQ(first, second);

  EXPECT_EQ(KLGetCurrentKeyboardLayout(nullptr), paramErr);
  const void* value = nullptr;
  EXPECT_EQ(KLGetKeyboardLayoutProperty(first, kKLKCHRData, &value), paramErr);
  EXPECT_EQ(KLGetKeyboardLayoutProperty(first, 99, &value), paramErr);
  EXPECT_EQ(KLGetKeyboardLayoutProperty(nullptr, kKLKind, &value), paramErr);
}

TEST_F(KeyboardLayouts, BuiltInKCHRLayoutTranslatesThroughItsTables) {
  ASSERT_EQ(KLSetCurrentKeyboardLayoutForTesting(kKLBuiltInKCHRLayoutName), noErr);
  KeyboardLayoutRef layout = nullptr;
  ASSERT_EQ(KLGetCurrentKeyboardLayout(&layout), noErr);
  const void* kind = nullptr;
  ASSERT_EQ(KLGetKeyboardLayoutProperty(layout, kKLKind, &kind), noErr);
  EXPECT_EQ(*static_cast<const KeyboardLayoutKind*>(kind), kKLKCHRKind);
  const void* uchr = nullptr;
  EXPECT_EQ(KLGetKeyboardLayoutProperty(layout, kKLuchrData, &uchr), paramErr);
  const void* kchr = nullptr;
  ASSERT_EQ(KLGetKeyboardLayoutProperty(layout, kKLKCHRData, &kchr), noErr);

  UInt32 state = 0;
  EXPECT_EQ(KeyTranslate(kchr, 0x06, &state) & 0xFF, UInt32('z'));
  EXPECT_EQ(KeyTranslate(kchr, 0x0206, &state) & 0xFF, UInt32('Z'));
  EXPECT_EQ(KeyTranslate(kchr, 0x0406, &state) & 0xFF, UInt32('Z'));
  EXPECT_EQ(KeyTranslate(kchr, 0x0412, &state) & 0xFF, UInt32('1'));
  EXPECT_EQ(KeyTranslate(kchr, 0x1006, &state) & 0xFF, 0x1Au);
  EXPECT_EQ(KeyTranslate(kchr, 0x0106, &state) & 0xFF, UInt32('z'));
  EXPECT_EQ(KeyTranslate(kchr, 0x0800, &state) & 0xFF, 0x8Cu);        // option-a
  EXPECT_EQ(KeyTranslate(kchr, 0x4000, &state) & 0xFF, 0x8Cu);        // right option
  EXPECT_EQ(KeyTranslate(kchr, 0x2021, &state) & 0xFF, UInt32('{'));  // right shift
  EXPECT_EQ(KeyTranslate(kchr, 0x0021, &state) & 0xFF, UInt32('['));
  EXPECT_EQ(KeyTranslate(kchr, 0x0035, &state) & 0xFF, 0x1Bu);
  EXPECT_EQ(KeyTranslate(kchr, 0x0047, &state) & 0xFF, 0x1Bu);
  EXPECT_EQ(KeyTranslate(kchr, 0x007A, &state) & 0xFF, 0x10u);
  EXPECT_EQ(KeyTranslate(kchr, 0x0038, &state) & 0xFF, 0u);
  EXPECT_EQ(state, 0u);
}

TEST_F(KeyboardLayouts, WithoutDisplayTheSystemDefaultKeyboardIsCurrent) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  TempDir dir;
  WriteFile(dir / "keyboard",
            "# KEYBOARD CONFIGURATION FILE\n\nXKBMODEL=\"pc105\"\nXKBLAYOUT=\"de,us\"\n"
            "XKBVARIANT=\"nodeadkeys,\"\nXKBOPTIONS=\"\"\n\nBACKSPACE=\"guess\"\n");
  KLSetDefaultKeyboardFileForTesting((dir / "keyboard").c_str());
  KeyboardLayoutRef layout = nullptr;
  ASSERT_EQ(KLGetCurrentKeyboardLayout(&layout), noErr);
  const void* name = nullptr;
  KLGetKeyboardLayoutProperty(layout, kKLName, &name);
  EXPECT_STREQ(static_cast<const char*>(name), "de(nodeadkeys)");
  const void* data = nullptr;
  ASSERT_EQ(KLGetKeyboardLayoutProperty(layout, kKLuchrData, &data), noErr);
  const auto* de = static_cast<const UCKeyboardLayout*>(data);
  EXPECT_EQ(Type(de, 0x06), u"y");
  EXPECT_EQ(Type(de, 0x32), u"^");  // no dead keys on this variant

  // A display that cannot be reached counts as none.
  setenv("DISPLAY", ":97", 1);
  ASSERT_EQ(KLGetCurrentKeyboardLayout(&layout), noErr);
  KLGetKeyboardLayoutProperty(layout, kKLName, &name);
  EXPECT_STREQ(static_cast<const char*>(name), "de(nodeadkeys)");
  unsetenv("DISPLAY");

  // No file, or a file without a layout: "us".
  WriteFile(dir / "keyboard", "XKBMODEL=pc105\n");
  ASSERT_EQ(KLGetCurrentKeyboardLayout(&layout), noErr);
  KLGetKeyboardLayoutProperty(layout, kKLName, &name);
  EXPECT_STREQ(static_cast<const char*>(name), "us");
  KLSetDefaultKeyboardFileForTesting((dir / "missing").c_str());
  ASSERT_EQ(KLGetCurrentKeyboardLayout(&layout), noErr);
  KLGetKeyboardLayoutProperty(layout, kKLName, &name);
  EXPECT_STREQ(static_cast<const char*>(name), "us");

  // A layout the system does not know falls back to "us" as well.
  WriteFile(dir / "keyboard", "XKBLAYOUT='zz-unknown'\n");
  KLSetDefaultKeyboardFileForTesting((dir / "keyboard").c_str());
  ASSERT_EQ(KLGetCurrentKeyboardLayout(&layout), noErr);
  KLGetKeyboardLayoutProperty(layout, kKLName, &name);
  EXPECT_STREQ(static_cast<const char*>(name), "us");

  if (display) setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace

namespace {

// Every key with every modifier byte, carrying whatever dead-key state the previous key left, and
// arbitrary state values a caller might pass: results stay within the room given.
TEST_F(KeyboardLayouts, EveryKeyAndModifierStaysWithinTheRoomGiven) {
  const UCKeyboardLayout* fr = UseLayout("fr");
  UInt32 carried = 0;
  int typed = 0;
  for (UInt32 mods = 0; mods < 256; ++mods) {
    for (UInt16 key = 0; key < 130; ++key) {
      UniChar units[3] = {0, 0, 0xBEEF};
      UniCharCount n = 99;
      const OSStatus err =
          UCKeyTranslate(fr, key, kUCKeyActionDown, mods, 0, 0, &carried, 2, &n, units);
      ASSERT_TRUE(err == noErr || err == kUCOutputBufferTooSmall) << err;
      ASSERT_LE(n, 2u);
      ASSERT_EQ(units[2], 0xBEEF);
      if (n) ++typed;
      UInt32 arbitrary = (mods << 24) | (UInt32(key) * 0x010307u);
      UCKeyTranslate(fr, key, kUCKeyActionDown, mods, 0, 0, &arbitrary, 2, &n, units);
      ASSERT_LE(n, 2u);
    }
  }
  EXPECT_GT(typed, 256 * 40);
}

}  // namespace
