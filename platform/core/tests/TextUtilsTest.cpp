#include <gtest/gtest.h>

#include <string>

#include "platform/TextUtils.h"

namespace {

std::string P(const std::string& s) {
  return std::string(1, char(s.size())) + s;
}

bool Equal(const std::string& a, const std::string& b, bool caseSens, bool diacSens) {
  std::string pa = P(a), pb = P(b);
  return EqualString(reinterpret_cast<const unsigned char*>(pa.data()),
                     reinterpret_cast<const unsigned char*>(pb.data()), caseSens, diacSens);
}

TEST(EqualString, IgnoresCaseButRespectsAccentsAsProcessNamesAreCompared) {
  EXPECT_TRUE(Equal("corvimushelper", "CorvimusHelper", false, true));
  EXPECT_TRUE(Equal("CORVIMUSHELPER", "CorvimusHelper", false, true));
  EXPECT_FALSE(Equal("CorvimusHélper", "CorvimusHelper", false, true));
  EXPECT_FALSE(Equal("CorvimusHelpe", "CorvimusHelper", false, true));
  EXPECT_FALSE(Equal("CorvimusHelper ", "CorvimusHelper", false, true));
  EXPECT_TRUE(Equal("", "", false, true));
}

TEST(EqualString, FoldsLettersBeyondAscii) {
  EXPECT_TRUE(Equal("ÉCOLE", "école", false, true));
  EXPECT_TRUE(Equal("ŁÓDŹ", "łódź", false, true));
  EXPECT_TRUE(Equal("ΑΘΗΝΑ", "αθηνα", false, true));
  EXPECT_TRUE(Equal("МЫШЬ", "мышь", false, true));
  EXPECT_FALSE(Equal("ÉCOLE", "école", true, true));
  // A sign is not a letter: × and ÷ stay apart.
  EXPECT_FALSE(Equal("×", "÷", false, true));
}

TEST(EqualString, PrecomposedAndCombiningAccentsAreTheSameLetter) {
  EXPECT_TRUE(Equal("H\xC3\xA9lper", "He\xCC\x81lper", true, true));
  EXPECT_FALSE(Equal("H\xC3\xA9lper", "He\xCC\x80lper", true, true));
}

TEST(EqualString, WithoutDiacriticalSensitivityAccentsAreIgnored) {
  EXPECT_TRUE(Equal("CorvimusHélper", "CorvimusHelper", false, false));
  EXPECT_TRUE(Equal("Ñandú", "nandu", false, false));
  EXPECT_FALSE(Equal("Ñandú", "nandu", true, false));
}

TEST(EqualString, InvalidBytesCompareAsThemselves) {
  EXPECT_TRUE(Equal("a\xFF", "A\xFF", false, true));
  EXPECT_FALSE(Equal("a\xFF", "a\xFE", false, true));
  // A truncated sequence at the end is not mistaken for another character.
  EXPECT_FALSE(Equal("\xC3", "\xC3\xA9", false, true));
  EXPECT_TRUE(Equal(std::string("a\0b", 3), std::string("A\0B", 3), false, true));
  EXPECT_FALSE(Equal(std::string("a\0", 2), "a", false, true));
}

TEST(Utf8CutLength, NeverEndsInsideACharacter) {
  const std::string cafe = "Caf\xC3\xA9";          // é is two bytes
  const std::string clef = "\xF0\x9D\x84\x9E!";    // U+1D11E is four
  EXPECT_EQ(corvimus::Utf8CutLength(cafe.data(), cafe.size(), 10), 5u);
  EXPECT_EQ(corvimus::Utf8CutLength(cafe.data(), cafe.size(), 5), 5u);
  EXPECT_EQ(corvimus::Utf8CutLength(cafe.data(), cafe.size(), 4), 3u);
  for (size_t limit = 0; limit < 4; ++limit)
    EXPECT_EQ(corvimus::Utf8CutLength(clef.data(), clef.size(), limit), 0u) << limit;
  EXPECT_EQ(corvimus::Utf8CutLength(clef.data(), clef.size(), 4), 4u);
  // Bytes that are no UTF-8 are cut anywhere, one at a time.
  const std::string latin1 = "Caf\xE9s";
  EXPECT_EQ(corvimus::Utf8CutLength(latin1.data(), latin1.size(), 4), 4u);
  EXPECT_EQ(corvimus::Utf8CutLength(cafe.data(), 0, 0), 0u);
}

}  // namespace
