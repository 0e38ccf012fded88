#pragma once
// Sector 0 of a VORN disk.

#include <cstdint>

namespace vorn {

inline constexpr std::uint32_t kDiskMagic = 0xAA00AA00u;
inline constexpr std::uint32_t kFormatNumber = 2;
inline constexpr std::uint32_t kRoutinesPerTableSector = 8;

struct DiskHeader {
  std::uint32_t magic = kDiskMagic;
  std::int32_t routineCount = 0;
  std::uint32_t tableSector = 1;
  std::uint32_t formatNumber = kFormatNumber;

  void Encode(std::uint8_t* sector) const;  // fills all 512 bytes (zero after offset 16)
  static DiskHeader Decode(const std::uint8_t* sector);
};

}  // namespace vorn
