// The button tester's window: one tile per mouse control, named as the settings name it, that
// lights up while the control is pressed (a wheel's tiles flash once per notch), and the name of
// the last control used in large letters. It shows what the driver reports; it changes nothing.
#pragma once

#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include "ButtonReport.h"

class QFrame;
class QListWidget;
class QTimer;

class ButtonTesterWindow : public QWidget {
  Q_OBJECT
 public:
  explicit ButtonTesterWindow(QWidget* parent = nullptr);

  // Shows one report: lights the control's tile and names it. Returns the line it added to the
  // list of events ("Button 6 pressed").
  QString ShowReport(const ButtonReport& report);

  // The tile of an action slot, or null for slots no control has.
  QFrame* TileForSlot(int slot) const { return fTiles.value(slot); }
  bool IsLit(int slot) const;
  QString LastControlText() const { return fLast->text(); }
  // Reports that never came, counted from the gaps in the sequence numbers.
  UInt32 MissedReports() const { return fMissed; }

  // How long a wheel's tile stays lit after a notch.
  static constexpr int kFlashMs = 300;

 private:
  void Light(int slot, bool on);

  QHash<int, QFrame*> fTiles;
  QHash<int, QTimer*> fFlashTimers;
  QLabel* fLast = nullptr;
  QLabel* fMissedLabel = nullptr;
  QListWidget* fEvents = nullptr;
  bool fHaveSequence = false;
  UInt32 fNextSequence = 0;
  UInt32 fMissed = 0;
};
