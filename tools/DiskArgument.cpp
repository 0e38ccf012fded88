#include "tools/DiskArgument.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "device/UsbDevice.h"
#include "device/UsbUnit.h"
#include "disk/ImageCheck.h"
#include "disk/RoutineEdit.h"
#include "tools/DriveArgument.h"

namespace vorn {

namespace {

// "VORN" and a device number, as units are named.
bool LooksLikeUnitName(const std::string& argument) {
  if (argument.size() <= 4 || argument.compare(0, 4, "VORN") != 0) return false;
  for (std::size_t i = 4; i < argument.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(argument[i]))) return false;
  }
  return true;
}

std::unique_ptr<CSectorDevice> OpenUnit(const struct usb_device& record, const std::string& name) {
  DeviceEntry entry;
  entry.key = CopyUnitRecord(record);
  entry.name = name;
  auto device = std::make_unique<CUsbDevice>();
  device->Open(entry);
  // The size lets the disk layout check that a routine fits; an unconfirmed
  // identity leaves it unknown, which the layout accepts.
  device->Identify();
  return device;
}

}  // namespace

DiskOptions DiskOptionsOf(const CCommandLine& commandLine) {
  DiskOptions options;
  options.unmount = commandLine.Has(kUnmountOption.name);
  options.verify = !commandLine.Has(kNoVerifyOption.name);
  return options;
}

void VerifyWritten(CVerifyingDevice& verifier, const CSectorDevice& device, const DiskOptions& options,
                   CStatusText* status, CProgressBar* progress) {
  if (!options.verify || dynamic_cast<const CImageDevice*>(&device) != nullptr) return;
  if (verifier.PendingSectors() == 0) return;
  if (status) status->SetText("Verifying");
  verifier.Verify(progress);
  if (status) status->SetText({});
}

void RefuseForeignImage(CSectorDevice& device, bool force) {
  auto* image = dynamic_cast<CImageDevice*>(&device);
  if (force || image == nullptr) return;
  if (const std::optional<std::string> why = WhyNotADiskImage(*image)) {
    throw CUsbDeviceException(image->GetName() + " is not a disk image: " + *why +
                              "; nothing was changed (--force uses it anyway).");
  }
}

namespace {

std::unique_ptr<CSectorDevice> OpenNamedDisk(const std::string& argument, ImageAccess access,
                                             const DiskOptions& options) {
  // A drive name wins over a file of that name; "./PhysicalDrive1" is the file.
  if (std::optional<int> drive = DriveArgumentNumber(argument)) {
    return OpenDriveArgument(argument, *drive, options.unmount, access);
  }
  // What lsblk shows (/dev/sdb, a /dev/disk/by-id/… link) names the drive
  // behind it, with the same refusals as its drive name.
  if (std::optional<int> drive = DriveNumberOfNode(argument)) {
    return OpenDriveArgument(argument, *drive, options.unmount, access);
  }
  struct stat info {};
  if (::stat(argument.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    auto device = std::make_unique<CImageDevice>(argument, /*durable=*/true, access);
    device->Open(CImageDevice::EntryFor(argument));
    // Said before anything is converted or asked: the first write would fail
    // only after minutes of work.
    if (access == ImageAccess::kWrite && device->IsReadOnly()) {
      throw CUsbDeviceException("The disk image " + argument + " is read-only (" +
                                std::strerror(device->ReadOnlyReason()) + "): nothing was changed.");
    }
    return device;
  }
  if (LooksLikeUnitName(argument)) {
    if (const struct usb_device* record = FindUnitByName(argument)) return OpenUnit(*record, argument);
  }
  throw CUsbDeviceException("No such disk: " + argument);
}

}  // namespace

std::unique_ptr<CSectorDevice> OpenDiskArgument(const std::string& argument, ImageAccess access,
                                                const DiskOptions& options) {
  auto device = OpenNamedDisk(argument, access, options);
  if (access != ImageAccess::kWrite || options.pendingEditAllowed) return device;
  bool pending = true;
  try {
    pending = EditPending(DiskIdentity(*device));
  } catch (const CEditRecordError& error) {
    throw CEditRecordError(std::string(error.what()) + " ('vorn3ctl recover " + argument +
                           " --discard' drops the record.)");
  }
  if (pending) {
    throw CEditRecordError("An edit of " + argument + " was interrupted and the disk holds part of the new show; "
                           "finish it first ('vorn3ctl recover " + argument + "').");
  }
  return device;
}

}  // namespace vorn
