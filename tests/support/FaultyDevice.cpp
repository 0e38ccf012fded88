#include "tests/support/FaultyDevice.h"

#include "device/DeviceExceptions.h"

namespace vorn {

CFaultyDevice::CFaultyDevice(CMemoryDevice& backing, std::uint32_t failingWrite, FaultMode mode)
    : m_backing(backing), m_failingWrite(failingWrite), m_mode(mode) {}

void CFaultyDevice::ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) {
  if (m_failed) throw CUsbDeviceException("Unable to read sector");
  m_backing.ReadSectors(first, count, buffer);
}

void CFaultyDevice::WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) {
  ++m_writes;
  if (m_failed) throw CUsbDeviceException("Unable to write sector");
  if (m_writes == m_failingWrite) {
    m_failed = true;
    std::uint32_t done = m_mode == FaultMode::kFirstHalfWritten ? count / 2
                         : m_mode == FaultMode::kAllWritten   ? count
                                                              : 0;
    if (done > 0) m_backing.WriteSectors(first, done, buffer);
    throw CUsbDeviceException("Unable to write sector");
  }
  m_backing.WriteSectors(first, count, buffer);
}

}  // namespace vorn
