#include "disk/DiskHeader.h"

#include <cstring>

#include "device/SectorDevice.h"
#include "platform/LittleEndian.h"

namespace vorn {

void DiskHeader::Encode(std::uint8_t* sector) const {
  std::memset(sector, 0, kSectorSize);
  PutLe32(sector + 0, magic);
  PutLe32(sector + 4, static_cast<std::uint32_t>(routineCount));
  PutLe32(sector + 8, tableSector);
  PutLe32(sector + 12, formatNumber);
}

DiskHeader DiskHeader::Decode(const std::uint8_t* sector) {
  DiskHeader header;
  header.magic = GetLe32(sector + 0);
  header.routineCount = static_cast<std::int32_t>(GetLe32(sector + 4));
  header.tableSector = GetLe32(sector + 8);
  header.formatNumber = GetLe32(sector + 12);
  return header;
}

}  // namespace vorn
