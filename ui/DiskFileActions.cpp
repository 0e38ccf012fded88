#include "ui/DiskFileActions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "disk/DiskCopy.h"
#include "disk/RoutineExport.h"
#include "disk/VornDisk.h"
#include "platform/UniqueFd.h"
#include "platform/UniqueFile.h"

namespace vorn {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw CFileAccessException(what + path + ": " + std::strerror(error));
}

// A new file beside `target`, renamed over it by Commit; removed otherwise.
class CPendingFile {
 public:
  explicit CPendingFile(const std::string& target) : m_target(target) {
    std::vector<char> name(target.begin(), target.end());
    const std::string suffix = ".partial-XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    m_fd.Reset(::mkostemp(name.data(), O_CLOEXEC));
    if (!m_fd.IsValid()) Fail("Could not create ", target, errno);
    m_path = name.data();
    // A temporary name is private; the finished file is as any new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(m_fd.Get(), 0666 & ~mask);
  }
  ~CPendingFile() {
    if (!m_committed) ::unlink(m_path.c_str());
  }
  CPendingFile(const CPendingFile&) = delete;
  CPendingFile& operator=(const CPendingFile&) = delete;

  const std::string& Path() const { return m_path; }
  int Fd() const { return m_fd.Get(); }

  void Commit() {
    if (::fsync(m_fd.Get()) != 0) Fail("Error writing ", m_target, errno);
    if (::rename(m_path.c_str(), m_target.c_str()) != 0) Fail("Could not replace ", m_target, errno);
    m_committed = true;
  }

 private:
  std::string m_target;
  std::string m_path;
  CUniqueFd m_fd;
  bool m_committed = false;
};

void RefuseSameFile(const std::string& diskPath, const std::string& other, const char* what) {
  if (!diskPath.empty() && IsSameFile(diskPath, other)) {
    throw CFileAccessException(std::string("The disk image cannot be ") + what + " itself: " + other);
  }
}

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error);
}

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
  CPendingFile file(target);
  if (::ftruncate(file.Fd(), static_cast<off_t>(summary.sectors) * kSectorSize) != 0) {
    Fail("Could not create ", target, errno);
  }
  CImageDevice image(file.Path(), /*durable=*/false);
  image.Open(CImageDevice::EntryFor(file.Path()));
  CopyDisk(disk, image, summary.sectors, progress, cancel);
  image.Close();
  file.Commit();
  return summary;
}

std::size_t BackupRoutineCount(const std::string& path) {
  CImageDevice image(path, /*durable=*/false);
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
  CImageDevice image(source, /*durable=*/false);
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
  CPendingFile file(target);
  CUniqueFile out(::fdopen(::dup(file.Fd()), "w+b"));
  if (!out) Fail("Could not create ", target, errno);
  ExportRoutine(disk, entry, out.get(), progress, cancel);
  if (std::fclose(out.release()) != 0) Fail("Error writing ", target, errno);
  file.Commit();
}

}  // namespace vorn
