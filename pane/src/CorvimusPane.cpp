#include "CorvimusPane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>
#include <functional>
#include <memory>

#include "ApplicationChooser.h"
#include "KeyLabels.h"
#include "MouseButtonsView.h"
#include "PaneTables.h"
#include "loginitems/Aliases.h"
#include "loginitems/LoginItems.h"
#include "platform/FileRefs.h"
#include "platform/Folders.h"
#include "platform/FrontSwitch.h"
#include "platform/Resources.h"
#include "platform/TextUtils.h"
#include "recordbase/PStrings.h"
#include "settings/ApplicationRecord.h"
#include "settings/CommandTable.h"
#include "settings/KeyNames.h"
#include "settings/MouseSettings.h"
#include "settings/PaneAgentEvents.h"
#include "settings/Version.h"

CorvimusPane* gCorvimus = nullptr;

namespace {

const char kVendorHost[] = "http://www.kelvane.com";
const char kHelperBundleName[] = "CorvimusHelper.app";

// Pascal strings of the file and folder names, built fresh for each call: the settings routines
// may shorten the caller's copy.
struct PName {
  Str255 s;
  explicit PName(const char* c) { CStringPCopy(c, s, 255); }
};

// Key names hold what keys type as Latin-1 bytes.
QString FromPString(const unsigned char* p, int max) {
  int n = p[0] > max ? max : p[0];
  return QString::fromLatin1(reinterpret_cast<const char*>(p + 1), n);
}

// Application names are stored in the system's 8-bit encoding, which here is UTF-8.
QString AppNameText(const unsigned char* p) {
  int n = p[0] > 31 ? 31 : p[0];
  return QString::fromUtf8(reinterpret_cast<const char*>(p + 1), n);
}

// A file error in the words of a message.
QString FileProblem(OSErr err) {
  const char* what = DescribeFileError(err);
  return what ? QString::fromUtf8(what) : QString("error %1").arg(err);
}

void SelectComboRow(QComboBox* combo, int row) {
  QSignalBlocker block(combo);
  combo->setCurrentIndex(row);
}

void SetComboItemEnabled(QComboBox* combo, int row, bool enabled) {
  if (auto* model = qobject_cast<QStandardItemModel*>(combo->model()))
    if (QStandardItem* item = model->item(row)) item->setEnabled(enabled);
}

// Fills a pop-up from titles; an empty title is a separator row, so that rows keep the positions
// of the menu tables.
void FillCombo(QComboBox* combo, const QStringList& titles) {
  for (const QString& t : titles) {
    if (t.isEmpty())
      combo->insertSeparator(combo->count());
    else
      combo->addItem(t);
  }
}

// The titles of a menu table's rows: each command's name from the one table of commands, the
// action pop-up's groups by what they hold, separators kept, so that rows keep their positions.
QStringList MenuTitles(const SInt16* table) {
  QStringList titles;
  for (int i = 0; table[i] != kMenuEnd; ++i) {
    QString title;
    switch (table[i]) {
      case kMenuSeparator:
        break;
      case kMenuClickGroup:
        title = CorvimusPane::tr("Click");
        break;
      case kMenuSpecialKeyGroup:
        title = CorvimusPane::tr("Special key");
        break;
      case kMenuScrollGroup:
        title = CorvimusPane::tr("Scroll");
        break;
      default:
        if (const CommandInfo* info = FindCommand(UInt16(table[i])))
          title = CommandTableText(info->name);
        break;
    }
    titles << title;
  }
  return titles;
}

// The choosers of the pane. A file panel opens a folder rather than choosing it; here a folder that
// `choosable` accepts is chosen by selecting it and pressing Open, or (for a bundle) by entering
// it.
class ChooserPanel : public QFileDialog {
 public:
  ChooserPanel(QWidget* parent, const QString& title, std::function<bool(const QString&)> choosable)
      : QFileDialog(parent, title), fChoosable(std::move(choosable)) {}
  QString ChosenPath() const { return fFolder.isEmpty() ? selectedFiles().value(0) : fFolder; }

  void accept() override {
    QString path = selectedFiles().value(0);
    if (QFileInfo(path).isDir() && fChoosable(path)) {
      fFolder = path;
      QDialog::accept();
      return;
    }
    QFileDialog::accept();
    QString entered = directory().absolutePath();
    if (isVisible() && IsBundle(entered) && fChoosable(entered)) {
      fFolder = entered;
      QDialog::accept();
    }
  }

  static bool IsBundle(const QString& path) {
    return path.endsWith(".app", Qt::CaseInsensitive) &&
           QFileInfo::exists(path + "/Contents/Info.plist");
  }

 private:
  std::function<bool(const QString&)> fChoosable;
  QString fFolder;
};

}  // namespace

// ---- Construction and the interface ------------------------------------------------------------

CorvimusPane::CorvimusPane(const corvimus::prefpane::PaneBundle& bundle, QObject* parent)
    : PreferencePane(bundle, parent) {}

CorvimusPane::~CorvimusPane() {
  if (gCorvimus == this) gCorvimus = nullptr;
  QBaseDispose(fSettingsBase);
}

QWidget* CorvimusPane::createMainView() {
  // The pane's words and the table's names in the user's language, before the first is used.
  for (const char* catalogue : {"Corvimus.qm", "CommandTable.qm"}) {
    std::string qm =
        corvimus::FindLocalizedResource(bundle().resourcePath().toStdString(), catalogue);
    auto translator = std::make_unique<QTranslator>();
    if (qm.empty() || !translator->load(QString::fromStdString(qm))) continue;
    QCoreApplication::installTranslator(translator.get());
    fTranslators.push_back(std::move(translator));
  }
  auto* view = new QWidget;
  view->setObjectName("CorvimusPane");
  auto* top = new QVBoxLayout(view);

  outletWindowTabs = new QTabWidget(view);
  top->addWidget(outletWindowTabs);

  // Settings tab: target row, buttons and tracking tabs, Apply and Revert.
  auto* settings = new QWidget;
  auto* sv = new QVBoxLayout(settings);
  auto* targetRow = new QHBoxLayout;
  targetRow->addWidget(new QLabel(tr("Settings for:")));
  outletPrefsTarget = new QComboBox;
  outletPrefsTarget->setMinimumWidth(220);
  FillCombo(outletPrefsTarget, {tr("All applications"), QString()});
  targetRow->addWidget(outletPrefsTarget);
  outletPrefsAdd = new QPushButton(tr("Add…"));
  outletPrefsDelete = new QPushButton(tr("Remove"));
  targetRow->addWidget(outletPrefsAdd);
  targetRow->addWidget(outletPrefsDelete);
  targetRow->addStretch();
  outletPrefsDisable = new QCheckBox(tr("Turn off for this application"));
  targetRow->addWidget(outletPrefsDisable);
  sv->addLayout(targetRow);
  // Shown only where the desktop cannot tell the front application without our help.
  auto* noteRow = new QHBoxLayout;
  outletFrontSourceNote = new QLabel;
  outletFrontSourceNote->setWordWrap(true);
  outletFrontSourceEnable = new QPushButton(tr("Enable"));
  noteRow->addWidget(outletFrontSourceNote, 1);
  noteRow->addWidget(outletFrontSourceEnable);
  sv->addLayout(noteRow);

  outletPrefsTabs = new QTabWidget;
  sv->addWidget(outletPrefsTabs);

  // Buttons: the outline and the action editor.
  auto* buttons = new QWidget;
  auto* bh = new QHBoxLayout(buttons);
  outletPrefsList = new QTreeView;
  outletPrefsList->setHeaderHidden(true);
  outletPrefsList->setRootIsDecorated(false);
  outletPrefsList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  outletPrefsList->setSelectionMode(QAbstractItemView::SingleSelection);
  outletPrefsList->setMinimumWidth(200);
  bh->addWidget(outletPrefsList, 2);

  auto* editor = new QGroupBox(tr("Action"));
  auto* ev = new QVBoxLayout(editor);
  outletPrefsAction = new QComboBox;
  FillCombo(outletPrefsAction, MenuTitles(gActionMenuCommands));
  ev->addWidget(outletPrefsAction);
  outletPrefsActionTabs = new QStackedWidget;
  ev->addWidget(outletPrefsActionTabs);
  ev->addStretch();
  bh->addWidget(editor, 3);

  auto modifierBoxes = [](QGridLayout* grid, int row, QCheckBox** control, QCheckBox** option,
                          QCheckBox** shift, QCheckBox** command, QCheckBox** caps,
                          QCheckBox** space) {
    *control = new QCheckBox(ModifierLabel(controlKey));
    *option = new QCheckBox(ModifierLabel(optionKey));
    *shift = new QCheckBox(ModifierLabel(shiftKey));
    *command = new QCheckBox(ModifierLabel(cmdKey));
    *caps = new QCheckBox(ModifierLabel(alphaLock));
    *space = new QCheckBox(ModifierLabel(kCorvimusSpaceKey));
    grid->addWidget(*control, row, 0);
    grid->addWidget(*option, row, 1);
    grid->addWidget(*shift, row, 2);
    grid->addWidget(*command, row + 1, 0);
    grid->addWidget(*caps, row + 1, 1);
    grid->addWidget(*space, row + 1, 2);
  };

  outletPrefsActionTabs->addWidget(new QWidget);  // 0: no details
  {
    auto* page = new QWidget;  // 1: click
    auto* g = new QGridLayout(page);
    outletPrefsClickType = new QComboBox;
    FillCombo(outletPrefsClickType, MenuTitles(gClickTypeCommands));
    g->addWidget(outletPrefsClickType, 0, 0, 1, 3);
    g->addWidget(new QLabel(tr("Keys held while clicking:")), 1, 0, 1, 3);
    modifierBoxes(g, 2, &outletPrefsClkControl, &outletPrefsClkOption, &outletPrefsClkShift,
                  &outletPrefsClkCommand, &outletPrefsClkCaps, &outletPrefsClkSpace);
    outletPrefsActionTabs->addWidget(page);
  }
  {
    auto* page = new QWidget;  // 2: keystroke
    auto* g = new QGridLayout(page);
    outletPrefsKeystroke = new QLineEdit;
    outletPrefsKeystroke->setReadOnly(true);
    outletPrefsKeystroke->setPlaceholderText(tr("Click here, then press the keys"));
    g->addWidget(new QLabel(tr("Keystroke:")), 0, 0);
    g->addWidget(outletPrefsKeystroke, 0, 1, 1, 2);
    modifierBoxes(g, 1, &outletPrefsKeyControl, &outletPrefsKeyOption, &outletPrefsKeyShift,
                  &outletPrefsKeyCommand, &outletPrefsKeyCaps, &outletPrefsKeySpace);
    outletPrefsMoreKeys = new QComboBox;
    QStringList more = {tr("More keys"), QString()};
    for (int row = 2; row < gMoreKeysCount; ++row) more << KeyLabel(gMoreKeysCodes[row]);
    FillCombo(outletPrefsMoreKeys, more);
    g->addWidget(outletPrefsMoreKeys, 3, 0, 1, 3);
    outletPrefsActionTabs->addWidget(page);
  }
  {
    auto* page = new QWidget;  // 3: special key
    auto* v = new QVBoxLayout(page);
    outletPrefsSpecialKeys = new QComboBox;
    FillCombo(outletPrefsSpecialKeys, MenuTitles(gSpecialKeyCommands));
    v->addWidget(outletPrefsSpecialKeys);
    v->addStretch();
    outletPrefsActionTabs->addWidget(page);
  }
  {
    auto* page = new QWidget;  // 4: scroll
    auto* f = new QFormLayout(page);
    outletPrefsScrollDir = new QComboBox;
    QStringList directions;
    for (int d = 0; d < 4; ++d) directions << CommandTableText(ScrollDirectionName(d));
    FillCombo(outletPrefsScrollDir, directions);
    outletPrefsScrollCount = new QComboBox;
    QStringList counts = {tr("1 line"), tr("1 page"), tr("To the end")};
    for (int v : {2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 20, 25, 30}) counts << tr("%1 lines").arg(v);
    FillCombo(outletPrefsScrollCount, counts);
    f->addRow(tr("Direction:"), outletPrefsScrollDir);
    f->addRow(tr("Amount:"), outletPrefsScrollCount);
    outletPrefsActionTabs->addWidget(page);
  }
  {
    auto* page = new QWidget;  // 5: open item
    auto* h = new QHBoxLayout(page);
    outletPrefsItemToOpen = new QLineEdit;
    outletPrefsItemToOpen->setReadOnly(true);
    outletPrefsBrowse = new QPushButton(tr("Choose…"));
    h->addWidget(outletPrefsItemToOpen);
    h->addWidget(outletPrefsBrowse);
    outletPrefsActionTabs->addWidget(page);
  }
  outletPrefsTabs->addTab(buttons, tr("Buttons"));

  // Tracking: speed and acceleration.
  auto* tracking = new QWidget;
  auto* tg = new QGridLayout(tracking);
  outletPrefsCustomSpeed = new QCheckBox(tr("Custom tracking speed"));
  outletPrefsSpeedValue = new QSlider(Qt::Horizontal);
  outletPrefsCustomAcc = new QCheckBox(tr("Custom acceleration"));
  outletPrefsAccValue = new QSlider(Qt::Horizontal);
  for (QSlider* s : {outletPrefsSpeedValue, outletPrefsAccValue}) {
    s->setRange(0, 100);
    s->setTickPosition(QSlider::TicksBelow);
    s->setTickInterval(10);
  }
  tg->addWidget(outletPrefsCustomSpeed, 0, 0);
  tg->addWidget(new QLabel(tr("Slow")), 1, 0);
  tg->addWidget(outletPrefsSpeedValue, 1, 1);
  tg->addWidget(new QLabel(tr("Fast")), 1, 2);
  tg->addWidget(outletPrefsCustomAcc, 2, 0);
  tg->addWidget(new QLabel(tr("None")), 3, 0);
  tg->addWidget(outletPrefsAccValue, 3, 1);
  tg->addWidget(new QLabel(tr("Strong")), 3, 2);
  tg->setRowStretch(4, 1);
  outletPrefsTabs->addTab(tracking, tr("Tracking"));

  auto* applyRow = new QHBoxLayout;
  applyRow->addStretch();
  outletPrefsRevert = new QPushButton(tr("Revert"));
  outletPrefsApply = new QPushButton(tr("Apply"));
  applyRow->addWidget(outletPrefsRevert);
  applyRow->addWidget(outletPrefsApply);
  sv->addLayout(applyRow);
  outletWindowTabs->addTab(settings, tr("Settings"));

  // Info tab: what runs and what is in force now, refreshed while the pane is shown.
  auto* info = new QWidget;
  auto* iv = new QVBoxLayout(info);
  auto* facts = new QFormLayout;
  facts->setLabelAlignment(Qt::AlignRight);
  auto fact = [facts](const QString& title) {
    auto* value = new QLabel(tr("Asking the agent…"));
    value->setWordWrap(true);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    facts->addRow(title, value);
    return value;
  };
  outletInfoVersion = fact(tr("Version:"));
  outletInfoVersion->setText(tr("Mouse Buttons %1").arg(CorvimusVersionString()));
  outletInfoAgent = fact(tr("Agent (CorvimusHelper):"));
  outletInfoDriver = fact(tr("Driver:"));
  outletInfoMice = fact(tr("Mice:"));
  outletInfoCountBth = fact(tr("Bluetooth mice:"));
  outletInfoCountBth->setText(tr("unknown"));
  outletInfoFront = fact(tr("Application in front:"));
  outletInfoRecord = fact(tr("Settings in force:"));
  iv->addLayout(facts);
  iv->addStretch();
  outletInfoUserGuide = new QPushButton(tr("Help with Bluetooth mice"));
  outletInfoURL = new QPushButton(tr("Visit the web site"));
  outletInfoFrontSource = new QLabel;
  outletInfoFrontSource->setAlignment(Qt::AlignHCenter);
  outletInfoFrontSource->setWordWrap(true);
  iv->addWidget(outletInfoFrontSource);
  iv->addWidget(outletInfoUserGuide, 0, Qt::AlignHCenter);
  iv->addWidget(outletInfoURL, 0, Qt::AlignHCenter);
  outletWindowTabs->addTab(info, tr("Info"));

  // The sheets. One that only tells something has nothing to cancel.
  auto makeSheet = [view](const QString& name, const QString& text, const QString& ok,
                          QLabel** extra, bool cancellable) {
    auto* sheet = new QDialog(view);
    sheet->setObjectName(name);
    sheet->setWindowModality(Qt::WindowModal);
    auto* v = new QVBoxLayout(sheet);
    if (extra) {
      *extra = new QLabel;
      QFont bold = (*extra)->font();
      bold.setBold(true);
      (*extra)->setFont(bold);
      v->addWidget(*extra);
    }
    auto* label = new QLabel(text);
    label->setObjectName("message");
    label->setWordWrap(true);
    v->addWidget(label);
    auto* buttons = new QDialogButtonBox;
    auto* okButton = buttons->addButton(ok, QDialogButtonBox::AcceptRole);
    okButton->setObjectName("ok");
    okButton->setDefault(true);
    QPushButton* cancelButton = nullptr;
    if (cancellable) {
      cancelButton = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
      cancelButton->setObjectName("cancel");
    }
    v->addWidget(buttons);
    return std::make_tuple(sheet, okButton, cancelButton);
  };
  auto [clickSheet, clickOK, clickCancel] = makeSheet(
      "outletMainClickAlert",
      tr("The left button clicks again. One of the left, right and middle buttons must always "
         "click, or nothing could be clicked any more."),
      tr("OK"), nullptr, false);
  auto [deleteSheet, deleteOK, deleteCancel] =
      makeSheet("outletDeleteAlert", QString(), tr("Remove"), &outletDeleteName, true);
  auto [problemSheet, problemOK, problemCancel] = makeSheet(
      "outletProblemAlert", tr("The settings were not saved."), tr("OK"), &outletProblemText,
      false);  // there is nothing to choose, only something to know
  outletProblemText->setWordWrap(true);
  outletMainClickAlert = clickSheet;
  outletMainClickAlert->setWindowTitle(tr("The left button clicks again"));
  outletDeleteAlert = deleteSheet;
  fDeleteMessage = outletDeleteAlert->findChild<QLabel*>("message");
  outletProblemAlert = problemSheet;
  for (QPushButton* b : {clickOK, deleteOK, problemOK})
    connect(b, &QPushButton::clicked, this, [this] { actionAlertOK(); });
  connect(deleteCancel, &QPushButton::clicked, this, [this] { actionAlertCancel(); });

  // Control actions. Only what the user does triggers them: activated and clicked are not sent
  // when GetUIFromPrefs sets a control, and the sliders are blocked while it does.
  connect(outletPrefsApply, &QPushButton::clicked, this, [this] { actionPrefsApply(); });
  connect(outletPrefsRevert, &QPushButton::clicked, this, [this] { actionPrefsRevert(); });
  connect(outletPrefsTarget, &QComboBox::activated, this, [this] { actionPrefsTarget(); });
  connect(outletPrefsAdd, &QPushButton::clicked, this, [this] { actionPrefsAdd(); });
  connect(outletPrefsDelete, &QPushButton::clicked, this, [this] { actionPrefsRemove(); });
  connect(outletPrefsDisable, &QCheckBox::clicked, this, [this] { actionPrefsDisable(); });
  connect(outletPrefsCustomSpeed, &QCheckBox::clicked, this, [this] { actionPrefsCustomSpeed(); });
  connect(outletPrefsSpeedValue, &QSlider::valueChanged, this, [this] { actionPrefsSpeedValue(); });
  connect(outletPrefsCustomAcc, &QCheckBox::clicked, this, [this] { actionPrefsCustomAcc(); });
  connect(outletPrefsAccValue, &QSlider::valueChanged, this, [this] { actionPrefsAccValue(); });
  connect(outletPrefsAction, &QComboBox::activated, this, [this] { actionPrefsAction(); });
  connect(outletPrefsClickType, &QComboBox::activated, this, [this] { actionPrefsClickType(); });
  connect(outletPrefsMoreKeys, &QComboBox::activated, this, [this] { actionPrefsMoreKeys(); });
  connect(outletPrefsSpecialKeys, &QComboBox::activated, this,
          [this] { actionPrefsSpecialKeys(); });
  connect(outletPrefsScrollDir, &QComboBox::activated, this, [this] { actionPrefsScrollDir(); });
  connect(outletPrefsScrollCount, &QComboBox::activated, this,
          [this] { actionPrefsScrollCount(); });
  connect(outletPrefsBrowse, &QPushButton::clicked, this, [this] { actionPrefsBrowse(); });
  connect(outletInfoUserGuide, &QPushButton::clicked, this, [this] { actionInfoSupport(); });
  connect(outletInfoURL, &QPushButton::clicked, this, [this] { actionInfoURL(); });
  connect(outletFrontSourceEnable, &QPushButton::clicked, this,
          [this] { actionFrontSourceEnable(); });
  const std::pair<QCheckBox*, UInt16> modifierBits[] = {
      {outletPrefsClkControl, controlKey}, {outletPrefsClkOption, optionKey},
      {outletPrefsClkShift, shiftKey},     {outletPrefsClkCommand, cmdKey},
      {outletPrefsClkCaps, alphaLock},     {outletPrefsClkSpace, kCorvimusSpaceKey},
      {outletPrefsKeyControl, controlKey}, {outletPrefsKeyOption, optionKey},
      {outletPrefsKeyShift, shiftKey},     {outletPrefsKeyCommand, cmdKey},
      {outletPrefsKeyCaps, alphaLock},     {outletPrefsKeySpace, kCorvimusSpaceKey}};
  for (auto [box, bit] : modifierBits)
    connect(box, &QCheckBox::clicked, this, [this, box = box, bit = bit] {
      if (fActionIndex < 0) return;
      GetModifierState(bit, box);
      GetUIFromPrefs();
    });

  // Widgets carry their outlet names, for tests and for anyone inspecting the interface.
  const std::pair<QObject*, const char*> names[] = {
      {outletWindowTabs, "outletWindowTabs"},
      {outletPrefsApply, "outletPrefsApply"},
      {outletPrefsRevert, "outletPrefsRevert"},
      {outletPrefsTarget, "outletPrefsTarget"},
      {outletPrefsAdd, "outletPrefsAdd"},
      {outletPrefsDelete, "outletPrefsDelete"},
      {outletPrefsDisable, "outletPrefsDisable"},
      {outletPrefsTabs, "outletPrefsTabs"},
      {outletPrefsList, "outletPrefsList"},
      {outletPrefsCustomSpeed, "outletPrefsCustomSpeed"},
      {outletPrefsSpeedValue, "outletPrefsSpeedValue"},
      {outletPrefsCustomAcc, "outletPrefsCustomAcc"},
      {outletPrefsAccValue, "outletPrefsAccValue"},
      {outletPrefsAction, "outletPrefsAction"},
      {outletPrefsActionTabs, "outletPrefsActionTabs"},
      {outletPrefsClickType, "outletPrefsClickType"},
      {outletPrefsKeystroke, "outletPrefsKeystroke"},
      {outletPrefsMoreKeys, "outletPrefsMoreKeys"},
      {outletPrefsSpecialKeys, "outletPrefsSpecialKeys"},
      {outletPrefsScrollDir, "outletPrefsScrollDir"},
      {outletPrefsScrollCount, "outletPrefsScrollCount"},
      {outletPrefsItemToOpen, "outletPrefsItemToOpen"},
      {outletPrefsBrowse, "outletPrefsBrowse"},
      {outletInfoCountBth, "outletInfoCountBth"},
      {outletInfoVersion, "outletInfoVersion"},
      {outletInfoAgent, "outletInfoAgent"},
      {outletInfoDriver, "outletInfoDriver"},
      {outletInfoMice, "outletInfoMice"},
      {outletInfoFront, "outletInfoFront"},
      {outletInfoRecord, "outletInfoRecord"},
      {outletInfoUserGuide, "outletInfoUserGuide"},
      {outletInfoURL, "outletInfoURL"},
      {outletDeleteName, "outletDeleteName"},
      {outletFrontSourceNote, "outletFrontSourceNote"},
      {outletFrontSourceEnable, "outletFrontSourceEnable"},
      {outletInfoFrontSource, "outletInfoFrontSource"},
      {outletProblemText, "outletProblemText"}};
  for (auto [object, name] : names) object->setObjectName(name);
  // What the host shows as the window's title while this pane is shown.
  view->setWindowTitle(tr("Mouse Buttons"));
  return view;
}

// ---- Life cycle --------------------------------------------------------------------------------

void CorvimusPane::mainViewDidLoad() {
  gCorvimus = this;
  fConnectedCount = -1;
  fConnected.count = 0;
  fMainBundle = bundle();

  GetKeyboardInformation();

  // The agent lives in the pane's resources. It is started when no process of its name runs, and
  // registered as a login item either way; neither result is acted on.
  QString helperPath = fMainBundle.resourcePath() + "/" + kHelperBundleName;
  if (FindNamedProcess(kCorvimusHelperName, nullptr) != noErr) {
    corvimus::prefpane::PaneBundle helper;
    if (corvimus::prefpane::ReadPaneBundle(helperPath, &helper, nullptr))
      QProcess::startDetached(helper.executablePath(), {});
  }
  AddLoginItem(helperPath.toUtf8().constData(), nullptr, 0, 1, nullptr);

  outletWindowTabs->setCurrentIndex(0);
  fButtonsModel = new MouseButtonsView(MouseButtonsViewItem::rootItem(), this);
  outletPrefsList->setModel(fButtonsModel);
  outletPrefsList->header()->setStretchLastSection(true);  // the column does not resize itself
  outletPrefsList->expandAll();
  connect(outletPrefsList->selectionModel(), &QItemSelectionModel::selectionChanged, fButtonsModel,
          &MouseButtonsView::outlineViewSelectionDidChange);

  UpdateFrontSourceNote();
  MakeClickableLink(outletInfoUserGuide);
  MakeClickableLink(outletInfoURL);

  fSettingsIndex = 0;
  fActionIndex = -1;

  fSettingsBase = QBaseNew(kCorvimusBaseType, kCorvimusBaseTypeVersion, 4);
  if (!fSettingsBase) return;
  QBaseSetFlipProc(fSettingsBase, FlipCorvimusPrefsRec, nullptr);
  if (GetBaseFromFile() != noErr) return;

  SortPreferencesByApp();
  RebuildTargetAppMenu();
  GetPrefsFromBase();
  GetUIFromPrefs();
}

void CorvimusPane::didSelect() {
  SwapNSAppMethods();
  if (!fCountConnectedTimer) {
    fCountConnectedTimer = new QTimer(this);
    fCountConnectedTimer->setInterval(1000);
    connect(fCountConnectedTimer, &QTimer::timeout, this, [this] {
      CountConnectedMice();
      RefreshInfo();
    });
  }
  fCountConnectedTimer->start();
  // The facts are shown at once rather than a second late; the Bluetooth count keeps its own pace.
  RefreshInfo();
}

void CorvimusPane::willUnselect() {
  if (fCountConnectedTimer) fCountConnectedTimer->stop();
  SwapNSAppMethods();
  // After a failed load the base is not the user's settings: saving it would overwrite them, and
  // cleaning up by it would delete the alias files they use. Leaving then changes nothing.
  if (!fBaseLoaded) return;
  SaveUIToPrefs();
  SavePrefsToBase();
  // The clean-up goes by the base, so only once the file holds what the base holds: after a failed
  // save the file may still name alias files the base no longer does.
  if (SaveBaseToFile() != noErr) return;
  PName folder(kCorvimusAliasFolderName);
  CheckAssignedAliases(folder.s, fSettingsBase);
}

// ---- Load, edit, apply, revert -----------------------------------------------------------------

SInt16 CorvimusPane::GetBaseFromFile() {
  PName name(kCorvimusPrefsFileName);
  fLoadError = LoadMouseSettings(fSettingsBase, name.s, &gDefaultGlobalPrefs);
  fBaseLoaded = fLoadError == noErr;
  return fLoadError;
}

void CorvimusPane::GetPrefsFromBase() {
  int k = outletPrefsTarget->currentIndex();
  fSettingsIndex = k > 1 ? k - 1 : 0;
  SInt32 size = 0;
  if (void* record = QBaseGetRecord(fSettingsBase, fSettingsIndex, &size)) {
    // A record of another size is not one of ours; copy no more than both hold.
    std::memset(&fSettings, 0, sizeof fSettings);
    std::memcpy(&fSettings, record, size < kCorvimusPrefsRecSize ? size : kCorvimusPrefsRecSize);
  }
  SetComboItemEnabled(outletPrefsAction, 1, fSettingsIndex != 0);
}

void CorvimusPane::GetUIFromPrefs() {
  outletPrefsDelete->setEnabled(fSettingsIndex != 0);
  outletPrefsDisable->setChecked(fSettings.active == 0);

  const UInt8 speed = fSettings.device[0].speed;
  outletPrefsCustomSpeed->setChecked(speed != 255);
  outletPrefsSpeedValue->setEnabled(speed != 255);
  {
    QSignalBlocker block(outletPrefsSpeedValue);
    outletPrefsSpeedValue->setValue(SliderFromSpeed(speed));
  }
  const UInt8 acc = fSettings.device[0].acceleration;
  outletPrefsCustomAcc->setChecked(acc != 255);
  outletPrefsAccValue->setEnabled(acc != 255);
  {
    QSignalBlocker block(outletPrefsAccValue);
    outletPrefsAccValue->setValue(SliderFromAcceleration(acc));
  }
  ShowActionEditor();
}

void CorvimusPane::ShowActionEditor() {
  outletPrefsAction->setEnabled(fActionIndex >= 0);
  CorvimusActionRec* slot = SelectedAction();
  if (!slot) {
    SelectComboRow(outletPrefsAction, 0);
    outletPrefsActionTabs->setCurrentIndex(kActionTabNone);
    EnableDisableApplyRevert();
    return;
  }
  SInt16 k = SInt16(slot->command);
  int tab = kActionTabNone;
  QComboBox* sub = nullptr;
  int subRow = -1, scrollMode = 0, p;
  if ((p = FindInMenuTable(gClickTypeCommands, k)) >= 0) {
    tab = kActionTabClick, sub = outletPrefsClickType, subRow = p, k = kMenuClickGroup;
  }
  if ((p = FindInMenuTable(gSpecialKeyCommands, k)) >= 0) {
    tab = kActionTabSpecialKey, sub = outletPrefsSpecialKeys, subRow = p, k = kMenuSpecialKeyGroup;
  }
  const SInt16* sets[] = {gScrollSetA, gScrollSetB, gScrollSetC};
  for (int mode = 0; mode < 3; ++mode) {
    if ((p = FindInMenuTable(sets[mode], k)) >= 0) {
      tab = kActionTabScroll, sub = outletPrefsScrollDir, subRow = p, scrollMode = mode;
      k = kMenuScrollGroup;
      break;
    }
  }
  int row = FindInMenuTable(gActionMenuCommands, k);
  if (row < 0) {  // a code the editor does not offer: shown as nothing, kept as it is
    SelectComboRow(outletPrefsAction, 0);
    outletPrefsActionTabs->setCurrentIndex(kActionTabNone);
    EnableDisableApplyRevert();
    return;
  }
  SelectComboRow(outletPrefsAction, row);
  if (tab == kActionTabNone) {
    if (k == kCmdKeystroke) tab = kActionTabKeystroke;
    if (k == kCmdOpenItem) tab = kActionTabOpenItem;
  }
  outletPrefsActionTabs->setCurrentIndex(tab);
  if (sub) SelectComboRow(sub, subRow);

  auto showBits = [slot](std::initializer_list<std::pair<QCheckBox*, UInt16>> boxes) {
    for (auto [box, bit] : boxes) box->setChecked((slot->modifiers & bit) != 0);
  };
  switch (tab) {
    case kActionTabClick:
      showBits({{outletPrefsClkCommand, cmdKey},
                {outletPrefsClkShift, shiftKey},
                {outletPrefsClkCaps, alphaLock},
                {outletPrefsClkOption, optionKey},
                {outletPrefsClkControl, controlKey},
                {outletPrefsClkSpace, kCorvimusSpaceKey}});
      break;
    case kActionTabKeystroke: {
      outletPrefsKeystroke->setText(KeystrokeLabel(slot->keyCode, slot->modifiers));
      showBits({{outletPrefsKeyCommand, cmdKey},
                {outletPrefsKeyShift, shiftKey},
                {outletPrefsKeyCaps, alphaLock},
                {outletPrefsKeyOption, optionKey},
                {outletPrefsKeyControl, controlKey},
                {outletPrefsKeySpace, kCorvimusSpaceKey}});
      break;
    }
    case kActionTabScroll:
      SelectComboRow(outletPrefsScrollCount, scrollMode == 1 ? 1
                                             : scrollMode == 2
                                                 ? 2
                                                 : ScrollCountRowFor(slot->command, slot->repeat));
      break;
    case kActionTabOpenItem:
      outletPrefsItemToOpen->setText(FromPString(slot->data, 31));
      break;
    default:
      break;
  }
  EnableDisableApplyRevert();
}

void CorvimusPane::SaveUIToPrefs() {
  // The controls write fSettings as they change; there is nothing left to collect.
}

void CorvimusPane::SavePrefsToBase() {
  if (NeedsMainClick(fSettingsIndex, fSettings)) MakeSureClickExists();
  if (fSettingsIndex >= 0)
    QBaseReplaceRecord(fSettingsBase, fSettingsIndex, &fSettings, kCorvimusPrefsRecSize);
}

SInt16 CorvimusPane::SaveBaseToFile() {
  PName name(kCorvimusPrefsFileName);
  SInt16 status =
      SaveMouseSettings(fSettingsBase, name.s, kCorvimusPrefsFileType, kCorvimusPrefsCreator);
  if (status == noErr) RequestDriverPrefsUpdate();
  return status;
}

void CorvimusPane::EnableDisableApplyRevert() {
  SInt32 size = 0;
  void* record = QBaseGetRecord(fSettingsBase, fSettingsIndex, &size);
  if (!record) return;
  bool same =
      size == kCorvimusPrefsRecSize && std::memcmp(record, &fSettings, kCorvimusPrefsRecSize) == 0;
  outletPrefsApply->setEnabled(!same);
  outletPrefsRevert->setEnabled(!same);
}

void CorvimusPane::actionPrefsApply() {
  // Refused rather than confirmed: what the pane shows after a failed load is not the user's
  // settings, and the file may be whole and only unreadable for now (its permissions, a full
  // disk, a FIFO in its place). Revert reads it again once it can be read.
  if (!fBaseLoaded) {
    ShowSaveProblem(tr("The settings file could not be read (%1), so nothing is saved: saving "
                       "would replace the settings it holds. Make it readable again, then press "
                       "Revert to read it.")
                        .arg(FileProblem(fLoadError)));
    return;
  }
  SaveUIToPrefs();
  SavePrefsToBase();
  if (SInt16 status = SaveBaseToFile(); status != noErr)
    ShowSaveProblem(status == fLckdErr
                        ? tr("The settings file is read-only. Make it writable to save changes.")
                        : tr("The settings file could not be written (%1).")
                              .arg(FileProblem(status)));
  EnableDisableApplyRevert();
}

void CorvimusPane::actionPrefsRevert() {
  GetBaseFromFile();
  // Applications added or removed since the last save come and go with the file: the pop-up is
  // rebuilt so that it never offers a record the base no longer has. The current target stays
  // selected when its position still exists, else the global record is shown.
  SortPreferencesByApp();
  RebuildTargetAppMenu();
  SInt32 count = QBaseCountRecords(fSettingsBase);
  SelectComboRow(outletPrefsTarget,
                 fSettingsIndex > 0 && fSettingsIndex < count ? fSettingsIndex + 1 : 0);
  GetPrefsFromBase();
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsTarget() {
  SaveUIToPrefs();
  SavePrefsToBase();
  GetPrefsFromBase();
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsDisable() {
  fSettings.active = outletPrefsDisable->isChecked() ? 0 : 1;
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsCustomSpeed() {
  fSettings.device[0].speed = outletPrefsCustomSpeed->isChecked() ? 40 : 255;
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsSpeedValue() {
  fSettings.device[0].speed = SpeedFromSlider(outletPrefsSpeedValue->value());
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsCustomAcc() {
  fSettings.device[0].acceleration = outletPrefsCustomAcc->isChecked() ? 100 : 255;
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsAccValue() {
  fSettings.device[0].acceleration = AccelerationFromSlider(outletPrefsAccValue->value());
  GetUIFromPrefs();
}

// ---- Target applications -----------------------------------------------------------------------

void CorvimusPane::RebuildTargetAppMenu() {
  SInt32 n = QBaseCountRecords(fSettingsBase);
  {
    QSignalBlocker block(outletPrefsTarget);
    while (outletPrefsTarget->count() > 2)
      outletPrefsTarget->removeItem(outletPrefsTarget->count() - 1);
  }
  QBaseLock(fSettingsBase);
  // One item for every record, whatever it holds: item k must stay record k - 1.
  for (SInt32 r = 1; r < n; ++r) {
    SInt32 size = 0;
    auto* record = static_cast<const unsigned char*>(QBaseGetRecord(fSettingsBase, r, &size));
    if (!record || size != kCorvimusPrefsRecSize) {
      outletPrefsTarget->addItem(tr("Damaged settings (%1)").arg(r));
      continue;
    }
    Str31 name;
    std::memcpy(name, record + offsetof(CorvimusPrefsRec, appName), sizeof name);
    outletPrefsTarget->addItem(AppNameText(name));
  }
  QBaseUnlock(fSettingsBase, 0);
}

void CorvimusPane::actionPrefsAdd() {
  if (fAddPanel || fAddFilePanel) return;
  auto* chooser = new ApplicationChooser(mainView()->window(), corvimus::InstalledApplications(),
                                         RunningApplicationNames());
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  chooser->setWindowModality(Qt::WindowModal);
  fAddPanel = chooser;
  connect(chooser, &QDialog::finished, this, [this, chooser](int result) {
    if (result == QDialog::Accepted) addPrefsDidEnd(chooser->ChosenId(), 1);
  });
  connect(chooser, &ApplicationChooser::otherRequested, this, [this] { ChooseApplicationFile(); });
  chooser->open();
}

void CorvimusPane::ChooseApplicationFile() {
  if (fAddFilePanel) return;
  // Of the folders only application bundles can be chosen here.
  auto* panel =
      new ChooserPanel(mainView()->window(), tr("Select an Application"), ChooserPanel::IsBundle);
  panel->setAttribute(Qt::WA_DeleteOnClose);
  panel->setObjectName("addFilePanel");
  panel->setOption(QFileDialog::DontUseNativeDialog);
  panel->setFileMode(QFileDialog::ExistingFile);
  panel->setNameFilters({tr("Applications (*.app *.desktop)"), tr("All files (*)")});
  panel->setWindowModality(Qt::WindowModal);
  std::string apps;
  QString start = corvimus::FolderPath(kLocalDomain, kApplicationsFolderType, &apps) == noErr &&
                          QFileInfo(QString::fromStdString(apps)).isDir()
                      ? QString::fromStdString(apps)
                      : QDir::homePath();
  panel->setDirectory(start);
  fAddFilePanel = panel;
  connect(panel, &QFileDialog::finished, this, [this, panel](int result) {
    addPrefsDidEnd(panel->ChosenPath(), result == QDialog::Accepted ? 1 : 0);
  });
  panel->open();
}

void CorvimusPane::addPrefsDidEnd(const QString& path, int returnCode) {
  if (returnCode != 1 || path.isEmpty()) return;
  SaveUIToPrefs();
  SavePrefsToBase();

  corvimus::ApplicationChoice app;
  if (!corvimus::DescribeApplication(path.toStdString(), &app, nullptr)) return;

  auto record = std::make_unique<CorvimusPrefsRec>();
  SInt32 size = 0;
  const void* global = QBaseGetRecord(fSettingsBase, 0, &size);
  CorvimusPrefsRec globalCopy;
  if (global && size == kCorvimusPrefsRecSize) std::memcpy(&globalCopy, global, sizeof globalCopy);
  MakeApplicationRecord(app, global && size == kCorvimusPrefsRecSize ? &globalCopy : nullptr,
                        record.get());
  SInt32 i = QBaseAddRecord(fSettingsBase, record.get(), kCorvimusPrefsRecSize);
  if (i < 0) return;
  fSettingsIndex = i;
  SetFlagForCurrentPrefs();
  SortPreferencesByApp();
  RebuildTargetAppMenu();
  SelectPrefsWithFlag();
  GetPrefsFromBase();
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsRemove() {
  if (fSettingsIndex <= 0) return;
  PrepareDeleteSheet();
  if (RunSheet(outletDeleteAlert) != 1) return;
  QBaseMarkRecordForRemoval(fSettingsBase, fSettingsIndex);
  QBaseRemoveMarkedRecords(fSettingsBase);
  fSettingsIndex -= 1;
  RebuildTargetAppMenu();
  SelectComboRow(outletPrefsTarget, fSettingsIndex == 0 ? 0 : fSettingsIndex + 1);
  GetPrefsFromBase();
  GetUIFromPrefs();
}

void CorvimusPane::PrepareDeleteSheet() {
  QString name = AppNameText(fSettings.appName);
  outletDeleteName->setText(name);
  fDeleteMessage->setText(
      tr("Remove the settings for %1? %1 then follows the settings for all applications.")
          .arg(name));
  outletDeleteAlert->setWindowTitle(tr("Remove the settings for %1").arg(name));
}

int CorvimusPane::RunSheet(QDialog* sheet) {
  fRunningSheet = sheet;
  int code = sheet->exec();
  fRunningSheet = nullptr;
  sheet->hide();
  return code == 1 ? 1 : 0;
}

void CorvimusPane::ShowSaveProblem(const QString& why) {
  outletProblemText->setText(why);
  RunSheet(outletProblemAlert);
}

void CorvimusPane::actionAlertOK() {
  if (fRunningSheet) fRunningSheet->done(1);
}

void CorvimusPane::actionAlertCancel() {
  if (fRunningSheet) fRunningSheet->done(0);
}

void CorvimusPane::SetFlagForCurrentPrefs() {
  QBaseSetAllRecordFlags(fSettingsBase, 0);
  QBaseSetRecordFlags(fSettingsBase, fSettingsIndex, 1);
}

void CorvimusPane::SelectPrefsWithFlag() {
  fSettingsIndex = 0;
  SInt32 count = QBaseCountRecords(fSettingsBase);
  for (SInt32 r = 0; r < count; ++r) {
    if (QBaseGetRecordFlags(fSettingsBase, r) != 0) {
      fSettingsIndex = r;
      QBaseSetRecordFlags(fSettingsBase, r, 0);
      break;
    }
  }
  SelectComboRow(outletPrefsTarget, fSettingsIndex == 0 ? 0 : fSettingsIndex + 1);
}

void CorvimusPane::SortPreferencesByApp() {
  QBaseSort(fSettingsBase, CompareByApp, 128);
}

// ---- Action editor -----------------------------------------------------------------------------

CorvimusActionRec* CorvimusPane::SelectedAction() {
  if (fActionIndex < 0 || fActionIndex >= kCorvimusActionCount) return nullptr;
  return &fSettings.device[0].action[fActionIndex];
}

void CorvimusPane::actionPrefsAction() {
  CorvimusActionRec* slot = SelectedAction();
  if (!slot) return;
  ResetActionForRow(slot, outletPrefsAction->currentIndex());
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsClickType() {
  CorvimusActionRec* slot = SelectedAction();
  if (!slot) return;
  int row = outletPrefsClickType->currentIndex();
  SInt16 entry = row >= 0 && row < MenuTableCount(gClickTypeCommands) ? gClickTypeCommands[row] : 0;
  slot->command = entry < 0 ? 0 : UInt16(entry);
  GetUIFromPrefs();
}

void CorvimusPane::GetModifierState(UInt16 bit, QCheckBox* checkbox) {
  CorvimusActionRec* slot = SelectedAction();
  if (!slot) return;
  if (checkbox->isChecked())
    slot->modifiers |= bit;
  else
    slot->modifiers &= UInt16(~bit);
}

void CorvimusPane::actionPrefsMoreKeys() {
  CorvimusActionRec* slot = SelectedAction();
  if (!slot) return;
  slot->keyCode = GetKeycodeFromMenu(SInt16(outletPrefsMoreKeys->currentIndex()));
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsSpecialKeys() {
  CorvimusActionRec* slot = SelectedAction();
  if (!slot) return;
  int row = outletPrefsSpecialKeys->currentIndex();
  SInt16 entry =
      row >= 0 && row < MenuTableCount(gSpecialKeyCommands) ? gSpecialKeyCommands[row] : 0;
  slot->command = entry < 0 ? 0 : UInt16(entry);
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsScrollDir() {
  CorvimusActionRec* slot = SelectedAction();
  if (!slot) return;
  ApplyScrollDirection(slot, outletPrefsScrollDir->currentIndex());
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsScrollCount() {
  CorvimusActionRec* slot = SelectedAction();
  if (!slot) return;
  ApplyScrollCountRow(slot, outletPrefsScrollCount->currentIndex());
  GetUIFromPrefs();
}

void CorvimusPane::actionPrefsBrowse() {
  if (fActionIndex < 0 || fBrowsePanel) return;
  // Files and folders alike may be opened by a button.
  auto* panel = new ChooserPanel(mainView()->window(), tr("Choose the item to open"),
                                 [](const QString&) { return true; });
  panel->setDirectory("/");
  panel->setAttribute(Qt::WA_DeleteOnClose);
  panel->setObjectName("browsePanel");
  panel->setOption(QFileDialog::DontUseNativeDialog);
  panel->setFileMode(QFileDialog::ExistingFile);
  panel->setWindowModality(Qt::WindowModal);
  fBrowsePanel = panel;
  connect(panel, &QFileDialog::finished, this, [this, panel](int result) {
    browseDidEnd(panel->ChosenPath(), result == QDialog::Accepted ? 1 : 0);
  });
  panel->open();
}

void CorvimusPane::browseDidEnd(const QString& path, int returnCode) {
  CorvimusActionRec* slot = SelectedAction();
  if (returnCode != 1 || !slot || path.isEmpty() || !QFileInfo::exists(path)) return;
  Str31 aliasName;
  MakeAssignedAliasName(QFileInfo(path).fileName().toStdString(), aliasName);
  if (aliasName[0] == 0) return;
  QByteArray name(reinterpret_cast<const char*>(aliasName + 1), aliasName[0]);

  // The folder is made here when missing: otherwise an item chosen before the pane was ever left
  // (which is when the folder is first made) could never be assigned.
  PName folderName(kCorvimusAliasFolderName);
  if (GetAssignedAliasesFolder(folderName.s, 1, nullptr, nullptr, nullptr) != noErr) return;
  std::string prefs;
  if (corvimus::FolderPath(kOnSystemDisk, kPreferencesFolderType, &prefs) != noErr) return;
  QString folder = QString::fromStdString(prefs) + "/" + kCorvimusAliasFolderName;
  QString aliasPath = folder + "/" + QString::fromLatin1(name);
  // An alias file of that name is replaced; deleting it through the File Manager takes its
  // resource fork (the alias record) with it.
  QFileInfo existing(aliasPath);
  FSRef old;
  Boolean isFolder = 0;
  if (existing.exists() && !existing.isDir() &&
      FSPathMakeRef(reinterpret_cast<const UInt8*>(aliasPath.toUtf8().constData()), &old,
                    &isFolder) == noErr &&
      !isFolder)
    FSDeleteObject(&old);

  FSRef item, folderRef;
  if (GetFSRefFromNSString(path.toUtf8().constData(), &item) != noErr) return;
  if (GetFSRefFromNSString(folder.toUtf8().constData(), &folderRef) != noErr) return;
  HFSUniStr255 uniName{};
  uniName.length = UInt16(name.size());
  for (int i = 0; i < name.size(); ++i) uniName.unicode[i] = UInt16(UInt8(name[i]));
  if (CreateAliasFile(&item, &folderRef, &uniName) != noErr) return;

  std::memcpy(slot->data, aliasName, size_t(aliasName[0]) + 1);
  GetUIFromPrefs();
}

void CorvimusPane::MakeSureClickExists() {
  if (!EnforceMainClick(&fSettings)) return;
  RunSheet(outletMainClickAlert);
}

// ---- Mouse buttons outline ---------------------------------------------------------------------

void CorvimusPane::actionPrefsList() {
  QModelIndexList rows = outletPrefsList->selectionModel()->selectedRows();
  if (rows.isEmpty()) {
    fActionIndex = -1;
  } else {
    MouseButtonsViewItem* item = fButtonsModel->itemForIndex(rows.first());
    fActionIndex = item ? GetActionFromControlID(item->getControlID()) : -1;
  }
  GetUIFromPrefs();
}

// ---- Keystroke capture -------------------------------------------------------------------------

bool CorvimusPane::InterceptKeystrokes() const {
  return outletPrefsKeystroke && outletPrefsKeystroke->hasFocus();
}

void CorvimusPane::InterceptOneKeystroke(UInt8 keyCode, UInt16 modifiers) {
  CorvimusActionRec* slot = SelectedAction();
  if (!slot || slot->command != kCmdKeystroke) return;
  slot->keyCode = keyCode;
  slot->modifiers = modifiers;
  GetUIFromPrefs();
}

// ---- Info tab ----------------------------------------------------------------------------------

void CorvimusPane::CountConnectedMice() {
  if (GetConnectedDevices(&fConnected) != noErr) return;
  SInt16 n = fConnected.count;
  if (n == fConnectedCount) return;
  fConnectedCount = n;
  // The agent never sends more than ten; a larger count must not read past the list.
  int listed = n < 0                                ? 0
               : n > int(kCorvimusMaxListedDevices) ? int(kCorvimusMaxListedDevices)
                                                    : int(n);
  int k = 0;
  for (int i = 0; i < listed; ++i)
    if (fConnected.device[i].transport == kCorvimusTransportBluetooth) ++k;
  outletInfoCountBth->setText(QString::asprintf("%d", k));
}

void CorvimusPane::UpdateFrontSourceNote() {
  FrontSourceKind kind = ChooseFrontSource();
  bool missing = kind == kFrontSourceGnomeShell && !GnomeShellExtensionRunning();
  QString note = tr("Settings do not follow the front application: the Corvimus extension of "
                    "GNOME Shell is not enabled.");
  outletFrontSourceNote->setText(note);
  outletFrontSourceNote->setVisible(missing);
  outletFrontSourceEnable->setVisible(missing);
  if (missing)
    outletInfoFrontSource->setText(note);
  else if (kind == kFrontSourceNone)
    outletInfoFrontSource->setText(tr("No desktop session: the settings for all applications "
                                      "are in force."));
  else
    outletInfoFrontSource->setText(
        tr("The front application comes from %1.").arg(FrontSourceName(kind)));
}

void CorvimusPane::actionFrontSourceEnable() {
  if (EnableGnomeShellExtension() != noErr)
    outletFrontSourceNote->setText(
        tr("GNOME Shell could not enable the Corvimus extension; log out and back in, then try "
           "again."));
  else
    QTimer::singleShot(1000, this, [this] { UpdateFrontSourceNote(); });
}

namespace {

// A C string of a fixed field, which need not end inside it.
QString FieldText(const char* field, size_t size) {
  return QString::fromUtf8(field, qsizetype(strnlen(field, size))).trimmed();
}

}  // namespace

void CorvimusPane::RefreshInfo() {
  CorvimusAgentStatus status;
  CorvimusDeviceList devices;
  bool answered = GetAgentStatus(&status) == noErr && GetConnectedDevices(&devices) == noErr;
  if (!answered) {
    bool running = FindNamedProcess(kCorvimusHelperName, nullptr) == noErr;
    outletInfoAgent->setText(running ? tr("Running, but it does not answer")
                                     : tr("Not running: the settings reach no mouse"));
    outletInfoDriver->setText(tr("Unknown while the agent does not answer"));
    outletInfoMice->setText(tr("Unknown while the agent does not answer"));
    outletInfoFront->setText(tr("Unknown while the agent does not answer"));
    outletInfoRecord->setText(tr("None"));
    return;
  }
  // An agent of another version is one an earlier installation left running: worth saying.
  QString agentVersion = FieldText(status.agentVersion, sizeof status.agentVersion);
  outletInfoAgent->setText(agentVersion == QLatin1String(CorvimusVersionString())
                               ? tr("Running")
                               : tr("Running, version %1").arg(agentVersion));

  bool system = status.driversLinked & kDriverLinkedSystem;
  bool user = status.driversLinked & kDriverLinkedUser;
  outletInfoDriver->setText(system && user ? tr("corvimusd (the system service) and the simulated "
                                                "driver both run")
                            : system       ? tr("corvimusd, the system service, runs")
                            : user ? tr("The simulated driver runs: its mice are not real ones")
                                   : tr("Not running: no mouse is remapped"));

  QStringList mice;
  int listed = devices.count < 0 ? 0 : std::min<int>(devices.count, kCorvimusMaxListedDevices);
  // The two answers come one after the other; the links belong to the mice only when both lists
  // are as long.
  bool linksMatch = status.count == devices.count;
  for (int i = 0; i < listed; ++i) {
    const CorvimusDeviceInfo& d = devices.device[i];
    QString name = FieldText(d.productName, sizeof d.productName);
    if (name.isEmpty()) name = FieldText(d.vendorName, sizeof d.vendorName);
    if (name.isEmpty()) name = tr("Mouse %1").arg(i + 1);
    QString link =
        linksMatch ? FieldText(status.mouse[i].link, sizeof status.mouse[i].link) : QString();
    if (link.isEmpty())
      link = d.transport == kCorvimusTransportBluetooth ? QStringLiteral("Bluetooth")
                                                        : tr("another link");
    else if (link == QLatin1String("Other"))
      link = tr("another link");
    QString line = tr("%1, %2").arg(name, link);
    if (linksMatch && system && user)
      line +=
          status.mouse[i].driverPlace == kDriverPlaceUser ? tr(" (simulated)") : tr(" (corvimusd)");
    mice << line;
  }
  outletInfoMice->setText(mice.isEmpty() ? tr("None connected") : mice.join(QLatin1Char('\n')));

  QString front =
      QString::fromUtf8(reinterpret_cast<const char*>(status.frontName + 1), status.frontName[0]);
  outletInfoFront->setText(front.isEmpty() ? tr("None known yet") : front);
  QString record =
      QString::fromUtf8(reinterpret_cast<const char*>(status.recordName + 1), status.recordName[0]);
  switch (status.recordKind) {
    case kRecordKindApplication:
      outletInfoRecord->setText(tr("Its own settings (%1)").arg(record));
      break;
    case kRecordKindGlobal:
      outletInfoRecord->setText(tr("The settings for all applications"));
      break;
    case kRecordKindOwnApplication:
      outletInfoRecord->setText(
          tr("None: the button tester is in front, so the buttons are reported, not remapped"));
      break;
    default:
      outletInfoRecord->setText(tr("The built-in defaults: every button does what it always did"));
      break;
  }
}

QString CorvimusPane::SupportURL() {
  return QString(kVendorHost) + "/Support/BT.aspx";
}
QString CorvimusPane::HomeURL() {
  return QString(kVendorHost) + "/";
}

void CorvimusPane::actionInfoSupport() {
  QDesktopServices::openUrl(QUrl(SupportURL()));
}
void CorvimusPane::actionInfoURL() {
  QDesktopServices::openUrl(QUrl(HomeURL()));
}

void CorvimusPane::MakeClickableLink(QPushButton* button) {
  // Underlined, in the system font, centred; blue, and red while pressed.
  button->setFlat(true);
  button->setCursor(Qt::PointingHandCursor);
  button->setStyleSheet(
      "QPushButton { border: none; text-decoration: underline; color: rgb(26, 26, 255); }"
      "QPushButton:pressed { color: rgb(255, 26, 26); }");
}

// ---- Pictures for the documentation -------------------------------------------------------------

namespace {

struct ScreenshotAction {
  const char* name;
  int slot;
  UInt16 command;
  UInt16 modifiers;
  UInt8 keyCode;
  UInt8 repeat;
  const char* item;
};

// One example for each page of the action editor.
const ScreenshotAction kScreenshotActions[] = {
    {"action-unchanged", 5, kCmdNone, 0, 255, 0, nullptr},
    {"action-click", 3, 43, controlKey, 255, 0, nullptr},
    {"action-keystroke", 4, kCmdKeystroke, controlKey | shiftKey, 0x11, 0, nullptr},
    {"action-special-key", 3, kCmdBack, 0, 255, 0, nullptr},
    {"action-scroll", kSlotRF, 8, 0, 1, 3, nullptr},
    {"action-open-item", 5, kCmdOpenItem, 0, 255, 0, "Notes.txt"},
};

}  // namespace

QStringList CorvimusPane::screenshotStates() {
  QStringList names;
  for (const ScreenshotAction& a : kScreenshotActions) names << a.name;
  if (QBaseCountRecords(fSettingsBase) > 1) names << "application";
  return names;
}

void CorvimusPane::SelectControlSlot(int slot) {
  for (int row = 0; row < fButtonsModel->rowCount(); ++row) {
    QModelIndex index = fButtonsModel->index(row, 0);
    MouseButtonsViewItem* item = fButtonsModel->itemForIndex(index);
    if (item && GetActionFromControlID(item->getControlID()) == slot) {
      outletPrefsList->setCurrentIndex(index);
      return;
    }
  }
}

void CorvimusPane::showScreenshotState(int index) {
  if (!fInScreenshotStates && index >= 0) {
    fInScreenshotStates = true;
    fScreenshotTargetRow = outletPrefsTarget->currentIndex();
    fScreenshotActionIndex = fActionIndex;
    std::memcpy(&fScreenshotSettings, &fSettings, sizeof fSettings);
  }
  if (!fInScreenshotStates) return;
  outletWindowTabs->setCurrentIndex(0);
  outletPrefsTabs->setCurrentIndex(0);
  // Each state starts from the record as the base holds it: the examples are made in the working
  // copy only, and the base is never written here.
  auto showTarget = [this](int row) {
    SelectComboRow(outletPrefsTarget, row);
    GetPrefsFromBase();
  };
  if (index < 0) {
    showTarget(fScreenshotTargetRow);
    std::memcpy(&fSettings, &fScreenshotSettings, sizeof fSettings);
    if (fScreenshotActionIndex >= 0)
      SelectControlSlot(fScreenshotActionIndex);
    else
      outletPrefsList->selectionModel()->clearSelection();
    fInScreenshotStates = false;
    GetUIFromPrefs();
    return;
  }
  showTarget(0);
  if (index < int(std::size(kScreenshotActions))) {
    const ScreenshotAction& a = kScreenshotActions[index];
    SelectControlSlot(a.slot);
    CorvimusActionRec* slot = SelectedAction();
    if (!slot) return;
    slot->command = a.command;
    slot->modifiers = a.modifiers;
    slot->keyCode = a.keyCode;
    slot->repeat = a.repeat;
    slot->data[0] = 0;
    if (a.item) CStringPCopy(a.item, slot->data, 31);
  } else {
    showTarget(2);  // the first application's record
    SelectControlSlot(3);
    PrepareDeleteSheet();
  }
  GetUIFromPrefs();
}
