// vorn3ctl export: writes one routine of a disk back to a ".vorn" file
// (version 1), so a disk can be backed up and restored routine by routine.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/Mp3EndFinder.h"
#include "audio/RoutineFileHeader.h"
#include "device/DeviceExceptions.h"
#include "disk/VornDisk.h"
#include "platform/CheckedNumber.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/OutputFile.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

constexpr std::uint32_t kPieceSectors = 128;

// The routine file being written, through its temporary file.
class CExportWriter {
 public:
  explicit CExportWriter(COutputFile& out) : m_out(out), m_file(out.Stream()) {}

  void Write(const void* bytes, std::size_t size) {
    if (std::fwrite(bytes, 1, size, m_file) != size) Fail();
  }
  // Drops everything after the first `size` bytes; writing goes on from there.
  void Truncate(long size) {
    if (std::fflush(m_file) != 0 || ::ftruncate(::fileno(m_file), size) != 0 ||
        std::fseek(m_file, size, SEEK_SET) != 0) {
      Fail();
    }
  }
  void Rewrite(long at, const void* bytes, std::size_t size) {
    if (std::fseek(m_file, at, SEEK_SET) != 0) Fail();
    Write(bytes, size);
  }

 private:
  [[noreturn]] void Fail() {
    throw CFileAccessException("Error writing " + m_out.Path() + ": " + std::strerror(errno));
  }
  COutputFile& m_out;
  std::FILE* m_file;
};

// Copies sectors [first, end) of the disk to the file, showing each piece to `finder`.
void CopySectors(CSectorDevice& device, std::uint32_t first, std::uint32_t end,
                 CExportWriter& out, CMp3EndFinder* finder) {
  std::vector<std::uint8_t> buffer(kPieceSectors * kSectorSize);
  for (std::uint32_t sector = first; sector < end;) {
    const std::uint32_t count = std::min(kPieceSectors, end - sector);
    const std::size_t bytes = static_cast<std::size_t>(count) * kSectorSize;
    device.ReadSectors(sector, count, buffer.data());
    if (finder) finder->Feed(buffer.data(), bytes);
    out.Write(buffer.data(), bytes);
    sector += count;
  }
}

int Run(const CCommandLine& commandLine) {
  const auto& arguments = commandLine.Positional();
  // Checked before the disk is read: the output must not be the disk.
  COutputFile file(arguments[2], {arguments[0]}, commandLine.Has(kForceOption));
  auto device = OpenDiskArgument(arguments[0], ImageAccess::kRead);
  CVornDisk disk(*device, nullptr);
  const auto& table = disk.ReadTable();
  if (!disk.IsValid()) throw CUsbDeviceException("The disk is not formatted as a VORN disk");
  const std::size_t index = ParseUnsigned(arguments[1], table.size()).value_or(0);
  if (index < 1) {
    throw CUsageError("INDEX must be a routine number from 1 to " + std::to_string(table.size()));
  }
  const RoutineEntry& entry = table[index - 1];
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

  CExportWriter out(file);
  std::uint8_t raw[RoutineFileHeader::kEncodedSize] = {};
  out.Write(raw, sizeof raw);  // the sizes are known once the sections are copied

  // The MP3 ends where the import's sector filler begins.
  CMp3EndFinder finder;
  CopySectors(*device, entry.startSector, entry.dataSector, out, &finder);
  header.audioSize = static_cast<std::uint32_t>(finder.End());
  out.Truncate(static_cast<long>(sizeof raw + header.audioSize));
  // How many bytes of the last data sector were data is not stored: all of it goes.
  CopySectors(*device, entry.dataSector, entry.endSector, out, nullptr);
  header.dataSize = (entry.endSector - entry.dataSector) * kSectorSize;

  header.Encode(raw);
  out.Rewrite(0, raw, sizeof raw);
  device->Close();
  file.Commit();
  std::printf("Exported routine %zu \"%s\" to %s: audio %u bytes, control data %u bytes\n", index,
              PrintableText(title).c_str(), PrintableText(arguments[2]).c_str(), header.audioSize,
              header.dataSize);
  return kExitOk;
}

}  // namespace

Command ExportCommand() {
  return {"export", "DISK INDEX OUT.vorn [--force]", "write one routine of a disk to a .vorn file",
          "INDEX counts from 1 in the order 'list' shows. The MP3 is cut where the\n"
          "sector filler begins; the control data keeps its whole last sector.",
          {{kForceOption, nullptr, "replace OUT.vorn if it exists"}}, 3, 3, Run};
}

}  // namespace vorn
