// The outline of mouse controls: one leaf per entry of the bundle's "MouseButtonsView" strings
// table, each carrying a two-character control identifier that names an action slot.
#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QString>

#include "platform/MacTypes.h"

class MouseButtonsViewItem {
 public:
  MouseButtonsViewItem(const QString& text, MouseButtonsViewItem* parent, int numLevel,
                       int numIndex);
  ~MouseButtonsViewItem();
  MouseButtonsViewItem(const MouseButtonsViewItem&) = delete;
  MouseButtonsViewItem& operator=(const MouseButtonsViewItem&) = delete;

  // The root built from the pane bundle's table on the first call; it lives as long as the process.
  static MouseButtonsViewItem* rootItem();
  // A fresh tree from the table in a resource folder (owned by the caller).
  static MouseButtonsViewItem* BuildRootItem(const QString& resourcePath);

  const QString& getCellText() const { return cellText; }
  UInt16 getControlID() const { return controlID; }
  MouseButtonsViewItem* parent() const { return fParent; }
  int subLevel() const { return fSubLevel; }
  int subIndex() const { return fSubIndex; }
  MouseButtonsViewItem* childAtIndex(int i) const;
  // -1 for a leaf.
  int numberOfChildren() const { return fIsLeaf ? -1 : int(fChildren.size()); }

 private:
  QString cellText;
  MouseButtonsViewItem* fParent;
  QList<MouseButtonsViewItem*> fChildren;  // owned
  bool fIsLeaf = false;
  int fSubLevel;
  int fSubIndex;
  UInt16 controlID = 0;
};

// The tree view's model. Selection changes reach the pane through gCorvimus.
class MouseButtonsView : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit MouseButtonsView(MouseButtonsViewItem* root, QObject* parent = nullptr);

  MouseButtonsViewItem* itemForIndex(const QModelIndex& index) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 public slots:
  void outlineViewSelectionDidChange();

 private:
  MouseButtonsViewItem* fRoot;
};
