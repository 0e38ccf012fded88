#include "disk/VornDisk.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>

#include "device/DeviceExceptions.h"

namespace vorn {
namespace {

constexpr const char* kNoRoomMessage = "Not enough free space on the disk";
// Sector numbers are 32-bit: sectors 0 .. 2^32 - 1.
constexpr std::uint64_t kSectorNumbers = std::uint64_t{1} << 32;

// Sectors a table of `records` records occupies.
std::uint64_t TableSectors(std::uint64_t records) {
  return (records + kRoutinesPerTableSector - 1) / kRoutinesPerTableSector;
}

// Sectors a reader touches for a table of `records` records: it reads the
// first table sector even for an empty table, and the next one after every
// eighth record, so one more than it holds when the count is a multiple of 8.
std::uint64_t SectorsRead(std::uint64_t records) { return records / kRoutinesPerTableSector + 1; }

bool Overlaps(std::uint64_t aStart, std::uint64_t aEnd, std::uint64_t bStart, std::uint64_t bEnd) {
  return aStart < bEnd && bStart < aEnd;
}

// Whether `entry` may follow `previous` (null for the first record) in a table
// of routines that all lie below sector `sectorLimit`. Routines begin behind
// the header: a first routine at sector 0 (as one read out of the header
// sector itself is) would put the next import's audio over the header.
bool FollowsOn(const RoutineEntry* previous, const RoutineEntry& entry, std::uint64_t sectorLimit) {
  if (previous == nullptr ? entry.startSector < 1 : entry.startSector != previous->endSector) {
    return false;
  }
  return entry.startSector <= entry.dataSector && entry.dataSector <= entry.endSector &&
         entry.endSector <= sectorLimit;
}

}  // namespace

CVornDisk::CVornDisk(CSectorDevice& device, CStatusText* status)
    : m_device(device), m_status(status) {}

CVornDisk::~CVornDisk() = default;

void CVornDisk::SetStatusText(const std::string& text) {
  if (m_status) m_status->SetText(text);
}

std::uint32_t CVornDisk::NextFreeSector() const {
  return m_table.empty() ? 1 : m_table.back().endSector;
}

bool CVornDisk::CheckTable() const {
  for (std::size_t k = 0; k < m_table.size(); ++k) {
    if (!FollowsOn(k == 0 ? nullptr : &m_table[k - 1], m_table[k], kSectorNumbers)) return false;
  }
  return true;
}

const std::vector<RoutineEntry>& CVornDisk::ReadTable() {
  std::array<std::uint8_t, kSectorSize> sector{};
  m_device.ReadSectors(0, 1, sector.data());
  DiskHeader header = DiskHeader::Decode(sector.data());

  m_valid = header.magic == kDiskMagic;
  m_table.clear();
  m_liveTable.clear();
  m_liveTableSector = 0;

  const std::uint64_t deviceSectors = m_device.GetSectorCount();
  const std::uint64_t count = header.routineCount > 0 ? static_cast<std::uint64_t>(header.routineCount) : 0;
  // A count whose records cannot lie between the table sector and the end of the
  // disk is garbage; reading it would run into the end of the device.
  if (m_valid && deviceSectors != 0 &&
      (header.tableSector >= deviceSectors || header.tableSector + TableSectors(count) > deviceSectors)) {
    m_valid = false;
  }
  // The header's sector holds no records: a table there is the header's own
  // bytes read as routines, and the next header committed would wipe it.
  if (m_valid && count > 0 && header.tableSector == 0) m_valid = false;
  // Nor can a table run past the last sector number there is, whatever the
  // device's size; counting on would wrap round to the header.
  if (m_valid && header.tableSector + TableSectors(count) > kSectorNumbers) m_valid = false;

  if (m_valid) {
    // Every record is judged as it is read and the first one out of line ends
    // the reading: a count that lies (garbage in sector 0, a half-written
    // header) then costs a sector or two, not millions of reads and records.
    // The table grows with the records that passed, never with the count.
    const std::uint64_t sectorLimit = deviceSectors != 0 ? deviceSectors : kSectorNumbers;
    std::uint64_t current = header.tableSector;
    m_device.ReadSectors(header.tableSector, 1, sector.data());
    for (std::uint64_t k = 0; k < count; ++k) {
      std::size_t slot = k % kRoutinesPerTableSector;
      const RoutineEntry entry = RoutineEntry::Decode(sector.data() + slot * RoutineEntry::kEncodedSize);
      if (!FollowsOn(m_table.empty() ? nullptr : &m_table.back(), entry, sectorLimit)) {
        m_valid = false;
        break;
      }
      m_table.push_back(entry);
      if (slot == kRoutinesPerTableSector - 1) {
        ++current;
        // The sector after a full last table sector holds no record; skip it
        // only where it would lie beyond the end of the disk.
        bool more = k + 1 < count;
        if (current < kSectorNumbers && (more || deviceSectors == 0 || current < deviceSectors)) {
          m_device.ReadSectors(static_cast<std::uint32_t>(current), 1, sector.data());
        }
      }
    }
    if (m_valid) {
      m_liveTable = m_table;
      m_liveTableSector = header.tableSector;
    } else {
      m_table.clear();
      m_table.shrink_to_fit();
    }
  }

  SetStatusText("Ready");
  return m_table;
}

std::function<bool(std::uint64_t)> CVornDisk::RoomForNextRoutine() {
  const std::uint64_t start = NextFreeSector();
  const std::uint64_t records = m_table.size() + 1;
  const std::uint64_t deviceSectors = m_device.GetSectorCount();
  return [=](std::uint64_t sectors) {
    const std::uint64_t end = start + sectors + SectorsRead(records);
    return end <= std::numeric_limits<std::uint32_t>::max() &&
           (deviceSectors == 0 || end <= deviceSectors);
  };
}

bool CVornDisk::FitsOnDevice(std::uint64_t tableSector, std::uint64_t records) {
  std::uint64_t end = tableSector + SectorsRead(records);
  if (end > std::numeric_limits<std::uint32_t>::max()) return false;
  std::uint64_t deviceSectors = m_device.GetSectorCount();
  return deviceSectors == 0 || end <= deviceSectors;
}

std::uint64_t CVornDisk::TableReadEnd() const {
  return m_valid ? m_liveTableSector + SectorsRead(m_liveTable.size()) : 0;
}

std::uint64_t CVornDisk::LiveTableEnd() const {
  return m_liveTableSector + TableSectors(m_liveTable.size());
}

void CVornDisk::WriteTableAt(const std::vector<RoutineEntry>& table, std::uint32_t sector) {
  if (table.empty()) return;
  if (sector == 0) throw CUsbDeviceException("The routine table would overwrite the disk header");
  std::vector<std::uint8_t> buffer(TableSectors(table.size()) * kSectorSize, 0);
  for (std::size_t k = 0; k < table.size(); ++k) {
    std::size_t offset = (k / kRoutinesPerTableSector) * kSectorSize +
                         (k % kRoutinesPerTableSector) * RoutineEntry::kEncodedSize;
    table[k].Encode(buffer.data() + offset);
  }
  m_device.WriteSectors(sector, static_cast<std::uint32_t>(buffer.size() / kSectorSize), buffer.data());
}

// The one-sector write that switches the disk from one table to another.
void CVornDisk::CommitHeader(const std::vector<RoutineEntry>& table, std::uint32_t tableSector) {
  DiskHeader header;
  header.routineCount = static_cast<std::int32_t>(table.size());
  header.tableSector = tableSector;
  std::array<std::uint8_t, kSectorSize> sector{};
  header.Encode(sector.data());
  m_device.WriteSectors(0, 1, sector.data());
  m_liveTable = table;
  m_liveTableSector = tableSector;
}

void CVornDisk::WriteAndCommit(const std::vector<RoutineEntry>& table, std::uint32_t sector) {
  WriteTableAt(table, sector);
  CommitHeader(table, sector);
}

void CVornDisk::WriteTable() {
  if (m_table.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw CUsbDeviceException("Too many routines");
  }
  const std::uint32_t target = NextFreeSector();
  const bool isPrefix = m_table.size() <= m_liveTable.size() &&
                        std::equal(m_table.begin(), m_table.end(), m_liveTable.begin());

  if (m_table.empty()) {
    CommitHeader(m_table, target);
  } else if (isPrefix) {
    // A removal: the first records of the live table are the new table, so a
    // shorter count commits it at once, before anything overwrites the removed
    // routine. Then the table moves to its place behind the last routine.
    if (m_table.size() < m_liveTable.size() || m_liveTableSector == target) {
      CommitHeader(m_table, m_liveTableSector);
    }
    // On a disk too full for the move the table stays where it is, which
    // every reader follows through the header.
    if (m_liveTableSector != target) PlaceTable(target);
  } else if (!PlaceTable(target)) {
    throw CUsbDeviceException(kNoRoomMessage);
  }
  SetStatusText("Ready");
}

// Writes the table in memory at `target` and points the header at it, never
// writing over the live table before the header points elsewhere: where the
// place overlaps the live table, a copy behind both is committed first, then
// the table is written into place and committed again. False, with nothing
// written, when the device has no room for the table or for that copy.
bool CVornDisk::PlaceTable(std::uint32_t target) {
  const std::uint64_t targetEnd = target + TableSectors(m_table.size());
  if (!FitsOnDevice(target, m_table.size())) return false;
  if (Overlaps(target, targetEnd, m_liveTableSector, LiveTableEnd())) {
    const std::uint64_t scratch = std::max<std::uint64_t>(targetEnd, LiveTableEnd());
    if (!FitsOnDevice(scratch, m_table.size())) return false;
    WriteAndCommit(m_table, static_cast<std::uint32_t>(scratch));
  }
  WriteAndCommit(m_table, target);
  return true;
}

void CVornDisk::Format() {
  m_table.clear();
  WriteTable();
}

void CVornDisk::RemoveLastRoutine() {
  if (m_table.empty()) throw CUsbDeviceException("Too few tracks");
  m_table.pop_back();
  WriteTable();
}

void CVornDisk::TruncateTable(std::size_t count) {
  if (count >= m_table.size()) return;
  m_table.resize(count);
  WriteTable();
}

void CVornDisk::AppendRoutine(const RoutineEntry& entry, const std::function<void()>& writeRoutine) {
  if (entry.startSector != NextFreeSector() || entry.startSector > entry.dataSector ||
      entry.dataSector > entry.endSector) {
    throw std::invalid_argument("AppendRoutine: the routine must start at the first free sector");
  }
  const std::uint64_t count = m_table.size() + 1;
  const std::uint64_t tableEnd = entry.endSector + TableSectors(count);
  // Routine and new table take [start, tableEnd); a live table there moves behind.
  const bool moveLiveTable =
      !m_liveTable.empty() && Overlaps(entry.startSector, tableEnd, m_liveTableSector, LiveTableEnd());
  const std::uint64_t scratch = std::max<std::uint64_t>(tableEnd, LiveTableEnd());

  if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ||
      !FitsOnDevice(entry.endSector, count) ||
      (moveLiveTable && !FitsOnDevice(scratch, m_liveTable.size()))) {
    throw CUsbDeviceException("Not enough free space on the disk for this routine");
  }

  if (moveLiveTable) {
    WriteAndCommit(m_liveTable, static_cast<std::uint32_t>(scratch));
  }
  writeRoutine();

  std::vector<RoutineEntry> table = m_table;
  table.push_back(entry);
  WriteAndCommit(table, entry.endSector);
  m_table = std::move(table);
  SetStatusText("Ready");
}

}  // namespace vorn
