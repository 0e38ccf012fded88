#pragma once
// One physical drive that could be opened for query, and the volumes on it.

#include <cstdint>
#include <string>
#include <vector>

#include "device/VolumeInfo.h"

namespace vorn {

// A mounted filesystem on a drive, by the node udisks2 knows it as.
struct DriveMount {
  std::string devicePath;  // /dev/sdb1
  std::string mountPoint;  // /media/user/CARD
};

// What the drive reports about its size.
struct DriveGeometry {
  std::uint32_t bytesPerSector = 0;  // the logical block size
  std::uint64_t diskSize = 0;        // bytes
};

struct PhysicalDriveInfo {
  bool geometryValid = false;
  DriveGeometry geometry;
  int number = 0;                    // 0..25
  std::string path;                  // "\\.\PhysicalDrive%i"
  std::uint64_t sectorCount = 0;     // diskSize / bytesPerSector, when the geometry is valid
  std::vector<VolumeInfo> volumes;   // ascending letter order

  std::string node;                  // the drive's block device node (/dev/sdb)
  std::string devicePath;            // /dev/NAME, as udisks2 knows it
  std::string majorMinor;            // "8:16"
  std::string description;           // "Generic STORAGE DEVICE"; empty when unknown
  std::vector<DriveMount> mounts;    // mounted filesystems on the drive
  bool removable = false;            // the drive itself: a removable medium, or on USB / MMC
  bool inUse = false;                // mounted, active swap, or held by a mapped device
  bool holdsSystem = false;          // holds a mounted system filesystem or active swap
};

// "\\.\PhysicalDrive%i" for a drive number.
std::string PhysicalDrivePath(int number);

// The text with every leading and trailing backslash and full stop removed:
// "\\.\PhysicalDrive2" gives PhysicalDrive2, "\\.\E:" gives E:.
std::string StripDevicePath(const std::string& path);

}  // namespace vorn
