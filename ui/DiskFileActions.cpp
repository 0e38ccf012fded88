#include "ui/DiskFileActions.h"

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "disk/DiskCopy.h"
#include "disk/OutputFile.h"
#include "disk/RoutineExport.h"
#include "disk/VornDisk.h"

namespace vorn {
namespace {

void RefuseSameFile(const std::string& diskPath, const std::string& other, const char* what) {
  if (!diskPath.empty() && SameFileAmong(other, {diskPath}) != nullptr) {
    throw CFileAccessException(std::string("The disk image cannot be ") + what + " itself: " + other);
  }
}

}  // namespace

BackupSummary BackupDisk(CSectorDevice& disk, const std::string& diskPath, const std::string& target,
                         CProgressBar* progress, const CCancelFlag* cancel) {
  RefuseSameFile(diskPath, target, "backed up onto");
  CVornDisk vornDisk(disk, nullptr);
  BackupSummary summary;
  summary.routines = vornDisk.ReadTable().size();
  summary.sectors = UsedSectorCount(vornDisk);
  if (summary.sectors == 0) summary.sectors = disk.GetSectorCount();
  if (summary.sectors == 0) {
    throw CUsbDeviceException("The disk does not report its size; nothing was copied");
  }
  // The file dialog has asked before a file is replaced.
  COutputFile file(target, {diskPath}, nullptr);
  CopyDiskToFile(disk, summary.sectors, file, progress, cancel);
  return summary;
}

std::size_t BackupRoutineCount(const std::string& path) {
  CImageDevice image(path, /*durable=*/false, ImageAccess::kRead);
  image.Open(CImageDevice::EntryFor(path));
  CVornDisk backup(image, nullptr);
  const std::size_t routines = backup.ReadTable().size();
  const bool valid = backup.IsValid();
  image.Close();
  if (!valid) throw CFileAccessException(path + " is not a VORN disk image; nothing was changed");
  return routines;
}

BackupSummary RestoreDisk(const std::string& source, CSectorDevice& disk, const std::string& diskPath,
                          CProgressBar* progress) {
  RefuseSameFile(diskPath, source, "restored from");
  CImageDevice image(source, /*durable=*/false, ImageAccess::kRead);
  image.Open(CImageDevice::EntryFor(source));
  // Only a VORN disk is restored: a wrong file must not wipe a card.
  CVornDisk backup(image, nullptr);
  BackupSummary summary;
  summary.routines = backup.ReadTable().size();
  summary.sectors = UsedSectorCount(backup);
  if (summary.sectors == 0) {
    throw CFileAccessException(source + " is not a VORN disk image; nothing was changed");
  }
  CopyDisk(image, disk, summary.sectors, progress);
  image.Close();
  return summary;
}

void ExportRoutineFile(CSectorDevice& disk, const std::string& diskPath, const RoutineEntry& entry,
                       const std::string& target, CProgressBar* progress, const CCancelFlag* cancel) {
  RefuseSameFile(diskPath, target, "exported onto");
  COutputFile file(target, {diskPath}, nullptr);
  ExportRoutine(disk, entry, file.Stream(), progress, cancel);
  file.Commit();
}

}  // namespace vorn
