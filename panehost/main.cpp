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
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>
#include <memory>

#include "PaneHostWindow.h"
#include "platform/AppleEvents.h"
#include "platform/Resources.h"

namespace {

// The standard quit event: leave the shown pane (which saves its settings) and end, as when the
// user closes the window.
OSErr HandleQuitEvent(const AppleEvent*, AppleEvent*, SRefCon refcon) {
  auto* window = static_cast<PaneHostWindow*>(refcon);
  QTimer::singleShot(0, window, [window] {
    window->close();
    QApplication::quit();
  });
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
