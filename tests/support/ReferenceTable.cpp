#include "tests/support/ReferenceTable.h"

#include <array>
#include <cstring>

#include "device/DeviceExceptions.h"
#include "disk/DiskHeader.h"

namespace vorn {

std::optional<ReferenceReading> ReferenceReadTable(CSectorDevice& device) {
  try {
    ReferenceReading reading;
    std::array<std::uint8_t, kSectorSize> sector{};
    device.ReadSectors(0, 1, sector.data());
    DiskHeader header = DiskHeader::Decode(sector.data());
    reading.valid = header.magic == kDiskMagic;
    if (reading.valid) {
      std::uint32_t current = header.tableSector;
      device.ReadSectors(current, 1, sector.data());
      for (std::int32_t k = 0; k < header.routineCount; ++k) {
        reading.table.push_back(RoutineEntry::Decode(sector.data() + 62 * (k % 8)));
        if (k % 8 == 7) device.ReadSectors(++current, 1, sector.data());
      }
      for (std::size_t k = 0; k < reading.table.size(); ++k) {
        const RoutineEntry& e = reading.table[k];
        bool ok = e.startSector <= e.dataSector && e.dataSector <= e.endSector &&
                  (k + 1 == reading.table.size() || e.endSector == reading.table[k + 1].startSector);
        if (!ok) {
          reading.valid = false;
          reading.table.clear();
          break;
        }
      }
    }
    return reading;
  } catch (const CUsbDeviceException&) {
    return std::nullopt;
  }
}

RoutineEntry MakeRoutine(std::uint32_t start, std::uint32_t sectors, const std::string& title) {
  RoutineEntry entry;
  std::memcpy(entry.title.data(), title.data(), std::min(title.size(), entry.title.size()));
  entry.startSector = start;
  entry.dataSector = start + sectors / 2;
  entry.endSector = start + sectors;
  entry.frameRate = 25;
  entry.baudCode = 2;
  entry.controllerSettings[0] = 1;
  entry.controllerSettings[31] = 0x5A;
  return entry;
}

std::vector<RoutineEntry> MakeRoutines(std::size_t count, const std::vector<std::uint32_t>& sizes) {
  std::vector<RoutineEntry> table;
  std::uint32_t start = 1;
  for (std::size_t k = 0; k < count; ++k) {
    std::uint32_t sectors = sizes[k % sizes.size()];
    table.push_back(MakeRoutine(start, sectors, "Routine " + std::to_string(k)));
    start += sectors;
  }
  return table;
}

namespace {
std::uint8_t PatternByte(const RoutineEntry& entry, std::size_t offset) {
  std::size_t seed = 0;
  for (char c : entry.title) seed = seed * 31 + static_cast<unsigned char>(c);
  return static_cast<std::uint8_t>((seed + offset * 7 + offset / kSectorSize) & 0xFF);
}
}  // namespace

void FillRoutine(CMemoryDevice& device, const RoutineEntry& entry) {
  std::uint8_t* p = device.Sector(entry.startSector);
  std::size_t bytes = static_cast<std::size_t>(entry.endSector - entry.startSector) * kSectorSize;
  for (std::size_t i = 0; i < bytes; ++i) p[i] = PatternByte(entry, i);
}

void WriteRoutineSectors(CSectorDevice& device, const RoutineEntry& entry) {
  std::array<std::uint8_t, kSectorSize> sector{};
  for (std::uint32_t n = entry.startSector; n < entry.endSector; ++n) {
    std::size_t base = static_cast<std::size_t>(n - entry.startSector) * kSectorSize;
    for (std::size_t i = 0; i < kSectorSize; ++i) sector[i] = PatternByte(entry, base + i);
    device.WriteSectors(n, 1, sector.data());
  }
}

bool RoutineIntact(CMemoryDevice& device, const RoutineEntry& entry) {
  const std::uint8_t* p = device.Sector(entry.startSector);
  std::size_t bytes = static_cast<std::size_t>(entry.endSector - entry.startSector) * kSectorSize;
  for (std::size_t i = 0; i < bytes; ++i) {
    if (p[i] != PatternByte(entry, i)) return false;
  }
  return true;
}

void LayOutDisk(CMemoryDevice& device, const std::vector<RoutineEntry>& table,
                std::optional<std::uint32_t> tableSector) {
  DiskHeader header;
  header.routineCount = static_cast<std::int32_t>(table.size());
  header.tableSector = tableSector.value_or(table.empty() ? 1 : table.back().endSector);
  header.Encode(device.Sector(0));
  for (std::size_t k = 0; k < table.size(); ++k) {
    std::uint8_t* sector = device.Sector(header.tableSector + static_cast<std::uint32_t>(k / 8));
    if (k % 8 == 0) std::memset(sector, 0, kSectorSize);
    table[k].Encode(sector + 62 * (k % 8));
  }
}

}  // namespace vorn
