#pragma once
// The mounted filesystems (/proc/self/mountinfo) and the active swap areas
// (/proc/swaps), as far as drive discovery needs them.

#include <string>
#include <vector>

namespace vorn {

struct MountRecord {
  std::string device;      // "major:minor" of the mounted block device
  std::string mountPoint;  // unescaped
  std::string source;      // the mount source, e.g. /dev/sdb1
};

// Every mount of the table; an unreadable table gives none.
std::vector<MountRecord> ReadMountInfo(const std::string& path);

// The paths of the active swap partitions (swap files are left out: they lie on
// a mounted filesystem, which the mount table covers already).
std::vector<std::string> ReadSwapPartitions(const std::string& path);

// "/", /boot, /boot/efi, /boot/firmware, /efi, /usr, /var, /home: a drive that
// holds one of these is the running system's.
bool IsSystemMountPoint(const std::string& mountPoint);

}  // namespace vorn
