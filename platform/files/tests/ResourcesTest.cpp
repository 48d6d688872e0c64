#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/Resources.h"

using corvimus::ParseStringsTable;

namespace {

TEST(StringsTable, ReadsQuotedAndBareKeysWithEscapesAndComments) {
  std::map<std::string, std::string> t;
  ASSERT_TRUE(
      ParseStringsTable("/* head */ \"132.1\" = \"Global\";\n"
                        "// line comment\n"
                        "132.2 = \"a \\\"q\\\" \\\\ \\n \\t \\U00E9 \\ud83d\\ude00\";\n"
                        "key_3=\"x\";",
                        &t));
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t["132.1"], "Global");
  EXPECT_EQ(t["132.2"], "a \"q\" \\ \n \t \xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(t["key_3"], "x");
  EXPECT_TRUE(ParseStringsTable("", &t));
  EXPECT_TRUE(t.empty());
}

TEST(StringsTable, ReadsUtf16WithAByteOrderMarkAndUtf8WithOne) {
  std::map<std::string, std::string> t;
  std::string le = std::string("\xFF\xFE", 2);
  for (char c : std::string("\"k\" = \"v\xE9\";")) {
    le.push_back(c);
    le.push_back('\0');
  }
  // \xE9 as one UTF-16 unit is é.
  ASSERT_TRUE(ParseStringsTable(le, &t));
  EXPECT_EQ(t["k"], "v\xC3\xA9");
  std::string be = std::string("\xFE\xFF", 2);
  for (char c : std::string("\"k\" = \"w\";")) {
    be.push_back('\0');
    be.push_back(c);
  }
  ASSERT_TRUE(ParseStringsTable(be, &t));
  EXPECT_EQ(t["k"], "w");
  ASSERT_TRUE(ParseStringsTable("\xEF\xBB\xBF\"k\" = \"u\";", &t));
  EXPECT_EQ(t["k"], "u");
}

TEST(StringsTable, RefusesMalformedTablesWhole) {
  std::map<std::string, std::string> t;
  for (const char* bad : {"\"a\" = \"b\"", "\"a\" \"b\";", "\"a\" = \"b;", "/* open", "= \"b\";",
                          "\"a\" = \"\\q\";", "\"a\" = \"\\U12\";", "\"a\" = \"\\udc00\";",
                          "\"a\" = \"\\ud800x\";", "\"ok\" = \"1\"; \"a\" = ;"}) {
    EXPECT_FALSE(ParseStringsTable(bad, &t)) << bad;
    EXPECT_TRUE(t.empty()) << bad;
  }
  EXPECT_FALSE(ParseStringsTable(std::string("\xFF\xFE\x00", 3), &t));
  EXPECT_FALSE(ParseStringsTable(std::string("\xFF\xFE\x00\xD8", 4), &t));
}

TEST(StringsTable, ProgramOutsideABundleGetsEmptyStrings) {
  Str255 s = {5, 'j', 'u', 'n', 'k', '!'};
  GetIndString(s, 132, 1);
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(corvimus::BundleForCode(reinterpret_cast<const void*>(&corvimus::kResourceAnchor)), "");
}

}  // namespace
