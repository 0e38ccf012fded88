#include "disk/RoutineExport.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "audio/Mp3EndFinder.h"
#include "audio/RoutineFileHeader.h"
#include "device/DeviceExceptions.h"

namespace vorn {
namespace {

constexpr std::uint32_t kPieceSectors = 128;

[[noreturn]] void Fail() {
  throw CFileAccessException(std::string("Error writing the routine file: ") + std::strerror(errno));
}

void Write(std::FILE* out, const void* bytes, std::size_t size) {
  if (std::fwrite(bytes, 1, size, out) != size) Fail();
}

// Copies sectors [first, end) to `out`, showing each piece to `finder`.
void CopySectors(CSectorDevice& device, std::uint32_t first, std::uint32_t end, std::FILE* out,
                 CMp3EndFinder* finder, CProgressBar* progress, const CCancelFlag* cancel,
                 std::uint32_t& done) {
  std::vector<std::uint8_t> buffer(kPieceSectors * kSectorSize);
  for (std::uint32_t sector = first; sector < end;) {
    ThrowIfCancelled(cancel);
    const std::uint32_t count = std::min(kPieceSectors, end - sector);
    const std::size_t bytes = static_cast<std::size_t>(count) * kSectorSize;
    device.ReadSectors(sector, count, buffer.data());
    if (finder) finder->Feed(buffer.data(), bytes);
    Write(out, buffer.data(), bytes);
    sector += count;
    if (progress) progress->SetPos(static_cast<int>(++done));
  }
}

}  // namespace

ExportedSizes ExportRoutine(CSectorDevice& device, const RoutineEntry& entry, std::FILE* out,
                            CProgressBar* progress, const CCancelFlag* cancel) {
  // A routine file states its section sizes in 32 bits.
  if (std::uint64_t{entry.endSector - entry.dataSector} * kSectorSize > UINT32_MAX ||
      std::uint64_t{entry.dataSector - entry.startSector} * kSectorSize > UINT32_MAX) {
    throw CFileAccessException("The routine is too large for a routine file");
  }
  RoutineFileHeader header;
  header.version = 1;
  const std::string title = entry.Title();
  std::copy(title.begin(), title.end(), header.title.begin());  // 16 at most: the NUL stays
  header.audioFormat = RoutineFileHeader::kAudioFormatMp3;
  header.frameRate = entry.frameRate;
  header.baudCode = entry.baudCode;
  header.controllerSettings = entry.controllerSettings;

  if (progress) {
    const std::uint32_t pieces = (entry.dataSector - entry.startSector + kPieceSectors - 1) / kPieceSectors +
                                 (entry.endSector - entry.dataSector + kPieceSectors - 1) / kPieceSectors;
    progress->SetRange(0, static_cast<int>(std::max<std::uint32_t>(pieces, 1)));
    progress->SetPos(0);
  }
  std::uint8_t raw[RoutineFileHeader::kEncodedSize] = {};
  Write(out, raw, sizeof raw);  // the sizes are known once the sections are copied

  std::uint32_t done = 0;
  CMp3EndFinder finder;
  CopySectors(device, entry.startSector, entry.dataSector, out, &finder, progress, cancel, done);
  header.audioSize = static_cast<std::uint32_t>(finder.End());
  const long audioEnd = static_cast<long>(sizeof raw + header.audioSize);
  if (std::fflush(out) != 0 || ::ftruncate(::fileno(out), audioEnd) != 0 ||
      std::fseek(out, audioEnd, SEEK_SET) != 0) {
    Fail();
  }
  CopySectors(device, entry.dataSector, entry.endSector, out, nullptr, progress, cancel, done);
  header.dataSize = (entry.endSector - entry.dataSector) * kSectorSize;

  header.Encode(raw);
  if (std::fseek(out, 0, SEEK_SET) != 0) Fail();
  Write(out, raw, sizeof raw);
  if (std::fflush(out) != 0) Fail();
  return ExportedSizes{header.audioSize, header.dataSize};
}

}  // namespace vorn
