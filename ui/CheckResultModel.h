#pragma once
// The findings of a disk check as the rows of a list: the result (green,
// amber, red, with its colour), what it is about (the disk, or the routine by
// its number and title) and what was found.

#include <QAbstractTableModel>

#include <string>
#include <vector>

#include "disk/DiskCheck.h"

namespace vorn {

class CCheckResultModel final : public QAbstractTableModel {
 public:
  enum Column { kResult, kSubject, kFinding, kColumns };

  explicit CCheckResultModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // `titles[k]` names routine k + 1 (UTF-8); missing titles show the number only.
  void SetFindings(std::vector<CheckFinding> findings, std::vector<std::string> titles);
  const std::vector<CheckFinding>& Findings() const { return m_findings; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // "Routine 3 \"Finale\"" or "Disk".
  QString Subject(int row) const;

 private:
  std::vector<CheckFinding> m_findings;
  std::vector<std::string> m_titles;
};

// The colour a level is shown in.
QColor LevelColor(CheckLevel level);

}  // namespace vorn
