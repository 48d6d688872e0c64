#include "prefpane/PreferencePane.h"

#include <plist/plist.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <memory>

namespace corvimus::prefpane {

namespace {

QString StringForKey(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node || plist_get_node_type(node) != PLIST_STRING) return {};
  char* value = nullptr;
  plist_get_string_val(node, &value);
  QString result = value ? QString::fromUtf8(value) : QString();
  free(value);
  return result;
}

}  // namespace

bool ReadPaneBundle(const QString& path, PaneBundle* bundle, QString* error) {
  auto fail = [&](const QString& why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  if (!bundle) return fail("no bundle record");
  QFile file(path + "/Contents/Info.plist");
  if (!file.open(QIODevice::ReadOnly)) return fail("no Contents/Info.plist");
  QByteArray bytes = file.read(1 << 20);
  if (bytes.isEmpty()) return fail("empty Info.plist");
  plist_t root = nullptr;
  plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
  std::unique_ptr<void, void (*)(plist_t)> owner(root, plist_free);
  if (!root || plist_get_node_type(root) != PLIST_DICT)
    return fail("Info.plist is not a dictionary");

  PaneBundle b;
  b.path = QFileInfo(path).absoluteFilePath();
  b.executableName = StringForKey(root, "CFBundleExecutable");
  if (b.executableName.isEmpty() || b.executableName.contains('/'))
    return fail("Info.plist names no usable CFBundleExecutable");
  b.identifier = StringForKey(root, "CFBundleIdentifier");
  b.name = StringForKey(root, "CFBundleName");
  if (b.name.isEmpty()) {
    b.name = QFileInfo(b.path).fileName();
    if (b.name.endsWith(".prefPane", Qt::CaseInsensitive)) b.name.chop(9);
  }
  b.iconLabel = StringForKey(root, "NSPrefPaneIconLabel");
  if (b.iconLabel.isEmpty()) b.iconLabel = b.name;
  b.principalClass = StringForKey(root, "NSPrincipalClass");
  *bundle = b;
  return true;
}

PreferencePane::PreferencePane(const PaneBundle& bundle, QObject* parent)
    : QObject(parent), fBundle(bundle) {}

PreferencePane::~PreferencePane() {
  // The view belongs to whoever holds it now (the host's window), unless nobody took it.
  if (fMainView && !fMainView->parent()) delete fMainView;
}

QWidget* PreferencePane::loadMainView() {
  if (!fLoaded) {
    fLoaded = true;
    fMainView = createMainView();
    if (fMainView) mainViewDidLoad();
  }
  return fMainView;
}

PreferencePane* LoadPreferencePane(const QString& bundlePath, QString* error) {
  PaneBundle bundle;
  if (!ReadPaneBundle(bundlePath, &bundle, error)) return nullptr;
  // Heap-allocated and never deleted on purpose: unloading a Qt plug-in while its objects or
  // metatypes may still be referenced is not safe.
  auto* library = new QLibrary(bundle.executablePath());
  library->setLoadHints(QLibrary::ResolveAllSymbolsHint);
  if (!library->load()) {
    if (error) *error = bundlePath + ": " + library->errorString();
    delete library;
    return nullptr;
  }
  auto factory =
      reinterpret_cast<PreferencePaneFactoryProc>(library->resolve(kPreferencePaneFactoryName));
  if (!factory) {
    if (error) *error = bundlePath + ": the library exports no " + kPreferencePaneFactoryName;
    return nullptr;
  }
  PreferencePane* pane = factory(&bundle);
  if (!pane && error) *error = bundlePath + ": the pane could not be created";
  return pane;
}

QStringList FindPreferencePaneBundles(const QStringList& folders) {
  QStringList found;
  for (const QString& folder : folders) {
    QDir dir(folder);
    if (!dir.exists()) continue;
    const QStringList names =
        dir.entryList({"*.prefPane"}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) found << dir.absoluteFilePath(name);
  }
  return found;
}

}  // namespace corvimus::prefpane
