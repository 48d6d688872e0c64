// The preference-pane plug-in interface: the base class every pane derives from, the bundle it was
// loaded from, and the one function a pane's shared library exports.
//
// A pane bundle is a folder "<Name>.prefPane" laid out as
//   Contents/Info.plist           CFBundleExecutable, CFBundleIdentifier, CFBundleName,
//                                 NSPrincipalClass, NSPrefPaneIconLabel
//   Contents/MacOS/<executable>   a shared library exporting kPreferencePaneFactoryName
//   Contents/Resources/           the pane's resources (<lang>.lproj/*.strings and so on)
//
// The host calls, in this order: loadMainView() once (which builds the view and then runs
// mainViewDidLoad), then didSelect() each time the pane is shown and willUnselect() each time it is
// left, always in pairs.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace corvimus::prefpane {

// What the host knows of a pane bundle, read from its Info.plist.
struct PaneBundle {
  QString path;            // the bundle folder itself
  QString executableName;  // CFBundleExecutable
  QString identifier;      // CFBundleIdentifier
  QString name;            // CFBundleName, else the folder's name without ".prefPane"
  QString iconLabel;       // NSPrefPaneIconLabel, else name
  QString principalClass;  // NSPrincipalClass

  QString contentsPath() const { return path + "/Contents"; }
  QString resourcePath() const { return path + "/Contents/Resources"; }
  QString executablePath() const { return path + "/Contents/MacOS/" + executableName; }
};

// Reads "<path>/Contents/Info.plist" (XML or binary). False, with a reason, when the folder is not
// a pane bundle: no Info.plist, an unreadable one, or no CFBundleExecutable.
bool ReadPaneBundle(const QString& path, PaneBundle* bundle, QString* error);

class PreferencePane : public QObject {
  Q_OBJECT
 public:
  explicit PreferencePane(const PaneBundle& bundle, QObject* parent = nullptr);
  ~PreferencePane() override;

  const PaneBundle& bundle() const { return fBundle; }

  // Builds the main view on the first call and runs mainViewDidLoad; later calls return it.
  QWidget* loadMainView();
  QWidget* mainView() const { return fMainView; }

  virtual void mainViewDidLoad() {}
  virtual void didSelect() {}
  virtual void willUnselect() {}

  // Pictures of the pane for its documentation (the host's --screenshots): the states of the view
  // worth a picture beyond its tabs and sheets, by name. showScreenshotState(i) brings state i
  // about; showScreenshotState(-1) puts back what the user had, so that nothing shown for a picture
  // is ever saved.
  virtual QStringList screenshotStates() { return {}; }
  virtual void showScreenshotState(int index) { (void)index; }

 protected:
  // The pane's interface; the host takes ownership by reparenting it into its window.
  virtual QWidget* createMainView() = 0;

 private:
  PaneBundle fBundle;
  QPointer<QWidget> fMainView;
  bool fLoaded = false;
};

// The factory a pane library exports with C linkage. The pane is owned by the caller.
using PreferencePaneFactoryProc = PreferencePane* (*)(const PaneBundle* bundle);
inline constexpr char kPreferencePaneFactoryName[] = "CreatePreferencePane";

// Loads the bundle's executable and creates its pane. Null, with a reason, when the bundle cannot
// be read, the library cannot be loaded, it lacks the factory or the factory returns nothing. The
// library stays loaded for the life of the process: Qt classes of a pane may be referenced from
// queued events after the pane is gone.
PreferencePane* LoadPreferencePane(const QString& bundlePath, QString* error);

// The ".prefPane" bundles directly inside each folder, in folder order and by name within a folder;
// a missing folder is skipped.
QStringList FindPreferencePaneBundles(const QStringList& folders);

}  // namespace corvimus::prefpane

// A pane's library defines its factory with this, naming its principal class:
//   CORVIMUS_PREFERENCE_PANE(CorvimusPane)
#define CORVIMUS_PREFERENCE_PANE(PaneClass)                                             \
  extern "C" __attribute__((visibility("default"))) corvimus::prefpane::PreferencePane* \
  CreatePreferencePane(const corvimus::prefpane::PaneBundle* bundle) {                  \
    return bundle ? new PaneClass(*bundle) : nullptr;                                   \
  }
