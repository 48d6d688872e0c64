#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "recordbase/PStrings.h"

namespace {

std::string P(const unsigned char* s) {
  return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}
void MakeP(unsigned char* dst, const std::string& s) {
  dst[0] = static_cast<unsigned char>(s.size());
  std::memcpy(dst + 1, s.data(), s.size());
}

}  // namespace

TEST(PStrings, CopyAndCatRespectTheLimit) {
  Str255 src, dst;
  MakeP(src, std::string(40, 'a'));
  std::memset(dst, 0xEE, sizeof dst);
  EXPECT_EQ(PStringCopy(src, dst, 31), 31);
  EXPECT_EQ(P(dst), std::string(31, 'a'));
  EXPECT_EQ(dst[32], 0xEE) << "nothing written past the limit";
  MakeP(src, "0123456789");
  MakeP(dst, std::string(25, 'x'));
  EXPECT_EQ(PStringCat(src, dst, 31), 6);
  EXPECT_EQ(P(dst), std::string(25, 'x') + "012345");
  EXPECT_EQ(PStringCat(src, dst, 31), 0);
  // A limit above 255 cannot overflow the length byte.
  MakeP(dst, std::string(250, 'y'));
  EXPECT_EQ(PStringCat(src, dst, 400), 5);
  EXPECT_EQ(dst[0], 255);
  // Appending a string to itself.
  MakeP(dst, "ab");
  EXPECT_EQ(PStringCat(dst, dst, 10), 2);
  EXPECT_EQ(P(dst), "abab");
}

TEST(PStrings, CompareFoldsOnlyAsciiLetters) {
  Str255 a, b;
  MakeP(a, "Hello");
  MakeP(b, "hELLO");
  EXPECT_EQ(PStringCmp(a, b), 0);
  MakeP(b, "Hellos");
  EXPECT_EQ(PStringCmp(a, b), -1);
  MakeP(a, "b");
  MakeP(b, "A");
  EXPECT_EQ(PStringCmp(a, b), 1);
  MakeP(a, "\xC4");  // bytes above 127 are compared as they are, unsigned
  MakeP(b, "\xE4");
  EXPECT_EQ(PStringCmp(a, b), 0xC4 - 0xE4);
  EXPECT_EQ(CStringCmp("Z", "z"), 0);
  EXPECT_EQ(CStringCmp("[", "a"), 91 - 97);
  EXPECT_EQ(CStringCmp("abc", "ABC"), 0);
  EXPECT_EQ(CStringCmp("ab", "abc"), -'c');
  EXPECT_EQ(CStringCmp("abd", "ab"), 'd');
}

TEST(PStrings, CStringIntoPascal) {
  Str31 p;
  CStringPCopy("a long name that is longer than the limit", p, 10);
  EXPECT_EQ(P(p), "a long nam");
  CStringPCopy("ab", p, 31);
  CStringPCat("cdef", p, 4);
  EXPECT_EQ(P(p), "abcd");
  CStringPCat("", p, 31);
  EXPECT_EQ(P(p), "abcd");
}

TEST(PStrings, CStringCopyAndCatTerminate) {
  char buf[16];
  std::memset(buf, 'Q', sizeof buf);
  EXPECT_EQ(CStringCopy("abc", buf, 0), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 'Q');
  EXPECT_EQ(CStringCopy("abcdefgh", buf, 5), 5);
  EXPECT_STREQ(buf, "abcde");
  EXPECT_EQ(CStringCat("XYZ", buf, 7), 7);
  EXPECT_STREQ(buf, "abcdeXY");
  EXPECT_EQ(buf[8], 'Q');
  // A destination without a terminator inside the limit is taken as full.
  std::memset(buf, 'z', sizeof buf);
  EXPECT_EQ(CStringCat("more", buf, 6), 6);
  EXPECT_EQ(buf[6], 0);
}
