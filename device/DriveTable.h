#pragma once
// The inventory of physical drives (numbers 0..25) and the volumes on them.
//
// The drives sit in a 17-bucket hash map keyed by (number / 16) % 17, each new
// record at the head of its bucket's chain, so walking the map visits drive
// numbers 15 down to 0, then 25 down to 16. Discovery lists drives in that
// order, and users know their drives by it; keep it.

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "device/DriveSource.h"
#include "device/PhysicalDriveInfo.h"

namespace vorn {

class CDriveTable {
 public:
  static constexpr std::size_t kBucketCount = 17;

  CDriveTable() = default;
  CDriveTable(const CDriveTable&) = delete;
  CDriveTable& operator=(const CDriveTable&) = delete;

  // Empties the table, then takes the drives and volumes the source reports. A
  // volume on a drive that is not in the table is discarded.
  void Refresh(CDriveSource& source);
  void Clear();

  const PhysicalDriveInfo* FindDrive(int number) const;
  // True when the drive is in the table and every one of its volumes is
  // removable; a drive without volumes passes.
  bool IsRemovableOnly(int number) const;
  // True when the drive is in the table and the letter maps to that drive.
  bool HoldsLetter(int number, char letter) const;

  // The drives in map order (15..0, then 25..16).
  std::vector<const PhysicalDriveInfo*> Drives() const;

 private:
  PhysicalDriveInfo* Find(int number) const;
  void Insert(std::unique_ptr<PhysicalDriveInfo> drive);

  using Chain = std::vector<std::unique_ptr<PhysicalDriveInfo>>;  // back = head
  std::array<Chain, kBucketCount> m_buckets;
  std::array<const PhysicalDriveInfo*, 26> m_letters{};  // 'A'..'Z', not owning
};

}  // namespace vorn
