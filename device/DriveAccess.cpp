#include "device/DriveAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>

#include "device/DeviceExceptions.h"
#include "device/DriveTable.h"
#include "device/LinuxDriveSource.h"
#include "platform/MessageBox.h"

namespace vorn {

std::string DriveOpenReason(int error, const std::string& node) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "Permission denied on " + node +
             ": run as a member of the \"disk\" group (sudo adduser $USER disk, then log in again).";
    case EBUSY:
      return node + " is in use: unmount it first.";
    case EROFS:
      return node + " is write-protected: unlock the card and try again.";
    case ENOMEDIUM:
      return "There is no card in " + node + ": insert it and try again.";
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return node + " is gone: reconnect the drive and refresh the list.";
    default:
      return std::string(std::strerror(error)) + " (" + node + ").";
  }
}

std::string BrokerFailureReason(const CDriveBrokerError& error, const std::string& devicePath,
                                bool unmounting) {
  switch (error.Kind()) {
    case BrokerFailure::kRefused:
      return unmounting ? "you are not allowed to unmount " + devicePath + ": unmount it yourself, or ask an administrator."
                        : "you are not allowed to open " + devicePath +
                              ": ask an administrator, or join the \"disk\" group.";
    case BrokerFailure::kNoAgent:
      return (unmounting ? "Unmounting " : "Opening ") + devicePath +
             " needs an administrator's password but this session cannot ask for one: start it from the "
             "desktop, or run it as a member of the \"disk\" group.";
    case BrokerFailure::kDismissed:
      return (unmounting ? "Unmounting " : "Opening ") + devicePath + " was cancelled.";
    case BrokerFailure::kBusy:
      // Files open on a filesystem stop an unmount; a drive held by another
      // program (or mounted since the scan) stops the exclusive open.
      return unmounting ? devicePath + " is in use: close the files open on the card."
                        : DriveOpenReason(EBUSY, devicePath);
    case BrokerFailure::kNoService:
      return unmounting ? devicePath + " is mounted and udisks2 is not running: install udisks2 or unmount it yourself."
                        : "you are not allowed to open " + devicePath +
                              " and udisks2 is not running: install udisks2 or join the \"disk\" group.";
    case BrokerFailure::kFailed:
      break;
  }
  return std::string(error.what()) + ".";  // names the device already
}

std::string MountQuestion(const std::vector<DriveMount>& mounts) {
  std::string places;
  std::set<std::string> seen;
  for (const DriveMount& mount : mounts) {
    if (!seen.insert(mount.mountPoint).second) continue;
    if (!places.empty()) places += ", ";
    places += mount.mountPoint;
  }
  return "The card is mounted at " + places + ": unmount it and continue?";
}

namespace {

// True when `fd` is the drive the table listed: the block device with the
// kernel's device number of it, or, for the image file standing in for a drive
// in a fixture tree, that very file.
bool IsListedDrive(int fd, const PhysicalDriveInfo& drive) {
  struct stat got {};
  struct stat listed {};
  if (::fstat(fd, &got) != 0 || ::stat(drive.node.c_str(), &listed) != 0) return false;
  if (S_ISREG(listed.st_mode)) {
    return S_ISREG(got.st_mode) && got.st_dev == listed.st_dev && got.st_ino == listed.st_ino;
  }
  unsigned major = 0;
  unsigned minor = 0;
  char tail = 0;
  if (std::sscanf(drive.majorMinor.c_str(), "%u:%u%c", &major, &minor, &tail) != 2) return false;
  return S_ISBLK(got.st_mode) && got.st_rdev == makedev(major, minor);
}

}  // namespace

CDriveAccess::CDriveAccess()
    : CDriveAccess(DriveRoots::FromEnvironment(), CSectorFile::kDefaultDurability, MakeUdisks2Broker(),
                   MountPolicy::kAsk) {}

CDriveAccess::CDriveAccess(DriveRoots roots, CSectorFile::Durability durability,
                           std::shared_ptr<CDriveBroker> broker, MountPolicy mountPolicy)
    : m_roots(std::move(roots)),
      m_durability(durability),
      m_broker(std::move(broker)),
      m_mountPolicy(mountPolicy) {}

CDriveAccess::~CDriveAccess() { Close(); }

std::uint32_t CDriveAccess::GetSectorCount() {
  // Truncating to the low 32 bits would make a large drive look tiny, and a
  // disk whose table lies beyond the truncated end would read as unformatted.
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(std::min(m_sectorCount, kMax));
}

std::string CDriveAccess::GetName() { return StripDevicePath(m_path); }

std::uint32_t CDriveAccess::TransferSectors() {
  return m_file ? m_file->PieceSectors() : CSectorDevice::TransferSectors();
}

std::optional<PhysicalDriveInfo> CDriveAccess::Scan(int number) const {
  CDriveTable table;
  CLinuxDriveSource source(m_roots);
  table.Refresh(source);
  const PhysicalDriveInfo* drive = table.FindDrive(number);
  if (drive == nullptr) return std::nullopt;
  return *drive;
}

void CDriveAccess::Unmount(const PhysicalDriveInfo& drive) {
  std::set<std::string> done;
  for (const DriveMount& mount : drive.mounts) {
    if (!done.insert(mount.devicePath).second) continue;
    try {
      if (!m_broker) throw CDriveBrokerError(BrokerFailure::kNoService, "no drive broker");
      m_broker->Unmount(mount.devicePath);
    } catch (const CDriveBrokerError& error) {
      throw CUsbDeviceException("Could not open drive\n" + BrokerFailureReason(error, mount.devicePath, true));
    }
  }
}

void CDriveAccess::OpenThroughBroker(const PhysicalDriveInfo& drive, CSectorFile& file) {
  CUniqueFd fd;
  try {
    fd = m_broker->OpenDevice(drive.devicePath, file.ExtraOpenFlags());
  } catch (const CDriveBrokerError& error) {
    throw CUsbDeviceException("Could not open drive\n" + BrokerFailureReason(error, drive.devicePath, false));
  }
  // The grant is used as it is: opening the path again would need the rights
  // we lack. So it must be the drive we listed, open for writing.
  if (!IsListedDrive(fd.Get(), drive)) {
    throw CUsbDeviceException("Could not open drive\nudisks2 handed over another device than " +
                              drive.devicePath + "; it was not used.");
  }
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) != O_RDWR) {
    throw CUsbDeviceException("Could not open drive\nudisks2 opened " + drive.devicePath +
                              " for reading only; it was not used.");
  }
  file.Adopt(std::move(fd));
}

void CDriveAccess::Open(const DeviceEntry& entry) {
  const int* number = entry.DriveNumber();
  std::optional<PhysicalDriveInfo> drive = number ? Scan(*number) : std::nullopt;
  if (!drive) throw CUsbDeviceException("Unable to open drive");
  if (m_file) throw CUsbDeviceException("A drive is already opened");

  if (!drive->geometryValid) {
    throw CUsbDeviceException("Could not open drive\n" + drive->node +
                              " reports no size: insert the card, or reconnect the reader.");
  }
  if (drive->inUse) {
    // Only filesystems a desktop mounted are let go of; swap, a mapped device
    // or a system filesystem on the drive keep it refused.
    const bool unmountable = !drive->holdsSystem && !drive->mounts.empty();
    const bool asked = unmountable && m_mountPolicy == MountPolicy::kAsk;
    const bool unmount = unmountable && (m_mountPolicy == MountPolicy::kUnmount ||
                                         (asked && AskYesNo(MountQuestion(drive->mounts))));
    m_unmountDeclined = asked && !unmount;
    if (!unmount) {
      const std::string hint = unmountable && !m_refusalHint.empty() ? " " + m_refusalHint : "";
      throw CUsbDeviceException("Could not open drive\n" + DriveOpenReason(EBUSY, drive->node) + hint);
    }
    Unmount(*drive);
    // The mount table afresh: whatever is still mounted, or was mounted
    // meanwhile, keeps the drive refused.
    const std::string node = drive->node;
    drive = Scan(*number);
    if (!drive || drive->node != node) throw CUsbDeviceException("Unable to open drive");
    if (drive->inUse) throw CUsbDeviceException("Could not open drive\n" + DriveOpenReason(EBUSY, drive->node));
  }
  // Buffers hold 512-byte sectors, so the drive is addressed in 512-byte
  // sectors whatever its logical block size: the kernel's buffered block I/O
  // takes any 512-byte multiple, and a 4096-byte read can never overrun a slot.
  auto file = std::make_unique<CSectorFile>(drive->node, kSectorSize, drive->geometry.diskSize, m_durability);
  if (!file->Open()) {
    const int error = file->LastError();
    if ((error != EACCES && error != EPERM) || !m_broker) {
      throw CUsbDeviceException("Could not open drive\n" + DriveOpenReason(error, drive->node));
    }
    OpenThroughBroker(*drive, *file);
  }
  // Only an open that went through changes this object, so one refused (a
  // mounted card, a missing medium) can be retried once the cause is gone.
  m_path = drive->path;
  m_sectorCount = drive->geometry.diskSize / kSectorSize;
  m_file = std::move(file);
}

void CDriveAccess::Close() {
  if (!m_file) return;
  m_file->Close();
  m_file.reset();
}

void CDriveAccess::ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) {
  if (!m_file || !m_file->Seek(first)) throw CUsbDeviceException("Unable to seek during read");
  if (count == 0) return;
  if (!m_file->ReadSectors(buffer, count)) {
    throw CUsbDeviceException(std::string("Unable to read sector: ") + std::strerror(m_file->LastError()));
  }
}

void CDriveAccess::WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) {
  if (!m_file || !m_file->Seek(first)) throw CUsbDeviceException("Unable to seek during write");
  // Direct I/O is for the read-back only; our buffers are not aligned for it.
  if (m_file->DirectReads() && !m_file->SetDirectReads(false)) {
    throw CUsbDeviceException(std::string("Unable to write sector: ") + std::strerror(m_file->LastError()));
  }
  if (count == 0) return;
  if (!m_file->WriteSectors(buffer, count)) {
    throw CUsbDeviceException(std::string("Unable to write sector: ") + std::strerror(m_file->LastError()));
  }
}

}  // namespace vorn
