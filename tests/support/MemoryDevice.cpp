#include "tests/support/MemoryDevice.h"

#include <cstring>

#include "device/DeviceExceptions.h"

namespace vorn {

CMemoryDevice::CMemoryDevice(std::uint32_t sectors, bool reportsSize)
    : m_bytes(static_cast<std::size_t>(sectors) * kSectorSize, 0), m_reportsSize(reportsSize) {}

void CMemoryDevice::ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) {
  m_transfers.push_back({false, first, count});
  if (static_cast<std::uint64_t>(first) + count > SectorCount()) {
    throw CUsbDeviceException("Unable to read sector");
  }
  std::memcpy(buffer, Sector(first), static_cast<std::size_t>(count) * kSectorSize);
}

void CMemoryDevice::WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) {
  m_transfers.push_back({true, first, count});
  if (static_cast<std::uint64_t>(first) + count > SectorCount()) {
    throw CUsbDeviceException("Unable to write sector");
  }
  std::memcpy(Sector(first), buffer, static_cast<std::size_t>(count) * kSectorSize);
}

std::vector<Transfer> CMemoryDevice::Writes() const {
  std::vector<Transfer> writes;
  for (const Transfer& t : m_transfers) {
    if (t.write) writes.push_back(t);
  }
  return writes;
}

}  // namespace vorn
