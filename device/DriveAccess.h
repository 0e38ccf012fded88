#pragma once
// A removable drive as a sector device, opened by its physical drive number.
//
// Every Open scans the drives afresh, so an entry from an earlier discovery
// reaches the same drive only while that drive is still there. A drive that is
// in use (a mounted filesystem, active swap, a mapped device on top) is refused,
// and the drive is held exclusively while open.

#include <cstdint>
#include <memory>
#include <string>

#include "device/DriveRoots.h"
#include "device/SectorDevice.h"
#include "device/SectorFile.h"

namespace vorn {

class CDriveAccess : public CSectorDevice {
 public:
  CDriveAccess();  // the process's drive roots (DriveRoots::FromEnvironment)
  explicit CDriveAccess(DriveRoots roots,
                        CSectorFile::Durability durability = CSectorFile::kDefaultDurability);
  ~CDriveAccess() override;
  CDriveAccess(const CDriveAccess&) = delete;
  CDriveAccess& operator=(const CDriveAccess&) = delete;

  // Sectors of 512 bytes; a drive beyond 2^32 sectors reports 2^32 - 1, the
  // last sector a 32-bit sector number reaches.
  std::uint32_t GetSectorCount() override;
  std::string GetName() override;  // PhysicalDrive2
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override;
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override;
  void Open(const DeviceEntry& entry) override;  // entry.key: the drive number
  void Close() override;
  bool Identify() override { return true; }

 private:
  DriveRoots m_roots;
  CSectorFile::Durability m_durability;
  std::string m_path;
  std::uint64_t m_sectorCount = 0;  // 512-byte sectors
  std::unique_ptr<CSectorFile> m_file;
};

// The second line of "Could not open drive": the system's reason and what to do.
std::string DriveOpenReason(int error, const std::string& node);

}  // namespace vorn
