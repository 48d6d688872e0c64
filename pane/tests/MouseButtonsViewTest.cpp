#include <gtest/gtest.h>

#include <QDir>
#include <memory>

#include "MouseButtonsView.h"
#include "PaneTables.h"
#include "PaneTestSupport.h"
#include "testing/TempDir.h"

using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

std::unique_ptr<MouseButtonsViewItem> TreeFrom(const TempDir& dir, const std::string& table) {
  QDir().mkpath(QString::fromStdString(dir / "en.lproj"));
  WriteFile(dir / "en.lproj/MouseButtonsView.strings", table);
  return std::unique_ptr<MouseButtonsViewItem>(
      MouseButtonsViewItem::BuildRootItem(QString::fromStdString(dir.path())));
}

}  // namespace

TEST(MouseButtonsOutline, RowsComeFromTheStringsTableInKeyOrder) {
  TempDir dir;
  auto root = TreeFrom(dir, "/* rows */\n\"list2\" = \"RF:Wheel\";\n\"list1\" = \"C0 Left\";\n");
  ASSERT_EQ(root->numberOfChildren(), 2);
  EXPECT_EQ(root->getCellText(), "root");
  EXPECT_EQ(root->subLevel(), 0);
  MouseButtonsViewItem* second = root->childAtIndex(1);
  EXPECT_EQ(second->getCellText(), "Wheel");
  EXPECT_EQ(second->getControlID(), 0x5246);
  EXPECT_EQ(second->subLevel(), 1);
  EXPECT_EQ(second->subIndex(), 1);
  EXPECT_EQ(second->parent(), root.get());
  EXPECT_EQ(second->numberOfChildren(), -1);
  EXPECT_EQ(GetActionFromControlID(second->getControlID()), 12);
  EXPECT_EQ(root->childAtIndex(0)->getCellText(), "Left");
  EXPECT_EQ(root->childAtIndex(2), nullptr);
}

TEST(MouseButtonsOutline, ListEndsAtGapEmptyValueOrItsOwnKey) {
  TempDir a, b, c, d;
  EXPECT_EQ(TreeFrom(a, "\"list1\" = \"C0:x\"; \"list2\" = \"C1:y\"; \"list4\" = \"C3:z\";")
                ->numberOfChildren(),
            2);
  EXPECT_EQ(TreeFrom(b, "\"list1\" = \"C0:x\"; \"list2\" = \"LIST2\"; \"list3\" = \"C3:z\";")
                ->numberOfChildren(),
            1);
  EXPECT_EQ(TreeFrom(c, "\"list1\" = \"\"; \"list2\" = \"C1:y\";")->numberOfChildren(), 0);
  // Too short to carry an identifier and a separator: taken as the end.
  EXPECT_EQ(TreeFrom(d, "\"list1\" = \"C0:x\"; \"list2\" = \"C1\";")->numberOfChildren(), 1);
}

TEST(MouseButtonsOutline, MissingOrDamagedTableGivesNoRows) {
  TempDir none, damaged;
  EXPECT_EQ(std::unique_ptr<MouseButtonsViewItem>(
                MouseButtonsViewItem::BuildRootItem(QString::fromStdString(none.path())))
                ->numberOfChildren(),
            0);
  EXPECT_EQ(TreeFrom(damaged, "\"list1\" = \"C0:x")->numberOfChildren(), 0);
}

TEST(MouseButtonsOutline, ShippedTableNamesEveryControl) {
  TestApp();
  auto root =
      std::unique_ptr<MouseButtonsViewItem>(MouseButtonsViewItem::BuildRootItem(PANE_RESOURCES));
  ASSERT_EQ(root->numberOfChildren(), 12);
  std::vector<int> slotList;
  for (int i = 0; i < root->numberOfChildren(); ++i) {
    slotList.push_back(GetActionFromControlID(root->childAtIndex(i)->getControlID()));
    EXPECT_FALSE(root->childAtIndex(i)->getCellText().isEmpty());
  }
  EXPECT_EQ(slotList, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 12, 13, 14, 15}));

  MouseButtonsView model(root.get());
  EXPECT_EQ(model.rowCount(), 12);
  EXPECT_EQ(model.columnCount(), 1);
  QModelIndex first = model.index(0, 0);
  EXPECT_EQ(model.data(first, Qt::DisplayRole).toString(), root->childAtIndex(0)->getCellText());
  EXPECT_FALSE(model.flags(first) & Qt::ItemIsEditable);
  EXPECT_TRUE(model.flags(first) & Qt::ItemIsSelectable);
  EXPECT_EQ(model.rowCount(first), 0);
  EXPECT_FALSE(model.hasChildren(first));
  EXPECT_FALSE(model.parent(first).isValid());
  EXPECT_FALSE(model.index(12, 0).isValid());
  EXPECT_FALSE(model.index(0, 1).isValid());
}
