#include <gtest/gtest.h>

#include "platform/Json.h"

using corvimus::Json;
using corvimus::ParseJson;

namespace {

Json Parse(const std::string& text) {
  Json doc;
  std::string error;
  EXPECT_TRUE(ParseJson(text, &doc, &error)) << error;
  return doc;
}

std::string ErrorOf(const std::string& text) {
  Json doc;
  std::string error;
  EXPECT_FALSE(ParseJson(text, &doc, &error)) << text;
  return error;
}

}  // namespace

TEST(Json, MembersOfAPeerMessage) {
  // The shape of a window event a compositor sends: nested objects, null, numbers and strings.
  Json doc = Parse(R"({"change": "focus", "container": {"id": 17, "pid": 4242, "app_id": null,
      "focused": true, "window_properties": {"class": "Xmessage", "instance": "xmessage"},
      "rect": {"x": -5, "width": 1.5e2}}})");
  const Json& c = doc.Member("container");
  EXPECT_EQ("focus", doc.StringMember("change"));
  EXPECT_EQ(4242u, c.UnsignedMember("pid"));
  EXPECT_EQ(Json::kNull, c.Member("app_id").kind);
  EXPECT_EQ("", c.StringMember("app_id"));
  EXPECT_TRUE(c.Member("focused").boolean);
  EXPECT_EQ("Xmessage", c.Member("window_properties").StringMember("class"));
  // Negative and fractional numbers are no unsigned integers; missing members give the fallback.
  EXPECT_EQ(7u, c.Member("rect").UnsignedMember("x", 7));
  EXPECT_EQ(7u, c.Member("rect").UnsignedMember("width", 7));
  EXPECT_EQ(7u, c.UnsignedMember("missing", 7));
  EXPECT_EQ(7u, doc.Member("change").UnsignedMember("pid", 7)) << "a string has no members";
}

TEST(Json, StringsAndEscapes) {
  Json doc = Parse(R"(["a\"b\\c\/\n\t", "\u00e9\ud83d\ude00", "\udcff", "日本"])");
  ASSERT_EQ(4u, doc.items.size());
  EXPECT_EQ("a\"b\\c/\n\t", doc.items[0].text);
  EXPECT_EQ("\xc3\xa9\xf0\x9f\x98\x80", doc.items[1].text);
  EXPECT_EQ("\xff", doc.items[2].text) << "a byte that is not UTF-8 comes back as itself";
  EXPECT_EQ("日本", doc.items[3].text);
}

TEST(Json, DamagedDocumentsSayWhereAndWhat) {
  EXPECT_EQ("line 1, column 1: unexpected end of the document", ErrorOf(""));
  EXPECT_EQ("line 2, column 3: expected ',' or '}' in an object", ErrorOf("{\"a\": 1\n  \"b\""));
  EXPECT_NE(std::string::npos, ErrorOf(R"({"a": 1, "a": 2})").find("appears twice"));
  EXPECT_NE(std::string::npos, ErrorOf("\"abc").find("not closed"));
  EXPECT_NE(std::string::npos, ErrorOf("\"\xc3\x28\"").find("not valid UTF-8"));
  EXPECT_NE(std::string::npos, ErrorOf(R"("\ud800x")").find("lone high surrogate"));
  EXPECT_NE(std::string::npos, ErrorOf("01").find("may not start with 0"));
  EXPECT_NE(std::string::npos, ErrorOf("[1] x").find("after the end"));
  EXPECT_NE(std::string::npos, ErrorOf(std::string(100, '[')).find("nested too deeply"));
  // Every prefix of a valid document is damaged, and none of them reads past its end.
  std::string valid = R"({"k": [true, false, null, -1.5e+3, "s\u0041"]})";
  for (size_t n = 0; n < valid.size(); ++n) ErrorOf(valid.substr(0, n));
  Parse(valid);
}

TEST(Json, Utf8SequenceLengths) {
  auto len = [](const std::string& s) {
    return corvimus::Utf8SequenceLength(reinterpret_cast<const unsigned char*>(s.data()), s.size(),
                                        0);
  };
  EXPECT_EQ(1u, len("a"));
  EXPECT_EQ(2u, len("\xc3\xa9"));
  EXPECT_EQ(3u, len("\xe6\x97\xa5"));
  EXPECT_EQ(4u, len("\xf0\x9f\x98\x80"));
  EXPECT_EQ(0u, len("\xc0\xaf")) << "overlong";
  EXPECT_EQ(0u, len("\xed\xa0\x80")) << "surrogate";
  EXPECT_EQ(0u, len("\xf4\x90\x80\x80")) << "past U+10FFFF";
  EXPECT_EQ(0u, len("\xe6\x97")) << "cut short";
}
