#include "ui/DiskListModel.h"

#include <QFile>

#include <cstdlib>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "ui/DeviceSource.h"

namespace vorn {
namespace {

std::vector<DeviceEntry> ImageEntries(const std::vector<std::string>& opened) {
  std::vector<DeviceEntry> entries;
  if (const char* list = std::getenv("VORN_DEMO_IMAGE")) {
    for (const QString& path : QString::fromLocal8Bit(list).split(':', Qt::SkipEmptyParts)) {
      entries.push_back(CImageDevice::EntryFor(QFile::encodeName(path).toStdString()));
    }
  }
  for (const std::string& path : opened) {
    bool listed = false;
    for (const DeviceEntry& entry : entries) listed = listed || entry.text == path;
    if (!listed) entries.push_back(CImageDevice::EntryFor(path));
  }
  return entries;
}

}  // namespace

int CDiskListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_records.size());
}

QVariant CDiskListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::DisplayRole || role == Qt::EditRole || role == Qt::AccessibleTextRole) {
    return m_records[static_cast<std::size_t>(index.row())].shown;
  }
  return {};
}

DiskRecord CDiskListModel::Record(int row) const {
  if (row < 0 || row >= rowCount()) return {};
  return m_records[static_cast<std::size_t>(row)];
}

void CDiskListModel::SetShown(int row, const QString& text) {
  if (row < 0 || row >= rowCount()) return;
  m_records[static_cast<std::size_t>(row)].shown = text;
  emit dataChanged(index(row), index(row));
}

int CDiskListModel::RowOf(const DiskRecord& record) const {
  for (int row = 0; row < rowCount(); ++row) {
    const DiskRecord& mine = m_records[static_cast<std::size_t>(row)];
    if (mine.kind == record.kind && mine.entry.text == record.entry.text) return row;
  }
  return -1;
}

QString CDiskListModel::Remembered(int selectedRow) {
  QString remembered = m_preferred.isEmpty() ? QString::fromLocal8Bit(Record(selectedRow).entry.text) : m_preferred;
  if (remembered.isEmpty()) remembered = m_lost;  // the user's disk may come back
  m_preferred.clear();
  return remembered;
}

int CDiskListModel::RowToSelect(const QString& remembered, bool hadDisks) const {
  int select = -1;
  for (int row = 0; row < rowCount(); ++row) {
    if (QString::fromLocal8Bit(m_records[static_cast<std::size_t>(row)].entry.text) == remembered) select = row;
  }
  // The disk the user picked has gone: nothing is selected rather than another
  // disk, so the next action cannot hit a disk the user did not choose. A
  // fresh list (the first, or disks where there were none) starts at the top.
  if (select < 0 && remembered.isEmpty() && !hadDisks && rowCount() > 0) select = 0;
  return select;
}

std::string CDiskListModel::Rebuild(CDeviceSource& source, const std::vector<std::string>& openedImages) {
  std::vector<DeviceEntry> drives;
  source.FreeUnitEntries(m_units);
  source.EnumerateDrives(drives);
  // A unit that cannot be opened ends the unit walk; the units found before it
  // are still offered. The same failure is reported once, not on every refresh
  // that a flapping unit triggers.
  std::string enumerationError;
  try {
    source.EnumerateUnits(m_units);
  } catch (const CUsbDeviceException& e) {
    enumerationError = e.GetMessage();
  }
  beginResetModel();
  m_records.clear();
  const auto add = [this](DiskKind kind, const std::vector<DeviceEntry>& entries) {
    for (const DeviceEntry& entry : entries) {
      m_records.push_back(DiskRecord{kind, entry, QString::fromLocal8Bit(entry.text)});
    }
  };
  add(DiskKind::kDrive, drives);
  add(DiskKind::kUnit, m_units);
  add(DiskKind::kImage, ImageEntries(openedImages));
  endResetModel();

  const bool report = !enumerationError.empty() && enumerationError != m_lastEnumerationError;
  m_lastEnumerationError = enumerationError;
  return report ? enumerationError : std::string();
}

}  // namespace vorn
