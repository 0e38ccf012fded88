#include "ui/WriteTargetModel.h"

#include <cstdio>

namespace vorn {
namespace {

bool SameDisk(const DiskRecord& a, const DiskRecord& b) { return a.kind == b.kind && a.entry.text == b.entry.text; }

}  // namespace

int CWriteTargetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CWriteTargetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CWriteTargetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kDisk: return QStringLiteral("Disk");
    case kPhase: return QStringLiteral("Phase");
    case kPercent: return QStringLiteral("Progress");
    case kResult: return QStringLiteral("Result");
    default: return {};
  }
}

QVariant CWriteTargetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Row& row = m_rows[static_cast<std::size_t>(index.row())];
  if (role == Qt::CheckStateRole && index.column() == kDisk) return row.ticked ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::ToolTipRole && index.column() == kResult) return row.result;
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  switch (index.column()) {
    case kDisk: return row.attached ? row.disk.shown : row.disk.shown + QStringLiteral(" (gone)");
    case kPhase: return row.started ? QString::fromLatin1(SyncPhaseName(row.phase)) : QString();
    case kPercent:
      return row.started && (row.phase == SyncPhase::kComparing || row.phase == SyncPhase::kWriting ||
                             row.phase == SyncPhase::kVerifying || row.phase == SyncPhase::kDone)
                 ? QStringLiteral("%1%").arg(row.percent)
                 : QString();
    case kResult: return row.result;
    default: return {};
  }
}

Qt::ItemFlags CWriteTargetModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const Row& row = m_rows[static_cast<std::size_t>(index.row())];
  Qt::ItemFlags flags = Qt::ItemIsSelectable;
  // A disk that went cannot be written; its row stays for what it showed.
  if (row.attached) flags |= Qt::ItemIsEnabled;
  if (index.column() == kDisk && row.attached && !m_writing) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

bool CWriteTargetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != kDisk || role != Qt::CheckStateRole) return false;
  if (!(flags(index) & Qt::ItemIsUserCheckable)) return false;
  m_rows[static_cast<std::size_t>(index.row())].ticked = value.value<Qt::CheckState>() == Qt::Checked;
  Changed(index.row());
  return true;
}

void CWriteTargetModel::Follow(const CDiskListModel& disks, const DiskRecord& excluded) {
  std::vector<Row> rows;
  for (int i = 0; i < disks.rowCount(); ++i) {
    const DiskRecord disk = disks.Record(i);
    if (excluded.kind != DiskKind::kNone && SameDisk(disk, excluded)) continue;
    Row row;
    for (const Row& old : m_rows) {
      if (SameDisk(old.disk, disk)) row = old;
    }
    row.disk = disk;  // its text may have grown (size, model)
    row.attached = true;
    rows.push_back(row);
  }
  // A disk that went while ticked, or after it was written, keeps its row: the
  // user sees what became of it rather than a row that silently vanished.
  for (const Row& old : m_rows) {
    bool listed = false;
    for (const Row& row : rows) listed = listed || SameDisk(row.disk, old.disk);
    if (!listed && (old.ticked || !old.result.isEmpty()) && !SameDisk(old.disk, excluded)) {
      rows.push_back(old);
      rows.back().attached = false;
    }
  }
  beginResetModel();
  m_rows = std::move(rows);
  endResetModel();
}

std::vector<DiskRecord> CWriteTargetModel::Ticked() const {
  std::vector<DiskRecord> ticked;
  for (const Row& row : m_rows) {
    if (row.ticked && row.attached) ticked.push_back(row.disk);
  }
  return ticked;
}

void CWriteTargetModel::SetWriting(bool writing) {
  m_writing = writing;
  if (!m_rows.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
}

void CWriteTargetModel::Start(const std::vector<DiskRecord>& targets) {
  for (Row& row : m_rows) {
    row.target = -1;
    for (std::size_t k = 0; k < targets.size(); ++k) {
      if (SameDisk(row.disk, targets[k])) row.target = static_cast<int>(k);
    }
    row.started = row.target >= 0;
    row.phase = SyncPhase::kWaiting;
    row.percent = 0;
    row.result.clear();
  }
  if (!m_rows.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
}

int CWriteTargetModel::RowOfTarget(std::size_t index) const {
  for (std::size_t row = 0; row < m_rows.size(); ++row) {
    if (m_rows[row].target == static_cast<int>(index)) return static_cast<int>(row);
  }
  return -1;
}

void CWriteTargetModel::SetProgress(std::size_t index, SyncPhase phase, int percent) {
  const int row = RowOfTarget(index);
  if (row < 0) return;
  Row& r = m_rows[static_cast<std::size_t>(row)];
  // A late report of a phase must not undo the end already shown.
  if (!r.result.isEmpty()) return;
  r.phase = phase;
  r.percent = percent;
  Changed(row);
}

void CWriteTargetModel::SetResult(std::size_t index, SyncPhase phase, const QString& result) {
  const int row = RowOfTarget(index);
  if (row < 0) return;
  Row& r = m_rows[static_cast<std::size_t>(row)];
  r.phase = phase;
  if (phase == SyncPhase::kDone) r.percent = 100;
  r.result = result;
  Changed(row);
}

void CWriteTargetModel::Changed(int row) { emit dataChanged(index(row, 0), index(row, kColumns - 1)); }

QString SyncResultText(const DiskSyncResult& result) {
  switch (result.phase) {
    case SyncPhase::kFailed:
      // A failure's first line is its caption-like summary ("Verify failed");
      // one row has one line.
      return QString::fromLocal8Bit(result.failure ? result.failure->what() : "failed")
          .replace(QLatin1Char('\n'), QStringLiteral(": "));
    case SyncPhase::kCancelled:
      return QStringLiteral("Stopped: it holds its old show or the first routines of the new one");
    case SyncPhase::kDone: break;
    default: return QString::fromLatin1(SyncPhaseName(result.phase));
  }
  char time[32];
  std::snprintf(time, sizeof time, " (%.1f s)", result.time.count());
  if (result.written == 0 && result.plan.oldCount == result.plan.kept) {
    return QStringLiteral("Already held the show; verified %1%2").arg(result.verified).arg(QLatin1String(time));
  }
  // Routines the disk held beyond those kept are gone now: say how many.
  const QString removed = result.plan.oldCount > result.kept
                              ? QStringLiteral(", removed %1").arg(result.plan.oldCount - result.kept)
                              : QString();
  return QStringLiteral("Kept %1, wrote %2, verified %3%4%5")
      .arg(result.kept)
      .arg(result.written)
      .arg(result.verified)
      .arg(removed, QLatin1String(time));
}

}  // namespace vorn
