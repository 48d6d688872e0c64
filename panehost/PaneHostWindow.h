// The host's one window: a page listing the panes, and the shown pane's view.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <vector>

#include "prefpane/PreferencePane.h"

class QListWidget;
class QStackedWidget;

class PaneHostWindow : public QMainWindow {
  Q_OBJECT
 public:
  PaneHostWindow();
  ~PaneHostWindow() override;

  // The ".prefPane" bundles of the PreferencePanes folders.
  static QStringList StandardPaneBundles();

  // Loads each bundle once (a second copy of an already loaded identifier is skipped); what could
  // not be loaded is described in errors.
  void LoadPanes(const QStringList& bundlePaths, QStringList* errors);
  // Leaves the current pane and shows the one loaded from that bundle; false when none was.
  bool ShowPane(const QString& bundlePath);
  // Leaves the current pane and shows the list of panes.
  void ShowAll();
  corvimus::prefpane::PreferencePane* CurrentPane() const { return fCurrent; }

  void CallWhenPainted(std::function<void()> call);
  int SaveScreenshots(const QString& folder);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LeaveCurrentPane();

  std::vector<std::unique_ptr<corvimus::prefpane::PreferencePane>> fPanes;
  corvimus::prefpane::PreferencePane* fCurrent = nullptr;
  QStackedWidget* fStack = nullptr;
  QListWidget* fList = nullptr;
  std::function<void()> fWhenPainted;
};
