// Mouse Button Tester: the application whose signature is 'CvMP'. While it is in front the agent
// switches the drivers to reporting each button and wheel event instead of remapping it, and
// forwards every report here ('CvMP'/'CVer'); the window lights up the control and names it, so a
// user finds which physical button is "Button 6". Each report is also written to standard output
// as a line, for a terminal.
//
//   Mouse Button Tester [--screenshot FILE [--after MS]]
//
// --screenshot saves a picture of the window into FILE MS milliseconds (default 2000) after the
// start, then quits: the documentation's picture is taken so.
#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>
#include <memory>
#include <vector>

#include "ButtonTesterWindow.h"
#include "platform/AppleEvents.h"
#include "platform/Resources.h"
#include "settings/CorvimusEvents.h"

namespace {

OSErr HandleReportEvent(const AppleEvent* event, AppleEvent*, SRefCon refcon) {
  UInt8 bytes[kCorvimusReportSize] = {};
  DescType type;
  Size size = 0;
  OSErr err =
      AEGetParamPtr(event, keyDirectObject, typeCorvimusReport, &type, bytes, sizeof bytes, &size);
  if (err != noErr) return err;
  ButtonReport report;
  if (size != Size(sizeof bytes) || !DecodeButtonReport(bytes, sizeof bytes, &report))
    return errAECorruptData;
  QString line = static_cast<ButtonTesterWindow*>(refcon)->ShowReport(report);
  QTextStream(stdout) << line << Qt::endl;
  return noErr;
}

OSErr HandleQuitEvent(const AppleEvent*, AppleEvent*, SRefCon) {
  QTimer::singleShot(0, [] { QApplication::quit(); });
  return noErr;
}

// The tester's words and the names of the controls in the user's language, and Qt's own.
std::vector<std::unique_ptr<QTranslator>> InstallTranslations() {
  std::vector<std::unique_ptr<QTranslator>> installed;
  std::string bundle = corvimus::BundleForCode(reinterpret_cast<const void*>(&InstallTranslations));
  QString language;
  for (const char* name : {"ButtonTester.qm", "CommandTable.qm"}) {
    std::string path = bundle.empty()
                           ? std::string()
                           : corvimus::FindLocalizedResource(bundle + "/Contents/Resources", name);
    auto translator = std::make_unique<QTranslator>();
    if (path.empty() || !translator->load(QString::fromStdString(path))) continue;
    language = translator->language();
    QApplication::installTranslator(translator.get());
    installed.push_back(std::move(translator));
  }
  auto qt = std::make_unique<QTranslator>();
  if (!language.isEmpty() &&
      qt->load("qtbase_" + language, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(qt.get());
    installed.push_back(std::move(qt));
  }
  return installed;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Mouse Button Tester");
  auto translations = InstallTranslations();

  QCommandLineParser parser;
  parser.addHelpOption();
  QCommandLineOption shotOption("screenshot", "Save a picture of the window and quit.", "file");
  QCommandLineOption afterOption("after", "Milliseconds before the picture.", "ms", "2000");
  parser.addOptions({shotOption, afterOption});
  parser.process(app);

  ButtonTesterWindow window;
  window.show();
  if (parser.isSet(shotOption)) {
    QString file = parser.value(shotOption);
    QTimer::singleShot(parser.value(afterOption).toInt(), &window, [&window, file] {
      bool saved = window.grab().save(file);
      QTextStream(stdout) << (saved ? "saved " : "not saved ") << file << Qt::endl;
      QApplication::exit(saved ? 0 : 1);
    });
  }

  AEInstallEventHandler(kCorvimusEventClass, kCorvimusEventReport,
                        NewAEEventHandlerUPP(HandleReportEvent), &window, false);
  AEInstallEventHandler(kCoreEventClass, kAEQuitApplication, NewAEEventHandlerUPP(HandleQuitEvent),
                        nullptr, false);
  std::unique_ptr<QSocketNotifier> events;
  if (int fd = AEGetEventDescriptor(); fd >= 0) {
    events = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(events.get(), &QSocketNotifier::activated, [] { AEProcessPendingEvents(); });
  }
  QTextStream(stdout) << "ready" << Qt::endl;
  return app.exec();
}
