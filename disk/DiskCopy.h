#pragma once
// Whole-disk copies for backups: a card or a unit to an image file, and an
// image back onto a disk.

#include <cstdint>

#include "device/SectorDevice.h"
#include "disk/OutputFile.h"
#include "disk/VornDisk.h"
#include "platform/Cancel.h"
#include "platform/ProgressBar.h"

namespace vorn {

// Sectors of `disk` in use: the header, the routines and every sector a reader
// of the table touches (the first table sector even for an empty table). The
// table may lie behind the routines' end (an update interrupted before the
// header moved), so whichever ends later counts; a copy of these sectors reads
// as the same disk. 0 when the disk is not a formatted
// VORN disk: then only a copy of every sector keeps what it holds.
std::uint32_t UsedSectorCount(CSectorDevice& disk);
// The same for a disk whose table has been read already.
std::uint32_t UsedSectorCount(const CVornDisk& disk);

// Copies sectors [0, count) of `from` onto `to`, in pieces of 128 sectors,
// as many per transfer as both devices' TransferSectors hold.
// Sector 0 of `to` is cleared first and written last: a copy that fails part
// way leaves a disk that reads as unformatted, never a header that points at a
// half-copied table. Throws CUsbDeviceException when `to` knows its size and
// `count` sectors do not fit, or when `from` knows its size and holds fewer
// (nothing written either way), and whatever the devices throw.
// The progress bar, if any, runs over the pieces. A set cancel flag ends the
// copy before the next piece with CCancelled (the target then reads as
// unformatted, as after a failure): for copies into a new file, which the
// caller throws away.
void CopyDisk(CSectorDevice& from, CSectorDevice& to, std::uint32_t count, CProgressBar* progress,
              const CCancelFlag* cancel = nullptr);

// A backup: sectors [0, count) of `disk` into `file`, an image of exactly that
// size, committed (made durable and put in place) once the copy is complete.
// Whatever stops it leaves the output's old file, if any, as it was.
void CopyDiskToFile(CSectorDevice& disk, std::uint32_t count, COutputFile& file, CProgressBar* progress,
                    const CCancelFlag* cancel = nullptr);

}  // namespace vorn
