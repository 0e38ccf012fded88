#pragma once
// A DISK argument that names a raw drive: "PhysicalDriveN".

#include <memory>
#include <optional>
#include <string>

#include "device/ImageDevice.h"
#include "device/SectorDevice.h"

namespace vorn {

// The drive number when `argument` is a drive name, none otherwise.
std::optional<int> DriveArgumentNumber(const std::string& argument);

// Opens drive `number` only when discovery offers it, as the window would:
// any other drive (a system disk, a fixed disk, one that is gone) is refused
// with CUsbDeviceException before anything is opened. A mounted card is
// unmounted first with `unmount`, refused without. `access` kRead opens it
// read-only.
std::unique_ptr<CSectorDevice> OpenDriveArgument(const std::string& argument, int number, bool unmount = false,
                                                 ImageAccess access = ImageAccess::kWrite);

// The number of the drive whose node `path` is (a block device such as
// /dev/sdb or a link to one, like /dev/disk/by-id/…), whether or not
// discovery offers it; none when it is no drive's node.
std::optional<int> DriveNumberOfNode(const std::string& path);

}  // namespace vorn
