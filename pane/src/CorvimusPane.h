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
#include <memory>
#include <vector>

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
class QTranslator;
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
  // Every page of the action editor with an example action, and an application's record with the
  // remove sheet naming it; nothing of them reaches the base or the file.
  QStringList screenshotStates() override;
  void showScreenshotState(int index) override;

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
  // `path` is a desktop entry id or a file (an application bundle, a program, a .desktop file).
  void addPrefsDidEnd(const QString& path, int returnCode);
  // The file panel for applications without a desktop entry.
  void ChooseApplicationFile();
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
  // Asks the agent what runs and what is in force and shows it; the timer calls it every second.
  void RefreshInfo();
  void actionInfoSupport();
  void actionInfoURL();

  // Whether the desktop's front-application source needs the user (GNOME Shell's extension).
  void UpdateFrontSourceNote();
  void actionFrontSourceEnable();

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
  QLabel* outletInfoVersion = nullptr;
  QLabel* outletInfoAgent = nullptr;
  QLabel* outletInfoDriver = nullptr;
  QLabel* outletInfoMice = nullptr;
  QLabel* outletInfoFront = nullptr;
  QLabel* outletInfoRecord = nullptr;
  QPushButton* outletInfoUserGuide = nullptr;
  QPushButton* outletInfoURL = nullptr;
  QDialog* outletMainClickAlert = nullptr;
  QDialog* outletDeleteAlert = nullptr;
  QLabel* outletDeleteName = nullptr;
  QLabel* outletFrontSourceNote = nullptr;
  QPushButton* outletFrontSourceEnable = nullptr;
  QLabel* outletInfoFrontSource = nullptr;
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
  QPointer<QDialog> fAddPanel;      // the application chooser
  QPointer<QFileDialog> fAddFilePanel;  // its "Other…" file panel
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
  // Names the current application in the remove sheet.
  void PrepareDeleteSheet();
  void SelectControlSlot(int slot);

  MouseButtonsView* fButtonsModel = nullptr;
  QDialog* fRunningSheet = nullptr;
  QLabel* fDeleteMessage = nullptr;
  std::vector<std::unique_ptr<QTranslator>> fTranslators;
  // What the user had before the first screenshot state: target row and control.
  bool fInScreenshotStates = false;
  int fScreenshotTargetRow = 0;
  SInt16 fScreenshotActionIndex = -1;
  CorvimusPrefsRec fScreenshotSettings{};  // with the user's unapplied edits
};

// The one pane instance, through which the outline and the keystroke capture reach the pane.
extern CorvimusPane* gCorvimus;

// Installs the application-level keystroke capture on the first call and removes it on the next;
// the pane calls it from didSelect and willUnselect, which always come in pairs. Returns 1.
SInt8 SwapNSAppMethods();
