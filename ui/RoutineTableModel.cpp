#include "ui/RoutineTableModel.h"

#include "disk/DiskText.h"
#include "disk/RoutineCells.h"
#include "ui/ControlList.h"
#include "ui/DialogUnits.h"

namespace vorn {

int CRoutineTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

int CRoutineTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(RoutineColumns().size());
}

QVariant CRoutineTableModel::data(const QModelIndex& index, int role) const {
  const RoutineEntry* entry = index.isValid() ? Entry(index.row()) : nullptr;
  if (!entry || index.column() >= columnCount()) return {};
  if (role == Qt::DisplayRole) {
    return QString::fromStdString(DiskTextToUtf8(RoutineCellTexts(*entry)[static_cast<std::size_t>(index.column())]));
  }
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignCenter);
  return {};
}

QVariant CRoutineTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount()) return {};
  return QString::fromLatin1(RoutineColumns()[static_cast<std::size_t>(section)].name);
}

const RoutineEntry* CRoutineTableModel::Entry(int row) const {
  if (row < 0 || row >= rowCount()) return nullptr;
  return &m_entries[static_cast<std::size_t>(row)];
}

void CRoutineTableModel::SetEntries(std::vector<RoutineEntry> entries) {
  beginResetModel();
  m_entries = std::move(entries);
  endResetModel();
  Mirror();
}

void CRoutineTableModel::ShowIn(CControlList* grid, const QFont& font) {
  m_grid = grid;
  QStringList titles;
  QVector<int> widths;
  // The column widths are pixels at the 8-point design font; they grow with the
  // font like the list does, so the titles stay readable on larger desktop fonts.
  for (int column = 0; column < columnCount(); ++column) {
    titles << headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    widths << ScaleWidth(RoutineColumns()[static_cast<std::size_t>(column)].width, font);
    m_designWidths.push_back(widths.back());
  }
  grid->SetColumns(titles, widths);
}

void CRoutineTableModel::Mirror() {
  if (!m_grid) return;
  m_grid->setUpdatesEnabled(false);
  m_grid->DeleteAllRows();
  for (int row = 0; row < rowCount(); ++row) {
    for (int column = 0; column < columnCount(); ++column) {
      m_grid->SetCellText(row, column, data(index(row, column), Qt::DisplayRole).toString());
    }
  }
  for (int column = 0; column < m_grid->columnCount(); ++column) {
    const int design = column < static_cast<int>(m_designWidths.size()) ? m_designWidths[static_cast<std::size_t>(column)] : 0;
    // The wider of the title and the cells, never narrower than designed.
    m_grid->resizeColumnToContents(column);
    if (m_grid->columnWidth(column) < design) m_grid->setColumnWidth(column, design);
  }
  m_grid->setUpdatesEnabled(true);
}

}  // namespace vorn
