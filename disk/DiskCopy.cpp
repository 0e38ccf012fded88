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

// The progress bar's step: the unit protocol's piece.
constexpr std::uint32_t kPieceSectors = kProtocolPieceSectors;

// A new image file that starts as one hole, written so that it keeps its
// holes: only the 4 KiB blocks (a filesystem's block) that hold anything but
// zeros are written, the rest already reads as zeros. A backup of a mostly
// empty card then takes the space of its data, as `cp --sparse` makes it.
// Right only while no sector is written twice with data in between.
class CHoleKeepingImage final : public CSectorDevice {
 public:
  explicit CHoleKeepingImage(CSectorDevice& file) : m_file(file) {}

  std::uint32_t GetSectorCount() override { return m_file.GetSectorCount(); }
  std::string GetName() override { return m_file.GetName(); }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override {
    m_file.ReadSectors(first, count, buffer);
  }
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const std::uint64_t end = std::uint64_t{first} + count;
    std::uint64_t runStart = 0;
    bool inRun = false;
    for (std::uint64_t at = first; at < end;) {
      // To the next block boundary, counted in the disk's sectors.
      const std::uint64_t next = std::min(end, (at / kBlockSectors + 1) * kBlockSectors);
      const bool zero = IsZero(bytes + (at - first) * kSectorSize, (next - at) * kSectorSize);
      if (!zero && !inRun) runStart = at;
      if (zero && inRun) Write(runStart, at, first, bytes);
      inRun = !zero;
      at = next;
    }
    if (inRun) Write(runStart, end, first, bytes);
  }
  void Open(const DeviceEntry& entry) override { m_file.Open(entry); }
  void Close() override { m_file.Close(); }
  bool Identify() override { return m_file.Identify(); }
  std::uint32_t TransferSectors() override { return m_file.TransferSectors(); }

 private:
  static constexpr std::uint64_t kBlockSectors = 4096 / kSectorSize;

  static bool IsZero(const std::uint8_t* bytes, std::size_t size) {
    return std::all_of(bytes, bytes + size, [](std::uint8_t b) { return b == 0; });
  }
  void Write(std::uint64_t from, std::uint64_t to, std::uint32_t first, const std::uint8_t* bytes) {
    m_file.WriteSectors(static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to - from),
                        bytes + (from - first) * kSectorSize);
  }

  CSectorDevice& m_file;
};

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

  // The progress runs over 128-sector pieces; the copy moves as many of them
  // per transfer as both devices take well (a unit keeps its protocol's size).
  const std::uint32_t transfer =
      std::max(kPieceSectors, std::min(from.TransferSectors(), to.TransferSectors()) / kPieceSectors * kPieceSectors);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(transfer) * kSectorSize);
  // 64-bit, so the last piece of a disk that ends at sector 2^32 - 1 does not
  // wrap the counter back to 0.
  for (std::uint64_t first = 0; first < count; first += transfer) {
    // The first piece starts behind the header, which goes last.
    const auto start = static_cast<std::uint32_t>(first == 0 ? 1 : first);
    const auto end = static_cast<std::uint32_t>(std::min<std::uint64_t>(first + transfer, count));
    ThrowIfCancelled(cancel);
    if (end > start) {
      from.ReadSectors(start, end - start, buffer.data());
      to.WriteSectors(start, end - start, buffer.data());
    }
    if (progress) {
      for (std::uint64_t piece = first; piece < end; piece += kPieceSectors) {
        progress->SetPos(static_cast<int>(piece / kPieceSectors + 1));
      }
    }
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
  CHoleKeepingImage sparse(image);
  CopyDisk(disk, sparse, count, progress, cancel);
  image.Close();
  file.Commit();
}

}  // namespace vorn
