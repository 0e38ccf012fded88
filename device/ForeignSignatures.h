#pragma once
// The marks other formats leave on a card: the magic bytes by which libblkid
// (and so the desktop's automounter) recognises a file system or a partition
// table. Writing a VORN disk's header does not overwrite them all (an ext4
// superblock lies at byte 1024, a FAT32 backup boot sector at sector 6, a GPT
// backup header in the last sector), and a card that still carries one keeps
// being mounted when it is inserted.

#include <cstdint>
#include <string>
#include <vector>

#include "device/SectorDevice.h"

namespace vorn {

struct ForeignSignature {
  std::string type;         // "ext4", "vfat", "gpt", ...
  std::uint64_t offset = 0;  // of the magic bytes, from the device's start
  std::uint32_t length = 0;  // of the magic bytes
};

// Finds the signatures on `device` (the first and last MiB, where every
// common file system and partition table keeps them) and, like wipefs, zeroes
// only their magic bytes, leaving every sector before `keptSectors` (the
// header and table just written) alone. Gives what it erased.
std::vector<ForeignSignature> EraseForeignSignatures(CSectorDevice& device, std::uint64_t keptSectors);

}  // namespace vorn
