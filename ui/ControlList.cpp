#include "ui/ControlList.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSet>
#include <QStyle>
#include <QToolTip>

namespace vorn {

CControlList::CControlList(QWidget* parent) : QTableWidget(parent) {
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CControlList::OnSelectionChanged);
  Attach();
}

void CControlList::Attach() {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setShowGrid(true);
  // A plain one-pixel box in the palette's frame colour: the style's own grid
  // frame is lost under the viewport at fractional display scales (1.5x).
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setForegroundRole(QPalette::Mid);
  setWordWrap(false);
  setTabKeyNavigation(false);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setSortIndicatorShown(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  horizontalHeader()->setStretchLastSection(false);
  verticalHeader()->hide();

  // The row height follows the default font of the parent, not the font the
  // grid displays: a dialog with a smaller font still gets rows of the usual
  // height, so titles never clip when the dialog font changes.
  QWidget* parent = parentWidget();
  if (parent) setFont(parent->font());
  const QFont defaultFont = parent ? QApplication::font(parent) : QApplication::font();
  m_rowHeight = QFontMetrics(defaultFont).height() + 3;
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(m_rowHeight);
  for (int row = 0; row < rowCount(); ++row) setRowHeight(row, m_rowHeight);
}

void CControlList::changeEvent(QEvent* event) {
  QTableWidget::changeEvent(event);
  if (event->type() == QEvent::ParentChange) Attach();
}

void CControlList::keyPressEvent(QKeyEvent* event) {
  // A row is not a button: Enter on a selected routine does nothing, instead
  // of reaching the dialog's default button and closing the window.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QTableWidget::keyPressEvent(event);
}

void CControlList::SetPlaceholderText(const QString& text) {
  if (m_placeholder == text) return;
  m_placeholder = text;
  setAccessibleDescription(text);
  viewport()->update();
}

void CControlList::paintEvent(QPaintEvent* event) {
  QTableWidget::paintEvent(event);
  if (m_placeholder.isEmpty() || rowCount() > 0) return;
  QPainter painter(viewport());
  QColor colour = palette().color(QPalette::PlaceholderText);
  if (!isEnabled()) colour = palette().color(QPalette::Disabled, QPalette::Text);
  painter.setPen(colour);
  painter.drawText(viewport()->rect(), Qt::AlignCenter, m_placeholder);
}

bool CControlList::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QTableWidget::viewportEvent(event);
  // The column widths are fixed, so a long title or protocol name is cut off;
  // hovering such a cell shows its whole text. Cells that fit show nothing.
  const auto* help = static_cast<QHelpEvent*>(event);
  const QModelIndex index = indexAt(help->pos());
  if (index.isValid() && IsCellTextCut(index.row(), index.column())) {
    QToolTip::showText(help->globalPos(), CellText(index.row(), index.column()), viewport(),
                       visualRect(index));
  } else {
    QToolTip::hideText();
  }
  return true;
}

bool CControlList::IsCellTextCut(int row, int column) const {
  const QString text = CellText(row, column);
  if (text.isEmpty()) return false;
  // The item view pads a cell's text by the focus frame margin plus one pixel
  // on each side.
  const int padding = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
  return fontMetrics().horizontalAdvance(text) > columnWidth(column) - padding;
}

void CControlList::SetColumns(const QStringList& titles, const QVector<int>& widths) {
  DeleteAllRows();
  const int count = static_cast<int>(std::min(titles.size(), widths.size()));
  for (int i = 0; i < count; ++i) {
    // Column i goes to position i; columns already there move right, as a
    // report list inserts them.
    insertColumn(i);
    auto* header = new QTableWidgetItem(titles[i]);
    header->setTextAlignment(Qt::AlignCenter);
    setHorizontalHeaderItem(i, header);
    setColumnWidth(i, widths[i]);
  }
}

QTableWidgetItem* CControlList::NewItem(const QString& text) const {
  auto* item = new QTableWidgetItem(text);
  item->setTextAlignment(Qt::AlignCenter);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

void CControlList::SetCellText(int row, int column, const QString& text) {
  if (row < 0 || column < 0 || column >= columnCount()) return;
  const int count = rowCount();
  if (row >= count) {
    setRowCount(row + 1);
    for (int r = count; r <= row; ++r) setRowHeight(r, m_rowHeight);
  }
  if (QTableWidgetItem* existing = item(row, column)) {
    existing->setText(text);
  } else {
    setItem(row, column, NewItem(text));
  }
}

QString CControlList::CellText(int row, int column) const {
  const QTableWidgetItem* cell = item(row, column);
  return cell ? cell->text() : QString();
}

std::vector<int> CControlList::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void CControlList::SelectRows(const std::vector<int>& rows) {
  clearSelection();
  for (int row : rows) {
    if (row < 0 || row >= rowCount()) continue;
    if (row == rows.front()) setCurrentIndex(model()->index(row, 0));  // where the keyboard goes on
    selectionModel()->select(model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
}

void CControlList::SetBusy(bool busy) {
  if (busy && isEnabled()) m_focusKept = hasFocus();
  setEnabled(!busy);
  if (!busy && std::exchange(m_focusKept, false)) setFocus();
}

void CControlList::DeleteAllRows() {
  // Rows that go away are not selection changes: a refill must not tell the
  // parent that the selected routine was deselected.
  m_deletingRows = true;
  clearSelection();
  setRowCount(0);
  m_deletingRows = false;
}

void CControlList::OnSelectionChanged(const QItemSelection& selected,
                                      const QItemSelection& deselected) {
  if (m_deletingRows) return;
  // One notification per row, the rows that lost the selection first, as a
  // report list reports it.
  QList<int> lost;
  for (const QModelIndex& index : deselected.indexes()) {
    if (!lost.contains(index.row())) lost.append(index.row());
  }
  QList<int> gained;
  for (const QModelIndex& index : selected.indexes()) {
    if (!gained.contains(index.row())) gained.append(index.row());
  }
  for (int row : lost) {
    if (!gained.contains(row)) emit SelectionNotify(0, row, 0);
  }
  for (int row : gained) emit SelectionNotify(1, row, 0);
}

void CControlList::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (!index.isValid()) {
    // Below the last row (or beside the last column): the double-click ends here.
    event->accept();
    return;
  }
  emit DoubleClickNotify(index.row(), index.column());
  QTableWidget::mouseDoubleClickEvent(event);
}

}  // namespace vorn
