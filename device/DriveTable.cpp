#include "device/DriveTable.h"

#include <cctype>

namespace vorn {
namespace {

std::size_t BucketOf(int number) {
  return static_cast<std::size_t>(number / 16) % CDriveTable::kBucketCount;
}

}  // namespace

void CDriveTable::Clear() {
  for (Chain& chain : m_buckets) chain.clear();
  m_letters.fill(nullptr);
}

void CDriveTable::Refresh(CDriveSource& source) {
  Clear();
  DriveScan scan = source.Scan();
  for (const ScannedDrive& scanned : scan.drives) {
    if (scanned.number < 0 || scanned.number > kLastDriveNumber || Find(scanned.number)) continue;
    auto drive = std::make_unique<PhysicalDriveInfo>();
    drive->number = scanned.number;
    drive->path = PhysicalDrivePath(scanned.number);
    drive->node = scanned.node;
    drive->devicePath = scanned.devicePath;
    drive->majorMinor = scanned.majorMinor;
    drive->description = scanned.description;
    drive->mounts = scanned.mounts;
    drive->removable = scanned.removable;
    drive->inUse = scanned.inUse;
    drive->holdsSystem = scanned.holdsSystem;
    if (scanned.geometryValid && scanned.geometry.bytesPerSector != 0) {
      drive->geometryValid = true;
      drive->geometry = scanned.geometry;
      drive->sectorCount = scanned.geometry.diskSize / scanned.geometry.bytesPerSector;
    }
    Insert(std::move(drive));
  }
  for (ScannedVolume& volume : scan.volumes) {
    const unsigned char letter = static_cast<unsigned char>(std::toupper(volume.letter));
    if (letter < 'A' || letter > 'Z') continue;
    PhysicalDriveInfo* drive = Find(volume.driveNumber);
    if (drive == nullptr) continue;
    drive->volumes.push_back(std::move(volume.info));
    m_letters[letter - 'A'] = drive;
  }
}

void CDriveTable::Insert(std::unique_ptr<PhysicalDriveInfo> drive) {
  m_buckets[BucketOf(drive->number)].push_back(std::move(drive));
}

PhysicalDriveInfo* CDriveTable::Find(int number) const {
  if (number < 0) return nullptr;
  for (const auto& drive : m_buckets[BucketOf(number)]) {
    if (drive->number == number) return drive.get();
  }
  return nullptr;
}

const PhysicalDriveInfo* CDriveTable::FindDrive(int number) const { return Find(number); }

bool CDriveTable::IsRemovableOnly(int number) const {
  const PhysicalDriveInfo* drive = Find(number);
  if (drive == nullptr) return false;
  for (const VolumeInfo& volume : drive->volumes) {
    if (!volume.removable) return false;
  }
  return true;
}

bool CDriveTable::HoldsLetter(int number, char letter) const {
  const PhysicalDriveInfo* drive = Find(number);
  const int upper = std::toupper(static_cast<unsigned char>(letter));
  if (drive == nullptr || upper < 'A' || upper > 'Z') return false;
  return m_letters[upper - 'A'] == drive;
}

std::vector<const PhysicalDriveInfo*> CDriveTable::Drives() const {
  std::vector<const PhysicalDriveInfo*> drives;
  for (const Chain& chain : m_buckets) {
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) drives.push_back(it->get());
  }
  return drives;
}

}  // namespace vorn
