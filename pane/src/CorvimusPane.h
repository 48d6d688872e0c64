// The settings pane: the editor of the settings file. It owns a record base loaded from the file
// (record 0 the global settings, one record per application after it), a working copy of the one
// record being edited, and the controls that show and change that copy.
//
// Every control action changes fSettings (or the selection) and then calls GetUIFromPrefs, which
// redisplays everything and ends with EnableDisableApplyRevert. Apply stores the working copy in
// the base, writes the base to the file and asks the agent to reload; leaving the pane does the
// same.
#pragma once

#include <QPointer>
#include <QString>

#include "prefpane/PreferencePane.h"
#include "recordbase/QBase.h"
#include "settings/CorvimusEvents.h"
#include "settings/CorvimusPrefs.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QTreeView;
class MouseButtonsView;

class CorvimusPane : public corvimus::prefpane::PreferencePane {
  Q_OBJECT
 public:
  explicit CorvimusPane(const corvimus::prefpane::PaneBundle& bundle, QObject* parent = nullptr);
  ~CorvimusPane() override;

  void mainViewDidLoad() override;
  void didSelect() override;
  void willUnselect() override;

  // Load, edit, apply, revert.
  SInt16 GetBaseFromFile();
  void GetPrefsFromBase();
  void GetUIFromPrefs();
  void SaveUIToPrefs();
  void SavePrefsToBase();
  SInt16 SaveBaseToFile();
  void EnableDisableApplyRevert();
  void actionPrefsApply();
  void actionPrefsRevert();
  void actionPrefsTarget();
  void actionPrefsDisable();
  void actionPrefsCustomSpeed();
  void actionPrefsSpeedValue();
  void actionPrefsCustomAcc();
  void actionPrefsAccValue();

  // Target applications.
  void RebuildTargetAppMenu();
  void actionPrefsAdd();
  void addPrefsDidEnd(const QString& path, int returnCode);
  void actionPrefsRemove();
  void actionAlertOK();
  void actionAlertCancel();
  void SetFlagForCurrentPrefs();
  void SelectPrefsWithFlag();
  void SortPreferencesByApp();

  // Action editor.
  void actionPrefsAction();
  void actionPrefsClickType();
  void GetModifierState(UInt16 bit, QCheckBox* checkbox);
  void actionPrefsMoreKeys();
  void actionPrefsSpecialKeys();
  void actionPrefsScrollDir();
  void actionPrefsScrollCount();
  void actionPrefsBrowse();
  void browseDidEnd(const QString& path, int returnCode);
  void MakeSureClickExists();

  // Mouse buttons outline.
  void actionPrefsList();

  // Keystroke capture.
  bool InterceptKeystrokes() const;
  void InterceptOneKeystroke(UInt8 keyCode, UInt16 modifiers);

  // Info tab.
  void CountConnectedMice();
  void actionInfoSupport();
  void actionInfoURL();

  // The web pages of the Info tab.
  static QString SupportURL();
  static QString HomeURL();

  // Outlets: the pane's controls, built by createMainView.
  QTabWidget* outletWindowTabs = nullptr;
  QPushButton* outletPrefsApply = nullptr;
  QPushButton* outletPrefsRevert = nullptr;
  QComboBox* outletPrefsTarget = nullptr;
  QPushButton* outletPrefsAdd = nullptr;
  QPushButton* outletPrefsDelete = nullptr;
  QCheckBox* outletPrefsDisable = nullptr;
  QTabWidget* outletPrefsTabs = nullptr;
  QTreeView* outletPrefsList = nullptr;
  QCheckBox* outletPrefsCustomSpeed = nullptr;
  QSlider* outletPrefsSpeedValue = nullptr;
  QCheckBox* outletPrefsCustomAcc = nullptr;
  QSlider* outletPrefsAccValue = nullptr;
  QComboBox* outletPrefsAction = nullptr;
  QStackedWidget* outletPrefsActionTabs = nullptr;
  QComboBox* outletPrefsClickType = nullptr;
  QCheckBox* outletPrefsClkControl = nullptr;
  QCheckBox* outletPrefsClkOption = nullptr;
  QCheckBox* outletPrefsClkShift = nullptr;
  QCheckBox* outletPrefsClkCommand = nullptr;
  QCheckBox* outletPrefsClkCaps = nullptr;
  QCheckBox* outletPrefsClkSpace = nullptr;
  QLineEdit* outletPrefsKeystroke = nullptr;
  QCheckBox* outletPrefsKeyControl = nullptr;
  QCheckBox* outletPrefsKeyOption = nullptr;
  QCheckBox* outletPrefsKeyShift = nullptr;
  QCheckBox* outletPrefsKeyCommand = nullptr;
  QCheckBox* outletPrefsKeyCaps = nullptr;
  QCheckBox* outletPrefsKeySpace = nullptr;
  QComboBox* outletPrefsMoreKeys = nullptr;
  QComboBox* outletPrefsSpecialKeys = nullptr;
  QComboBox* outletPrefsScrollDir = nullptr;
  QComboBox* outletPrefsScrollCount = nullptr;
  QLineEdit* outletPrefsItemToOpen = nullptr;
  QPushButton* outletPrefsBrowse = nullptr;
  QLabel* outletInfoCountBth = nullptr;
  QPushButton* outletInfoUserGuide = nullptr;
  QPushButton* outletInfoURL = nullptr;
  QDialog* outletMainClickAlert = nullptr;
  QDialog* outletDeleteAlert = nullptr;
  QLabel* outletDeleteName = nullptr;
  QDialog* outletProblemAlert = nullptr;  // a settings file that cannot be read or written
  QLabel* outletProblemText = nullptr;

  // State.
  corvimus::prefpane::PaneBundle fMainBundle;
  QBaseHandle fSettingsBase = nullptr;
  SInt32 fSettingsIndex = 0;
  SInt16 fActionIndex = -1;
  CorvimusPrefsRec fSettings{};
  // Whether the last read of the settings file succeeded. Until one has, the base holds nothing
  // of the user's, and writing it would replace the settings the file holds: nothing is saved and
  // no alias file is cleaned up.
  bool fBaseLoaded = false;
  OSErr fLoadError = noErr;
  QTimer* fCountConnectedTimer = nullptr;
  SInt16 fConnectedCount = -1;
  SInt16 fConnectedFiller = 0;
  CorvimusDeviceList fConnected{};

  // The open panels while they are shown (sheets on the pane's window).
  QPointer<QFileDialog> fAddPanel;
  QPointer<QFileDialog> fBrowsePanel;

 protected:
  QWidget* createMainView() override;

 private:
  // Runs a sheet's modal loop until actionAlertOK or actionAlertCancel ends it; returns 1 or 0.
  int RunSheet(QDialog* sheet);
  // Tells the user why the settings were not saved, in a sheet.
  void ShowSaveProblem(const QString& why);
  CorvimusActionRec* SelectedAction();
  void ShowActionEditor();
  void MakeClickableLink(QPushButton* button);

  MouseButtonsView* fButtonsModel = nullptr;
  QDialog* fRunningSheet = nullptr;
};

// The one pane instance, through which the outline and the keystroke capture reach the pane.
extern CorvimusPane* gCorvimus;

// Installs the application-level keystroke capture on the first call and removes it on the next;
// the pane calls it from didSelect and willUnselect, which always come in pairs. Returns 1.
SInt8 SwapNSAppMethods();
