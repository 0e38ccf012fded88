#include "tools/DriveArgument.h"

#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "device/DeviceDiscovery.h"
#include "device/DeviceExceptions.h"
#include "device/DriveAccess.h"
#include "device/DriveDiscovery.h"
#include "device/DriveRoots.h"
#include "device/DriveTable.h"
#include "device/LinuxDriveSource.h"

namespace vorn {

std::optional<int> DriveArgumentNumber(const std::string& argument) {
  return ParseDriveName(argument);
}

std::optional<int> DriveNumberOfNode(const std::string& path) {
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) return std::nullopt;
  const DriveRoots roots = DriveRoots::FromEnvironment();
  // A regular file is a drive's node only in a fixture tree's node directory;
  // any other is an image, and needs no scan of the drives.
  if (!S_ISBLK(named.st_mode)) {
    std::error_code error;
    const auto parent = std::filesystem::weakly_canonical(path, error).parent_path();
    if (error || parent != std::filesystem::weakly_canonical(roots.dev, error)) return std::nullopt;
  }
  CDriveTable table;
  CLinuxDriveSource source(roots);
  table.Refresh(source);
  for (const PhysicalDriveInfo* drive : table.Drives()) {
    struct stat node {};
    if (::stat(drive->node.c_str(), &node) != 0) continue;
    // The kernel's device number names a block device whatever link led to
    // it; a fixture's node (a regular file) is that very file.
    const bool same = S_ISBLK(named.st_mode) ? S_ISBLK(node.st_mode) && node.st_rdev == named.st_rdev
                                             : S_ISREG(node.st_mode) && node.st_dev == named.st_dev &&
                                                   node.st_ino == named.st_ino;
    if (same) return drive->number;
  }
  return std::nullopt;
}

std::unique_ptr<CSectorDevice> OpenDriveArgument(const std::string& argument, int number, bool unmount,
                                                 ImageAccess access) {
  std::vector<DeviceEntry> drives;
  EnumerateDrives(drives);
  for (const DeviceEntry& entry : drives) {
    if (*entry.DriveNumber() != number) continue;
    auto device = std::make_unique<CDriveAccess>();
    device->SetAccess(access);
    device->SetMountPolicy(unmount ? MountPolicy::kUnmount : MountPolicy::kRefuse,
                           "Give --unmount to unmount it.");
    device->Open(entry);
    return device;
  }
  throw CUsbDeviceException(argument +
                            " is not offered: only a removable drive without a system filesystem "
                            "can be used (see 'vorn3ctl devices')");
}

}  // namespace vorn
