// The pane host: a small window that lists the preference panes it found, shows the chosen one and
// drives its life cycle. Its bundle is named "System Preferences", which is the process name the
// rest of the system (and the uninstaller's quit event) knows it by.
//
//   System Preferences [--pane BUNDLE]... [--screenshots DIR [--screenshot-delay MS]]
//                      [--exit-when-shown]
//
// --pane loads the given bundle in addition to those found in the PreferencePanes folders and shows
// it first; --screenshots saves a PNG of every tab and sheet of the shown pane into DIR and quits,
// MS milliseconds after the start (0 by default: a pane that asks other programs needs a moment);
// --exit-when-shown quits as soon as the first pane has been painted, printing the window's title
// and how long that took.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>
#include <cerrno>
#include <memory>

#include "PaneHostWindow.h"
#include "platform/AppleEvents.h"
#include "platform/Resources.h"

namespace {

// Leave the shown pane (which saves its settings) and end, as when the user closes the window.
void LeaveAndQuit(PaneHostWindow* window) {
  QTimer::singleShot(0, window, [window] {
    window->close();
    QApplication::quit();
  });
}

// The standard quit event.
OSErr HandleQuitEvent(const AppleEvent*, AppleEvent*, SRefCon refcon) {
  LeaveAndQuit(static_cast<PaneHostWindow*>(refcon));
  return noErr;
}

// The host's words and Qt's own (its file dialogs, its standard buttons) in the user's language;
// each pane brings its own.
void InstallTranslations(QTranslator* host, QTranslator* qt) {
  std::string bundle = corvimus::BundleForCode(reinterpret_cast<const void*>(&InstallTranslations));
  if (bundle.empty()) return;
  std::string path = corvimus::FindLocalizedResource(bundle + "/Contents/Resources", "PaneHost.qm");
  if (path.empty() || !host->load(QString::fromStdString(path))) return;
  QApplication::installTranslator(host);
  if (qt->load("qtbase_" + host->language(), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(qt);
}

// A logout ends the session's programs with SIGTERM (a closed terminal with SIGHUP, Ctrl+C with
// SIGINT): each is a request to quit like the quit event, not a reason to drop the pane's edits.
// The handler only writes a byte into a pipe that the event loop watches.
int gSignalPipe[2] = {-1, -1};

void NoteQuitSignal(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t n = write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

std::unique_ptr<QSocketNotifier> QuitOnSignals(PaneHostWindow* window) {
  if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  struct sigaction action {};
  action.sa_handler = NoteQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signo : {SIGTERM, SIGHUP, SIGINT}) sigaction(signo, &action, nullptr);
  auto notifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [window] {
    char bytes[16];
    while (read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
    }
    LeaveAndQuit(window);
  });
  return notifier;
}

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer sinceStart;
  sinceStart.start();
  QApplication app(argc, argv);
  QApplication::setApplicationName("System Preferences");
  QTranslator hostWords, qtWords;
  InstallTranslations(&hostWords, &qtWords);

  QCommandLineParser parser;
  parser.addHelpOption();
  QCommandLineOption paneOption("pane", "Load and show this .prefPane bundle.", "bundle");
  QCommandLineOption shotsOption("screenshots", "Save PNGs of the shown pane into a folder.",
                                 "dir");
  QCommandLineOption exitOption("exit-when-shown", "Quit once the first pane is shown.");
  QCommandLineOption delayOption("screenshot-delay", "Wait before the screenshots.", "ms", "0");
  parser.addOptions({paneOption, shotsOption, delayOption, exitOption});
  parser.process(app);

  PaneHostWindow window;
  std::unique_ptr<QSocketNotifier> quitSignals = QuitOnSignals(&window);
  QStringList bundles = parser.values(paneOption);
  for (QString& b : bundles) b = QDir(b).absolutePath();
  QStringList errors;
  window.LoadPanes(bundles + PaneHostWindow::StandardPaneBundles(), &errors);
  for (const QString& e : errors) QTextStream(stderr) << "System Preferences: " << e << "\n";
  window.show();

  // Apple events arrive on a socket; Qt's loop watches it and lets the event layer dispatch them.
  AEInstallEventHandler(kCoreEventClass, kAEQuitApplication, NewAEEventHandlerUPP(HandleQuitEvent),
                        &window, 0);
  std::unique_ptr<QSocketNotifier> events;
  if (int fd = AEGetEventDescriptor(); fd >= 0) {
    events = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(events.get(), &QSocketNotifier::activated, [] { AEProcessPendingEvents(); });
  }

  if (!bundles.isEmpty() && !window.ShowPane(bundles.first())) return 1;

  if (parser.isSet(shotsOption)) {
    QString dir = parser.value(shotsOption);
    QTimer::singleShot(parser.value(delayOption).toInt(), &window, [&window, dir] {
      int saved = window.SaveScreenshots(dir);
      QTextStream(stdout) << "saved " << saved << " screenshots in " << dir << "\n";
      window.close();
    });
  } else if (parser.isSet(exitOption)) {
    window.CallWhenPainted([&window, &sinceStart] {
      QTextStream(stdout) << "title " << window.windowTitle() << "\n"
                          << "shown after " << sinceStart.nsecsElapsed() / 1000 << " us\n";
      window.close();
    });
  }
  int status = app.exec();
  AERemoveEventHandler(kCoreEventClass, kAEQuitApplication, NewAEEventHandlerUPP(HandleQuitEvent),
                       0);
  return status;
}
