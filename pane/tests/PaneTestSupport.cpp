#include "PaneTestSupport.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "ApplicationChooser.h"
#include "platform/AppleEvents.h"
#include "platform/Keyboards.h"
#include "platform/Processes.h"
#include "recordbase/PStrings.h"
#include "settings/MouseSettings.h"
#include "settings/PaneAgentEvents.h"

using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

QApplication* TestApp() {
  static int argc = 1;
  static char name[] = "pane_tests";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

namespace {

void CopyTree(const QString& from, const QString& to) {
  QDir().mkpath(to);
  QDir dir(from);
  for (const QFileInfo& e : dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (e.isDir())
      CopyTree(e.absoluteFilePath(), to + "/" + e.fileName());
    else
      QFile::copy(e.absoluteFilePath(), to + "/" + e.fileName());
  }
}

}  // namespace

void PaneTest::SetUp() {
  TestApp();
  tmp_ = std::make_unique<TempDir>();
  config_ = *tmp_ / "config";
  std::string run = *tmp_ / "run";
  for (const std::string& d : {config_, run, *tmp_ / "home"})
    QDir().mkpath(QString::fromStdString(d));
  QFile::setPermissions(QString::fromStdString(run),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  setenv("HOME", (*tmp_ / "home").c_str(), 1);
  setenv("PANE_TEST_AGENT_LOG", (*tmp_ / "agent.log").c_str(), 1);
  setenv("PANE_TEST_AGENT_DEVICES", (*tmp_ / "devices").c_str(), 1);
  // Only this test's own processes count: agents of tests running beside it stay invisible. An
  // agent the pane launches detached is reparented to this process, so it is still found.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  SetProcessScopeForTesting(getpid());
  KLSetCurrentKeyboardLayoutForTesting("us");
  std::memcpy(&gDefaultGlobalPrefs, &kCorvimusDefaultPrefs, sizeof gDefaultGlobalPrefs);

  bundle_ = *tmp_ / "Corvimus.prefPane";
  QDir().mkpath(QString::fromStdString(bundle_ + "/Contents/MacOS"));
  QFile::copy(QString(PANE_BUNDLE) + "/Contents/Info.plist",
              QString::fromStdString(bundle_ + "/Contents/Info.plist"));
  CopyTree(PANE_RESOURCES, QString::fromStdString(bundle_ + "/Contents/Resources"));
  // The built translations; the agent the built bundle carries stays out, so that only a test
  // starts one.
  for (const QFileInfo& lang :
       QDir(QString(PANE_BUNDLE) + "/Contents/Resources").entryInfoList({"*.lproj"}, QDir::Dirs))
    for (const QFileInfo& qm : QDir(lang.absoluteFilePath()).entryInfoList({"*.qm"}, QDir::Files))
      QFile::copy(qm.absoluteFilePath(), QString::fromStdString(bundle_) + "/Contents/Resources/" +
                                             lang.fileName() + "/" + qm.fileName());
  // The words the tests expect are English ones, whatever the machine's language.
  setenv("LANGUAGE", "en", 1);
}

void PaneTest::TearDown() {
  for (QTimer* t : sheetTimers_) delete t;
  sheetTimers_.clear();
  ClosePane();
  if (agent_) {
    ProcessSerialNumber psn;
    // The agent is asked to quit like the uninstaller does; the child-process object kills it if
    // that does not work.
    if (GetProcessForPID(agent_->pid(), &psn) == noErr) {
      AEAddressDesc target;
      AppleEvent quit;
      if (AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target) == noErr &&
          AECreateAppleEvent(kCoreEventClass, kAEQuitApplication, &target, kAutoGenerateReturnID,
                             kAnyTransactionID, &quit) == noErr) {
        AESend(&quit, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
        AEDisposeDesc(&quit);
      }
      AEDisposeDesc(&target);
    }
    int status;
    agent_->Wait(&status, 5000);
    agent_.reset();
  }
  // An agent the pane launched itself.
  ProcessSerialNumber psn;
  pid_t pid;
  while (FindNamedProcess(kCorvimusHelperName, &psn) == noErr &&
         GetProcessPID(&psn, &pid) == noErr) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  SetProcessScopeForTesting(0);
  tmp_.reset();
}

void PaneTest::OpenPane() {
  corvimus::prefpane::PaneBundle bundle;
  QString error;
  ASSERT_TRUE(corvimus::prefpane::ReadPaneBundle(QString::fromStdString(bundle_), &bundle, &error))
      << error.toStdString();
  pane_ = new CorvimusPane(bundle);
  window_ = new QMainWindow;
  // The host's quit shortcuts: capture must keep them from firing.
  auto* quit = new QAction("Quit", window_);
  quit->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence(Qt::META | Qt::Key_Q)});
  window_->addAction(quit);
  QObject::connect(quit, &QAction::triggered, [this] { ++quitTriggered_; });
  QWidget* view = pane_->loadMainView();
  ASSERT_NE(view, nullptr);
  window_->setCentralWidget(view);
  window_->show();
  QApplication::setActiveWindow(window_);
  pane_->didSelect();
  selected_ = true;
}

void PaneTest::ClosePane() {
  if (!pane_) return;
  if (selected_) pane_->willUnselect();
  selected_ = false;
  delete window_;
  window_ = nullptr;
  delete pane_;
  pane_ = nullptr;
}

void PaneTest::Choose(QComboBox* combo, int row) {
  combo->setCurrentIndex(row);
  emit combo->activated(row);
}

void PaneTest::SelectControlRow(int row) {
  QTreeView* tree = pane_->outletPrefsList;
  if (row < 0)
    tree->selectionModel()->clearSelection();
  else
    tree->setCurrentIndex(tree->model()->index(row, 0));
}

int PaneTest::RowForSlot(int slot) {
  QAbstractItemModel* model = pane_->outletPrefsList->model();
  for (int r = 0; r < model->rowCount(); ++r) {
    SelectControlRow(r);
    if (pane_->fActionIndex == slot) return r;
  }
  ADD_FAILURE() << "no outline row for slot " << slot;
  return -1;
}

void PaneTest::AnswerNextSheet(bool ok, QString* shown) {
  auto* timer = new QTimer;
  sheetTimers_.push_back(timer);
  QObject::connect(timer, &QTimer::timeout, [timer, ok, shown] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (auto* button = modal->findChild<QPushButton*>(ok ? "ok" : "cancel")) {
      if (shown) *shown = modal->objectName();
      timer->stop();
      button->click();
    }
  });
  timer->start(5);
}

void PaneTest::AddApplicationThroughPanel(const QString& path) {
  // A file is chosen in the file panel that the chooser's "Other…" opens.
  pane_->outletPrefsAdd->click();
  auto* chooser = qobject_cast<ApplicationChooser*>(pane_->fAddPanel.data());
  ASSERT_NE(chooser, nullptr);
  EXPECT_TRUE(chooser->isVisible());
  chooser->reject();
  pane_->ChooseApplicationFile();
  QFileDialog* panel = pane_->fAddFilePanel;
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->windowTitle(), "Select an Application");
  panel->setDirectory(QFileInfo(path).absolutePath());
  panel->selectFile(QFileInfo(path).fileName());
  QMetaObject::invokeMethod(panel, "accept");  // the Open button
  QApplication::processEvents();
}

QString PaneTest::MakeAppBundle(const std::string& name, const std::string& signature) {
  std::string path = *tmp_ / (name + ".app");
  QDir().mkpath(QString::fromStdString(path + "/Contents/MacOS"));
  std::string plist = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>";
  if (!signature.empty()) plist += "<key>CFBundleSignature</key><string>" + signature + "</string>";
  WriteFile(path + "/Contents/Info.plist", plist + "</dict></plist>");
  return QString::fromStdString(path);
}

void PaneTest::StartAgent() {
  agent_ = std::make_unique<corvimus::testing::ChildProcess>();
  ASSERT_TRUE(agent_->Start({PANE_TEST_AGENT}));
  for (int i = 0; i < 500; ++i) {
    auto log = AgentLog();
    if (!log.empty() && log[0] == "started") return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FAIL() << "the stand-in agent did not start";
}

std::vector<std::string> PaneTest::AgentLog() {
  std::vector<std::string> lines;
  std::ifstream in(*tmp_ / "agent.log");
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> PaneTest::WaitForAgentLog(size_t n) {
  std::vector<std::string> log;
  for (int i = 0; i < 500; ++i) {
    log = AgentLog();
    if (log.size() >= n) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return log;
}

void PaneTest::SetAgentDevices(const std::string& transports) {
  WriteFile(*tmp_ / "devices", transports);
}

std::vector<CorvimusPrefsRec> PaneTest::FileRecords() {
  std::vector<CorvimusPrefsRec> records;
  QBaseHandle base = NewMouseSettingsBase(4);
  Str255 name;
  CStringPCopy(kCorvimusPrefsFileName, name, 255);
  FSSpec spec;
  if (FindMouseSettingsFile(name, 0, &spec) == noErr &&
      ReadMouseSettingsFile(base, &spec) == noErr) {
    for (SInt32 i = 0; i < QBaseCountRecords(base); ++i) {
      CorvimusPrefsRec r;
      SInt32 size = 0;
      void* data = QBaseGetRecord(base, i, &size);
      EXPECT_EQ(size, kCorvimusPrefsRecSize);
      std::memcpy(&r, data, sizeof r);
      records.push_back(r);
    }
  }
  QBaseDispose(base);
  return records;
}

CorvimusPrefsRec PaneTest::BaseRecord(SInt32 index) {
  CorvimusPrefsRec r;
  std::memset(&r, 0, sizeof r);
  SInt32 size = 0;
  void* data = QBaseGetRecord(pane_->fSettingsBase, index, &size);
  EXPECT_NE(data, nullptr) << "no record " << index;
  if (data) std::memcpy(&r, data, sizeof r);
  return r;
}
