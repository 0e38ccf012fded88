#include "disk/DiskCopy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"

namespace vorn {
namespace {

// The import's piece size: 64 KiB per transfer suits drives and units alike.
constexpr std::uint32_t kPieceSectors = 128;

}  // namespace

std::uint32_t UsedSectorCount(CSectorDevice& disk) {
  CVornDisk vornDisk(disk, nullptr);
  vornDisk.ReadTable();
  return UsedSectorCount(vornDisk);
}

std::uint32_t UsedSectorCount(const CVornDisk& disk) {
  if (!disk.IsValid()) return 0;
  const std::uint64_t end = std::max<std::uint64_t>(disk.NextFreeSector(), disk.TableReadEnd());
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(end, UINT32_MAX));
}

void CopyDisk(CSectorDevice& from, CSectorDevice& to, std::uint32_t count, CProgressBar* progress,
              const CCancelFlag* cancel) {
  if (count == 0) return;
  const std::uint32_t room = to.GetSectorCount();
  if (room != 0 && room < count) {
    throw CUsbDeviceException("The disk is too small: it holds " + std::to_string(room) +
                              " sectors, the copy needs " + std::to_string(count));
  }
  // A source that cannot give every sector would fail after the target's
  // header is cleared: refused while the target is still whole.
  const std::uint32_t held = from.GetSectorCount();
  if (held != 0 && held < count) {
    throw CUsbDeviceException("The source is cut short: it holds " + std::to_string(held) +
                              " sectors, the copy needs " + std::to_string(count));
  }
  // At most 2^25 pieces: the count always fits the progress bar's int.
  const std::uint32_t pieces = (count + kPieceSectors - 1) / kPieceSectors;
  if (progress) {
    progress->SetRange(0, static_cast<int>(pieces));
    progress->SetPos(0);
  }

  // The header is read before the target's is cleared, so a disk copied onto
  // itself keeps it.
  std::vector<std::uint8_t> header(kSectorSize);
  from.ReadSectors(0, 1, header.data());
  const std::vector<std::uint8_t> cleared(kSectorSize, 0);
  to.WriteSectors(0, 1, cleared.data());

  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kPieceSectors) * kSectorSize);
  // 64-bit, so the last piece of a disk that ends at sector 2^32 - 1 does not
  // wrap the counter back to 0.
  for (std::uint64_t first = 0; first < count; first += kPieceSectors) {
    // The first piece starts behind the header, which goes last.
    const auto start = static_cast<std::uint32_t>(first == 0 ? 1 : first);
    const auto end = static_cast<std::uint32_t>(std::min<std::uint64_t>(first + kPieceSectors, count));
    ThrowIfCancelled(cancel);
    if (end > start) {
      from.ReadSectors(start, end - start, buffer.data());
      to.WriteSectors(start, end - start, buffer.data());
    }
    if (progress) progress->SetPos(static_cast<int>(first / kPieceSectors + 1));
  }
  to.WriteSectors(0, 1, header.data());
}

void CopyDiskToFile(CSectorDevice& disk, std::uint32_t count, COutputFile& file, CProgressBar* progress,
                    const CCancelFlag* cancel) {
  if (::ftruncate(file.Fd(), static_cast<off_t>(count) * kSectorSize) != 0) {
    throw CFileAccessException("Could not create " + file.Path() + ": " + std::strerror(errno));
  }
  // The copy writes without waiting for the medium; the commit's one flush at
  // the end makes the whole backup durable.
  CImageDevice image(file.TempPath(), /*durable=*/false);
  image.Open(CImageDevice::EntryFor(file.TempPath()));
  CopyDisk(disk, image, count, progress, cancel);
  image.Close();
  file.Commit();
}

}  // namespace vorn
