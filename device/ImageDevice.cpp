#include "device/ImageDevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "device/DeviceExceptions.h"
#include "platform/FileLock.h"

namespace vorn {
namespace {

int OpenRetrying(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

[[noreturn]] void ThrowOpenFailure(const std::string& path, int error) {
  throw CUsbDeviceException("Could not open disk image " + path + ": " + std::strerror(error));
}

// Opens for the access asked. A writer falls back to read-only so that a
// write-protected backup can still be listed; its writes then fail like a
// write-protected card's. O_NONBLOCK: a FIFO put where the image was must not
// block the open (it is refused below).
CUniqueFd OpenImage(const std::string& path, bool durable, ImageAccess access, bool& readOnly,
                    int& readOnlyReason) {
  const int common = O_CLOEXEC | O_NONBLOCK;
  readOnly = access == ImageAccess::kRead;
  readOnlyReason = 0;
  CUniqueFd fd;
  if (!readOnly) {
    fd.Reset(OpenRetrying(path, O_RDWR | common | (durable ? O_DSYNC : 0)));
    if (!fd.IsValid() && (errno == EACCES || errno == EROFS || errno == EPERM)) {
      readOnlyReason = errno;
      readOnly = true;
    }
  }
  if (readOnly) fd.Reset(OpenRetrying(path, O_RDONLY | common));
  if (!fd.IsValid()) ThrowOpenFailure(path, errno);
  return fd;
}

}  // namespace

CImageDevice::CImageDevice(std::string path, bool durable, ImageAccess access)
    : m_path(std::move(path)), m_durable(durable), m_access(access) {}

DeviceEntry CImageDevice::EntryFor(const std::string& path) {
  DeviceEntry entry;
  entry.text = path;
  return entry;
}

void CImageDevice::Open(const DeviceEntry& entry) {
  if (m_fd.IsValid()) throw CUsbDeviceException("A drive is already opened");
  // Nothing is assigned before every check passed, so a refused open can be
  // retried on the same object.
  const std::string path = entry.text.empty() ? m_path : entry.text;

  bool readOnly = false;
  int readOnlyReason = 0;
  CUniqueFd fd = OpenImage(path, m_durable, m_access, readOnly, readOnlyReason);
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) ThrowOpenFailure(path, errno);
  if (!S_ISREG(info.st_mode)) {
    throw CUsbDeviceException("Not a disk image file: " + path);
  }
  const int lockError = TryLockFile(fd.Get(), readOnly ? FileLockMode::kShared : FileLockMode::kExclusive);
  if (IsLockConflict(lockError)) {
    throw CUsbDeviceException("The disk " + path +
                              " is in use by another program: try again when it has finished.");
  }
  if (lockError != 0) {
    throw CUsbDeviceException("Could not lock disk image " + path + ": " + std::strerror(lockError));
  }
  // Sector numbers are 32-bit: a larger file is used up to the last addressable sector.
  const std::uint64_t sectors = static_cast<std::uint64_t>(info.st_size) / kSectorSize;
  m_sectorCount = sectors > std::numeric_limits<std::uint32_t>::max()
                      ? std::numeric_limits<std::uint32_t>::max()
                      : static_cast<std::uint32_t>(sectors);
  m_fileBytes = static_cast<std::uint64_t>(info.st_size);
  m_readOnly = readOnly;
  m_readOnlyReason = readOnlyReason;
  m_path = path;
  m_fd = std::move(fd);
}

void CImageDevice::Close() {
  m_fd.Reset();  // releases the lock
  m_sectorCount = 0;
}

bool CImageDevice::Fits(std::uint32_t first, std::uint32_t count) const {
  return m_fd.IsValid() && static_cast<std::uint64_t>(first) + count <= m_sectorCount;
}

void CImageDevice::ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) {
  if (!Fits(first, count)) throw CUsbDeviceException("Unable to read sector");
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint64_t offset = static_cast<std::uint64_t>(first) * kSectorSize;
  std::uint64_t left = static_cast<std::uint64_t>(count) * kSectorSize;
  while (left > 0) {
    ssize_t got = ::pread(m_fd.Get(), out, left, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw CUsbDeviceException(std::string("Unable to read sector: ") + std::strerror(errno));
    // The file shrank under us (we hold no lock against programs that ignore ours).
    if (got == 0) throw CUsbDeviceException("Unable to read sector: the disk image ends early");
    out += got;
    offset += static_cast<std::uint64_t>(got);
    left -= static_cast<std::uint64_t>(got);
  }
}

void CImageDevice::WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) {
  if (!Fits(first, count)) throw CUsbDeviceException("Unable to write sector");
  if (m_readOnly) {
    throw CUsbDeviceException(std::string("Unable to write sector: ") +
                              std::strerror(m_readOnlyReason != 0 ? m_readOnlyReason : EBADF));
  }
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::uint64_t offset = static_cast<std::uint64_t>(first) * kSectorSize;
  std::uint64_t left = static_cast<std::uint64_t>(count) * kSectorSize;
  while (left > 0) {
    ssize_t put = ::pwrite(m_fd.Get(), in, left, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    // A write that moves nothing without an error has run out of room.
    if (put <= 0) {
      throw CUsbDeviceException(std::string("Unable to write sector: ") + std::strerror(put < 0 ? errno : ENOSPC));
    }
    in += put;
    offset += static_cast<std::uint64_t>(put);
    left -= static_cast<std::uint64_t>(put);
  }
}

}  // namespace vorn
