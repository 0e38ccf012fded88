#include "device/DriveAccess.h"

#include <cerrno>
#include <cstring>
#include <limits>

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

CDriveAccess::CDriveAccess() : CDriveAccess(DriveRoots::FromEnvironment()) {}

CDriveAccess::CDriveAccess(DriveRoots roots, CSectorFile::Durability durability)
    : m_roots(std::move(roots)), m_durability(durability) {}

CDriveAccess::~CDriveAccess() { Close(); }

std::uint32_t CDriveAccess::GetSectorCount() {
  // Truncating to the low 32 bits would make a large drive look tiny, and a
  // disk whose table lies beyond the truncated end would read as unformatted.
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(std::min(m_sectorCount, kMax));
}

std::string CDriveAccess::GetName() { return StripDevicePath(m_path); }

void CDriveAccess::Open(const DeviceEntry& entry) {
  CDriveTable table;
  {
    CLinuxDriveSource source(m_roots);
    table.Refresh(source);
  }
  const int* number = entry.DriveNumber();
  const PhysicalDriveInfo* drive = number ? table.FindDrive(*number) : nullptr;
  if (drive == nullptr) throw CUsbDeviceException("Unable to open drive");
  if (m_file) throw CUsbDeviceException("A drive is already opened");

  if (!drive->geometryValid) {
    throw CUsbDeviceException("Could not open drive\n" + drive->node +
                              " reports no size: insert the card, or reconnect the reader.");
  }
  if (drive->inUse) {
    throw CUsbDeviceException("Could not open drive\n" + DriveOpenReason(EBUSY, drive->node));
  }
  // Buffers hold 512-byte sectors, so the drive is addressed in 512-byte
  // sectors whatever its logical block size: the kernel's buffered block I/O
  // takes any 512-byte multiple, and a 4096-byte read can never overrun a slot.
  auto file = std::make_unique<CSectorFile>(drive->node, kSectorSize, drive->geometry.diskSize, m_durability);
  if (!file->Open()) {
    throw CUsbDeviceException("Could not open drive\n" + DriveOpenReason(file->LastError(), drive->node));
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
  if (count == 0) return;
  if (!m_file->WriteSectors(buffer, count)) {
    throw CUsbDeviceException(std::string("Unable to write sector: ") + std::strerror(m_file->LastError()));
  }
}

}  // namespace vorn
