#pragma once
// The drive back end of Linux: physical drives from <sysfs>/block, their nodes
// in <dev>, volumes from partitions (or a whole disk that carries a filesystem),
// volume names from libblkid, mounts and swap from the kernel's tables.
//
// Numbering: the whole disks (sd*, mmcblk*, nvme*, vd*, hd*, xvd*, …; never
// loop, ram, zram, dm-, md, sr, fd, nbd, or an eMMC boot/rpmb area) are put in
// natural name order — letter runs shorter first, then alphabetical; digit runs
// by value — so sda … sdz, sdaa come in kernel order and mmcblk2 precedes
// mmcblk10. The first 26 get drive numbers 0 to 25. A drive whose node is
// missing keeps its number but gets no record.
//
// Letters: the volume that holds "/" is C:. Every other volume, taken in (drive
// number, partition number) order, gets the next free letter from D: to Z:.
//
// Geometry: logical block size and size from sysfs; a drive of size 0 (a card
// reader without a card) has no valid geometry.
//
// Removable: the kernel's removable flag, or a disk on the USB or MMC bus.

#include <string>

#include "device/DriveRoots.h"
#include "device/DriveSource.h"

namespace vorn {

class CLinuxDriveSource : public CDriveSource {
 public:
  explicit CLinuxDriveSource(DriveRoots roots);
  DriveScan Scan() override;

  // True for the kernel names of whole disks that can carry a VORN disk.
  static bool IsPhysicalDiskName(const std::string& name);
  // Natural order of kernel names (see above).
  static bool NaturalLess(const std::string& a, const std::string& b);

 private:
  DriveRoots m_roots;
};

}  // namespace vorn
