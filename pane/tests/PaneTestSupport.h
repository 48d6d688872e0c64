// A pane in a temporary world for the flows a user takes: its own Preferences folder, runtime
// folder and bundle, a host window around the pane's view, and a stand-in agent when a test wants
// one.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <memory>
#include <string>
#include <vector>

#include "CorvimusPane.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

QApplication* TestApp();

class PaneTest : public ::testing::Test {
 public:
  // The records of the settings file as it is on disk, in the Preferences folder the environment
  // names.
  static std::vector<CorvimusPrefsRec> FileRecords();

 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the pane, loads its view into a host window, shows it and selects the pane.
  void OpenPane();
  // Leaves and destroys the pane (as the host does when it closes).
  void ClosePane();

  // A user picking a row of a pop-up.
  static void Choose(QComboBox* combo, int row);
  // Selects the outline row; -1 clears the selection.
  void SelectControlRow(int row);
  // The outline row whose control uses action slot `slot`.
  int RowForSlot(int slot);
  // Answers the next sheet that runs modally with its OK (true) or Cancel button; the sheet's
  // object name is stored in *shown.
  void AnswerNextSheet(bool ok, QString* shown);
  // Adds an application through the pane's own open panel.
  void AddApplicationThroughPanel(const QString& path);
  // Writes an application bundle "<name>.app" with the signature into the temporary folder.
  QString MakeAppBundle(const std::string& name, const std::string& signature);

  // Starts the stand-in agent as a child of the test; waits until it is reachable.
  void StartAgent();
  std::vector<std::string> AgentLog();
  // The log once it has at least n lines (or after a few seconds).
  std::vector<std::string> WaitForAgentLog(size_t n);
  void SetAgentDevices(const std::string& transports);

  CorvimusPrefsRec BaseRecord(SInt32 index);
  std::string SettingsPath() const { return config_ + "/com.kelvane.mouse.prefs"; }

  std::unique_ptr<corvimus::testing::TempDir> tmp_;
  std::string config_, bundle_;
  CorvimusPane* pane_ = nullptr;
  QMainWindow* window_ = nullptr;
  int quitTriggered_ = 0;
  bool selected_ = false;
  std::unique_ptr<corvimus::testing::ChildProcess> agent_;
  std::vector<QTimer*> sheetTimers_;
};
