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
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t at = m_real != 0 ? (first + i) % m_real : first + i;
    std::memcpy(static_cast<std::uint8_t*>(buffer) + std::size_t{i} * kSectorSize, Sector(at), kSectorSize);
  }
}

void CMemoryDevice::WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) {
  m_transfers.push_back({true, first, count});
  if (static_cast<std::uint64_t>(first) + count > SectorCount()) {
    throw CUsbDeviceException("Unable to write sector");
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t at = m_real != 0 ? (first + i) % m_real : first + i;
    std::memcpy(Sector(at), static_cast<const std::uint8_t*>(buffer) + std::size_t{i} * kSectorSize, kSectorSize);
  }
}

std::vector<Transfer> CMemoryDevice::Writes() const {
  std::vector<Transfer> writes;
  for (const Transfer& t : m_transfers) {
    if (t.write) writes.push_back(t);
  }
  return writes;
}

}  // namespace vorn
