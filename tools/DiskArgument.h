#pragma once
// The DISK argument of vorn3ctl commands: names a disk and opens it.

#include <memory>
#include <string>

#include "device/ImageDevice.h"
#include "device/SectorDevice.h"
#include "device/VerifyingDevice.h"
#include "platform/StatusText.h"
#include "tools/CommandLine.h"

namespace vorn {

// How a command that writes or reads a DISK treats a card that is mounted, and
// whether it reads back what it wrote.
struct DiskOptions {
  bool unmount = false;  // --unmount: unmount a mounted card instead of refusing it
  bool verify = true;    // off with --no-verify
  // A disk whose edit was interrupted holds part of its show only in the
  // edit's record: every other writer is refused until it is finished.
  bool pendingEditAllowed = false;
};

// The options of the table entries below, as this command line gives them.
DiskOptions DiskOptionsOf(const CCommandLine& commandLine);
inline constexpr OptionSpec kUnmountOption = {
    "--unmount", nullptr, "unmount a card the desktop mounted instead of refusing it"};
inline constexpr OptionSpec kNoVerifyOption = {
    "--no-verify", nullptr, "do not read the written sectors of a drive or unit back"};

// Opens the disk `argument` names: a disk image file (by its path), a drive
// that discovery offers, by its name "PhysicalDriveN" (any letter case) or its
// node (/dev/sdb, or a link to it such as /dev/disk/by-id/…), or an
// attached VORN unit by its name ("VORN3"), opened and identified.
// Throws CUsbDeviceException when it names nothing or cannot be opened.
// `access` says whether the command writes: an image is locked for it (shared
// to read, exclusive to write); drives and units are held exclusively anyway.
std::unique_ptr<CSectorDevice> OpenDiskArgument(const std::string& argument, ImageAccess access,
                                                const DiskOptions& options = {});

// Reads back what went through `verifier` onto `device` (see DiskOptions),
// showing "Verifying" and its progress on `status`. An image file is not read
// back: it is a file like any other, not a card.
void VerifyWritten(CVerifyingDevice& verifier, const CSectorDevice& device, const DiskOptions& options,
                   CStatusText* status, CProgressBar* progress);

// For commands that format or write a disk: refuses an image file that is not
// a whole number of sectors or that starts like a file of another kind (a WAV,
// MP3, FLAC or Ogg file, a routine file), which was most likely named by
// mistake. `force` lets it through. Drives and units pass.
void RefuseForeignImage(CSectorDevice& device, bool force);

}  // namespace vorn
