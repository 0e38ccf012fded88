// The routine table reader on any disk contents: it never reads or writes out
// of bounds, whatever the header claims; it keeps only a well-formed chain; it
// stops at the first record out of line; and what it keeps survives a removal
// written back through the same code.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/VornDisk.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace vorn;
using vorn::fuzz::CFuzzDevice;

namespace {

// How many records from the start of the table form a chain, walked over the
// disk's bytes directly: the reader may not read far past them.
std::size_t ChainLength(const CFuzzDevice& device) {
  const DiskHeader header = DiskHeader::Decode(device.Sector(0));
  std::size_t length = 0;
  std::uint32_t previousEnd = 0;
  for (std::int64_t k = 0; k < header.routineCount; ++k) {
    const std::uint64_t sector = header.tableSector + static_cast<std::uint64_t>(k) / 8;
    if (sector >= device.Sectors()) break;
    const RoutineEntry entry = RoutineEntry::Decode(device.Sector(static_cast<std::uint32_t>(sector)) + 62 * (k % 8));
    const bool follows = k == 0 ? entry.startSector >= 1 : entry.startSector == previousEnd;
    if (!follows || entry.startSector > entry.dataSector || entry.dataSector > entry.endSector) break;
    previousEnd = entry.endSector;
    ++length;
  }
  return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte chooses whether the device knows its size; the rest is the
  // disk, sector 0 first.
  const bool reportsSize = (data[0] & 1) == 0;
  CFuzzDevice device(std::vector<std::uint8_t>(data + 1, data + size), reportsSize);
  if (device.Sectors() == 0) return 0;

  std::vector<RoutineEntry> table;
  bool valid = false;
  try {
    CVornDisk disk(device, nullptr);
    table = disk.ReadTable();
    valid = disk.IsValid();
    VORN_FUZZ_CHECK(valid || table.empty());
    VORN_FUZZ_CHECK(disk.CheckTable());
    // Header, then the table's sectors up to the record that ended the reading.
    VORN_FUZZ_CHECK(device.reads <= 2 + ChainLength(device) / 8);
    for (const RoutineEntry& entry : table) {
      VORN_FUZZ_CHECK(entry.endSector <= device.Sectors() || !reportsSize);
    }
    if (valid) VORN_FUZZ_CHECK(disk.NextFreeSector() >= 1);
  } catch (const CUsbDeviceException&) {
    // A device that does not know its size fails where its sectors end.
    VORN_FUZZ_CHECK(!reportsSize);
    return 0;
  }
  if (!valid || table.empty()) return 0;

  // Remove the last routine and read again: the rest must read back as it was.
  try {
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    disk.RemoveLastRoutine();
  } catch (const CUsbDeviceException&) {
    return 0;  // a write past the end of a device of unknown size
  }
  CVornDisk reader(device, nullptr);
  std::vector<RoutineEntry> after;
  try {
    after = reader.ReadTable();
  } catch (const CUsbDeviceException&) {
    VORN_FUZZ_CHECK(!reportsSize);
    return 0;
  }
  table.pop_back();
  VORN_FUZZ_CHECK(reader.IsValid());
  VORN_FUZZ_CHECK(after == table);
  return 0;
}
