#include "ui/ControlList.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

namespace vorn {
namespace {

class ControlListTest : public testing::Test {
 protected:
  void SetUp() override {
    m_parent.resize(600, 300);
    m_list = new CControlList(&m_parent);
    m_list->setGeometry(10, 10, 560, 250);
    m_list->SetColumns({"Title", "Size (MB)", "Baud Rate (bps)", "Frame Rate (ms)", "Protocol"},
                       {150, 75, 100, 100, 100});
  }

  QDialog m_parent;
  CControlList* m_list = nullptr;
};

TEST_F(ControlListTest, LooksLikeAReadOnlyReportGrid) {
  EXPECT_TRUE(m_list->showGrid());
  EXPECT_EQ(m_list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(m_list->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(m_list->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_FALSE(m_list->isSortingEnabled());
  EXPECT_FALSE(m_list->horizontalHeader()->sectionsClickable());
  EXPECT_FALSE(m_list->verticalHeader()->isVisible());

  ASSERT_EQ(m_list->columnCount(), 5);
  EXPECT_EQ(m_list->horizontalHeaderItem(2)->text(), "Baud Rate (bps)");
  EXPECT_EQ(m_list->columnWidth(0), 150);
  EXPECT_EQ(m_list->columnWidth(1), 75);
  EXPECT_EQ(m_list->horizontalHeaderItem(4)->textAlignment(), int(Qt::AlignCenter));

  m_list->SetCellText(0, 1, "1.00");
  QTableWidgetItem* cell = m_list->item(0, 1);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->textAlignment(), int(Qt::AlignCenter));
  EXPECT_FALSE(cell->flags() & Qt::ItemIsEditable);
}

TEST_F(ControlListTest, RowsGrowOnlyAtTheEndAndKeepTheirOtherCells) {
  m_list->SetCellText(5, 0, "sixth");
  ASSERT_EQ(m_list->rowCount(), 6);
  for (int row = 0; row < 5; ++row) EXPECT_EQ(m_list->CellText(row, 0), "") << row;
  EXPECT_EQ(m_list->CellText(5, 0), "sixth");

  m_list->SetCellText(2, 3, "40");
  EXPECT_EQ(m_list->rowCount(), 6);
  EXPECT_EQ(m_list->CellText(2, 3), "40");
  EXPECT_EQ(m_list->CellText(2, 0), "");
  m_list->SetCellText(2, 3, "50");
  EXPECT_EQ(m_list->CellText(2, 3), "50");
}

TEST_F(ControlListTest, FirstWriteToANewRowInAnotherColumnLandsInThatColumn) {
  m_list->SetCellText(0, 3, "25");
  ASSERT_EQ(m_list->rowCount(), 1);
  EXPECT_EQ(m_list->CellText(0, 0), "");
  EXPECT_EQ(m_list->CellText(0, 3), "25");
}

TEST_F(ControlListTest, LongTextsAreKeptWholeShownWholeOnHoverAndBadAddressesIgnored) {
  const QString longTitle(200, 'x');
  m_list->SetCellText(0, 0, longTitle);
  m_list->SetCellText(0, 1, "1.00");
  EXPECT_EQ(m_list->CellText(0, 0), longTitle);
  EXPECT_TRUE(m_list->IsCellTextCut(0, 0));
  EXPECT_FALSE(m_list->IsCellTextCut(0, 1));
  EXPECT_FALSE(m_list->IsCellTextCut(0, 2));

  // Hovering the cut cell shows its whole text; a cell that fits shows none.
  m_parent.show();
  const auto hover = [this](int column) {
    const QPoint at = m_list->visualRect(m_list->model()->index(0, column)).center();
    QHelpEvent event(QEvent::ToolTip, at, m_list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(m_list->viewport(), &event);
  };
  hover(0);
  EXPECT_EQ(QToolTip::text(), longTitle);
  hover(1);
  EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000));  // hides after a delay

  m_list->SetCellText(-1, 0, "no");
  m_list->SetCellText(1, 5, "no");
  m_list->SetCellText(1, -1, "no");
  EXPECT_EQ(m_list->rowCount(), 1);
}

TEST_F(ControlListTest, DeleteAllRowsKeepsTheColumnsAndSetColumnsInsertsAtItsIndexes) {
  for (int row = 0; row < 5; ++row) m_list->SetCellText(row, 0, "r");
  m_list->DeleteAllRows();
  EXPECT_EQ(m_list->rowCount(), 0);
  EXPECT_EQ(m_list->columnCount(), 5);
  m_list->SetCellText(0, 0, "again");
  EXPECT_EQ(m_list->rowCount(), 1);

  // A second call inserts its columns at positions 0, 1, ...; the old ones move right.
  m_list->SetColumns({"Extra", "More"}, {40, 30});
  EXPECT_EQ(m_list->rowCount(), 0);
  ASSERT_EQ(m_list->columnCount(), 7);
  EXPECT_EQ(m_list->horizontalHeaderItem(0)->text(), "Extra");
  EXPECT_EQ(m_list->horizontalHeaderItem(1)->text(), "More");
  EXPECT_EQ(m_list->columnWidth(1), 30);
  EXPECT_EQ(m_list->horizontalHeaderItem(2)->text(), "Title");
  EXPECT_EQ(m_list->columnWidth(2), 150);
  EXPECT_EQ(m_list->horizontalHeaderItem(6)->text(), "Protocol");
}

TEST_F(ControlListTest, RowHeightFollowsTheParentsDefaultFontNotTheDialogFont) {
  const int expected = QFontMetrics(QApplication::font(&m_parent)).height() + 3;
  EXPECT_EQ(m_list->RowHeight(), expected);

  QDialog smallFontParent;
  QFont small = smallFontParent.font();
  small.setPointSize(4);
  smallFontParent.setFont(small);
  CControlList list(&smallFontParent);
  list.SetColumns({"Title"}, {100});
  list.SetCellText(0, 0, "t");
  EXPECT_EQ(list.font().pointSize(), 4);
  EXPECT_EQ(list.rowHeight(0), expected);
  EXPECT_GT(list.rowHeight(0), QFontMetrics(small).height() + 3);
}

TEST_F(ControlListTest, SelectionChangesAreNotifiedOncePerRowLostFirst) {
  for (int row = 0; row < 3; ++row) m_list->SetCellText(row, 0, "r");
  QSignalSpy spy(m_list, &CControlList::SelectionNotify);

  m_list->selectRow(1);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0], (QList<QVariant>{1, 1, 0}));

  m_list->selectRow(2);
  ASSERT_EQ(spy.count(), 3);
  EXPECT_EQ(spy[1], (QList<QVariant>{0, 1, 0}));
  EXPECT_EQ(spy[2], (QList<QVariant>{1, 2, 0}));

  // Clearing the list for a refill removes the selected row without a notification;
  // selecting in the new rows is reported again.
  m_list->DeleteAllRows();
  EXPECT_EQ(spy.count(), 3);
  m_list->SetCellText(0, 0, "new");
  m_list->selectRow(0);
  ASSERT_EQ(spy.count(), 4);
  EXPECT_EQ(spy[3], (QList<QVariant>{1, 0, 0}));
}

TEST_F(ControlListTest, DoubleClickOnACellNotifiesAndBelowTheLastRowNothing) {
  m_parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_parent));
  for (int row = 0; row < 2; ++row) {
    for (int column = 0; column < 5; ++column) m_list->SetCellText(row, column, "c");
  }
  QSignalSpy doubleClicks(m_list, &CControlList::DoubleClickNotify);

  const QRect cell = m_list->visualRect(m_list->model()->index(1, 2));
  QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_EQ(doubleClicks.count(), 1);
  EXPECT_EQ(doubleClicks[0], (QList<QVariant>{1, 2}));

  const QRect last = m_list->visualRect(m_list->model()->index(1, 0));
  const QPoint below(last.center().x(), last.bottom() + 3 * last.height());
  ASSERT_LT(below.y(), m_list->viewport()->height());
  QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, below);
  EXPECT_EQ(doubleClicks.count(), 1);
}

}  // namespace
}  // namespace vorn
