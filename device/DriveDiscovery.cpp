#include "device/DriveDiscovery.h"

#include <cctype>
#include <cstdio>
#include <string_view>

#include "device/DeviceDiscovery.h"
#include "device/DriveRoots.h"
#include "device/LinuxDriveSource.h"

namespace vorn {
namespace {

// 2^-20 as the single-precision constant the size is scaled with; exact, so
// the product equals the size in mebibytes to double precision.
constexpr float kBytesToMebibytes = 9.5367431640625e-07f;

}  // namespace

void EnumerateDrives(std::vector<DeviceEntry>& drives) {
  CLinuxDriveSource source(DriveRoots::FromEnvironment());
  EnumerateDrives(drives, source);
}

void EnumerateDrives(std::vector<DeviceEntry>& drives, CDriveSource& source) {
  drives.clear();
  CDriveTable table;
  table.Refresh(source);
  for (const PhysicalDriveInfo* drive : table.Drives()) {
    if (!IsOfferedDrive(table, *drive)) continue;
    drives.push_back(DeviceEntry{drive->number, DriveEntryText(*drive), ""});
  }
}

bool IsOfferedDrive(const CDriveTable& table, const PhysicalDriveInfo& drive) {
  // A fixed disk whose volumes carry no letter would pass the volume test
  // alone; its own removable flag keeps every internal disk out.
  return drive.removable && table.IsRemovableOnly(drive.number) &&
         !table.HoldsLetter(drive.number, 'C') && !drive.holdsSystem && drive.geometryValid;
}

std::string DriveEntryText(const PhysicalDriveInfo& drive) {
  const std::uint64_t bytes = drive.sectorCount * drive.geometry.bytesPerSector;
  const double mebibytes = static_cast<double>(bytes) * kBytesToMebibytes;
  char head[128];
  std::snprintf(head, sizeof head, "%s (%0.2fMB) (", StripDevicePath(drive.path).c_str(), mebibytes);
  std::string text = head;
  for (std::size_t i = 0; i < drive.volumes.size(); ++i) {
    const char* separator = i + 1 < drive.volumes.size() ? ", " : "";
    text += StripDevicePath(drive.volumes[i].path + separator);
  }
  text += ")";
  // Two readers of one size are told apart by what they are; the size as the
  // card's label states it, in decimal units.
  if (!drive.description.empty()) {
    const double megabytes = static_cast<double>(bytes) / 1e6;
    char size[32];
    if (megabytes >= 1000) {
      std::snprintf(size, sizeof size, "%.1f GB", megabytes / 1000);
    } else {
      std::snprintf(size, sizeof size, "%.0f MB", megabytes);
    }
    text += " - " + drive.description + ", " + size;
  }
  return text;
}

std::optional<int> ParseDriveName(const std::string& name) {
  constexpr std::string_view kPrefix = "physicaldrive";
  if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 3) return std::nullopt;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != kPrefix[i]) return std::nullopt;
  }
  int number = 0;
  for (std::size_t i = kPrefix.size(); i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return std::nullopt;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

}  // namespace vorn
