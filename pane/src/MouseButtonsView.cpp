#include "MouseButtonsView.h"

#include <QFile>
#include <map>
#include <string>

#include "CorvimusPane.h"
#include "platform/Resources.h"

MouseButtonsViewItem::MouseButtonsViewItem(const QString& text, MouseButtonsViewItem* parent,
                                           int numLevel, int numIndex)
    : cellText(text), fParent(parent), fSubLevel(numLevel), fSubIndex(numIndex) {}

MouseButtonsViewItem::~MouseButtonsViewItem() {
  qDeleteAll(fChildren);
}

MouseButtonsViewItem* MouseButtonsViewItem::childAtIndex(int i) const {
  return i >= 0 && i < fChildren.size() ? fChildren[i] : nullptr;
}

namespace {

// The "MouseButtonsView" strings table of a resource folder, from the first folder of the user's
// languages that has one; empty when none has or the file does not follow the strings format.
std::map<std::string, std::string> LoadButtonsTable(const QString& resourcePath) {
  std::map<std::string, std::string> entries;
  std::string path =
      corvimus::FindLocalizedResource(resourcePath.toStdString(), "MouseButtonsView.strings");
  QFile file(QString::fromStdString(path));
  if (path.empty() || !file.open(QIODevice::ReadOnly)) return entries;
  // A table is a few hundred bytes; anything near a megabyte is not one of ours.
  QByteArray bytes = file.read(1 << 20);
  corvimus::ParseStringsTable(bytes.toStdString(), &entries);
  return entries;
}

}  // namespace

MouseButtonsViewItem* MouseButtonsViewItem::BuildRootItem(const QString& resourcePath) {
  auto* root = new MouseButtonsViewItem("root", nullptr, 0, 0);
  root->fChildren.reserve(32);
  std::map<std::string, std::string> strings = LoadButtonsTable(resourcePath);
  for (int n = 1;; ++n) {
    QString key = QString("list%1").arg(n);
    auto found = strings.find(key.toStdString());
    QString s = found == strings.end() ? QString() : QString::fromStdString(found->second);
    if (s.isEmpty() || s.compare(key, Qt::CaseInsensitive) == 0) break;
    // Two identifier characters, a separator, then the label: a shorter value cannot be a row, and
    // taken as the end of the list like a missing one.
    if (s.size() < 3) break;
    auto* item = new MouseButtonsViewItem(s.mid(3), root, root->fSubLevel + 1, n - 1);
    root->fChildren.append(item);
    item->fIsLeaf = true;
    item->controlID = UInt16((s[0].unicode() << 8) | s[1].unicode());
  }
  return root;
}

namespace {

// The resources of the bundle this code was loaded from. When the code is linked into a program
// that is no bundle, the shown pane's bundle stands in.
QString OwnResourcePath() {
  std::string bundle = corvimus::BundleForCode(reinterpret_cast<const void*>(&OwnResourcePath));
  if (!bundle.empty()) return QString::fromStdString(bundle) + "/Contents/Resources";
  return gCorvimus ? gCorvimus->bundle().resourcePath() : QString();
}

}  // namespace

MouseButtonsViewItem* MouseButtonsViewItem::rootItem() {
  static MouseButtonsViewItem* root = BuildRootItem(OwnResourcePath());
  return root;
}

MouseButtonsView::MouseButtonsView(MouseButtonsViewItem* root, QObject* parent)
    : QAbstractItemModel(parent), fRoot(root) {}

MouseButtonsViewItem* MouseButtonsView::itemForIndex(const QModelIndex& index) const {
  return index.isValid() ? static_cast<MouseButtonsViewItem*>(index.internalPointer()) : fRoot;
}

QModelIndex MouseButtonsView::index(int row, int column, const QModelIndex& parent) const {
  MouseButtonsViewItem* p = itemForIndex(parent);
  MouseButtonsViewItem* child = p ? p->childAtIndex(row) : nullptr;
  return child && column == 0 ? createIndex(row, 0, child) : QModelIndex();
}

QModelIndex MouseButtonsView::parent(const QModelIndex& child) const {
  MouseButtonsViewItem* item = itemForIndex(child);
  if (!child.isValid() || !item || !item->parent() || item->parent() == fRoot) return {};
  return createIndex(item->parent()->subIndex(), 0, item->parent());
}

int MouseButtonsView::rowCount(const QModelIndex& parent) const {
  MouseButtonsViewItem* item = itemForIndex(parent);
  return item && item->numberOfChildren() > 0 ? item->numberOfChildren() : 0;
}

int MouseButtonsView::columnCount(const QModelIndex&) const {
  return 1;
}

bool MouseButtonsView::hasChildren(const QModelIndex& parent) const {
  MouseButtonsViewItem* item = itemForIndex(parent);
  return item && item->numberOfChildren() != -1 && item->numberOfChildren() > 0;
}

QVariant MouseButtonsView::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  return itemForIndex(index)->getCellText();
}

Qt::ItemFlags MouseButtonsView::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;  // never editable
}

void MouseButtonsView::outlineViewSelectionDidChange() {
  if (gCorvimus) gCorvimus->actionPrefsList();
}
