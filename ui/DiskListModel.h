#pragma once
// The disks the window offers, as the combo shows them: drives, then units,
// then disk images, each a record with its kind and entry. It remembers the
// user's choice across rebuilds (by the disk's text, which is what the user
// picked), and the unit enumeration error last reported, so a flapping unit
// does not bring the same box on every device change.

#include <QAbstractListModel>
#include <QString>

#include <string>
#include <vector>

#include "device/DeviceEntry.h"

namespace vorn {

class CDeviceSource;

enum class DiskKind { kNone, kDrive, kUnit, kImage };

struct DiskRecord {
  DiskKind kind = DiskKind::kNone;
  DeviceEntry entry;
  QString shown;  // the entry's text, with size and model once the disk told them
};

class CDiskListModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit CDiskListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // Lists the disks of `source` again, with `openedImages` (and those named
  // in $VORN_DEMO_IMAGE) after them. Returns the unit enumeration error to
  // show, empty when there is none or it was shown already.
  std::string Rebuild(CDeviceSource& source, const std::vector<std::string>& openedImages);

  // The record at `row`; a kNone record for no row.
  DiskRecord Record(int row) const;
  void SetShown(int row, const QString& text);
  // The row of the disk `record` names (same kind, same entry text); -1 when gone.
  int RowOf(const DiskRecord& record) const;

  // What to select after a rebuild, given the row selected before it: the
  // same disk by its text, else -1 (the user's disk has gone), or the first
  // row for a fresh list. `lost` is set to the text of a disk that went.
  int RowToSelect(const QString& remembered, bool hadDisks) const;
  // The selection that survives a rebuild: the disk asked for next (an
  // opened image), else the selected one, else the one that went away.
  QString Remembered(int selectedRow);
  void Prefer(const QString& text) { m_preferred = text; }
  void SetLost(const QString& text) { m_lost = text; }
  void ForgetLost() { m_lost.clear(); }

 private:
  std::vector<DiskRecord> m_records;
  std::vector<DeviceEntry> m_units;  // the source's, freed by it before the next walk
  QString m_preferred;  // selected after the next rebuild
  QString m_lost;       // the selected disk that went away, until the user chooses
  std::string m_lastEnumerationError;
};

}  // namespace vorn
