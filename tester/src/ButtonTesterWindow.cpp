#include "ButtonTesterWindow.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QListWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "settings/CommandTable.h"
#include "settings/CorvimusDriver.h"

namespace {

QString ControlName(int slot) {
  const ControlInfo* control = FindControl(slot);
  return control ? QCoreApplication::translate("CommandTable", control->name) : QString();
}

// The tiles' two looks; the palette's highlight is what the desktop's theme calls "selected".
void Paint(QFrame* tile, bool lit) {
  tile->setProperty("lit", lit);
  tile->setBackgroundRole(lit ? QPalette::Highlight : QPalette::Base);
  tile->setForegroundRole(lit ? QPalette::HighlightedText : QPalette::Text);
  for (QLabel* label : tile->findChildren<QLabel*>())
    label->setForegroundRole(lit ? QPalette::HighlightedText : QPalette::Text);
}

}  // namespace

ButtonTesterWindow::ButtonTesterWindow(QWidget* parent) : QWidget(parent) {
  setObjectName("ButtonTester");
  setWindowTitle(tr("Mouse Button Tester"));
  auto* v = new QVBoxLayout(this);
  auto* hint =
      new QLabel(tr("Press the buttons of your mouse, roll and tilt its wheel: each lights "
                    "up here with the name the settings give it. Nothing is remapped "
                    "while this window is in front."));
  hint->setWordWrap(true);
  v->addWidget(hint);

  fLast = new QLabel(tr("Press a mouse button"));
  fLast->setObjectName("lastControl");
  QFont big = fLast->font();
  big.setPointSizeF(big.pointSizeF() * 1.8);
  big.setBold(true);
  fLast->setFont(big);
  fLast->setAlignment(Qt::AlignCenter);
  v->addWidget(fLast);

  auto* grid = new QGridLayout;
  int position = 0;
  for (const ControlInfo& control : kControlTable) {
    auto* tile = new QFrame;
    tile->setObjectName(QStringLiteral("tile%1").arg(control.id));
    tile->setFrameShape(QFrame::StyledPanel);
    tile->setAutoFillBackground(true);
    tile->setMinimumSize(150, 56);
    auto* tv = new QVBoxLayout(tile);
    auto* name = new QLabel(ControlName(control.slot));
    name->setAlignment(Qt::AlignCenter);
    name->setWordWrap(true);
    tv->addWidget(name);
    Paint(tile, false);
    fTiles.insert(control.slot, tile);
    grid->addWidget(tile, position / 4, position % 4);
    ++position;
  }
  v->addLayout(grid);

  fMissedLabel = new QLabel;
  fMissedLabel->setObjectName("missed");
  fMissedLabel->hide();
  v->addWidget(fMissedLabel);
  fEvents = new QListWidget;
  fEvents->setObjectName("events");
  fEvents->setMaximumHeight(120);
  v->addWidget(fEvents);
}

bool ButtonTesterWindow::IsLit(int slot) const {
  QFrame* tile = fTiles.value(slot);
  return tile && tile->property("lit").toBool();
}

void ButtonTesterWindow::Light(int slot, bool on) {
  if (QFrame* tile = fTiles.value(slot)) Paint(tile, on);
}

QString ButtonTesterWindow::ShowReport(const ButtonReport& report) {
  if (fHaveSequence && report.sequence != fNextSequence) {
    // Counted forwards only: a mouse that came again starts its count afresh.
    if (report.sequence > fNextSequence) fMissed += report.sequence - fNextSequence;
    fMissedLabel->setText(tr("%n report(s) did not arrive", nullptr, int(fMissed)));
    fMissedLabel->setVisible(fMissed > 0);
  }
  fHaveSequence = true;
  fNextSequence = report.sequence + 1;

  QString name = ControlName(report.slot);
  QString line;
  if (report.kind == kCorvimusReportButton) {
    Light(report.slot, report.value != 0);
    line = report.value ? tr("%1 pressed").arg(name) : tr("%1 released").arg(name);
  } else {
    // A notch has no release: the tile flashes.
    Light(report.slot, true);
    QTimer*& timer = fFlashTimers[report.slot];
    if (!timer) {
      timer = new QTimer(this);
      timer->setSingleShot(true);
      int slot = report.slot;
      connect(timer, &QTimer::timeout, this, [this, slot] { Light(slot, false); });
    }
    timer->start(kFlashMs);
    line = report.highResolution ? tr("%1, %2 fine units").arg(name).arg(report.value) : name;
  }
  fLast->setText(name);
  fEvents->insertItem(0, line);
  while (fEvents->count() > 50) delete fEvents->takeItem(fEvents->count() - 1);
  return line;
}
