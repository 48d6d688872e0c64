#include "UninstallerToolbox.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLayout>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QPointer>
#include <QSocketNotifier>
#include <QTranslator>
#include <QUiLoader>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/AppleEvents.h"
#include "platform/Resources.h"

namespace corvimus::toolbox {

struct OpaqueIBNibRef {
  // Each object's Designer file, by the object's name.
  QHash<QString, QByteArray> objects;
};

struct OpaqueEventRef {
  UInt32 eventClass;
  UInt32 eventKind;
  HICommand command;
};

struct InstalledHandler {
  EventHandlerUPP proc;
  std::vector<EventTypeSpec> types;
  void* userData;
};

struct OpaqueWindowPtr {
  QPointer<QWidget> widget;
  std::vector<InstalledHandler> handlers;
  int busy = 0;  // events being handled for this window
  bool disposed = false;
};

namespace {

// Live windows, in the order they were made.
std::vector<WindowRef> gWindows;
// The menu bar file every new window gets a copy of (empty: none).
QByteArray gMenuBarDefinition;
const char kCommandProperty[] = "command";

bool IsLive(WindowRef window) {
  return window && std::find(gWindows.begin(), gWindows.end(), window) != gWindows.end();
}

WindowRef WindowOfWidget(const QWidget* widget) {
  for (WindowRef w : gWindows)
    if (w->widget == widget) return w;
  return nullptr;
}

// Holds a window record while its handlers run: a handler may dispose of the window, whose record
// must outlive the call.
class WindowUse {
 public:
  explicit WindowUse(WindowRef window) : window_(window) { ++window_->busy; }
  ~WindowUse() {
    if (--window_->busy == 0 && window_->disposed) delete window_;
  }
  WindowUse(const WindowUse&) = delete;
  WindowUse& operator=(const WindowUse&) = delete;

 private:
  WindowRef window_;
};

OSStatus CallHandlers(WindowRef window, OpaqueEventRef* event) {
  // A copy: a handler may install another or dispose of the window.
  std::vector<InstalledHandler> handlers = window->handlers;
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
    bool wanted = std::any_of(it->types.begin(), it->types.end(), [&](const EventTypeSpec& t) {
      return t.eventClass == event->eventClass && t.eventKind == event->eventKind;
    });
    if (!wanted) continue;
    OSStatus result = it->proc(nullptr, event, it->userData);
    if (result != eventNotHandledErr) return result;
    if (window->disposed) break;
  }
  return eventNotHandledErr;
}

// Without a window nothing of the application can be reached any more.
void EndWhenNoWindowIsLeft() {
  if (gWindows.empty()) QuitApplicationEventLoop();
}

OSStatus SendWindowClose(WindowRef window) {
  WindowUse use(window);
  OpaqueEventRef event{kEventClassWindow, kEventWindowClose, {}};
  OSStatus result = CallHandlers(window, &event);
  if (result == eventNotHandledErr && !window->disposed) DisposeWindow(window);
  return result;
}

// Turns the close box of a window into a window-close event.
class CloseBoxFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Close) return false;
    WindowRef window = WindowOfWidget(qobject_cast<QWidget*>(watched));
    if (!window) return false;
    event->ignore();  // the window goes away by DisposeWindow, or stays
    SendWindowClose(window);
    EndWhenNoWindowIsLeft();
    return true;
  }
};

QWidget* LoadDesignerFile(const QByteArray& bytes, QWidget* parent) {
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return nullptr;
  QUiLoader loader;
  return loader.load(&buffer, parent);
}

OSStatus ReadNibObject(IBNibRef nib, const QString& name, QByteArray* bytes) {
  if (!nib || name.isEmpty() || name.contains(QLatin1Char('/')) ||
      name.startsWith(QLatin1Char('.')))
    return kIBCarbonRuntimeCantFindObject;
  auto found = nib->objects.constFind(name);
  if (found == nib->objects.constEnd()) return kIBCarbonRuntimeCantFindObject;
  *bytes = *found;
  return noErr;
}

void ConnectCommands(QWidget* widget, QMenuBar* menuBar) {
  QPointer<QWidget> owner(widget);
  auto send = [owner](UInt32 command, UInt32 attributes) {
    WindowRef target = WindowOfWidget(owner.data());
    if (!target) return;
    ProcessWindowCommand(target, command, attributes);
  };
  for (QAbstractButton* button : widget->findChildren<QAbstractButton*>()) {
    UInt32 command = CommandFromText(button->property(kCommandProperty).toString());
    if (command == 0) continue;
    QObject::connect(button, &QAbstractButton::clicked, widget,
                     [send, command] { send(command, kHICommandFromControl); });
  }
  if (!menuBar) return;
  for (QAction* action : menuBar->findChildren<QAction*>()) {
    UInt32 command = CommandFromText(action->property(kCommandProperty).toString());
    if (command == 0) continue;
    QObject::connect(action, &QAction::triggered, widget,
                     [send, command] { send(command, kHICommandFromMenu); });
  }
}

}  // namespace

void InstallBundleTranslations() {
  static QTranslator* own = nullptr;
  if (own) return;
  QString bundle = MainBundlePath();
  if (bundle.isEmpty()) return;
  std::string path = FindLocalizedResource(
      (bundle + QStringLiteral("/Contents/Resources")).toStdString(), "Uninstaller.qm");
  own = new QTranslator(qApp);
  if (path.empty() || !own->load(QString::fromStdString(path))) return;
  QApplication::installTranslator(own);
  auto* qt = new QTranslator(qApp);
  if (qt->load(QStringLiteral("qtbase_") + own->language(),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(qt);
}

OSStatus CreateNibReference(const QString& inNibName, IBNibRef* outNibRef) {
  if (!outNibRef) return paramErr;
  *outNibRef = nullptr;
  QString bundle = MainBundlePath();
  if (bundle.isEmpty() || inNibName.isEmpty() || inNibName.contains(QLatin1Char('/')))
    return kIBCarbonRuntimeCantFindNibFile;
  QString folder =
      bundle + QStringLiteral("/Contents/Resources/") + inNibName + QStringLiteral(".nib");
  if (!QFileInfo(folder).isDir()) return kIBCarbonRuntimeCantFindNibFile;
  auto* nib = new OpaqueIBNibRef;
  const QDir dir(folder);
  for (const QString& file :
       dir.entryList({QStringLiteral("*.ui")}, QDir::Files | QDir::Readable)) {
    QFile ui(dir.filePath(file));
    // One that cannot be read is missing, as it would be when asked for.
    if (ui.open(QIODevice::ReadOnly))
      nib->objects.insert(QFileInfo(file).completeBaseName(), ui.readAll());
  }
  *outNibRef = nib;
  return noErr;
}

void DisposeNibReference(IBNibRef inNibRef) {
  delete inNibRef;
}

OSStatus SetMenuBarFromNib(IBNibRef inNibRef, const QString& inName) {
  QByteArray bytes;
  OSStatus err = ReadNibObject(inNibRef, inName, &bytes);
  if (err != noErr) return err;
  std::unique_ptr<QWidget> probe(LoadDesignerFile(bytes, nullptr));
  if (!probe) return kIBCarbonRuntimeCantFindObject;
  if (!qobject_cast<QMenuBar*>(probe.get())) return kIBCarbonRuntimeObjectNotOfRequestedType;
  gMenuBarDefinition = bytes;
  return noErr;
}

OSStatus CreateWindowFromNib(IBNibRef inNibRef, const QString& inName, WindowRef* outWindow) {
  if (!outWindow) return paramErr;
  *outWindow = nullptr;
  QByteArray bytes;
  OSStatus err = ReadNibObject(inNibRef, inName, &bytes);
  if (err != noErr) return err;
  std::unique_ptr<QWidget> widget(LoadDesignerFile(bytes, nullptr));
  if (!widget) return kIBCarbonRuntimeCantFindObject;
  if (qobject_cast<QMenuBar*>(widget.get()) || widget->objectName() != inName)
    return kIBCarbonRuntimeObjectNotOfRequestedType;
  widget->setWindowFlag(Qt::Window);
  widget->setAttribute(Qt::WA_DeleteOnClose, false);
  QMenuBar* menuBar = nullptr;
  if (!gMenuBarDefinition.isEmpty()) {
    menuBar = qobject_cast<QMenuBar*>(LoadDesignerFile(gMenuBarDefinition, widget.get()));
    if (menuBar) {
      if (widget->layout()) {
        widget->layout()->setMenuBar(menuBar);
      } else {
        menuBar->setGeometry(0, 0, widget->width(), menuBar->sizeHint().height());
      }
    }
  }
  auto* window = new OpaqueWindowPtr;
  window->widget = widget.get();
  gWindows.push_back(window);
  ConnectCommands(widget.get(), menuBar);
  widget->installEventFilter(new CloseBoxFilter(widget.get()));
  widget.release();
  *outWindow = window;
  return noErr;
}

void ShowWindow(WindowRef window) {
  if (!IsLive(window) || !window->widget) return;
  window->widget->show();
  window->widget->raise();
  window->widget->activateWindow();
}

void DisposeWindow(WindowRef window) {
  if (!IsLive(window)) return;
  gWindows.erase(std::find(gWindows.begin(), gWindows.end(), window));
  window->disposed = true;
  if (window->widget) {
    window->widget->hide();
    // The call may come from a signal of one of the window's own controls.
    window->widget->deleteLater();
  }
  if (window->busy == 0) delete window;
}

OSStatus InstallWindowEventHandler(WindowRef window, EventHandlerUPP handler, ItemCount numTypes,
                                   const EventTypeSpec* list, void* userData,
                                   EventHandlerRef* outRef) {
  if (!IsLive(window) || !handler || (numTypes > 0 && !list)) return paramErr;
  window->handlers.push_back(
      {handler, std::vector<EventTypeSpec>(list, list + numTypes), userData});
  if (outRef) *outRef = nullptr;
  return noErr;
}

UInt32 GetEventClass(EventRef event) {
  return event ? event->eventClass : 0;
}

UInt32 GetEventKind(EventRef event) {
  return event ? event->eventKind : 0;
}

OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, ByteCount bufferSize,
                           ByteCount* outActualSize, void* outData) {
  if (!event) return paramErr;
  if (event->eventClass != kEventClassCommand || name != kEventParamDirectObject)
    return eventParameterNotFoundErr;
  if (desiredType != typeHICommand) return errAECoercionFail;
  if (outActualType) *outActualType = typeHICommand;
  if (outActualSize) *outActualSize = sizeof(HICommand);
  if (outData) {
    if (bufferSize < sizeof(HICommand)) return paramErr;
    std::memcpy(outData, &event->command, sizeof(HICommand));
  }
  return noErr;
}

OSStatus ProcessWindowCommand(WindowRef window, UInt32 commandID, UInt32 attributes) {
  if (!IsLive(window)) return eventNotHandledErr;
  OSStatus result;
  {
    WindowUse use(window);
    OpaqueEventRef event{kEventClassCommand, kEventCommandProcess, {attributes, commandID, {}}};
    result = CallHandlers(window, &event);
    if (result == eventNotHandledErr) {
      if (commandID == kHICommandClose && !window->disposed) {
        SendWindowClose(window);
      } else if (commandID == kHICommandQuit) {
        QuitApplicationEventLoop();
      }
    }
  }
  EndWhenNoWindowIsLeft();
  return result;
}

namespace {

OSErr HandleQuitEvent(const AppleEvent*, AppleEvent*, SRefCon) {
  QuitApplicationEventLoop();
  return noErr;
}

}  // namespace

void RunApplicationEventLoop() {
  if (!qApp) return;
  QApplication::setQuitOnLastWindowClosed(false);
  std::unique_ptr<QSocketNotifier> appleEvents;
  if (AEInstallEventHandler(kCoreEventClass, kAEQuitApplication,
                            NewAEEventHandlerUPP(HandleQuitEvent), nullptr, false) == noErr) {
    int fd = AEGetEventDescriptor();
    if (fd >= 0) {
      appleEvents = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
      QObject::connect(appleEvents.get(), &QSocketNotifier::activated,
                       [] { AEProcessPendingEvents(); });
    }
  }
  QApplication::exec();
  appleEvents.reset();
  AERemoveEventHandler(kCoreEventClass, kAEQuitApplication, NewAEEventHandlerUPP(HandleQuitEvent),
                       false);
  // Windows disposed of in the last moments are freed now rather than never.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void QuitApplicationEventLoop() {
  QCoreApplication::exit(0);
}

QString MainBundlePath() {
  QFileInfo program(QCoreApplication::applicationFilePath());
  QDir macOS = program.absoluteDir();
  if (macOS.dirName() != QStringLiteral("MacOS") || !macOS.cdUp() ||
      macOS.dirName() != QStringLiteral("Contents") || !macOS.cdUp())
    return {};
  if (!macOS.dirName().endsWith(QStringLiteral(".app"))) return {};
  return macOS.absolutePath();
}

QUrl CopyBundleResource(const QString& bundlePath, const QString& name) {
  if (bundlePath.isEmpty() || name.isEmpty() || name.contains(QLatin1Char('/')) ||
      name == QStringLiteral(".") || name == QStringLiteral(".."))
    return {};
  QString path = bundlePath + QStringLiteral("/Contents/Resources/") + name;
  if (!QFileInfo::exists(path)) return {};
  return QUrl::fromLocalFile(path);
}

QString StringFromMacRoman(const char* text) {
  // The upper half of Mac OS Roman; the lower half is ASCII.
  static const char16_t kUpper[128] = {
      0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4,
      0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF,
      0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020,
      0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4,
      0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202,
      0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1,
      0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3,
      0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
      0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A,
      0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC,
      0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, 0x00AF,
      0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};
  QString result;
  if (!text) return result;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    result.append(QChar(*p < 0x80 ? char16_t(*p) : kUpper[*p - 0x80]));
  return result;
}

UInt32 CommandFromText(const QString& text) {
  if (text.size() != 4) return 0;
  UInt32 code = 0;
  for (QChar c : text) {
    if (c.unicode() == 0 || c.unicode() > 0xFF) return 0;
    code = (code << 8) | c.unicode();
  }
  return code;
}

void DisposeAllWindows() {
  while (!gWindows.empty()) DisposeWindow(gWindows.back());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QWidget* WindowWidget(WindowRef window) {
  return IsLive(window) ? window->widget.data() : nullptr;
}

int CountWindows() {
  return int(gWindows.size());
}

}  // namespace corvimus::toolbox
