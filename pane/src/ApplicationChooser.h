// The chooser of the pane's Add…: the installed applications by name and icon, from their desktop
// entries, the running ones first, narrowed by what the user types; "Other…" chooses a file for
// what has no desktop entry (a program, a script, an application bundle).
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <vector>

#include "platform/ApplicationNames.h"

class QLineEdit;
class QListWidget;
class QPushButton;

class ApplicationChooser : public QDialog {
  Q_OBJECT
 public:
  // `running`: the names of the user's running processes, as the Process Manager gives them.
  ApplicationChooser(QWidget* parent, const std::vector<corvimus::DesktopEntry>& entries,
                     const QStringList& running);

  // The chosen desktop entry id; empty when "Other…" was pressed or nothing was chosen.
  QString ChosenId() const { return fChosen; }
  // Rows shown now, as their desktop entry ids, top to bottom.
  QStringList ShownIds() const;

  QLineEdit* outletSearch = nullptr;
  QListWidget* outletList = nullptr;
  QPushButton* outletOther = nullptr;

 signals:
  // "Other…": the pane opens its file panel instead.
  void otherRequested();

 public slots:
  void accept() override;

 private:
  void Filter(const QString& text);
  QString fChosen;
};

// The names of the calling user's running processes.
QStringList RunningApplicationNames();
