#include "PaneHostWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "platform/Folders.h"

using corvimus::prefpane::LoadPreferencePane;
using corvimus::prefpane::PreferencePane;

PaneHostWindow::PaneHostWindow() {
  setWindowTitle(tr("System Preferences"));
  QToolBar* bar = addToolBar(tr("Navigation"));
  bar->setMovable(false);
  bar->addAction(tr("Show All"), this, [this] { ShowAll(); });

  fStack = new QStackedWidget(this);
  fList = new QListWidget(fStack);
  fList->setViewMode(QListView::IconMode);
  fList->setObjectName("paneList");
  connect(fList, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { ShowPane(item->data(Qt::UserRole).toString()); });
  fStack->addWidget(fList);
  setCentralWidget(fStack);
  resize(720, 560);
}

PaneHostWindow::~PaneHostWindow() {
  // A pane's view lives in the stack; take each out before its pane goes so that neither deletes
  // the other's objects twice.
  LeaveCurrentPane();
  for (auto& pane : fPanes) {
    if (QWidget* view = pane->mainView()) {
      fStack->removeWidget(view);
      delete view;
    }
  }
  fPanes.clear();
}

QStringList PaneHostWindow::StandardPaneBundles() {
  // The PreferencePanes folders of the local and the system Library domains.
  QStringList folders;
  for (SInt16 domain : {kLocalDomain, kSystemDomain}) {
    std::string library;
    if (corvimus::FolderPath(domain, kDomainLibraryFolderType, &library) == noErr)
      folders << QString::fromStdString(library) + "/PreferencePanes";
  }
  return corvimus::prefpane::FindPreferencePaneBundles(folders);
}

void PaneHostWindow::LoadPanes(const QStringList& bundlePaths, QStringList* errors) {
  for (const QString& path : bundlePaths) {
    QString error;
    std::unique_ptr<PreferencePane> pane(LoadPreferencePane(path, &error));
    if (!pane) {
      if (errors) errors->append(error);
      continue;
    }
    bool duplicate = false;
    for (auto& other : fPanes) {
      const auto& a = other->bundle();
      if (a.path == pane->bundle().path ||
          (!a.identifier.isEmpty() && a.identifier == pane->bundle().identifier))
        duplicate = true;
    }
    if (duplicate) continue;
    auto* item = new QListWidgetItem(pane->bundle().iconLabel, fList);
    item->setData(Qt::UserRole, pane->bundle().path);
    fPanes.push_back(std::move(pane));
  }
}

bool PaneHostWindow::ShowPane(const QString& bundlePath) {
  QString wanted = QFileInfo(bundlePath).absoluteFilePath();
  for (auto& pane : fPanes) {
    if (pane->bundle().path != wanted) continue;
    if (pane.get() == fCurrent) return true;
    LeaveCurrentPane();
    QWidget* view = pane->loadMainView();
    if (!view) return false;
    if (fStack->indexOf(view) < 0) fStack->addWidget(view);
    fStack->setCurrentWidget(view);
    // A pane may name its window in the user's language; else the bundle's name does.
    setWindowTitle(view->windowTitle().isEmpty() ? pane->bundle().name : view->windowTitle());
    fCurrent = pane.get();
    fCurrent->didSelect();
    return true;
  }
  return false;
}

void PaneHostWindow::ShowAll() {
  LeaveCurrentPane();
  fStack->setCurrentWidget(fList);
  setWindowTitle(tr("System Preferences"));
}

void PaneHostWindow::LeaveCurrentPane() {
  if (!fCurrent) return;
  PreferencePane* leaving = fCurrent;
  fCurrent = nullptr;
  leaving->willUnselect();
}

void PaneHostWindow::closeEvent(QCloseEvent* event) {
  ShowAll();
  event->accept();
}

void PaneHostWindow::CallWhenPainted(std::function<void()> call) {
  fWhenPainted = std::move(call);
  QWidget* target = fStack->currentWidget();
  target->installEventFilter(this);
  target->update();
}

bool PaneHostWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Paint && fWhenPainted) {
    watched->removeEventFilter(this);
    // Run after this paint has finished, from the event loop.
    QTimer::singleShot(0, this, [call = std::move(fWhenPainted)] { call(); });
    fWhenPainted = nullptr;
  }
  return QMainWindow::eventFilter(watched, event);
}

namespace {

QString FileSafe(QString text) {
  text.remove('&');
  for (QChar& c : text)
    if (!c.isLetterOrNumber()) c = '-';
  return text.toLower();
}

void Settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

}  // namespace

int PaneHostWindow::SaveScreenshots(const QString& folder) {
  QDir().mkpath(folder);
  QWidget* view = fStack->currentWidget();
  int saved = 0;
  auto save = [&](QWidget* w, const QString& name) {
    Settle();
    QString file =
        QDir(folder).filePath(QString("%1-%2.png").arg(saved + 1, 2, 10, QChar('0')).arg(name));
    if (w->grab().save(file)) ++saved;
  };
  // A selected row shows the editors filled in rather than disabled.
  for (QTreeView* tree : view->findChildren<QTreeView*>()) {
    QModelIndex first = tree->model() ? tree->model()->index(0, 0) : QModelIndex();
    if (first.isValid()) tree->setCurrentIndex(first);
  }
  // Every tab of every tab widget with a visible tab bar, nested ones under each of their parents.
  std::function<void(QWidget*, const QString&)> walk = [&](QWidget* root, const QString& prefix) {
    for (QTabWidget* tabs : root->findChildren<QTabWidget*>()) {
      // Only the tab widgets directly inside root; deeper ones are reached through their parent
      // tab.
      QWidget* p = tabs->parentWidget();
      while (p && p != root && !qobject_cast<QTabWidget*>(p)) p = p->parentWidget();
      if (p != root || !tabs->tabBar()->isVisibleTo(tabs)) continue;
      for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QString name = prefix + FileSafe(tabs->tabText(i));
        save(this, name);
        walk(tabs->widget(i), name + "-");
      }
      tabs->setCurrentIndex(0);
    }
  };
  walk(view, QString());
  if (saved == 0) save(this, "pane");
  // The states the pane names itself, then its sheets, which the last state may have filled in.
  QStringList states = fCurrent ? fCurrent->screenshotStates() : QStringList();
  for (int i = 0; i < states.size(); ++i) {
    fCurrent->showScreenshotState(i);
    save(this, FileSafe(states[i]));
  }
  // The pane's sheets, shown without running their modal loops.
  for (QDialog* sheet : view->findChildren<QDialog*>()) {
    sheet->show();
    save(sheet, "sheet-" + FileSafe(sheet->objectName()));
    sheet->hide();
  }
  if (!states.isEmpty()) fCurrent->showScreenshotState(-1);
  return saved;
}
