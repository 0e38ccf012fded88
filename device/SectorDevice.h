#pragma once
// The abstract disk: whole 512-byte sectors, addressed by unsigned 32-bit numbers.
// A transfer moves every sector or throws CUsbDeviceException; there is no
// partial result.

#include <cstdint>
#include <string>

#include "device/DeviceEntry.h"

namespace vorn {

inline constexpr std::uint32_t kSectorSize = 512;
// The unit protocol's transfer: at most 128 sectors (64 KiB) per call.
inline constexpr std::uint32_t kProtocolPieceSectors = 128;

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

  // Sectors one transfer should move for the device to keep its pace, a
  // multiple of kProtocolPieceSectors. Callers copying many sectors group their
  // pieces into transfers this large. A unit takes its protocol's size; a drive
  // or an image file, where every durable write waits for a flush, far more.
  virtual std::uint32_t TransferSectors() { return kProtocolPieceSectors; }
};

}  // namespace vorn
