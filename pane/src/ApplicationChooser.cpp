#include "ApplicationChooser.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Processes.h"

namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kSearchRole = Qt::UserRole + 1;

QIcon IconOf(const std::string& icon) {
  if (icon.empty()) return {};
  QString name = QString::fromStdString(icon);
  if (name.startsWith('/')) return QIcon(name);
  return QIcon::fromTheme(name);
}

}  // namespace

QStringList RunningApplicationNames() {
  QStringList names;
  ProcessSerialNumber psn = {0, kNoProcess};
  while (GetNextProcess(&psn) == noErr) {
    Str255 name;
    ProcessInfoRec info{};
    info.processInfoLength = sizeof info;
    info.processName = name;
    if (GetProcessInformation(&psn, &info) != noErr) continue;
    names << QString::fromUtf8(reinterpret_cast<const char*>(name + 1), name[0]);
  }
  return names;
}

ApplicationChooser::ApplicationChooser(QWidget* parent,
                                       const std::vector<corvimus::DesktopEntry>& entries,
                                       const QStringList& running)
    : QDialog(parent) {
  setObjectName("addPanel");
  setWindowTitle(tr("Select an Application"));
  auto* v = new QVBoxLayout(this);
  outletSearch = new QLineEdit;
  outletSearch->setObjectName("outletSearch");
  outletSearch->setPlaceholderText(tr("Search"));
  outletSearch->setClearButtonEnabled(true);
  v->addWidget(outletSearch);
  outletList = new QListWidget;
  outletList->setObjectName("outletList");
  outletList->setIconSize(QSize(24, 24));
  outletList->setMinimumSize(360, 320);
  v->addWidget(outletList);

  // Running applications first, then the rest, each part by name.
  struct Row {
    bool running;
    QString name, id;
    const corvimus::DesktopEntry* entry;
  };
  std::vector<Row> rows;
  for (const auto& e : entries) {
    if (e.noDisplay) continue;
    QString id = QString::fromStdString(e.id);
    QString name = e.name.empty() ? id : QString::fromStdString(e.name);
    rows.push_back({running.contains(id, Qt::CaseInsensitive), name, id, &e});
  }
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    if (a.running != b.running) return a.running;
    return QString::localeAwareCompare(a.name, b.name) < 0;
  });
  for (const Row& r : rows) {
    auto* item = new QListWidgetItem(IconOf(r.entry->icon), r.name);
    item->setData(kIdRole, r.id);
    item->setData(kSearchRole, (r.name + "\n" + r.id).toCaseFolded());
    item->setToolTip(r.running ? tr("%1 (running)").arg(r.id) : r.id);
    if (r.running) {
      QFont bold = item->font();
      bold.setBold(true);
      item->setFont(bold);
    }
    outletList->addItem(item);
  }
  if (outletList->count() > 0) outletList->setCurrentRow(0);

  auto* buttons = new QDialogButtonBox;
  outletOther = buttons->addButton(tr("Other…"), QDialogButtonBox::ActionRole);
  outletOther->setObjectName("outletOther");
  auto* add = buttons->addButton(tr("Add"), QDialogButtonBox::AcceptRole);
  add->setObjectName("ok");
  add->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel)->setObjectName("cancel");
  v->addWidget(buttons);

  connect(outletSearch, &QLineEdit::textChanged, this, &ApplicationChooser::Filter);
  connect(outletList, &QListWidget::itemActivated, this, [this] { accept(); });
  connect(buttons, &QDialogButtonBox::accepted, this, &ApplicationChooser::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(outletOther, &QPushButton::clicked, this, [this] {
    fChosen.clear();
    QDialog::reject();
    emit otherRequested();
  });
}

QStringList ApplicationChooser::ShownIds() const {
  QStringList ids;
  for (int i = 0; i < outletList->count(); ++i)
    if (!outletList->item(i)->isHidden()) ids << outletList->item(i)->data(kIdRole).toString();
  return ids;
}

void ApplicationChooser::Filter(const QString& text) {
  QString folded = text.trimmed().toCaseFolded();
  QListWidgetItem* first = nullptr;
  for (int i = 0; i < outletList->count(); ++i) {
    QListWidgetItem* item = outletList->item(i);
    bool shown = folded.isEmpty() || item->data(kSearchRole).toString().contains(folded);
    item->setHidden(!shown);
    if (shown && !first) first = item;
  }
  if (first && (!outletList->currentItem() || outletList->currentItem()->isHidden()))
    outletList->setCurrentItem(first);
}

void ApplicationChooser::accept() {
  QListWidgetItem* item = outletList->currentItem();
  if (!item || item->isHidden()) return;
  fChosen = item->data(kIdRole).toString();
  QDialog::accept();
}
