#pragma once
// The routine grid: a read-only report list with grid lines, whole-row
// selection of one or several rows, centred columns and a header that does not
// sort. Rows are written cell by cell and grow only at the end; nothing is
// cached outside the widget.

#include <QTableWidget>
#include <QStringList>
#include <QVector>

#include <vector>

namespace vorn {

class CControlList : public QTableWidget {
  Q_OBJECT

 public:
  explicit CControlList(QWidget* parent = nullptr);

  // Sets the look: report grid, whole-row selection of several rows, fixed row
  // height from the parent's default font. Runs at construction and again when the widget is
  // moved under another parent, whose default font then decides the row height.
  void Attach();

  // Clears the rows, then inserts centred column i at position i with title i and
  // width i in pixels. Columns that exist already stay, to the right of the new ones.
  void SetColumns(const QStringList& titles, const QVector<int>& widths);

  // Sets cell (row, column). A row past the end is created together with the
  // empty rows before it; its text lands in `column`, the other cells stay empty.
  void SetCellText(int row, int column, const QString& text);

  // Removes every row; the columns stay. Reports no selection change.
  void DeleteAllRows();

  // Text of a cell, empty when the cell has never been written.
  QString CellText(int row, int column) const;

  // The selected rows, in order; SelectRows makes the first one current.
  std::vector<int> SelectedRows() const;
  void SelectRows(const std::vector<int>& rows);

  // Off while an action works on the disk. A grid that had the focus gets it
  // back: a keyboard user editing in it goes on there.
  void SetBusy(bool busy);

  int RowHeight() const { return m_rowHeight; }

  // True when the cell's text is wider than the cell and shows cut off.
  bool IsCellTextCut(int row, int column) const;

  // Shown in the empty grid ("No routines", "Not formatted") and given to
  // screen readers as the grid's description; empty for none.
  void SetPlaceholderText(const QString& text);
  QString PlaceholderText() const { return m_placeholder; }

 signals:
  // A row became selected (selected = 1) or stopped being selected (0).
  // Item-state changes concern whole rows, so the column is always 0.
  void SelectionNotify(int selected, int row, int column);
  // A double-click hit the cell (row, column).
  void DoubleClickNotify(int row, int column);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  QTableWidgetItem* NewItem(const QString& text) const;

  int m_rowHeight = 0;
  QString m_placeholder;
  bool m_deletingRows = false;
  bool m_focusKept = false;
};

}  // namespace vorn
