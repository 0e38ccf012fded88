#include "device/ImageDevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "device/DeviceExceptions.h"

namespace vorn {
namespace {

// Opens read-write, falling back to read-only so that a write-protected backup
// can still be listed; its writes then fail like a write-protected card's.
CUniqueFd OpenImage(const std::string& path, bool durable, bool& readOnly) {
  int flags = O_RDWR | O_CLOEXEC | (durable ? O_DSYNC : 0);
  CUniqueFd fd(::open(path.c_str(), flags));
  readOnly = false;
  if (!fd.IsValid() && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    readOnly = true;
  }
  if (!fd.IsValid()) {
    throw CUsbDeviceException("Could not open disk image " + path + ": " + std::strerror(errno));
  }
  return fd;
}

}  // namespace

CImageDevice::CImageDevice(std::string path, bool durable)
    : m_path(std::move(path)), m_durable(durable) {}

DeviceEntry CImageDevice::EntryFor(const std::string& path) {
  DeviceEntry entry;
  entry.text = path;
  return entry;
}

void CImageDevice::Open(const DeviceEntry& entry) {
  if (m_fd.IsValid()) throw CUsbDeviceException("A drive is already opened");
  if (!entry.text.empty()) m_path = entry.text;

  CUniqueFd fd = OpenImage(m_path, m_durable, m_readOnly);
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) {
    throw CUsbDeviceException("Could not open disk image " + m_path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    throw CUsbDeviceException("Not a disk image file: " + m_path);
  }
  // Sector numbers are 32-bit: a larger file is used up to the last addressable sector.
  std::uint64_t sectors = static_cast<std::uint64_t>(info.st_size) / kSectorSize;
  m_sectorCount = sectors > std::numeric_limits<std::uint32_t>::max()
                      ? std::numeric_limits<std::uint32_t>::max()
                      : static_cast<std::uint32_t>(sectors);
  m_fd = std::move(fd);
}

void CImageDevice::Close() {
  m_fd.Reset();
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
    if (got <= 0) throw CUsbDeviceException("Unable to read sector");
    out += got;
    offset += static_cast<std::uint64_t>(got);
    left -= static_cast<std::uint64_t>(got);
  }
}

void CImageDevice::WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) {
  if (!Fits(first, count) || m_readOnly) throw CUsbDeviceException("Unable to write sector");
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::uint64_t offset = static_cast<std::uint64_t>(first) * kSectorSize;
  std::uint64_t left = static_cast<std::uint64_t>(count) * kSectorSize;
  while (left > 0) {
    ssize_t put = ::pwrite(m_fd.Get(), in, left, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw CUsbDeviceException("Unable to write sector");
    in += put;
    offset += static_cast<std::uint64_t>(put);
    left -= static_cast<std::uint64_t>(put);
  }
}

}  // namespace vorn
