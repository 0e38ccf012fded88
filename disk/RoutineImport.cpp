// Appending one ".vorn" routine file to a VORN disk.

#include "disk/RoutineImport.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "audio/ConvertAudio.h"
#include "audio/Mp3Frames.h"
#include "audio/RoutineFileHeader.h"
#include "device/DeviceExceptions.h"
#include "disk/VornDisk.h"
#include "platform/RegularFile.h"
#include "platform/UniqueFile.h"

namespace vorn {
namespace {

constexpr std::uint32_t kPieceSectors = kProtocolPieceSectors;  // 64 KiB
constexpr std::uint32_t kPieceBytes = kPieceSectors * kSectorSize;

// The same words as the disk's own check once the size is exact.
constexpr const char* kNoRoomText = "Not enough free space on the disk for this routine";

std::uint64_t SectorsFor(std::uint64_t bytes) {
  return (static_cast<std::uint64_t>(bytes) + kSectorSize - 1) / kSectorSize;
}

// The table record of the routine, placed from `startSector` on.
RoutineEntry MakeEntry(const RoutineFileHeader& header, std::uint32_t startSector,
                       std::uint32_t mp3Size) {
  const std::uint64_t dataSector = startSector + SectorsFor(mp3Size);
  const std::uint64_t endSector = dataSector + SectorsFor(header.dataSize);
  // Sector numbers are 32-bit: a routine that would run past the last
  // addressable sector cannot be described by the table at all.
  if (endSector > std::numeric_limits<std::uint32_t>::max()) {
    throw CFileAccessException("The routine does not fit on the disk");
  }
  RoutineEntry entry;
  // Up to 15 characters keep their NUL (the rest stays zero); of a longer
  // title the first 16 characters fill the field without one.
  for (std::size_t i = 0; i < entry.title.size() && header.title[i] != '\0'; ++i) {
    entry.title[i] = header.title[i];
  }
  entry.startSector = startSector;
  entry.dataSector = static_cast<std::uint32_t>(dataSector);
  entry.endSector = static_cast<std::uint32_t>(endSector);
  entry.frameRate = header.frameRate;
  entry.baudCode = header.baudCode;
  entry.controllerSettings = header.controllerSettings;
  return entry;
}

void StartPhase(CProgressBar* progress, std::uint32_t sectors) {
  if (!progress) return;
  progress->SetRange(0, static_cast<int>(sectors + 1));
  progress->SetPos(0);
  progress->SetStep(1);
}

}  // namespace

bool WriteFromFile(CSectorDevice& device, std::FILE* file, std::uint32_t firstSector,
                   std::uint32_t byteCount, const std::uint8_t* pattern, CProgressBar* progress,
                   const CCancelFlag* cancel) {
  // The section is cut into pieces as ever (128-sector pieces, one of the
  // whole sectors left, one padded last sector), and the progress bar is set
  // to the sectors written before each piece. Consecutive pieces go to the
  // device in one transfer of up to its TransferSectors: a durable write waits
  // for the medium once per transfer, and 64 KiB pieces made that wait most of
  // an import's time on a card.
  struct Piece {
    std::uint32_t offset;   // sectors from firstSector
    std::uint32_t sectors;
    std::uint32_t bytes;    // read from the file; the rest of the last sector is padding
  };
  const std::uint32_t transfer =
      std::max(kPieceSectors, device.TransferSectors() / kPieceSectors * kPieceSectors);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(transfer) * kSectorSize);
  std::vector<Piece> pieces;
  std::uint32_t offset = 0;  // sectors of the section cut so far
  std::uint32_t left = byteCount;
  while (left > 0) {
    ThrowIfCancelled(cancel);
    pieces.clear();
    std::uint32_t sectors = 0;
    std::size_t bytes = 0;
    while (left > 0) {
      Piece piece{offset, 0, 0};
      if (left >= kPieceBytes) {
        piece.sectors = kPieceSectors;
        piece.bytes = kPieceBytes;
      } else if (left > kSectorSize) {
        piece.sectors = left / kSectorSize;
        piece.bytes = piece.sectors * kSectorSize;
      } else {
        piece.sectors = 1;
        piece.bytes = left;
      }
      // A device of the protocol's size gets the pieces one by one, as the
      // unit protocol has them.
      if (!pieces.empty() && (transfer == kPieceSectors || sectors + piece.sectors > transfer)) break;
      pieces.push_back(piece);
      sectors += piece.sectors;
      bytes += piece.bytes;
      offset += piece.sectors;
      left -= piece.bytes;
    }
    if (progress) progress->SetPos(static_cast<int>(pieces.front().offset));
    const std::size_t got = std::fread(buffer.data(), 1, bytes, file);
    if (got != bytes) {
      // The pieces read whole before the file ended are written, as they
      // would have been one by one.
      std::uint32_t whole = 0;
      std::size_t covered = 0;
      for (const Piece& piece : pieces) {
        if (covered + piece.bytes > got || piece.bytes < piece.sectors * kSectorSize) break;
        covered += piece.bytes;
        whole += piece.sectors;
      }
      if (whole > 0) device.WriteSectors(firstSector + pieces.front().offset, whole, buffer.data());
      return false;
    }
    const Piece& last = pieces.back();
    if (const std::uint32_t tail = last.bytes % kSectorSize; last.sectors == 1 && last.bytes < kSectorSize) {
      std::uint8_t* padding = buffer.data() + bytes;
      if (pattern) {
        std::memcpy(padding, pattern, kSectorSize - tail);
      } else {
        std::memset(padding, 0, kSectorSize - tail);
      }
    }
    device.WriteSectors(firstSector + pieces.front().offset, sectors, buffer.data());
    // The steps of the pieces behind the first: each names sectors now written.
    if (progress) {
      for (std::size_t k = 1; k < pieces.size(); ++k) progress->SetPos(static_cast<int>(pieces[k].offset));
    }
  }
  return true;
}

PreparedRoutine PrepareRoutine(const std::string& path, const ConversionContext& context,
                               const std::function<bool(std::uint64_t sectors)>& room) {
  PreparedRoutine routine;
  routine.path = path;
  // Only a regular file: a FIFO or a device node named by mistake (or on
  // purpose) must neither block the import nor feed it endless bytes.
  std::string reason;
  routine.routineFile = OpenRegularFileStream(path, reason);
  if (!routine.routineFile) throw CDriveAccessException("Could not open file " + path + ": " + reason);

  std::uint8_t raw[RoutineFileHeader::kEncodedSize];
  if (std::fread(raw, 1, sizeof raw, routine.routineFile.get()) != sizeof raw) {
    throw CFileAccessException("Error reading file");
  }
  routine.header = RoutineFileHeader::Decode(raw);
  if (routine.header.version != 1) throw CFileAccessException("Unsupported file version");

  ConversionContext checked = context;
  if (room) {
    const std::uint32_t dataSize = routine.header.dataSize;
    checked.checkRoom = [&room, dataSize](std::uint64_t mp3Bytes) {
      if (!room(SectorsFor(mp3Bytes) + SectorsFor(dataSize))) throw CUsbDeviceException(kNoRoomText);
    };
  }
  std::FILE* mp3Stream = nullptr;
  ConvertAudio(routine.header, routine.routineFile.get(), routine.mp3Size, mp3Stream, checked);
  // Passed through, the MP3 stream is the routine file and is closed as that;
  // a converted stream is ours to close.
  if (mp3Stream != routine.routineFile.get()) routine.convertedStream.reset(mp3Stream);
  return routine;
}

void CVornDisk::AddRoutine(const std::string& path, CProgressBar* progress,
                           const CCancelFlag* cancel) {
  PreparedRoutine routine = PrepareRoutine(
      path, ConversionContext{m_status, progress, cancel}, RoomForNextRoutine());
  WritePreparedRoutine(routine, progress, cancel);
}

void CVornDisk::WritePreparedRoutine(PreparedRoutine& routine, CProgressBar* progress,
                                     const CCancelFlag* cancel) {
  const RoutineFileHeader& header = routine.header;
  const std::string& path = routine.path;
  const std::uint32_t mp3Size = routine.mp3Size;
  std::FILE* const mp3Stream = routine.Mp3Stream();
  std::FILE* const routineFile = routine.routineFile.get();

  ThrowIfCancelled(cancel);  // converted, nothing written yet

  const RoutineEntry entry = MakeEntry(header, NextFreeSector(), mp3Size);
  // A section that ends early would leave stale sectors inside a routine the
  // table vouches for, so the import fails before the table takes it in.
  AppendRoutine(entry, [&] {
    StartPhase(progress, entry.dataSector - entry.startSector);
    SetStatusText("Writing MP3");
    if (mp3Size > 0 && !WriteFromFile(m_device, mp3Stream, entry.startSector, mp3Size,
                                      g_mp3SectorFiller.data(), progress, cancel)) {
      throw CFileAccessException("Error reading file: the audio of " + path + " ends early");
    }
    StartPhase(progress, entry.endSector - entry.dataSector);
    SetStatusText("Writing Data");
    if (!WriteFromFile(m_device, routineFile, entry.dataSector, header.dataSize, nullptr,
                       progress, cancel)) {
      throw CFileAccessException("Error reading file: the control data of " + path +
                                 " ends early");
    }
    // The last chance to stop: once the header moves, the routine is on the disk.
    ThrowIfCancelled(cancel);
  });
}

}  // namespace vorn
