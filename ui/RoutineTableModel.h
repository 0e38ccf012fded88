#pragma once
// The routines of the selected disk as the grid shows them: the entries read
// from its table, their cell texts in the disk's code page, the column titles,
// and the widths the columns keep at least. Actions take their routine from
// here, never from a cell's text. The grid (a report list written cell by
// cell) follows the model through ShowIn.

#include <QAbstractTableModel>
#include <QFont>

#include <vector>

#include "disk/RoutineEntry.h"

namespace vorn {

class CControlList;

class CRoutineTableModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit CRoutineTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void SetEntries(std::vector<RoutineEntry> entries);
  const std::vector<RoutineEntry>& Entries() const { return m_entries; }
  // The entry at `row`; null for no row.
  const RoutineEntry* Entry(int row) const;

  // Sets up the grid's columns (their design widths grown with `font`, as the
  // list grows) and keeps its rows those of the model from now on.
  void ShowIn(CControlList* grid, const QFont& font);

 private:
  void Mirror();

  std::vector<RoutineEntry> m_entries;
  CControlList* m_grid = nullptr;
  std::vector<int> m_designWidths;
};

}  // namespace vorn
