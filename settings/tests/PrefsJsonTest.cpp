#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "settings/MouseSettings.h"
#include "settings/PrefsJson.h"
#include "settings/PrefsText.h"

using namespace settingstest;

namespace {

CorvimusPrefsRec Canonical(CorvimusPrefsRec r) {
  // The bytes the shape does not carry come back as zeros; make the original match.
  CorvimusPrefsRec out = r;
  out.filler = 0;
  out.reserved1 = 0;
  out.reserved2 = 0;
  std::memset(out.appName + 1 + std::min<int>(r.appName[0], 31), 0,
              31 - std::min<int>(r.appName[0], 31));
  std::memset(out.appFileName + 1 + std::min<int>(r.appFileName[0], 63), 0,
              63 - std::min<int>(r.appFileName[0], 63));
  out.device[0].reserved1 = 0;
  for (auto& a : out.device[0].action) {
    a.reserved1 = 0;
    a.reserved2 = 0;
    a.reserved3 = 0;
  }
  return out;
}

TEST(PrefsJson, EveryFieldComesBackByteForByte) {
  CorvimusPrefsRec app = SampleApp(FourCC("ttxt"), "TextEdit");
  // Bytes that are no UTF-8, quotes, backslashes and control characters in the names, and a
  // signature with bytes outside printable ASCII.
  const unsigned char name[] = {'a', '"', '\\', 0x01, 0xFF, 0xC3, 0xA9, 0xE2, 0x82, 'z', 0x7F};
  app.appName[0] = sizeof name;
  std::memcpy(app.appName + 1, name, sizeof name);
  app.appFileName[0] = 63;
  for (int i = 1; i <= 63; ++i) app.appFileName[i] = UInt8(0x80 + i);
  app.application = 0x00C3FF41;
  for (int i = 0; i < 40; ++i) app.device[0].action[2].data[i] = UInt8(i * 37);
  std::vector<CorvimusPrefsRec> in = {kCorvimusDefaultPrefs, app};
  std::string json = PrefsDocumentToJson(true, in);

  std::vector<CorvimusPrefsRec> out;
  bool big = false;
  std::string error;
  ASSERT_TRUE(PrefsDocumentFromJson(json, &out, &big, &error)) << error << "\n" << json;
  EXPECT_TRUE(big);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Bytes(out[0]), Bytes(kCorvimusDefaultPrefs));
  EXPECT_EQ(Bytes(out[1]), Bytes(Canonical(app)));
  // Writing again gives the same text.
  EXPECT_EQ(PrefsDocumentToJson(true, out), json);
}

TEST(PrefsJson, WritesTheAgreedShape) {
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  r.device[0].action[0].data[0] = 0xAB;
  std::string json = PrefsRecordToJson(r);
  EXPECT_EQ(json.rfind("{\"application\": \"\", \"applicationCode\": 0, \"active\": 1, "
                       "\"appName\": \"\", \"appFileName\": \"\", \"options\": 0, \"speed\": 255, "
                       "\"acceleration\": 255, \"actions\": [{\"slot\": \"left\", "
                       "\"command\": \"main-click\", \"modifiers\": \"\", \"delay\": 0, "
                       "\"keyCode\": 0, \"repeat\": 0, \"data\": "
                       "\"ab000000",
                       0),
            0u)
      << json;
  // A scroll entry's key code is no key: it stays a number.
  EXPECT_NE(json.find("{\"slot\": \"tilt-right\", \"command\": \"scroll-down\", "
                      "\"modifiers\": \"\", \"delay\": 0, "
                      "\"keyCode\": 100, \"repeat\": 0, \"data\": \"" +
                      std::string(80, '0') + "\"}]}"),
            std::string::npos);
  CorvimusPrefsRec back;
  std::string error;
  ASSERT_TRUE(PrefsRecordFromJson(json, &back, &error)) << error;
  EXPECT_EQ(Bytes(back), Bytes(r));
  EXPECT_EQ(PrefsDocumentToJson(false, {}), "{\"byteOrder\": \"little\", \"records\": []}\n");
}

// Where a word holds the value it is written; where none does, the number; either reads back.
TEST(PrefsJson, WritesWordsWhereTheyExistAndReadsNumbersAsWell) {
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  r.device[0].action[3] = {kCmdKeystroke, 0, UInt16(controlKey | shiftKey), 0, 0, 0x08, 0, 0, {}};
  r.device[0].action[4] = {kCmdKeystroke, 0, 0, 0, 0, 255, 0, 0, {}};
  r.device[0].action[5] = {kCmdKeystroke, 0, 0, 0, 0, 0x34, 0, 0, {}};  // no key sits there
  r.device[0].action[6] = {99, 0, 0x0040, 0, 0, 0, 0, 0, {}};          // no row, no modifier
  r.device[0].action[9] = {kCmdBack, 0, 0, 0, 0, 0, 0, 0, {}};         // no control
  const std::string json = PrefsRecordToJson(r);
  for (const char* part :
       {"{\"slot\": \"back\", \"command\": \"keystroke\", \"modifiers\": \"ctrl+shift\", "
        "\"delay\": 0, \"keyCode\": \"c\"",
        "{\"slot\": \"forward\", \"command\": \"keystroke\", \"modifiers\": \"\", \"delay\": 0, "
        "\"keyCode\": \"none\"",
        "{\"slot\": \"button6\", \"command\": \"keystroke\", \"modifiers\": \"\", \"delay\": 0, "
        "\"keyCode\": 52,",
        "{\"slot\": \"button7\", \"command\": 99, \"modifiers\": 64,",
        "{\"slot\": 9, \"command\": \"back\","})
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  CorvimusPrefsRec back;
  std::string error;
  ASSERT_TRUE(PrefsRecordFromJson(json, &back, &error)) << error;
  EXPECT_EQ(Bytes(back), Bytes(r));

  // The all-numbers form of earlier versions, and words in other spellings, give the same record.
  std::string old = json;
  auto swap = [&](const std::string& from, const std::string& to) {
    size_t at = old.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    old.replace(at, from.size(), to);
  };
  swap("\"slot\": \"back\"", "\"slot\": 3");
  swap("\"slot\": \"forward\"", "\"slot\": \"C4\"");
  swap("\"command\": \"main-click\"", "\"command\": 33");
  swap("\"command\": \"back\"", "\"command\": \"BACK\"");
  swap("\"modifiers\": \"ctrl+shift\"", "\"modifiers\": " + std::to_string(controlKey | shiftKey));
  swap("\"keyCode\": \"c\"", "\"keyCode\": 8");
  swap("\"keyCode\": \"none\"", "\"keyCode\": \"None\"");
  ASSERT_TRUE(PrefsRecordFromJson(old, &back, &error)) << error << "\n" << old;
  EXPECT_EQ(Bytes(back), Bytes(r));

  // A word that names nothing is refused where it stands.
  for (const auto& [from, to, where] : std::vector<std::array<std::string, 3>>{
           {"\"slot\": \"back\"", "\"slot\": \"thumb\"", "record.actions[3].slot"},
           {"\"slot\": \"back\"", "\"slot\": \"forward\"", "record.actions[3].slot"},
           {"\"command\": \"main-click\"", "\"command\": \"jump\"", "record.actions[0].command"},
           {"\"modifiers\": \"ctrl+shift\"", "\"modifiers\": \"ctrl+hyper\"",
            "record.actions[3].modifiers"},
           {"\"keyCode\": \"c\"", "\"keyCode\": \"nokey\"", "record.actions[3].keyCode"},
       }) {
    std::string bad = json;
    bad.replace(bad.find(from), from.size(), to);
    EXPECT_FALSE(PrefsRecordFromJson(bad, &back, &error)) << to;
    EXPECT_EQ(error.rfind(where, 0), 0u) << error;
  }
}

// Whatever is cut off or changed in a valid document, the reader answers without crashing, and
// what it accepts is a document it could have written.
TEST(PrefsJson, SurvivesEveryTruncationAndByteChange) {
  std::string json =
      PrefsDocumentToJson(false, {kCorvimusDefaultPrefs, SampleApp(FourCC("ttxt"), "Text\"Edit")});
  std::vector<CorvimusPrefsRec> out;
  std::string error;
  for (size_t n = 0; n < json.size(); n += 3) {
    EXPECT_FALSE(PrefsDocumentFromJson(json.substr(0, n), &out, nullptr, &error)) << n;
    EXPECT_FALSE(error.empty());
  }
  const char replacements[] = {'\0', '"', '\\', '{', ']', '9', '-', 'x', '\xff'};
  for (size_t i = 0; i < json.size(); i += 5) {
    for (char c : replacements) {
      std::string bad = json;
      bad[i] = c;
      if (PrefsDocumentFromJson(bad, &out, nullptr, &error)) {
        EXPECT_FALSE(out.empty());
        EXPECT_EQ(out[0].application, 0u);
      }
    }
  }
}

TEST(PrefsText, NamesSlotsAndCommandsInWords) {
  EXPECT_STREQ(SlotControlName(0), "C0");
  EXPECT_STREQ(SlotControlName(7), "C7");
  EXPECT_EQ(SlotControlName(8), nullptr);
  EXPECT_STREQ(SlotControlName(12), "RF");
  EXPECT_STREQ(SlotControlName(15), "PB");
  EXPECT_EQ(SlotControlName(16), nullptr);
  EXPECT_EQ(SlotLabel(10), "slot 10");
  EXPECT_EQ(SlotFromText("pf"), 14);
  EXPECT_EQ(SlotFromText("C7"), 7);
  EXPECT_EQ(SlotFromText("11"), 11);
  EXPECT_EQ(SlotFromText("16"), -1);
  EXPECT_EQ(SlotFromText("C8"), -1);
  EXPECT_EQ(SlotFromText("Tilt-Right"), 15);
  EXPECT_EQ(SlotFromText("button-4"), 3);
  EXPECT_EQ(SlotFromText("00000000000000000001"), -1);
  EXPECT_EQ(SlotFromText(""), -1);

  CorvimusActionRec a{};
  a.command = 76;
  EXPECT_EQ(DescribeAction(a), "back");
  a.command = 24;
  a.keyCode = 0x24;
  a.modifiers = cmdKey | shiftKey;
  EXPECT_EQ(DescribeAction(a), "keystroke Shift+Super+Return");
  a = {};
  a.command = 13;
  EXPECT_EQ(DescribeAction(a), "scroll down by a page");
  a.command = 10;
  a.repeat = 3;
  EXPECT_EQ(DescribeAction(a), "scroll left by 3 lines");
  // On an entry of the tilting wheel up reads as left.
  a.command = 8;
  a.repeat = 1;
  a.keyCode = 100;
  EXPECT_EQ(DescribeAction(a), "scroll left by 1 line");
  // Elsewhere a key code is the driver's value, shown so that two slots can be told apart.
  a.command = kCmdBack;
  EXPECT_EQ(DescribeAction(a), "back (key code 100)");
  a = {};
  a.command = kCmdOpenApplication;
  std::memcpy(a.data, "xxxx", 4);
  corvimus::StoreNative<UInt32>(a.data, FourCC("ttxt"));
  EXPECT_EQ(DescribeAction(a), "open application 'ttxt'");
  a = {};
  a.command = kCmdOpenItem;
  a.data[0] = 4;
  std::memcpy(a.data + 1, "Mail", 4);
  EXPECT_EQ(DescribeAction(a), "open item \"Mail\"");
  a = {};
  a.command = 99;
  EXPECT_EQ(DescribeAction(a), "unknown command 99");
  EXPECT_EQ(FourCCText(0x00000041), "'\\x00\\x00\\x00A'");
  EXPECT_EQ(DescribeModifiers(0x2000 | 0x0001), "Space+0x0001");
  EXPECT_EQ(DescribeModifiers(0x3F00), "Ctrl+Alt+Shift+Super+Caps Lock+Space");
}

}  // namespace
