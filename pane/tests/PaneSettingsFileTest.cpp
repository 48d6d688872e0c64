// The pane against a settings file it cannot read or may not write: nothing of the user's is lost.
#include <sys/stat.h>

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <cstring>

#include "../../settings/tests/SettingsTestSupport.h"
#include "PaneTestSupport.h"
#include "loginitems/Aliases.h"
#include "recordbase/PStrings.h"
#include "settings/MouseSettings.h"
#include "testing/FifoWatch.h"
#include "testing/MacFiles.h"

using corvimus::testing::ReadFile;
using corvimus::testing::WriteFile;
using settingstest::BaseFile;
using settingstest::RecordBytes;

namespace {

class PaneSettingsFileTest : public PaneTest {
 protected:
  std::string AliasFolder() const { return config_ + "/" + kCorvimusAliasFolderName; }

  // An alias file `name` in the assigned-aliases folder, for an item of the test's own.
  void MakeAlias(const std::string& name) {
    std::string target = *tmp_ / ("item-" + name);
    WriteFile(target, "x");
    Str255 folder;
    CStringPCopy(kCorvimusAliasFolderName, folder, 255);
    ASSERT_EQ(GetAssignedAliasesFolder(folder, 1, nullptr, nullptr, nullptr), noErr);
    FSRef item, folderRef;
    ASSERT_EQ(GetFSRefFromNSString(target.c_str(), &item), noErr);
    ASSERT_EQ(GetFSRefFromNSString(AliasFolder().c_str(), &folderRef), noErr);
    HFSUniStr255 uni = corvimus::testing::Uni(name.c_str());
    ASSERT_EQ(CreateAliasFile(&item, &folderRef, &uni), noErr);
  }
  bool AliasExists(const std::string& name) const {
    return QFile::exists(QString::fromStdString(AliasFolder() + "/" + name));
  }
  std::string FileBytes() {
    std::string bytes;
    EXPECT_TRUE(ReadFile(SettingsPath(), &bytes));
    return bytes;
  }
  // Presses Apply and answers the sheet that tells why nothing was saved; its text, or "" when no
  // such sheet came.
  QString ApplyAndReadProblem() {
    QString shown;
    AnswerNextSheet(true, &shown);
    pane_->actionPrefsApply();
    return shown == "outletProblemAlert" ? pane_->outletProblemText->text() : QString();
  }
};

CorvimusPrefsRec GlobalOpening(const char* aliasName) {
  CorvimusPrefsRec global = kCorvimusDefaultPrefs;
  global.device[0].action[5].command = kCmdOpenItem;
  CStringPCopy(aliasName, global.device[0].action[5].data, 31);
  return global;
}

// A file of the other byte order whose second record cannot be converted (it is not 1012 bytes
// long): its reading fails half-way, after the pane's base was emptied for it.
TEST_F(PaneSettingsFileTest, AfterAFailedLoadNothingIsSavedAndNoAliasIsDeleted) {
  const std::string damaged =
      BaseFile({RecordBytes(GlobalOpening("Notes"), true), std::string(1000, 'r')}, true);
  WriteFile(SettingsPath(), damaged);
  MakeAlias("Notes");
  MakeAlias("Other");
  StartAgent();
  OpenPane();
  EXPECT_EQ(QBaseCountRecords(pane_->fSettingsBase), 0);

  // Apply is refused, with the reason; leaving the pane (as quitting the host does) writes
  // nothing and cleans nothing up.
  QString problem = ApplyAndReadProblem();
  EXPECT_TRUE(problem.contains("could not be read")) << problem.toStdString();
  pane_->outletPrefsCustomSpeed->click();
  ClosePane();
  EXPECT_EQ(FileBytes(), damaged);
  EXPECT_TRUE(AliasExists("Notes"));
  EXPECT_TRUE(AliasExists("Other"));
  EXPECT_EQ(AgentLog(), std::vector<std::string>{"started"}) << "the agent was told nothing";

  // Once the file reads again, Revert takes it up and the pane saves and cleans up as ever.
  OpenPane();
  WriteFile(SettingsPath(), BaseFile({RecordBytes(GlobalOpening("Notes"), false)}, false));
  pane_->outletPrefsRevert->click();
  ASSERT_EQ(QBaseCountRecords(pane_->fSettingsBase), 1);
  EXPECT_EQ(pane_->fSettings.device[0].action[5].command, kCmdOpenItem);
  EXPECT_EQ(ApplyAndReadProblem(), QString());
  ClosePane();
  EXPECT_EQ(FileRecords().size(), 1u);
  EXPECT_TRUE(AliasExists("Notes"));
  EXPECT_FALSE(AliasExists("Other"));
}

TEST_F(PaneSettingsFileTest, AFifoWhereTheSettingsBelongIsNeitherWaitedOnNorReplaced) {
  corvimus::testing::FifoWatch fifo(SettingsPath());
  MakeAlias("Kept");
  OpenPane();
  QString problem = ApplyAndReadProblem();
  EXPECT_TRUE(problem.contains("not a regular file")) << problem.toStdString();
  ClosePane();
  EXPECT_FALSE(fifo.ReaderSeen());
  EXPECT_TRUE(fifo.StillAFifo());
  EXPECT_TRUE(AliasExists("Kept"));
}

TEST_F(PaneSettingsFileTest, AReadOnlyFileIsKeptAndTheUserIsToldWhy) {
  WriteFile(SettingsPath(), BaseFile({RecordBytes(GlobalOpening("Notes"), false)}, false));
  MakeAlias("Notes");
  ASSERT_EQ(chmod(SettingsPath().c_str(), 0444), 0);
  const std::string before = FileBytes();
  OpenPane();
  ASSERT_EQ(pane_->fSettings.device[0].action[5].command, kCmdOpenItem);
  // The button no longer opens the item: the alias would be unused, were the change saved.
  pane_->fSettings.device[0].action[5].command = kCmdBack;
  QString problem = ApplyAndReadProblem();
  EXPECT_TRUE(problem.contains("read-only")) << problem.toStdString();
  ClosePane();
  EXPECT_EQ(FileBytes(), before);
  struct stat st;
  ASSERT_EQ(stat(SettingsPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_TRUE(AliasExists("Notes")) << "the file still names it";
}

}  // namespace

namespace {

CorvimusPrefsRec AppRecord(OSType signature, const std::string& name, UInt8 speed) {
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  r.application = signature;
  r.appName[0] = UInt8(name.size());
  std::memcpy(r.appName + 1, name.data(), name.size());
  std::memcpy(r.appFileName, r.appName, sizeof r.appName);
  r.device[0].speed = speed;
  return r;
}

std::string Pascal(const unsigned char* p) {
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

}  // namespace

// A record that is not 1012 bytes long still has its place in the target pop-up, so that the item
// of every application edits that application's record; names are UTF-8 wherever they are shown.
TEST_F(PaneSettingsFileTest, EveryTargetEditsItsOwnRecordAndNamesStayWhole) {
  WriteFile(SettingsPath(),
            BaseFile({RecordBytes(kCorvimusDefaultPrefs, false), std::string(600, 'x'),
                      RecordBytes(AppRecord(FourCC("Cafe"), "Caf\xC3\xA9", 30), false),
                      RecordBytes(AppRecord(FourCC("Beta"), "Beta", 20), false)},
                     false));
  OpenPane();
  ASSERT_EQ(QBaseCountRecords(pane_->fSettingsBase), 4);
  ASSERT_EQ(pane_->outletPrefsTarget->count(), 5);
  EXPECT_EQ(pane_->outletPrefsTarget->itemText(2), "Beta");
  EXPECT_EQ(pane_->outletPrefsTarget->itemText(3), QString::fromUtf8("Caf\xC3\xA9"));
  EXPECT_TRUE(pane_->outletPrefsTarget->itemText(4).startsWith("Damaged")) << "sorted last";
  EXPECT_EQ(pane_->fSettings.application, 0u) << "the global record stays first";
  Choose(pane_->outletPrefsTarget, 3);
  EXPECT_EQ(pane_->fSettings.application, FourCC("Cafe"));
  EXPECT_EQ(pane_->fSettings.device[0].speed, 30);
  Choose(pane_->outletPrefsTarget, 2);
  EXPECT_EQ(pane_->fSettings.device[0].speed, 20);

  // The removal sheet names the application as the pop-up does.
  Choose(pane_->outletPrefsTarget, 3);
  QString shown;
  AnswerNextSheet(false, &shown);
  pane_->outletPrefsDelete->click();
  EXPECT_EQ(shown, "outletDeleteAlert");
  EXPECT_EQ(pane_->outletDeleteName->text(), QString::fromUtf8("Caf\xC3\xA9"));

  // A name is cut where a character ends: 30 letters and an "é" do not fit in 31 bytes.
  std::string accented = std::string(30, 'a') + "\xC3\xA9" + "z";
  pane_->addPrefsDidEnd(MakeAppBundle(accented, "Acnt"), 1);
  EXPECT_EQ(Pascal(pane_->fSettings.appName), std::string(30, 'a'));
  EXPECT_EQ(Pascal(pane_->fSettings.appFileName), accented);
  std::string long3 = std::string(61, 'b') + "\xE2\x82\xAC";  // 64 bytes ending in a euro sign
  pane_->addPrefsDidEnd(MakeAppBundle(long3, "Euro"), 1);
  EXPECT_EQ(Pascal(pane_->fSettings.appFileName), std::string(61, 'b'));
}
