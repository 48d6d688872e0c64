// Choosing the record for a front application from a real record base.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "agent/AgentSelection.h"
#include "settings/MouseSettings.h"

namespace {

struct BaseDeleter {
  void operator()(OpaqueQBaseRec** base) const { QBaseDispose(base); }
};
using BasePtr = std::unique_ptr<OpaqueQBaseRec*, BaseDeleter>;

BasePtr NewSettingsBase() {
  return BasePtr(QBaseNew(kCorvimusBaseType, kCorvimusBaseTypeVersion, 8));
}

void SetPascal(unsigned char* field, const std::string& text) {
  field[0] = static_cast<unsigned char>(text.size());
  std::memcpy(field + 1, text.data(), text.size());
}

CorvimusPrefsRec Record(OSType application, const std::string& fileName, UInt8 speed) {
  CorvimusPrefsRec record{};
  record.application = application;
  record.active = 1;
  SetPascal(record.appFileName, fileName);
  SetPascal(record.appName, fileName.substr(0, 31));
  record.device[0].speed = speed;
  for (int slot = 0; slot < kCorvimusActionCount; ++slot)
    record.device[0].action[slot].command = static_cast<UInt16>(application ? kCmdAsGlobal : 32);
  return record;
}

void Add(QBaseHandle base, const CorvimusPrefsRec& record) {
  ASSERT_GE(QBaseAddRecord(base, &record, sizeof record), 0);
}

std::string Pascal(const std::string& text) {
  return std::string(1, static_cast<char>(text.size())) + text;
}

SettingsChoice Choose(QBaseHandle base, OSType signature, const std::string& name,
                      CorvimusPrefsRec* out) {
  std::string p = Pascal(name);
  return ChooseSettingsRecord(base, signature, reinterpret_cast<ConstStringPtr>(p.data()), out);
}

TEST(ChooseSettingsRecord, SignatureWinsOverFileName) {
  BasePtr base = NewSettingsBase();
  Add(base.get(), Record(0, "Global", 1));
  Add(base.get(), Record(FourCC("ttxt"), "Editor", 2));
  Add(base.get(), Record(FourCC("emal"), "Mail", 3));
  CorvimusPrefsRec out{};
  ASSERT_EQ(kApplicationRecord, Choose(base.get(), FourCC("ttxt"), "Mail", &out));
  EXPECT_EQ(2, out.device[0].speed);
  // A signature without a record gets the global record, even when a file name would match.
  ASSERT_EQ(kGlobalRecord, Choose(base.get(), FourCC("othr"), "Editor", &out));
  EXPECT_EQ(1, out.device[0].speed);
  EXPECT_EQ(0u, out.application);
}

TEST(ChooseSettingsRecord, UnknownSignaturesMatchByFileName) {
  BasePtr base = NewSettingsBase();
  Add(base.get(), Record(0, "Global", 1));
  Add(base.get(), Record(kUnknownSignature, "Foo2", 2));
  Add(base.get(), Record(kUnknownSignature, "FOO", 3));
  Add(base.get(), Record(kUnknownSignature, "foo.APP", 4));
  CorvimusPrefsRec out{};
  for (OSType placeholder : {OSType(kUnknownSignature), OSType(0x20202020), OSType(0)}) {
    ASSERT_EQ(kApplicationRecord, Choose(base.get(), placeholder, "Foo.app", &out));
    EXPECT_EQ(3, out.device[0].speed);
    ASSERT_EQ(kApplicationRecord, Choose(base.get(), placeholder, "Foo.APP", &out));
    EXPECT_EQ(4, out.device[0].speed);
  }
  ASSERT_EQ(kGlobalRecord, Choose(base.get(), kUnknownSignature, "Bar", &out));
  EXPECT_EQ(1, out.device[0].speed);
}

TEST(ChooseSettingsRecord, FileNamesAreSearchedInIndexOrder) {
  BasePtr base = NewSettingsBase();
  Add(base.get(), Record(0, "Global", 1));
  Add(base.get(), Record(kUnknownSignature, "Tool", 2));
  Add(base.get(), Record(kUnknownSignature, "tool", 3));
  CorvimusPrefsRec out{};
  ASSERT_EQ(kApplicationRecord, Choose(base.get(), kUnknownSignature, "TOOL", &out));
  EXPECT_EQ(2, out.device[0].speed);
  // Moving the second to the front of the index changes which one is found first.
  QBaseSetRecordFlags(base.get(), 2, 1);
  ASSERT_EQ(noErr, QBaseMoveIndexes(base.get(), 0, [](const void*, SInt32, SInt32 flags) {
              return SInt16(flags == 1);
            }));
  ASSERT_EQ(kApplicationRecord, Choose(base.get(), kUnknownSignature, "TOOL", &out));
  EXPECT_EQ(3, out.device[0].speed);
}

TEST(ChooseSettingsRecord, DeferredActionsComeFromTheGlobalRecordOnlyInTheCopy) {
  BasePtr base = NewSettingsBase();
  CorvimusPrefsRec global = Record(0, "Global", 1);
  global.device[0].action[5].command = kCmdCopy;
  global.device[0].action[5].modifiers = shiftKey;
  Add(base.get(), global);
  CorvimusPrefsRec app = Record(FourCC("ttxt"), "Editor", 2);
  app.device[0].action[0].command = kCmdPaste;
  app.active = 0;
  Add(base.get(), app);

  CorvimusPrefsRec out{};
  ASSERT_EQ(kApplicationRecord, Choose(base.get(), FourCC("ttxt"), "x", &out));
  EXPECT_EQ(kCmdPaste, out.device[0].action[0].command);
  EXPECT_EQ(kCmdCopy, out.device[0].action[5].command);
  EXPECT_EQ(shiftKey, out.device[0].action[5].modifiers);
  EXPECT_EQ(0, out.active);  // an inactive record goes out as stored

  CorvimusPrefsRec stored;
  std::memcpy(&stored, QBaseGetRecord(base.get(), 1, nullptr), sizeof stored);
  EXPECT_EQ(kCmdAsGlobal, stored.device[0].action[5].command);
}

TEST(ChooseSettingsRecord, NothingWithoutRecords) {
  BasePtr base = NewSettingsBase();
  CorvimusPrefsRec out{};
  out.device[0].speed = 77;
  EXPECT_EQ(kNoSettingsRecord, Choose(base.get(), FourCC("ttxt"), "Editor", &out));
  EXPECT_EQ(kNoSettingsRecord, Choose(nullptr, FourCC("ttxt"), "Editor", &out));
  EXPECT_EQ(77, out.device[0].speed);
}

TEST(ChooseSettingsRecord, RecordsOfTheWrongSizeArePassedOver) {
  BasePtr base = NewSettingsBase();
  std::string shortRecord(200, '\0');
  ASSERT_GE(QBaseAddRecord(base.get(), shortRecord.data(), 200), 0);  // no usable global record
  CorvimusPrefsRec app = Record(FourCC("ttxt"), "Editor", 2);
  std::string shortApp(reinterpret_cast<const char*>(&app), 100);
  ASSERT_GE(QBaseAddRecord(base.get(), shortApp.data(), 100), 0);
  Add(base.get(), Record(kUnknownSignature, "Editor", 5));

  CorvimusPrefsRec out{};
  out.device[0].speed = 77;
  EXPECT_EQ(kNoSettingsRecord, Choose(base.get(), FourCC("ttxt"), "Editor", &out));
  EXPECT_EQ(77, out.device[0].speed);
  ASSERT_EQ(kApplicationRecord, Choose(base.get(), kUnknownSignature, "Editor", &out));
  EXPECT_EQ(5, out.device[0].speed);
  EXPECT_EQ(kCmdAsGlobal, out.device[0].action[0].command);  // no global record to fill from

  // Readied for the drivers, what defers to a missing global record takes the built-in defaults.
  PrepareRecordForDrivers(base.get(), kApplicationRecord, &out);
  for (int slot = 0; slot < kCorvimusActionCount; ++slot)
    EXPECT_EQ(kCorvimusDefaultPrefs.device[0].action[slot].command,
              out.device[0].action[slot].command)
        << slot;
  EXPECT_EQ(255, out.device[0].speed) << "5 is no speed";
}

}  // namespace
