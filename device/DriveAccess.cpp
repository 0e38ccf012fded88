#include "device/DriveAccess.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>

#include "device/DeviceExceptions.h"
#include "device/DriveTable.h"
#include "device/LinuxDriveSource.h"

namespace vorn {

std::string DriveOpenReason(int error, const std::string& node) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "Permission denied on " + node +
             ": run as a member of the \"disk\" group (sudo adduser $USER disk, then log in again).";
    case EBUSY:
      return HeldReason(node);
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

namespace {

std::string MountPoints(const std::vector<DriveMount>& mounts) {
  std::string places;
  std::set<std::string> seen;
  for (const DriveMount& mount : mounts) {
    if (!seen.insert(mount.mountPoint).second) continue;
    if (!places.empty()) places += ", ";
    places += mount.mountPoint;
  }
  return places;
}

// The same file or block device as `target` (stat of the node).
bool SameNode(const struct stat& a, const struct stat& target) {
  if (S_ISBLK(target.st_mode)) return S_ISBLK(a.st_mode) && a.st_rdev == target.st_rdev;
  return a.st_dev == target.st_dev && a.st_ino == target.st_ino;
}

// "gparted, process 4242" for every other process /proc lets us see holding
// the node open.
std::vector<std::string> Holders(const std::string& node) {
  std::vector<std::string> holders;
  struct stat target {};
  if (::stat(node.c_str(), &target) != 0) return holders;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return holders;
  const std::string self = std::to_string(::getpid());
  while (const dirent* process = ::readdir(proc)) {
    const std::string pid = process->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (fds == nullptr) continue;  // another user's
    bool holds = false;
    while (const dirent* fd = ::readdir(fds)) {
      struct stat opened {};
      if (fd->d_name[0] != '.' && ::stat((fdDir + "/" + fd->d_name).c_str(), &opened) == 0 &&
          SameNode(opened, target)) {
        holds = true;
        break;
      }
    }
    ::closedir(fds);
    if (!holds) continue;
    std::string name;
    std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
    holders.push_back((name.empty() ? "" : name + ", ") + "process " + pid);
  }
  ::closedir(proc);
  return holders;
}

std::string CurrentUserName() {
  std::vector<char> buffer(16384);
  passwd entry {};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return found->pw_name;
}

}  // namespace

std::string MountedReason(const std::string& node, const std::vector<DriveMount>& mounts) {
  return node + " is mounted at " + MountPoints(mounts) + ": unmount it first.";
}

std::string HeldReason(const std::string& node) {
  std::string programs;
  for (const std::string& holder : Holders(node)) programs += (programs.empty() ? " (" : "; ") + holder;
  if (!programs.empty()) programs += ")";
  return node + " is in use by another program" + programs + ": close it and try again.";
}

std::string OtherUserOf(const std::string& mountPoint) {
  for (const std::string prefix : {"/media/", "/run/media/"}) {
    if (mountPoint.rfind(prefix, 0) != 0) continue;
    const std::string rest = mountPoint.substr(prefix.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos || slash == 0) return {};
    const std::string user = rest.substr(0, slash);
    return user == CurrentUserName() ? std::string() : user;
  }
  return {};
}

std::string BrokerFailureReason(const CDriveBrokerError& error, const std::string& devicePath, bool unmounting,
                                const std::string& mountPoint) {
  const std::string doing = unmounting ? "Unmounting " : "Opening ";
  switch (error.Kind()) {
    case BrokerFailure::kRefused:
    case BrokerFailure::kNoAgent:
      // Only the one who mounted a card may unmount it without a password;
      // the "disk" group is no help there.
      if (unmounting) {
        if (const std::string other = OtherUserOf(mountPoint); !other.empty()) {
          return "another user (" + other + ") mounted " + devicePath + " at " + mountPoint + ": " + other +
                 " or an administrator must unmount it.";
        }
        return error.Kind() == BrokerFailure::kRefused
                   ? "you are not allowed to unmount " + devicePath + ": unmount it yourself, or ask an administrator."
                   : doing + devicePath +
                         " needs an administrator's password but this session cannot ask for one: unmount it "
                         "from the desktop, or ask an administrator.";
      }
      return error.Kind() == BrokerFailure::kRefused
                 ? "you are not allowed to open " + devicePath + ": ask an administrator, or join the \"disk\" group."
                 : doing + devicePath +
                       " needs an administrator's password but this session cannot ask for one: start it from the "
                       "desktop, or run it as a member of the \"disk\" group.";
    case BrokerFailure::kDismissed:
      return doing + devicePath + " was cancelled.";
    case BrokerFailure::kBusy:
      // Files open on a filesystem stop an unmount; a drive held by another
      // program (or mounted since the scan) stops the exclusive open.
      return unmounting ? devicePath + " is in use: close the files open on the card."
                        : DriveOpenReason(EBUSY, devicePath);
    case BrokerFailure::kNoBus:
      return unmounting ? devicePath + " is mounted and there is no system bus to ask udisks2 on: unmount it yourself."
                        : "you are not allowed to open " + devicePath +
                              " and there is no system bus to ask udisks2 on: start the system's D-Bus, or join "
                              "the \"disk\" group.";
    case BrokerFailure::kNoService:
      return unmounting ? devicePath + " is mounted and udisks2 is not running: install udisks2 or unmount it yourself."
                        : "you are not allowed to open " + devicePath +
                              " and udisks2 is not running: install udisks2 or join the \"disk\" group.";
    case BrokerFailure::kNoAuthority:
      return doing + devicePath +
             " through udisks2 needs the authorization service (polkit), which is not running: start polkitd, or " +
             (unmounting ? "unmount it yourself." : "join the \"disk\" group.");
    case BrokerFailure::kFailed:
      break;
  }
  return std::string(error.what()) + ".";  // names the device already
}

std::string MountQuestion(const std::vector<DriveMount>& mounts) {
  return "The card is mounted at " + MountPoints(mounts) + ": unmount it and continue?";
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

// Why a drive in use cannot be opened: its mounts, or the system's hold on it.
std::string InUseReason(const PhysicalDriveInfo& drive) {
  if (!drive.mounts.empty()) return MountedReason(drive.node, drive.mounts);
  return drive.node + " is in use by the system (active swap or a mapped device on it) and cannot be used.";
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
      throw CUsbDeviceException("Could not open drive\n" +
                                BrokerFailureReason(error, mount.devicePath, true, mount.mountPoint));
    }
  }
}

void CDriveAccess::OpenThroughBroker(const PhysicalDriveInfo& drive, CSectorFile& file, bool writable) {
  CUniqueFd fd;
  try {
    fd = m_broker->OpenDevice(drive.devicePath, writable, file.ExtraOpenFlags());
  } catch (const CDriveBrokerError& error) {
    throw CUsbDeviceException("Could not open drive\n" + BrokerFailureReason(error, drive.devicePath, false));
  }
  // The grant is used as it is: opening the path again would need the rights
  // we lack. So it must be the drive we listed, open for what was asked: a
  // read-only grant cannot write, and a writable one for a reading action
  // would make the kernel announce a change when it is closed.
  if (!IsListedDrive(fd.Get(), drive)) {
    throw CUsbDeviceException("Could not open drive\nudisks2 handed over another device than " +
                              drive.devicePath + "; it was not used.");
  }
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) != (writable ? O_RDWR : O_RDONLY)) {
    throw CUsbDeviceException("Could not open drive\nudisks2 opened " + drive.devicePath +
                              (writable ? " for reading only" : " for writing, though only reading was asked") +
                              "; it was not used.");
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
    const bool asked = unmountable && m_mountPolicy == MountPolicy::kAsk && m_askUnmount;
    const bool unmount =
        unmountable && (m_mountPolicy == MountPolicy::kUnmount || (asked && m_askUnmount(drive->mounts)));
    m_unmountDeclined = asked && !unmount;
    if (!unmount) {
      const std::string hint = unmountable && !m_refusalHint.empty() ? " " + m_refusalHint : "";
      throw CUsbDeviceException("Could not open drive\n" + InUseReason(*drive) + hint);
    }
    Unmount(*drive);
    // The mount table afresh: whatever is still mounted, or was mounted
    // meanwhile, keeps the drive refused.
    const std::string node = drive->node;
    drive = Scan(*number);
    if (!drive || drive->node != node) throw CUsbDeviceException("Unable to open drive");
    if (drive->inUse) throw CUsbDeviceException("Could not open drive\n" + InUseReason(*drive));
  }
  // Buffers hold 512-byte sectors, so the drive is addressed in 512-byte
  // sectors whatever its logical block size: the kernel's buffered block I/O
  // takes any 512-byte multiple, and a 4096-byte read can never overrun a slot.
  auto file = std::make_unique<CSectorFile>(drive->node, kSectorSize, drive->geometry.diskSize, m_durability);
  const bool writable = m_access == ImageAccess::kWrite;
  if (!file->Open(writable)) {
    const int error = file->LastError();
    if ((error != EACCES && error != EPERM) || !m_broker) {
      throw CUsbDeviceException("Could not open drive\n" + DriveOpenReason(error, drive->node));
    }
    OpenThroughBroker(*drive, *file, writable);
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
