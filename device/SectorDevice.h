#pragma once
// The abstract disk: whole 512-byte sectors, addressed by unsigned 32-bit numbers.
// A transfer moves every sector or throws CUsbDeviceException; there is no
// partial result.

#include <cstdint>
#include <string>

#include "device/DeviceEntry.h"

namespace vorn {

inline constexpr std::uint32_t kSectorSize = 512;

class CSectorDevice {
 public:
  virtual ~CSectorDevice() = default;

  virtual std::uint32_t GetSectorCount() = 0;  // 0 when the device does not know its size
  virtual std::string GetName() = 0;
  virtual void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) = 0;
  virtual void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) = 0;
  virtual void Open(const DeviceEntry& entry) = 0;
  virtual void Close() = 0;
  virtual bool Identify() = 0;
};

}  // namespace vorn
