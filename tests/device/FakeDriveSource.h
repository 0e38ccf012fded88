#pragma once
// A drive back end that reports what a test tells it.

#include "device/DriveSource.h"

namespace vorn::test {

class CFakeDriveSource : public CDriveSource {
 public:
  // bytesPerSector 0: the geometry query fails.
  ScannedDrive& AddDrive(int number, std::uint64_t sectors = 2048, std::uint32_t bytesPerSector = 512) {
    ScannedDrive drive;
    drive.number = number;
    drive.node = "/dev/fake" + std::to_string(number);
    drive.geometryValid = bytesPerSector != 0;
    drive.geometry = {bytesPerSector, sectors * bytesPerSector};
    drive.removable = true;
    m_scan.drives.push_back(drive);
    return m_scan.drives.back();
  }
  void AddVolume(char letter, int driveNumber, std::uint32_t partition, bool removable) {
    ScannedVolume volume;
    volume.letter = letter;
    volume.driveNumber = driveNumber;
    volume.info.removable = removable;
    volume.info.partition = partition;
    volume.info.path = std::string("\\\\.\\") + letter + ":";
    m_scan.volumes.push_back(volume);
  }
  DriveScan Scan() override { return m_scan; }

 private:
  DriveScan m_scan;
};

}  // namespace vorn::test
