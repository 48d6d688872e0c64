// The flows a user takes through the pane, driven through its real widgets.
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSlider>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <map>
#include <cstring>
#include <set>

#include "ApplicationChooser.h"
#include "PaneTables.h"
#include "PaneTestSupport.h"
#include "loginitems/Aliases.h"
#include "platform/FileRefs.h"
#include "platform/LaunchServices.h"
#include "recordbase/PStrings.h"
#include "settings/CommandTable.h"
#include "settings/MouseSettings.h"
#include "settings/PaneAgentEvents.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using corvimus::testing::WriteFile;

namespace {

std::string Name(const unsigned char* p) {
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

CorvimusActionRec& Slot(CorvimusPane* pane, int i) {
  return pane->fSettings.device[0].action[i];
}

}  // namespace

// The pane names every command, modifier and control as the one table does, and so as
// corvimus-prefs shows them.
TEST_F(PaneTest, MenusCheckBoxesAndOutlineUseTheTablesNames) {
  OpenPane();
  auto expectTitles = [](QComboBox* combo, const SInt16* table) {
    ASSERT_EQ(combo->count(), MenuTableCount(table));
    for (int row = 0; table[row] != kMenuEnd; ++row) {
      const CommandInfo* info = table[row] >= 0 ? FindCommand(UInt16(table[row])) : nullptr;
      if (table[row] == kMenuSeparator) {
        EXPECT_TRUE(combo->itemText(row).isEmpty()) << row;
      } else if (info) {
        EXPECT_EQ(combo->itemText(row).toStdString(), info->name) << row;
      } else {
        EXPECT_FALSE(combo->itemText(row).isEmpty()) << row;  // a group: Click, Special key, Scroll
      }
    }
  };
  expectTitles(pane_->outletPrefsAction, gActionMenuCommands);
  expectTitles(pane_->outletPrefsClickType, gClickTypeCommands);
  expectTitles(pane_->outletPrefsSpecialKeys, gSpecialKeyCommands);
  EXPECT_EQ(pane_->outletPrefsClickType->itemText(7).toStdString(), "Button 4 click");
  EXPECT_EQ(pane_->outletPrefsAction->itemText(9).toStdString(), "Precision pointer");
  for (int d = 0; d < 4; ++d)
    EXPECT_EQ(pane_->outletPrefsScrollDir->itemText(d).toStdString(), ScrollDirectionName(d));
  const std::pair<QCheckBox*, UInt16> boxes[] = {
      {pane_->outletPrefsClkControl, controlKey}, {pane_->outletPrefsClkOption, optionKey},
      {pane_->outletPrefsClkCommand, cmdKey},     {pane_->outletPrefsKeyShift, shiftKey},
      {pane_->outletPrefsKeyCaps, alphaLock},     {pane_->outletPrefsKeySpace, kCorvimusSpaceKey}};
  for (const auto& [box, bit] : boxes) {
    const ModifierInfo* info = nullptr;
    for (const ModifierInfo& m : kModifierTable)
      if (m.bit == bit) info = &m;
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(box->text().toStdString(), info->name);
  }
  EXPECT_EQ(pane_->outletPrefsClkCommand->text(), "Super");
  // The outline's rows come from the bundle's strings table, in the order of the controls.
  QAbstractItemModel* outline = pane_->outletPrefsList->model();
  ASSERT_EQ(size_t(outline->rowCount()), kControlTableSize);
  for (int row = 0; row < outline->rowCount(); ++row)
    EXPECT_EQ(outline->data(outline->index(row, 0)).toString().toStdString(),
              kControlTable[row].name)
        << row;
}

TEST_F(PaneTest, FirstRunShowsDefaultsAndApplyCreatesFileAndNotifiesAgent) {
  StartAgent();
  OpenPane();
  EXPECT_EQ(QBaseCountRecords(pane_->fSettingsBase), 1);
  EXPECT_EQ(pane_->fSettingsIndex, 0);
  EXPECT_EQ(pane_->fActionIndex, -1);
  EXPECT_EQ(pane_->outletWindowTabs->currentIndex(), 0);
  EXPECT_EQ(pane_->fSettings.application, 0u);
  EXPECT_EQ(Slot(pane_, 0).command, kCmdMainClick);
  EXPECT_EQ(pane_->fSettings.device[0].speed, 255);
  // Nothing selected: the editor is off, the global record cannot be removed, nothing to apply.
  EXPECT_FALSE(pane_->outletPrefsAction->isEnabled());
  EXPECT_FALSE(pane_->outletPrefsDelete->isEnabled());
  EXPECT_FALSE(pane_->outletPrefsApply->isEnabled());
  EXPECT_FALSE(pane_->outletPrefsRevert->isEnabled());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(SettingsPath())));
  EXPECT_EQ(pane_->outletPrefsList->model()->rowCount(), 12);

  pane_->actionPrefsApply();  // Apply with nothing changed still writes
  auto records = FileRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(std::memcmp(&records[0], &pane_->fSettings, sizeof records[0]), 0);
  Str255 name;
  CStringPCopy(kCorvimusPrefsFileName, name, 255);
  FSSpec spec;
  FInfo info;
  ASSERT_EQ(FindMouseSettingsFile(name, 0, &spec), noErr);
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, FourCC("pref"));
  EXPECT_EQ(info.fdCreator, FourCC("CvMP"));
  auto log = WaitForAgentLog(2);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "reload 1");  // the file was complete when the agent was told
}

TEST_F(PaneTest, LoadLaunchesAgentFromResourcesAndRegistersLoginItem) {
  // The agent's bundle in the pane's resources, as the build lays it out.
  QString helper = QString::fromStdString(bundle_) + "/Contents/Resources/CorvimusHelper.app";
  QDir().mkpath(helper + "/Contents/MacOS");
  WriteFile(helper.toStdString() + "/Contents/Info.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
            "<string>CorvimusHelper</string><key>CFBundleName</key><string>CorvimusHelper</string>"
            "</dict></plist>");
  ASSERT_TRUE(QFile::copy(PANE_TEST_AGENT, helper + "/Contents/MacOS/CorvimusHelper"));
  OpenPane();
  bool found = false;
  for (int i = 0; i < 500 && !found; ++i) {
    found = FindNamedProcess(kCorvimusHelperName, nullptr) == noErr && !AgentLog().empty();
    if (!found) QThread::msleep(10);
  }
  EXPECT_TRUE(found) << "the pane did not start the agent";
  std::string loginItems;
  ASSERT_TRUE(corvimus::testing::ReadFile(config_ + "/loginwindow.plist", &loginItems));
  EXPECT_NE(loginItems.find("CorvimusHelper.app"), std::string::npos) << loginItems;

  // With the agent running, a second load starts no second one. (Leaving the pane told the agent
  // to reload; that is all it heard.)
  ClosePane();
  WaitForAgentLog(2);
  OpenPane();
  QThread::msleep(200);
  auto log = AgentLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), "started"), 1) << log.size();
}

TEST_F(PaneTest, ChangingAControlAndBackDisablesApplyAgain) {
  OpenPane();
  pane_->outletPrefsCustomSpeed->click();
  EXPECT_EQ(pane_->fSettings.device[0].speed, 40);
  EXPECT_TRUE(pane_->outletPrefsSpeedValue->isEnabled());
  EXPECT_EQ(pane_->outletPrefsSpeedValue->value(), 50);
  EXPECT_TRUE(pane_->outletPrefsApply->isEnabled());
  EXPECT_TRUE(pane_->outletPrefsRevert->isEnabled());
  pane_->outletPrefsSpeedValue->setValue(75);
  EXPECT_EQ(pane_->fSettings.device[0].speed, 24);
  pane_->outletPrefsCustomSpeed->click();
  EXPECT_EQ(pane_->fSettings.device[0].speed, 255);
  EXPECT_FALSE(pane_->outletPrefsSpeedValue->isEnabled());
  EXPECT_EQ(pane_->outletPrefsSpeedValue->value(), 50);
  EXPECT_FALSE(pane_->outletPrefsApply->isEnabled());
  EXPECT_FALSE(pane_->outletPrefsRevert->isEnabled());

  pane_->outletPrefsCustomAcc->click();
  EXPECT_EQ(pane_->fSettings.device[0].acceleration, 100);
  pane_->outletPrefsAccValue->setValue(37);
  EXPECT_EQ(pane_->fSettings.device[0].acceleration, 74);
  EXPECT_EQ(pane_->outletPrefsAccValue->value(), 37);

  // The global record's disable box still works.
  pane_->outletPrefsDisable->click();
  EXPECT_EQ(pane_->fSettings.active, 0);
  pane_->outletPrefsDisable->click();
  EXPECT_EQ(pane_->fSettings.active, 1);
}

TEST_F(PaneTest, AddingApplicationsSortsThemAndSelectsTheNewOne) {
  OpenPane();
  pane_->outletPrefsCustomSpeed->click();  // an unapplied edit of the global record
  AddApplicationThroughPanel(MakeAppBundle("Beta", "BeTa"));
  EXPECT_EQ(BaseRecord(0).device[0].speed, 40) << "the global edit went into the base first";
  pane_->addPrefsDidEnd(MakeAppBundle("alpha", ""), 1);
  pane_->addPrefsDidEnd(MakeAppBundle("ALPHA2", "A2\xC3\xA9x"), 1);

  ASSERT_EQ(pane_->outletPrefsTarget->count(), 5);
  EXPECT_EQ(pane_->outletPrefsTarget->itemText(2), "alpha");
  EXPECT_EQ(pane_->outletPrefsTarget->itemText(3), "ALPHA2");
  EXPECT_EQ(pane_->outletPrefsTarget->itemText(4), "Beta");
  EXPECT_EQ(pane_->fSettingsIndex, 2);
  EXPECT_EQ(pane_->outletPrefsTarget->currentIndex(), 3);
  EXPECT_EQ(Name(pane_->fSettings.appName), "ALPHA2");
  EXPECT_EQ(Name(pane_->fSettings.appFileName), "ALPHA2");
  EXPECT_EQ(pane_->fSettings.active, 1);
  EXPECT_EQ(BaseRecord(1).application, kUnknownSignature);
  EXPECT_EQ(BaseRecord(3).application, FourCC("BeTa"));
  // A new application starts from the global settings, including its unapplied edit.
  EXPECT_EQ(pane_->fSettings.device[0].speed, 40);
  EXPECT_EQ(Slot(pane_, 3).command, kCmdBack);
  EXPECT_TRUE(pane_->outletPrefsDelete->isEnabled());
  for (SInt32 r = 0; r < QBaseCountRecords(pane_->fSettingsBase); ++r)
    EXPECT_EQ(QBaseGetRecordFlags(pane_->fSettingsBase, r), 0) << "record " << r << " left flagged";
  // Nothing reached the file yet.
  EXPECT_FALSE(QFile::exists(QString::fromStdString(SettingsPath())));
}

TEST_F(PaneTest, SaysWhenGnomeShellCannotTellTheFrontApplication) {
  // A GNOME Wayland session whose bus has no extension on it (here: no bus at all).
  std::map<std::string, std::string> saved;
  for (const char* name : {"XDG_CURRENT_DESKTOP", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                           "SWAYSOCK", "I3SOCK", "DISPLAY"}) {
    if (const char* v = std::getenv(name)) saved[name] = v;
    unsetenv(name);
  }
  setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + *tmp_ / "no-bus").c_str(), 1);
  OpenPane();
  EXPECT_FALSE(pane_->outletFrontSourceNote->isHidden());
  EXPECT_FALSE(pane_->outletFrontSourceEnable->isHidden());
  EXPECT_TRUE(pane_->outletFrontSourceNote->text().contains("extension"));
  EXPECT_EQ(pane_->outletInfoFrontSource->text(), pane_->outletFrontSourceNote->text());
  // Enabling cannot reach the Shell: the note says what to do instead.
  pane_->outletFrontSourceEnable->click();
  EXPECT_TRUE(pane_->outletFrontSourceNote->text().contains("log out"));

  // An X11 session needs nothing of the user.
  unsetenv("WAYLAND_DISPLAY");
  setenv("DISPLAY", ":0", 1);
  pane_->UpdateFrontSourceNote();
  EXPECT_TRUE(pane_->outletFrontSourceNote->isHidden());
  EXPECT_TRUE(pane_->outletFrontSourceEnable->isHidden());
  EXPECT_EQ(pane_->outletInfoFrontSource->text(), "The front application comes from X11.");
  for (const char* name : {"XDG_CURRENT_DESKTOP", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY"})
    unsetenv(name);
  for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
}

TEST_F(PaneTest, ChooserOffersDesktopEntriesRunningFirstAndSearchable) {
  // Entries of the user's and of a system data folder; the user's hides the system's of one id.
  std::string user = *tmp_ / "data/applications", system = *tmp_ / "sys/applications";
  QDir().mkpath(QString::fromStdString(user + "/sub"));
  QDir().mkpath(QString::fromStdString(system));
  setenv("XDG_DATA_HOME", (*tmp_ / "data").c_str(), 1);
  setenv("XDG_DATA_DIRS", (*tmp_ / "sys").c_str(), 1);
  std::string sleeper = *tmp_ / "sleeper";
  QFile::copy("/bin/sleep", QString::fromStdString(sleeper));
  QFile(QString::fromStdString(sleeper)).setPermissions(QFileDevice::ExeOwner | QFileDevice::ReadOwner);
  WriteFile(user + "/org.example.Zeta.desktop",
            "[Desktop Entry]\nType=Application\nName=Zeta Viewer\nExec=zeta %f\n");
  WriteFile(user + "/sub/alpha.desktop",
            "[Desktop Entry]\nType=Application\nName=Alpha Editor\nIcon=accessories-text-editor\n"
            "Exec=alpha\n");
  WriteFile(system + "/org.example.Zeta.desktop",
            "[Desktop Entry]\nType=Application\nName=Hidden Zeta\nExec=zeta\n");
  WriteFile(system + "/sleeper.desktop",
            "[Desktop Entry]\nType=Application\nName=Sleeper\nExec=" + sleeper + " 60\n");
  WriteFile(system + "/settings-panel.desktop",
            "[Desktop Entry]\nType=Application\nName=Panel\nNoDisplay=true\nExec=panel\n");
  WriteFile(system + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=http://x\n");
  corvimus::testing::ChildProcess running;
  ASSERT_TRUE(running.Start({sleeper, "60"}));

  OpenPane();
  pane_->outletPrefsAdd->click();
  auto* chooser = qobject_cast<ApplicationChooser*>(pane_->fAddPanel.data());
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(chooser->windowTitle(), "Select an Application");
  EXPECT_EQ(chooser->ShownIds(), QStringList({"sleeper", "sub-alpha", "org.example.Zeta"}));
  EXPECT_EQ(chooser->outletList->item(2)->text(), "Zeta Viewer");

  chooser->outletSearch->setText("ZET");
  EXPECT_EQ(chooser->ShownIds(), QStringList({"org.example.Zeta"}));
  chooser->outletSearch->setText("nothing like it");
  EXPECT_TRUE(chooser->ShownIds().isEmpty());
  chooser->accept();  // nothing to choose: the chooser stays
  EXPECT_TRUE(chooser->isVisible());
  chooser->outletSearch->setText("example");
  chooser->accept();
  QApplication::processEvents();
  EXPECT_EQ(Name(pane_->fSettings.appFileName), "org.example.Zeta");
  EXPECT_EQ(Name(pane_->fSettings.appName), "Zeta Viewer");
  EXPECT_EQ(pane_->fSettings.application, kUnknownSignature);
  EXPECT_EQ(pane_->outletPrefsTarget->currentText(), "Zeta Viewer");

  // "Other…" leaves the list for the file panel; cancelling that adds nothing.
  pane_->outletPrefsAdd->click();
  QPointer<ApplicationChooser> second = qobject_cast<ApplicationChooser*>(pane_->fAddPanel.data());
  ASSERT_NE(second, nullptr);
  SInt32 before = QBaseCountRecords(pane_->fSettingsBase);
  second->outletOther->click();
  QApplication::processEvents();
  ASSERT_NE(pane_->fAddFilePanel, nullptr);
  EXPECT_TRUE(pane_->fAddFilePanel->isVisible());
  EXPECT_TRUE(!second || !second->isVisible());
  pane_->fAddFilePanel->reject();
  QApplication::processEvents();
  EXPECT_EQ(QBaseCountRecords(pane_->fSettingsBase), before);
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_DATA_DIRS");
}

TEST_F(PaneTest, AddingTakesNamesFromBundlesDesktopEntriesAndPrograms) {
  OpenPane();
  pane_->addPrefsDidEnd(MakeAppBundle("Foo.APP", ""), 1);  // folder "Foo.APP.app"
  EXPECT_EQ(Name(pane_->fSettings.appName), "Foo.APP");
  std::string longName(40, 'x');
  pane_->addPrefsDidEnd(MakeAppBundle(longName, ""), 1);
  EXPECT_EQ(Name(pane_->fSettings.appName), longName.substr(0, 31));
  EXPECT_EQ(Name(pane_->fSettings.appFileName), longName);

  // A desktop entry file is known by its id, shown by its name.
  std::string desktop = *tmp_ / "org.example.Editor.desktop";
  WriteFile(desktop, "[Desktop Entry]\nType=Application\nName=Text Editor\nExec=env LANG=C "
                     "/usr/bin/gnome-text-editor %U\n");
  AddApplicationThroughPanel(QString::fromStdString(desktop));
  EXPECT_EQ(Name(pane_->fSettings.appName), "Text Editor");
  EXPECT_EQ(Name(pane_->fSettings.appFileName), "org.example.Editor");
  EXPECT_EQ(pane_->fSettings.application, kUnknownSignature);

  std::string program = *tmp_ / "A.app";  // a plain file: ".app" goes, "A" stays
  WriteFile(program, "#!/bin/sh\n");
  pane_->addPrefsDidEnd(QString::fromStdString(program), 1);
  EXPECT_EQ(Name(pane_->fSettings.appName), "A");
  std::string bare = *tmp_ / ".app";
  WriteFile(bare, "");
  pane_->addPrefsDidEnd(QString::fromStdString(bare), 1);
  EXPECT_EQ(Name(pane_->fSettings.appName), ".app");

  SInt32 before = QBaseCountRecords(pane_->fSettingsBase);
  std::string noExec = *tmp_ / "broken.desktop";
  WriteFile(noExec, "[Desktop Entry]\nName=Broken\n");  // no Type: not an application
  pane_->addPrefsDidEnd(QString::fromStdString(noExec), 1);
  pane_->addPrefsDidEnd(QString::fromStdString(program), 0);  // cancelled
  EXPECT_EQ(QBaseCountRecords(pane_->fSettingsBase), before);
}

TEST_F(PaneTest, SwitchingTargetsKeepsEditsInBaseAndRevertDropsThemAll) {
  OpenPane();
  pane_->addPrefsDidEnd(MakeAppBundle("Alpha", "AAAA"), 1);
  pane_->addPrefsDidEnd(MakeAppBundle("Beta", "BBBB"), 1);
  pane_->actionPrefsApply();
  ASSERT_EQ(FileRecords().size(), 3u);

  Choose(pane_->outletPrefsTarget, 2);  // Alpha
  EXPECT_EQ(pane_->fSettingsIndex, 1);
  pane_->outletPrefsDisable->click();
  EXPECT_TRUE(pane_->outletPrefsApply->isEnabled());
  Choose(pane_->outletPrefsTarget, 3);  // Beta: its own record, nothing unapplied
  EXPECT_EQ(pane_->fSettingsIndex, 2);
  EXPECT_FALSE(pane_->outletPrefsApply->isEnabled());
  EXPECT_EQ(BaseRecord(1).active, 0) << "Alpha's edit sits in the base";
  EXPECT_EQ(FileRecords()[1].active, 1) << "and not in the file";

  pane_->outletPrefsCustomAcc->click();
  ASSERT_TRUE(pane_->outletPrefsRevert->isEnabled());
  pane_->outletPrefsRevert->click();
  EXPECT_EQ(pane_->fSettings.device[0].acceleration, 255);
  EXPECT_EQ(BaseRecord(1).active, 1);
  EXPECT_EQ(pane_->fSettingsIndex, 2);
  EXPECT_FALSE(pane_->outletPrefsApply->isEnabled());

  // Global record shown: the "same as all applications" row is not offered.
  Choose(pane_->outletPrefsTarget, 0);
  auto* model = qobject_cast<QStandardItemModel*>(pane_->outletPrefsAction->model());
  ASSERT_NE(model, nullptr);
  EXPECT_FALSE(model->item(1)->isEnabled());
  Choose(pane_->outletPrefsTarget, 2);
  EXPECT_TRUE(model->item(1)->isEnabled());
}

TEST_F(PaneTest, RevertAfterAddingRebuildsTargetsFromFile) {
  OpenPane();
  pane_->actionPrefsApply();
  pane_->addPrefsDidEnd(MakeAppBundle("Gamma", "GGGG"), 1);
  pane_->outletPrefsCustomSpeed->click();
  pane_->outletPrefsRevert->click();
  EXPECT_EQ(QBaseCountRecords(pane_->fSettingsBase), 1);
  EXPECT_EQ(pane_->outletPrefsTarget->count(), 2);
  EXPECT_EQ(pane_->fSettingsIndex, 0);
  EXPECT_EQ(pane_->fSettings.application, 0u);
}

TEST_F(PaneTest, RemovingAnApplicationAsksAndSelectsThePreviousOne) {
  OpenPane();
  pane_->addPrefsDidEnd(MakeAppBundle("One", "1111"), 1);
  pane_->addPrefsDidEnd(MakeAppBundle("Two", "2222"), 1);
  ASSERT_EQ(pane_->fSettingsIndex, 2);

  QString shown;
  AnswerNextSheet(false, &shown);
  pane_->outletPrefsDelete->click();
  EXPECT_EQ(shown, "outletDeleteAlert");
  EXPECT_EQ(pane_->outletDeleteName->text(), "Two");
  EXPECT_EQ(QBaseCountRecords(pane_->fSettingsBase), 3);

  AnswerNextSheet(true, &shown);
  pane_->outletPrefsDelete->click();
  EXPECT_EQ(QBaseCountRecords(pane_->fSettingsBase), 2);
  EXPECT_EQ(pane_->fSettingsIndex, 1);
  EXPECT_EQ(pane_->outletPrefsTarget->currentIndex(), 2);
  EXPECT_EQ(Name(pane_->fSettings.appName), "One");

  AnswerNextSheet(true, &shown);
  pane_->outletPrefsDelete->click();
  EXPECT_EQ(pane_->fSettingsIndex, 0);
  EXPECT_EQ(pane_->outletPrefsTarget->currentIndex(), 0);
  EXPECT_EQ(pane_->outletPrefsTarget->count(), 2);
  EXPECT_FALSE(pane_->outletPrefsDelete->isEnabled());
}

TEST_F(PaneTest, ActionEditorShowsAndEditsScrollSlots) {
  OpenPane();
  SelectControlRow(RowForSlot(kSlotRB));
  CorvimusActionRec& slot = Slot(pane_, kSlotRB);
  slot.command = 13;
  pane_->GetUIFromPrefs();
  EXPECT_EQ(pane_->outletPrefsActionTabs->currentIndex(), kActionTabScroll);
  EXPECT_EQ(pane_->outletPrefsAction->currentIndex(), 8);
  EXPECT_EQ(pane_->outletPrefsScrollDir->currentIndex(), 1);
  EXPECT_EQ(pane_->outletPrefsScrollCount->currentIndex(), 1);
  Choose(pane_->outletPrefsScrollCount, 4);
  EXPECT_EQ(slot.command, 9);
  EXPECT_EQ(slot.repeat, 3);
  EXPECT_EQ(pane_->outletPrefsScrollCount->currentIndex(), 4);
  Choose(pane_->outletPrefsScrollCount, 2);
  EXPECT_EQ(slot.command, 17);
  EXPECT_EQ(slot.repeat, 0);
  Choose(pane_->outletPrefsScrollDir, 3);
  EXPECT_EQ(slot.command, 19);
  slot.command = 8;
  slot.repeat = 12;
  pane_->GetUIFromPrefs();
  EXPECT_EQ(pane_->outletPrefsScrollCount->currentIndex(), 3);
}

TEST_F(PaneTest, ActionEditorKeystrokeAndResets) {
  OpenPane();
  SelectControlRow(RowForSlot(2));
  CorvimusActionRec& slot = Slot(pane_, 2);
  // A click slot with command and shift held...
  Choose(pane_->outletPrefsAction, 3);
  EXPECT_EQ(slot.command, kCmdMainClick);
  EXPECT_EQ(pane_->outletPrefsActionTabs->currentIndex(), kActionTabClick);
  EXPECT_EQ(pane_->outletPrefsClickType->currentIndex(), 0);
  for (QCheckBox* b :
       {pane_->outletPrefsClkCommand, pane_->outletPrefsClkShift, pane_->outletPrefsClkControl,
        pane_->outletPrefsClkOption, pane_->outletPrefsClkCaps, pane_->outletPrefsClkSpace})
    EXPECT_FALSE(b->isChecked());
  pane_->outletPrefsClkCommand->click();
  pane_->outletPrefsClkShift->click();
  EXPECT_EQ(slot.modifiers, cmdKey | shiftKey);
  Choose(pane_->outletPrefsClickType, 3);
  EXPECT_EQ(slot.command, 43);
  EXPECT_EQ(slot.modifiers, cmdKey | shiftKey) << "the click type keeps the modifiers";

  // ...switched to a keystroke has no modifiers and no key.
  Choose(pane_->outletPrefsAction, 4);
  EXPECT_EQ(slot.command, kCmdKeystroke);
  EXPECT_EQ(slot.modifiers, 0);
  EXPECT_EQ(slot.keyCode, 255);
  EXPECT_EQ(pane_->outletPrefsActionTabs->currentIndex(), kActionTabKeystroke);
  EXPECT_EQ(pane_->outletPrefsKeystroke->text(), "(none)");
  EXPECT_FALSE(pane_->outletPrefsKeyCommand->isChecked());

  Choose(pane_->outletPrefsMoreKeys, 14);
  EXPECT_EQ(slot.keyCode, 0x7A);
  pane_->outletPrefsKeyCommand->click();
  pane_->outletPrefsKeyShift->click();
  EXPECT_EQ(pane_->outletPrefsKeystroke->text(), "Shift+Super+F1");
  Choose(pane_->outletPrefsMoreKeys, 0);
  EXPECT_EQ(slot.keyCode, 255);
  // No key: the keystroke holds the modifiers alone, and says so.
  EXPECT_EQ(pane_->outletPrefsKeystroke->text(), "Shift+Super");

  // Special keys and a code the editor does not offer.
  Choose(pane_->outletPrefsAction, 5);
  EXPECT_EQ(slot.command, kCmdForward);
  Choose(pane_->outletPrefsSpecialKeys, 12);
  EXPECT_EQ(slot.command, kCmdCut);
  EXPECT_EQ(pane_->outletPrefsActionTabs->currentIndex(), kActionTabSpecialKey);
  slot.command = 26;
  pane_->GetUIFromPrefs();
  EXPECT_EQ(pane_->outletPrefsAction->currentIndex(), 0);
  EXPECT_EQ(pane_->outletPrefsActionTabs->currentIndex(), kActionTabNone);
  EXPECT_EQ(slot.command, 26);

  // Open item shows its alias name.
  Choose(pane_->outletPrefsAction, 6);
  EXPECT_EQ(slot.command, kCmdOpenItem);
  CStringPCopy("Notes", slot.data, 31);
  pane_->GetUIFromPrefs();
  EXPECT_EQ(pane_->outletPrefsActionTabs->currentIndex(), kActionTabOpenItem);
  EXPECT_EQ(pane_->outletPrefsItemToOpen->text(), "Notes");

  // No control selected: the editor is off and edits go nowhere.
  SelectControlRow(-1);
  EXPECT_EQ(pane_->fActionIndex, -1);
  EXPECT_FALSE(pane_->outletPrefsAction->isEnabled());
  CorvimusPrefsRec before = pane_->fSettings;
  Choose(pane_->outletPrefsAction, 4);
  EXPECT_EQ(std::memcmp(&before, &pane_->fSettings, sizeof before), 0);
}

TEST_F(PaneTest, SelectionSurvivesTargetChanges) {
  OpenPane();
  pane_->addPrefsDidEnd(MakeAppBundle("Tool", "TooL"), 1);
  SelectControlRow(RowForSlot(kSlotPF));
  Choose(pane_->outletPrefsTarget, 0);
  EXPECT_EQ(pane_->fActionIndex, kSlotPF);
}

TEST_F(PaneTest, MainClickRuleInGlobalRecordShowsSheet) {
  StartAgent();
  OpenPane();
  SelectControlRow(RowForSlot(0));
  Choose(pane_->outletPrefsAction, 4);  // keystroke on the main button; slots 1, 2 hold 34, 32
  // The sheet only tells what happened: there is nothing to cancel.
  EXPECT_EQ(pane_->outletMainClickAlert->findChild<QPushButton*>("cancel"), nullptr);
  QString shown;
  AnswerNextSheet(true, &shown);
  pane_->outletPrefsApply->click();
  EXPECT_EQ(shown, "outletMainClickAlert");
  auto records = FileRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].device[0].action[0].command, kCmdMainClick);
  EXPECT_EQ(records[0].device[0].action[0].keyCode, 0);

  // With the main click on button 3 there is nothing to repair.
  Slot(pane_, 0).command = kCmdKeystroke;
  Slot(pane_, 2).command = kCmdMainClick;
  shown.clear();
  AnswerNextSheet(true, &shown);
  pane_->actionPrefsApply();
  EXPECT_TRUE(shown.isEmpty());
  EXPECT_EQ(FileRecords()[0].device[0].action[0].command, kCmdKeystroke);
}

TEST_F(PaneTest, MainClickRuleOnlyForSystemPreferencesAndFinder) {
  OpenPane();
  pane_->addPrefsDidEnd(MakeAppBundle("Finder", "MACS"), 1);
  pane_->addPrefsDidEnd(MakeAppBundle("Other", "OthR"), 1);
  ASSERT_EQ(Name(pane_->fSettings.appName), "Other");
  for (int i = 0; i < 3; ++i) Slot(pane_, i).command = kCmdNone;
  QString shown;
  AnswerNextSheet(true, &shown);
  pane_->actionPrefsApply();
  EXPECT_TRUE(shown.isEmpty());
  EXPECT_EQ(FileRecords()[2].device[0].action[0].command, kCmdNone);

  Choose(pane_->outletPrefsTarget, 2);
  ASSERT_EQ(Name(pane_->fSettings.appName), "Finder");
  for (int i = 0; i < 3; ++i) Slot(pane_, i).command = kCmdBack;
  AnswerNextSheet(true, &shown);
  Choose(pane_->outletPrefsTarget, 0);  // leaving the record saves it into the base
  EXPECT_EQ(shown, "outletMainClickAlert");
  EXPECT_EQ(BaseRecord(1).device[0].action[0].command, kCmdMainClick);
}

TEST_F(PaneTest, LeavingWritesFileAndNotifiesAgent) {
  StartAgent();
  OpenPane();
  pane_->outletPrefsCustomSpeed->click();
  pane_->addPrefsDidEnd(MakeAppBundle("Later", "LatR"), 1);
  ClosePane();
  auto records = FileRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].device[0].speed, 40);
  auto log = WaitForAgentLog(2);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "reload 2");
}

TEST_F(PaneTest, InfoTabCountsBluetoothMiceWhenTheCountChanges) {
  OpenPane();
  QString initial = pane_->outletInfoCountBth->text();
  pane_->CountConnectedMice();  // no agent: the field keeps its text
  EXPECT_EQ(pane_->outletInfoCountBth->text(), initial);

  SetAgentDevices("2 1 2");
  StartAgent();
  pane_->CountConnectedMice();
  EXPECT_EQ(pane_->outletInfoCountBth->text(), "2");
  EXPECT_EQ(pane_->fConnectedCount, 3);
  SetAgentDevices("1 1 1");  // same count, other kinds: not redrawn
  pane_->CountConnectedMice();
  EXPECT_EQ(pane_->outletInfoCountBth->text(), "2");
  SetAgentDevices("1");
  pane_->CountConnectedMice();
  EXPECT_EQ(pane_->outletInfoCountBth->text(), "0");

  // The timer polls by itself once a second while the pane is shown.
  SetAgentDevices("2 2 2 2");
  QElapsedTimer waited;
  waited.start();
  while (pane_->outletInfoCountBth->text() != "4" && waited.elapsed() < 5000)
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(pane_->outletInfoCountBth->text(), "4");
}

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

TEST_F(PaneTest, LinksOpenTheVendorPages) {
  OpenPane();
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("http", &catcher, "open");
  pane_->outletInfoUserGuide->click();
  pane_->outletInfoURL->click();
  QDesktopServices::unsetUrlHandler("http");
  ASSERT_EQ(catcher.opened.size(), 2);
  EXPECT_EQ(catcher.opened[0].path(), "/Support/BT.aspx");
  EXPECT_EQ(catcher.opened[1].path(), "/");
  EXPECT_EQ(catcher.opened[0].host(), catcher.opened[1].host());
}

#include "CorvimusPaneTest.moc"

TEST_F(PaneTest, BrowsingAssignsAnAliasAndLeavingRemovesUnusedOnes) {
  OpenPane();
  std::string target = *tmp_ / (std::string(40, 'n') + ".txt");
  WriteFile(target, "notes");
  SelectControlRow(RowForSlot(5));
  Choose(pane_->outletPrefsAction, 6);  // open item
  pane_->outletPrefsBrowse->click();
  QFileDialog* panel = pane_->fBrowsePanel;
  ASSERT_NE(panel, nullptr);
  panel->setDirectory(QString::fromStdString(tmp_->path()));
  panel->selectFile(QString::fromStdString(target));
  QMetaObject::invokeMethod(panel, "accept");
  QApplication::processEvents();
  const std::string name(31, 'n');
  EXPECT_EQ(Name(Slot(pane_, 5).data), name);
  EXPECT_EQ(pane_->outletPrefsItemToOpen->text(), QString::fromStdString(name));
  std::string folder = config_ + "/com.kelvane.mouse.files";
  EXPECT_TRUE(QFile::exists(QString::fromStdString(folder + "/" + name)));

  // Choosing another item whose name starts the same replaces that alias file.
  std::string other = *tmp_ / (std::string(35, 'n') + ".pdf");
  WriteFile(other, "pdf");
  pane_->browseDidEnd(QString::fromStdString(other), 1);
  EXPECT_EQ(Name(Slot(pane_, 5).data), name);
  EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Files).size(), 1);

  // A second alias that ends up unused is removed when the pane is left; the used one stays.
  SelectControlRow(RowForSlot(6));
  Choose(pane_->outletPrefsAction, 6);
  std::string unused = *tmp_ / "unused.txt";
  WriteFile(unused, "x");
  pane_->browseDidEnd(QString::fromStdString(unused), 1);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(folder + "/unused.txt")));
  Choose(pane_->outletPrefsAction, 0);
  ClosePane();
  EXPECT_FALSE(QFile::exists(QString::fromStdString(folder + "/unused.txt")));
  EXPECT_TRUE(QFile::exists(QString::fromStdString(folder + "/" + name)));
  EXPECT_EQ(Name(FileRecords()[0].device[0].action[5].data), name);
}

TEST_F(PaneTest, BrowsingThatFailsLeavesTheSlotAlone) {
  OpenPane();
  SelectControlRow(RowForSlot(5));
  Choose(pane_->outletPrefsAction, 6);
  CorvimusPrefsRec before = pane_->fSettings;
  pane_->browseDidEnd(QString::fromStdString(*tmp_ / "gone"), 1);  // no such item
  std::string target = *tmp_ / "x.txt";
  WriteFile(target, "x");
  pane_->browseDidEnd(QString::fromStdString(target), 0);  // cancelled
  // A file where the aliases folder should be: no alias can be made.
  WriteFile(config_ + "/com.kelvane.mouse.files", "in the way");
  pane_->browseDidEnd(QString::fromStdString(target), 1);
  EXPECT_EQ(std::memcmp(&before, &pane_->fSettings, sizeof before), 0);
}

TEST_F(PaneTest, BrowsingCanChooseAFolder) {
  OpenPane();
  std::string folder = *tmp_ / "Projects";
  QDir().mkpath(QString::fromStdString(folder + "/inside"));
  SelectControlRow(RowForSlot(3));
  Choose(pane_->outletPrefsAction, 6);
  pane_->outletPrefsBrowse->click();
  QFileDialog* panel = pane_->fBrowsePanel;
  ASSERT_NE(panel, nullptr);
  panel->setDirectory(QString::fromStdString(tmp_->path()));
  panel->selectFile("Projects");
  QMetaObject::invokeMethod(panel, "accept");
  QApplication::processEvents();
  EXPECT_EQ(Name(Slot(pane_, 3).data), "Projects");
  EXPECT_TRUE(QFile::exists(QString::fromStdString(config_ + "/com.kelvane.mouse.files/Projects")));
}

// The pictures of the documentation show every page of the action editor, and the pane is left as
// the user had it: nothing shown for them reaches the base or the file.
TEST_F(PaneTest, ScreenshotStatesShowEveryEditorPageAndLeaveNothingBehind) {
  OpenPane();
  pane_->addPrefsDidEnd(MakeAppBundle("Text Editor", "TeXt"), 1);
  pane_->actionPrefsApply();
  Choose(pane_->outletPrefsTarget, 0);
  SelectControlRow(RowForSlot(1));
  pane_->outletPrefsCustomSpeed->click();  // an edit not applied yet
  const CorvimusPrefsRec edited = pane_->fSettings;
  const CorvimusPrefsRec global = BaseRecord(0);
  const CorvimusPrefsRec application = BaseRecord(1);

  QStringList states = pane_->screenshotStates();
  ASSERT_EQ(states.size(), 7);
  std::set<int> pages;
  for (int i = 0; i + 1 < states.size(); ++i) {
    pane_->showScreenshotState(i);
    pages.insert(pane_->outletPrefsActionTabs->currentIndex());
    EXPECT_TRUE(pane_->outletPrefsAction->isEnabled()) << states[i].toStdString();
  }
  EXPECT_EQ(pages, (std::set<int>{kActionTabNone, kActionTabClick, kActionTabKeystroke,
                                  kActionTabSpecialKey, kActionTabScroll, kActionTabOpenItem}));
  pane_->showScreenshotState(states.size() - 1);
  EXPECT_EQ(states.last(), "application");
  EXPECT_EQ(pane_->fSettingsIndex, 1);
  EXPECT_EQ(pane_->outletDeleteName->text(), "Text Editor");

  pane_->showScreenshotState(-1);
  EXPECT_EQ(pane_->fSettingsIndex, 0);
  EXPECT_EQ(pane_->fActionIndex, 1);
  EXPECT_EQ(std::memcmp(&pane_->fSettings, &edited, sizeof edited), 0);
  const CorvimusPrefsRec globalAfter = BaseRecord(0), applicationAfter = BaseRecord(1);
  EXPECT_EQ(std::memcmp(&globalAfter, &global, sizeof global), 0);
  EXPECT_EQ(std::memcmp(&applicationAfter, &application, sizeof application), 0);
  EXPECT_TRUE(pane_->outletPrefsApply->isEnabled()) << "the user's edit is still there to apply";
}

// Items whose names the File Manager would misread (a colon is a folder separator to it, a leading
// "._" names another file's sidecar) are assigned under names it reads as one, and open.
TEST_F(PaneTest, ItemsWithColonsOrSidecarLikeNamesAreAssignedAndOpen) {
  std::vector<LSOpenRequest> opened;
  SetLaunchServicesOpenerForTesting([&](const LSOpenRequest& r) {
    opened.push_back(r);
    return OSStatus(noErr);
  });
  OpenPane();
  const struct {
    int slot;
    const char* item;
    const char* alias;
  } cases[] = {{5, "Meeting 10:30.pdf", "Meeting 10?30.pdf"}, {6, "._notes", "?_notes"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    std::string target = *tmp_ / c.item;
    WriteFile(target, "x");
    SelectControlRow(RowForSlot(c.slot));
    Choose(pane_->outletPrefsAction, 6);  // open item
    pane_->browseDidEnd(QString::fromStdString(target), 1);
    EXPECT_EQ(Name(Slot(pane_, c.slot).data), c.alias);
    EXPECT_EQ(pane_->outletPrefsItemToOpen->text(), c.alias);
    opened.clear();
    ASSERT_EQ(OpenAssignedAliasItem(Slot(pane_, c.slot).data), noErr);
    ASSERT_EQ(opened.size(), 1u);
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(target.c_str()), &ref, nullptr), noErr);
    EXPECT_EQ(opened[0].path, corvimus::PathOfRef(&ref));
  }
  ClosePane();
  SetLaunchServicesOpenerForTesting(nullptr);
  // In use, so the clean-up on leaving keeps both.
  std::string folder = config_ + "/com.kelvane.mouse.files";
  EXPECT_TRUE(QFile::exists(QString::fromStdString(folder + "/Meeting 10?30.pdf")));
  EXPECT_TRUE(QFile::exists(QString::fromStdString(folder + "/?_notes")));
}
