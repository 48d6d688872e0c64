// Matching a front process to a settings record, and filling deferred actions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agent/AgentSelection.h"

namespace {

std::string Pascal(const std::string& text) {
  return std::string(1, static_cast<char>(text.size())) + text;
}

Boolean Matches(const std::string& recordName, const std::string& processName) {
  std::string a = Pascal(recordName), b = Pascal(processName);
  return AppFileNameMatches(reinterpret_cast<ConstStringPtr>(a.data()),
                            reinterpret_cast<ConstStringPtr>(b.data()));
}

TEST(AppFileNameMatches, DropsLowerCaseAppSuffixAndFoldsAsciiLetters) {
  EXPECT_TRUE(Matches("FOO", "Foo.app"));
  EXPECT_TRUE(Matches("foo", "FOO"));
  EXPECT_TRUE(Matches("Foo.app", "foo"));
  EXPECT_FALSE(Matches("Foo2", "Foo.app"));
  EXPECT_FALSE(Matches("Foo", "Foo2"));
  EXPECT_FALSE(Matches("Foo", "Fo"));
}

TEST(AppFileNameMatches, UpperCaseSuffixIsPartOfTheName) {
  EXPECT_TRUE(Matches("foo.APP", "Foo.APP"));
  EXPECT_FALSE(Matches("Foo", "Foo.APP"));
  EXPECT_FALSE(Matches("Foo", "Foo.App"));
}

TEST(AppFileNameMatches, SuffixAloneIsKept) {
  // ".app" is exactly 4 long: nothing is dropped, so it is a name of its own.
  EXPECT_TRUE(Matches(".app", ".APP"));
  EXPECT_FALSE(Matches("", ".app"));
  EXPECT_TRUE(Matches("", ""));
  EXPECT_TRUE(Matches("x", "x.app"));
}

TEST(AppFileNameMatches, OnlyAsciiLettersFold) {
  EXPECT_FALSE(Matches("\xC9t\xE9", "\xE9t\xE9"));  // accented letters keep their case
  EXPECT_FALSE(Matches("a[b", "a{b"));              // '[' and '{' are not case pairs
  EXPECT_TRUE(Matches("Mail 2", "mAIL 2"));
}

TEST(AppFileNameMatches, DamagedLengthIsBoundedByTheField) {
  CorvimusPrefsRec record{};
  std::memset(record.appFileName + 1, 'a', 63);
  record.appFileName[0] = 200;  // claims more than the field holds
  std::string process = Pascal(std::string(63, 'A'));
  EXPECT_TRUE(
      AppFileNameMatches(record.appFileName, reinterpret_cast<ConstStringPtr>(process.data())));
  EXPECT_FALSE(AppFileNameMatches(nullptr, reinterpret_cast<ConstStringPtr>(process.data())));
}

TEST(IsApplicationSignature, PlaceholdersAreNotSignatures) {
  EXPECT_FALSE(IsApplicationSignature(0));
  EXPECT_FALSE(IsApplicationSignature(FourCC("????")));
  EXPECT_FALSE(IsApplicationSignature(0x20202020));
  EXPECT_TRUE(IsApplicationSignature(FourCC("MACS")));
  EXPECT_TRUE(IsApplicationSignature(FourCC("??? ")));
}

TEST(FillActionsFromGlobal, ReplacesOnlyDeferredSlotsWithWholeEntries) {
  CorvimusPrefsRec global{}, app{};
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    global.device[0].action[slot].command = static_cast<UInt16>(32 + slot);
    global.device[0].action[slot].modifiers = shiftKey;
    global.device[0].action[slot].keyCode = static_cast<UInt8>(slot);
    global.device[0].action[slot].data[39] = 0xEE;
    app.device[0].action[slot].command = kCmdCopy;
  }
  app.device[0].action[5].command = kCmdAsGlobal;
  app.device[0].action[15].command = kCmdAsGlobal;
  app.device[0].action[15].modifiers = controlKey;

  FillActionsFromGlobal(&app, &global);

  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    const auto& got = app.device[0].action[slot];
    if (slot == 5 || slot == 15) {
      EXPECT_EQ(0, std::memcmp(&got, &global.device[0].action[slot], sizeof got)) << slot;
    } else {
      EXPECT_EQ(kCmdCopy, got.command) << slot;
      EXPECT_EQ(0, got.modifiers) << slot;
    }
  }
  // A global record that itself holds 1 passes it on unchanged: nothing resolves it further.
  global.device[0].action[2].command = kCmdAsGlobal;
  app.device[0].action[2].command = kCmdAsGlobal;
  FillActionsFromGlobal(&app, &global);
  EXPECT_EQ(kCmdAsGlobal, app.device[0].action[2].command);
}

}  // namespace
