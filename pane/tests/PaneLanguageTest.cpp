// The pane in the user's language: keys as Linux keyboards label them, and a German pane with no
// English word left.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QTabWidget>
#include <QTranslator>
#include <map>

#include "KeyLabels.h"
#include "MouseButtonsView.h"
#include "PaneTables.h"
#include "PaneTestSupport.h"
#include "platform/Keyboards.h"
#include "platform/Resources.h"
#include "settings/CommandTable.h"
#include "settings/KeyNames.h"

namespace {

// Every word a widget of the view shows, in the order of the widgets: labels, buttons, check
// boxes, pop-up rows, tab titles, group titles, placeholders and the sheets' titles.
QStringList VisibleWords(QWidget* view) {
  QStringList words;
  auto add = [&words](const QString& text) {
    if (!text.trimmed().isEmpty()) words << text;
  };
  add(view->windowTitle());
  for (QWidget* w : view->findChildren<QWidget*>()) {
    if (auto* label = qobject_cast<QLabel*>(w)) add(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) add(button->text());
    if (auto* combo = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < combo->count(); ++i) add(combo->itemText(i));
    if (auto* tabs = qobject_cast<QTabWidget*>(w))
      for (int i = 0; i < tabs->count(); ++i) add(tabs->tabText(i));
    if (auto* group = qobject_cast<QGroupBox*>(w)) add(group->title());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) add(edit->placeholderText());
    if (auto* sheet = qobject_cast<QDialog*>(w)) add(sheet->windowTitle());
  }
  return words;
}

// Words that German writes as English does.
const QSet<QString> kSameInGerman = {"OK",  "Info", "Alt",      "Super",
                                     "Esc", "Tab",  "Version:", "Agent (CorvimusHelper):"};

bool IsFunctionKey(const QString& word) {
  return word.size() >= 2 && word[0] == 'F' && word.mid(1).toInt() > 0;
}

}  // namespace

TEST_F(PaneTest, KeysAreNamedAsLinuxKeyboardsLabelThem) {
  KLSetCurrentKeyboardLayoutForTesting("us");
  GetKeyboardInformation();
  const std::map<UInt8, std::string> labels = {
      {0x35, "Esc"},     {0x30, "Tab"},          {0x24, "Return"},   {0x33, "Backspace"},
      {0x75, "Delete"},  {0x72, "Insert"},       {0x73, "Home"},     {0x77, "End"},
      {0x74, "Page Up"}, {0x79, "Page Down"},    {0x7B, "Left"},     {0x7E, "Up"},
      {0x31, "Space"},   {0x4C, "Keypad Enter"}, {0x47, "Num Lock"}, {0x7A, "F1"},
      {0x60, "F5"},      {0x71, "F15"},          {0x08, "C"},        {0x53, "Keypad 1"},
      {0x2B, ","}};
  for (const auto& [code, label] : labels)
    EXPECT_EQ(KeyLabel(code).toStdString(), label) << int(code);
  // The key at the position of the US Z types Y on a German layout, and is called so.
  KLSetCurrentKeyboardLayoutForTesting("de");
  GetKeyboardInformation();
  EXPECT_EQ(KeyLabel(0x06).toStdString(), "Y");
  KLSetCurrentKeyboardLayoutForTesting("us");
  GetKeyboardInformation();

  EXPECT_EQ(KeystrokeLabel(0x7A, cmdKey | shiftKey).toStdString(), "Shift+Super+F1");
  EXPECT_EQ(KeystrokeLabel(0x75, controlKey | optionKey).toStdString(), "Ctrl+Alt+Delete");
  EXPECT_EQ(KeystrokeLabel(0x08, alphaLock | kCorvimusSpaceKey).toStdString(), "Caps Lock+Space+C");
  EXPECT_EQ(KeystrokeLabel(255, controlKey).toStdString(), "Ctrl");
  EXPECT_EQ(KeystrokeLabel(255, 0).toStdString(), "(none)");

  // The pop-up of more keys and the modifier boxes use the same names.
  OpenPane();
  for (int row = 2; row < gMoreKeysCount; ++row)
    EXPECT_EQ(pane_->outletPrefsMoreKeys->itemText(row), KeyLabel(gMoreKeysCodes[row])) << row;
  EXPECT_EQ(pane_->outletPrefsMoreKeys->itemText(5), "Backspace");
  const std::pair<QCheckBox*, const char*> boxes[] = {
      {pane_->outletPrefsKeyControl, "Ctrl"},   {pane_->outletPrefsKeyOption, "Alt"},
      {pane_->outletPrefsKeyShift, "Shift"},    {pane_->outletPrefsKeyCommand, "Super"},
      {pane_->outletPrefsKeyCaps, "Caps Lock"}, {pane_->outletPrefsKeySpace, "Space"}};
  for (auto [box, name] : boxes) EXPECT_EQ(box->text().toStdString(), name);
}

TEST_F(PaneTest, GermanPaneLeavesNoEnglishWordVisible) {
  OpenPane();
  const QStringList english = VisibleWords(pane_->mainView());
  ClosePane();
  ASSERT_GT(english.size(), 100);

  setenv("LANGUAGE", "de_DE", 1);  // as the desktop sets it; de_DE falls back to de
  OpenPane();
  const QStringList german = VisibleWords(pane_->mainView());
  ASSERT_EQ(german.size(), english.size());
  for (int i = 0; i < english.size(); ++i) {
    if (kSameInGerman.contains(english[i]) || IsFunctionKey(english[i])) continue;
    EXPECT_NE(german[i], english[i]) << "left in English: " << english[i].toStdString();
  }
  EXPECT_EQ(pane_->mainView()->windowTitle(), "Maustasten");
  EXPECT_EQ(pane_->outletPrefsKeyControl->text(), "Strg");
  EXPECT_EQ(pane_->outletPrefsAction->itemText(0), "Unverändert");
  EXPECT_EQ(pane_->outletPrefsMoreKeys->itemText(5), "Rücktaste");

  // A keystroke reads in German as well.
  SelectControlRow(RowForSlot(4));
  Choose(pane_->outletPrefsAction, 4);
  pane_->fSettings.device[0].action[4].keyCode = 0x75;
  pane_->fSettings.device[0].action[4].modifiers = controlKey | shiftKey;
  pane_->GetUIFromPrefs();
  EXPECT_EQ(pane_->outletPrefsKeystroke->text(), "Strg+Umschalt+Entf");
}

// The German rows of the outline are the German names of the table's controls, as the English rows
// are the English names.
TEST_F(PaneTest, GermanOutlineRowsAreTheTablesGermanNames) {
  setenv("LANGUAGE", "de", 1);
  QString resources = QString::fromStdString(bundle_) + "/Contents/Resources";
  QTranslator names;
  ASSERT_TRUE(names.load(QString::fromStdString(
      corvimus::FindLocalizedResource(resources.toStdString(), "CommandTable.qm"))));
  std::unique_ptr<MouseButtonsViewItem> root(MouseButtonsViewItem::BuildRootItem(resources));
  ASSERT_EQ(size_t(root->numberOfChildren()), kControlTableSize);
  for (size_t row = 0; row < kControlTableSize; ++row) {
    const ControlInfo& control = kControlTable[row];
    QString german = names.translate("CommandTable", control.name);
    ASSERT_FALSE(german.isEmpty()) << control.name;
    EXPECT_NE(german, control.name);
    EXPECT_EQ(root->childAtIndex(int(row))->getCellText(), german) << control.id;
    EXPECT_EQ(GetActionFromControlID(root->childAtIndex(int(row))->getControlID()), control.slot);
  }
}
