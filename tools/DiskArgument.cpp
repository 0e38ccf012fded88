#include "tools/DiskArgument.h"

#include <sys/stat.h>

#include <array>
#include <cctype>
#include <cstring>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "device/UsbDevice.h"
#include "device/UsbUnit.h"
#include "audio/RoutineFileHeader.h"
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

// What the first bytes of a file say it is, when it is plainly not a disk
// image; nullptr otherwise. A VORN disk starts with its header magic or, blank,
// with zeros, so none of these can be one.
const char* ForeignKind(const std::uint8_t* start, std::uint64_t fileBytes) {
  static constexpr struct {
    const char* magic;
    const char* kind;
  } kSignatures[] = {{"RIFF", "a WAV (RIFF) file"}, {"ID3", "an MP3 file"}, {"fLaC", "a FLAC file"},
                     {"OggS", "an Ogg file"}, {"FORM", "an AIFF file"}};
  for (const auto& signature : kSignatures) {
    if (std::memcmp(start, signature.magic, std::strlen(signature.magic)) == 0) return signature.kind;
  }
  // A routine file: version 1, an audio kind, and section sizes that add up to the file.
  const RoutineFileHeader header = RoutineFileHeader::Decode(start);
  if (header.version == 1 && header.audioFormat <= RoutineFileHeader::kAudioFormatMp3 &&
      RoutineFileHeader::kEncodedSize + std::uint64_t{header.audioSize} + header.dataSize == fileBytes) {
    return "a routine file";
  }
  return nullptr;
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
  const std::string advice = "; nothing was changed (--force uses it anyway).";
  if (image->FileBytes() % kSectorSize != 0) {
    throw CUsbDeviceException(image->GetName() + " is not a disk image: its size is not a whole number of " +
                              std::to_string(kSectorSize) + "-byte sectors" + advice);
  }
  if (image->FileBytes() == 0) return;  // nothing to lose; the first write fails anyway
  std::array<std::uint8_t, kSectorSize> first{};
  image->ReadSectors(0, 1, first.data());
  if (const char* kind = ForeignKind(first.data(), image->FileBytes())) {
    throw CUsbDeviceException(image->GetName() + " is not a disk image: it starts like " + kind + advice);
  }
}

std::unique_ptr<CSectorDevice> OpenDiskArgument(const std::string& argument, ImageAccess access,
                                                const DiskOptions& options) {
  // A drive name wins over a file of that name; "./PhysicalDrive1" is the file.
  if (std::optional<int> drive = DriveArgumentNumber(argument)) {
    return OpenDriveArgument(argument, *drive, options.unmount);
  }
  struct stat info {};
  if (::stat(argument.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    auto device = std::make_unique<CImageDevice>(argument, /*durable=*/true, access);
    device->Open(CImageDevice::EntryFor(argument));
    return device;
  }
  if (LooksLikeUnitName(argument)) {
    if (const struct usb_device* record = FindUnitByName(argument)) return OpenUnit(*record, argument);
  }
  throw CUsbDeviceException("No such disk: " + argument);
}

}  // namespace vorn
