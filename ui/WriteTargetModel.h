#pragma once
// The disks "Write to other disks..." can write, one row each: a check box
// with the disk's name, then how its write goes (phase, percent) and how it
// ended. The rows follow the window's disk list, so a card plugged in while
// the dialog is open appears and can be ticked; a disk that goes keeps its row
// only while it is ticked or has a result to show.

#include <QAbstractTableModel>
#include <QString>

#include <vector>

#include "disk/ShowSync.h"
#include "ui/DiskListModel.h"

namespace vorn {

class CWriteTargetModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kDisk, kPhase, kPercent, kResult, kColumns };

  explicit CWriteTargetModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Takes the disks of `disks` but `excluded` (the show's own disk), keeping
  // the ticks and results of the disks listed before.
  void Follow(const CDiskListModel& disks, const DiskRecord& excluded);
  // The ticked disks that are attached, in row order.
  std::vector<DiskRecord> Ticked() const;
  // While writing, ticks stay as they are.
  void SetWriting(bool writing);

  // A write starts on `targets` (as Ticked gave them): their rows wait, the
  // others' last results are cleared.
  void Start(const std::vector<DiskRecord>& targets);
  // Progress of target `index` of the write started last.
  void SetProgress(std::size_t index, SyncPhase phase, int percent);
  // How target `index` ended: its phase and the text to show.
  void SetResult(std::size_t index, SyncPhase phase, const QString& result);

 private:
  struct Row {
    DiskRecord disk;
    bool ticked = false;
    bool attached = true;
    int target = -1;  // index in the write started last, -1 when not in it
    bool started = false;
    SyncPhase phase = SyncPhase::kWaiting;
    int percent = 0;
    QString result;
  };
  int RowOfTarget(std::size_t index) const;
  void Changed(int row);

  std::vector<Row> m_rows;
  bool m_writing = false;
};

// The result a row shows for a disk's sync: what was kept, written and read
// back, or the failure's text.
QString SyncResultText(const DiskSyncResult& result);

}  // namespace vorn
