#pragma once
// Label, serial number and filesystem name of a volume, read with libblkid.

#include <cstdint>
#include <string>

namespace vorn {

struct VolumeLabel {
  bool found = false;  // a filesystem was recognised
  std::string label;
  std::uint32_t serial = 0;
  std::string fileSystem;
};

// Probes the filesystem superblock of a device node or image file. Nothing is
// found when the node cannot be read or holds no single recognised filesystem.
// Names follow what users know from other systems: FAT32, FAT (12/16), exFAT,
// NTFS, otherwise the upper-cased libblkid type (EXT4). The serial is the FAT
// or exFAT volume id, the low half of an NTFS serial, 0 otherwise.
VolumeLabel ProbeVolume(const std::string& node);

// The 32-bit serial in a libblkid UUID text: "1A2B-3C4D" (FAT, exFAT) or 16 hex
// digits (NTFS, low half); 0 for any other form.
std::uint32_t SerialFromUuid(const std::string& uuid);

}  // namespace vorn
