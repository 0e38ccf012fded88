#include "disk/RoutineEntry.h"

#include <algorithm>
#include <cstring>

#include "device/SectorDevice.h"
#include "disk/DiskText.h"
#include "platform/LittleEndian.h"

namespace vorn {

void RoutineEntry::Encode(std::uint8_t* out) const {
  std::memcpy(out + 0, title.data(), kTitleSize);
  PutLe32(out + 16, startSector);
  PutLe32(out + 20, dataSector);
  PutLe32(out + 24, endSector);
  out[28] = frameRate;
  out[29] = baudCode;
  std::memcpy(out + 30, controllerSettings.data(), controllerSettings.size());
}

RoutineEntry RoutineEntry::Decode(const std::uint8_t* in) {
  RoutineEntry entry;
  std::memcpy(entry.title.data(), in + 0, kTitleSize);
  entry.startSector = GetLe32(in + 16);
  entry.dataSector = GetLe32(in + 20);
  entry.endSector = GetLe32(in + 24);
  entry.frameRate = in[28];
  entry.baudCode = in[29];
  std::memcpy(entry.controllerSettings.data(), in + 30, entry.controllerSettings.size());
  return entry;
}

std::string RoutineEntry::Title() const {
  // A 16-character title fills the field without a terminating NUL.
  auto end = std::find(title.begin(), title.end(), '\0');
  return std::string(title.begin(), end);
}

std::string RoutineEntry::DisplayTitle() const { return DiskTextToUtf8(Title()); }

std::uint64_t RoutineEntry::SizeBytes() const {
  return static_cast<std::uint64_t>(endSector - startSector) * kSectorSize;
}

}  // namespace vorn
