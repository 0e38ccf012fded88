#pragma once
// Where the drive table gets its inventory from. The table keeps the numbering,
// the walk order and the letter map; a back end only reports what the system
// has: the physical drives that can be opened for query and the lettered volumes.
// CLinuxDriveSource is the back end of this platform; tests supply their own.

#include <string>
#include <vector>

#include "device/PhysicalDriveInfo.h"
#include "device/VolumeInfo.h"

namespace vorn {

// Drive numbers run from 0 to 25, like the letters.
inline constexpr int kLastDriveNumber = 25;

struct ScannedDrive {
  int number = 0;
  std::string node;
  std::string devicePath;   // /dev/NAME, whatever directory `node` lies in
  std::string majorMinor;   // the kernel's device number, "8:16"
  std::string description;  // vendor and model, when the system names them
  std::vector<DriveMount> mounts;
  bool geometryValid = false;
  DriveGeometry geometry;
  bool removable = false;
  bool inUse = false;
  bool holdsSystem = false;
};

struct ScannedVolume {
  char letter = 0;     // 'C'..'Z'
  int driveNumber = 0; // may lie outside 0..25; the table then discards the volume
  VolumeInfo info;
};

struct DriveScan {
  std::vector<ScannedDrive> drives;    // drive numbers 0..25 only
  std::vector<ScannedVolume> volumes;  // ascending letter order
};

class CDriveSource {
 public:
  virtual ~CDriveSource() = default;
  virtual DriveScan Scan() = 0;
};

}  // namespace vorn
