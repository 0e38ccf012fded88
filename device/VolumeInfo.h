#pragma once
// One lettered volume that lies on a physical drive: a partition, or a whole
// disk that carries a filesystem itself.

#include <cstdint>
#include <string>

namespace vorn {

inline constexpr const char* kUnknownVolumeText = "UNKNOWN";

struct VolumeInfo {
  bool removable = false;
  std::string path;                // "\\.\E:" with the volume's upper-case letter
  std::uint32_t partition = 0;     // partition number; 0 for a whole disk
  std::string label = kUnknownVolumeText;
  std::uint32_t serial = 0;
  std::string fileSystem = kUnknownVolumeText;
  std::string node;                // the volume's block device node (/dev/sdb1)
};

}  // namespace vorn
