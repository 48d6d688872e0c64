#include <gtest/gtest.h>

#include "settings/CorvimusDriver.h"
#include "settings/CorvimusEvents.h"
#include "settings/CorvimusPrefs.h"

TEST(Keystroke, PacksCharacterKeyAndModifiersIntoTheirBytes) {
  UInt32 k = PackKeystroke('[', 0x21, cmdKey | optionKey);
  EXPECT_EQ(k, 0x0900215Bu);
  EXPECT_EQ(KeystrokeChar(k), '[');
  EXPECT_EQ(KeystrokeKeyCode(k), 0x21);
  EXPECT_EQ(KeystrokeModifiers(k), 0x0900);
}

TEST(Names, HelperNameIsAFourteenCharacterPascalString) {
  EXPECT_EQ(kCorvimusHelperName[0], 14);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(kCorvimusHelperName) + 1, 14),
            "CorvimusHelper");
  EXPECT_EQ(sizeof(kCorvimusPrefsFileName) - 1, 23u);
}
