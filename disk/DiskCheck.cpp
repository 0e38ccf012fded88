#include "disk/DiskCheck.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "audio/Mp3RegionCheck.h"
#include "disk/CapacityProbe.h"
#include "disk/DiskHeader.h"
#include "disk/RoutineEntry.h"
#include "disk/VornDisk.h"
#include "platform/Error.h"

namespace vorn {
namespace {

// 4 MiB a read: large enough for a drive or an image to keep its pace.
constexpr std::uint32_t kPieceSectors = 8192;
constexpr std::uint8_t kMiniSscSync = 255;

std::string Format(const char* format, auto... values) {
  std::array<char, 512> text{};
  std::snprintf(text.data(), text.size(), format, values...);
  return text.data();
}

// "1:02.5": minutes, seconds and tenths, as a show's running order gives times.
std::string TimeText(double seconds) {
  const auto tenths = static_cast<long long>(std::llround(seconds * 10));
  return Format("%lld:%02lld.%lld", tenths / 600, (tenths / 10) % 60, tenths % 10);
}

// MiniSSC control data: triples of the sync byte 255, a servo number and a
// position, both 0..254. A frame holds one triple per servo the routine
// moves, so its size is the triples up to the first servo number met again.
// The data ends where the zeros that pad its last sector begin.
class CMiniSscCheck {
 public:
  void Feed(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size && !m_stopped; ++i, ++m_offset) Take(data[i]);
  }

  bool Decodes() const { return !m_stopped; }
  std::uint64_t Frames() const {
    if (m_triples == 0) return 0;
    const std::uint64_t perFrame = m_servosPerFrame != 0 ? m_servosPerFrame : m_triples;
    return (m_triples + perFrame - 1) / perFrame;
  }
  std::uint64_t ServosPerFrame() const { return m_servosPerFrame != 0 ? m_servosPerFrame : m_triples; }
  std::uint64_t BadTriples() const { return m_badTriples; }
  const std::optional<std::string>& FirstFault() const { return m_firstFault; }

 private:
  void Fault(const std::string& text) {
    if (!m_firstFault) m_firstFault = text;
  }

  void Take(std::uint8_t byte) {
    if (m_padding) {
      if (byte != 0) {
        Fault(Format("no sync byte (255) at byte %llu", static_cast<unsigned long long>(m_paddingStart)));
        m_stopped = true;
      }
      return;
    }
    switch (m_phase) {
      case 0:
        if (byte == kMiniSscSync) {
          m_phase = 1;
          m_tripleBad = false;
        } else if (byte == 0) {
          m_padding = true;
          m_paddingStart = m_offset;
        } else {
          Fault(Format("no sync byte (255) at byte %llu", static_cast<unsigned long long>(m_offset)));
          m_stopped = true;
        }
        return;
      case 1:
        m_servo = byte;
        if (byte == kMiniSscSync) {
          Fault(Format("servo number 255 at byte %llu", static_cast<unsigned long long>(m_offset)));
          m_tripleBad = true;
        }
        m_phase = 2;
        return;
      default:
        if (byte == kMiniSscSync) {
          Fault(Format("position 255 at byte %llu", static_cast<unsigned long long>(m_offset)));
          m_tripleBad = true;
        }
        if (m_tripleBad) ++m_badTriples;
        ++m_triples;
        if (!m_firstServo) {
          m_firstServo = m_servo;
        } else if (m_servosPerFrame == 0 && m_servo == *m_firstServo) {
          m_servosPerFrame = m_triples - 1;
        }
        m_phase = 0;
        return;
    }
  }

  std::uint64_t m_offset = 0;
  int m_phase = 0;
  std::uint8_t m_servo = 0;
  bool m_tripleBad = false;
  bool m_padding = false;
  std::uint64_t m_paddingStart = 0;
  bool m_stopped = false;
  std::uint64_t m_triples = 0;
  std::uint64_t m_badTriples = 0;
  std::optional<std::uint8_t> m_firstServo;
  std::uint64_t m_servosPerFrame = 0;
  std::optional<std::string> m_firstFault;
};

class CChecker {
 public:
  CChecker(CSectorDevice& device, const CCancelFlag* cancel, CProgressBar* progress)
      : m_device(device), m_cancel(cancel), m_progress(progress) {}

  std::vector<CheckFinding> Run() {
    std::vector<RoutineEntry> table;
    if (m_progress) m_progress->SetRange(0, 100);
    if (CheckHeaderAndTable(table)) {
      for (const RoutineEntry& entry : table) m_totalSectors += entry.endSector - entry.startSector;
      for (std::size_t k = 0; k < table.size(); ++k) CheckRoutine(k + 1, table[k]);
    }
    if (m_progress) m_progress->SetPos(100);
    return std::move(m_findings);
  }

 private:
  void Add(CheckLevel level, std::optional<std::size_t> routine, std::string text) {
    m_findings.push_back({level, routine, std::move(text)});
  }

  void ThrowIfCancelled() const {
    if (m_cancel != nullptr && m_cancel->IsCancelled()) throw CCancelled();
  }

  // Reads one sector; the device's error text when it cannot.
  std::optional<std::string> ReadSector(std::uint32_t sector, std::uint8_t* out) {
    try {
      m_device.ReadSectors(sector, 1, out);
      return std::nullopt;
    } catch (const CVornError& error) {
      return std::string(error.what());
    }
  }

  // The table the header points at, walked record by record so the first
  // record out of line is named; false when the routines cannot be checked.
  bool CheckHeaderAndTable(std::vector<RoutineEntry>& table) {
    std::array<std::uint8_t, kSectorSize> sector{};
    if (auto error = ReadSector(0, sector.data())) {
      Add(CheckLevel::kRed, std::nullopt, "the header (sector 0) cannot be read: " + *error);
      return false;
    }
    const DiskHeader header = DiskHeader::Decode(sector.data());
    if (header.magic != kDiskMagic) {
      Add(CheckLevel::kRed, std::nullopt, "not formatted as a VORN disk");
      return false;
    }
    if (header.routineCount < 0) {
      Add(CheckLevel::kRed, std::nullopt, Format("the header counts %d routines", header.routineCount));
      return false;
    }
    const std::uint64_t count = static_cast<std::uint64_t>(header.routineCount);
    const std::uint64_t tableEnd = header.tableSector + (count + kRoutinesPerTableSector - 1) / kRoutinesPerTableSector;
    const std::uint64_t deviceSectors = m_device.GetSectorCount();
    const std::uint64_t limit = deviceSectors != 0 ? deviceSectors : std::uint64_t{1} << 32;
    if (count > 0 && header.tableSector == 0) {
      Add(CheckLevel::kRed, std::nullopt, "the header points at itself for the routine table");
      return false;
    }
    if (tableEnd > limit || header.tableSector >= limit) {
      Add(CheckLevel::kRed, std::nullopt,
          Format("the routine table (sectors %llu to %llu) lies past the end of the disk (%llu sectors)",
                 static_cast<unsigned long long>(header.tableSector),
                 static_cast<unsigned long long>(std::max<std::uint64_t>(tableEnd, header.tableSector + 1) - 1),
                 static_cast<unsigned long long>(limit)));
      return false;
    }

    for (std::uint64_t k = 0; k < count; ++k) {
      const std::uint64_t slot = k % kRoutinesPerTableSector;
      if (slot == 0) {
        ThrowIfCancelled();
        const auto number = static_cast<std::uint32_t>(header.tableSector + k / kRoutinesPerTableSector);
        if (auto error = ReadSector(number, sector.data())) {
          Add(CheckLevel::kRed, std::nullopt, Format("table sector %u cannot be read: ", number) + *error);
          return false;
        }
      }
      const RoutineEntry entry = RoutineEntry::Decode(sector.data() + slot * RoutineEntry::kEncodedSize);
      if (auto fault = RecordFault(table.empty() ? nullptr : &table.back(), entry, limit)) {
        Add(CheckLevel::kRed, k + 1, *fault);
        return false;
      }
      table.push_back(entry);
    }

    // The program's own reading must agree: whatever it refuses, the window
    // and the unit's other tools refuse too.
    CVornDisk disk(m_device, nullptr);
    try {
      disk.ReadTable();
    } catch (const CVornError& error) {
      Add(CheckLevel::kRed, std::nullopt, std::string("the routine table cannot be read: ") + error.what());
      return false;
    }
    if (!disk.IsValid() || !disk.CheckTable() || disk.Table() != table) {
      Add(CheckLevel::kRed, std::nullopt, "the routine table is malformed");
      return false;
    }
    Add(CheckLevel::kGreen, std::nullopt,
        Format("header and table well-formed: %llu routine%s, table at sector %u",
               static_cast<unsigned long long>(count), count == 1 ? "" : "s", header.tableSector));
    return true;
  }

  static std::optional<std::string> RecordFault(const RoutineEntry* previous, const RoutineEntry& entry,
                                                std::uint64_t limit) {
    if (previous == nullptr && entry.startSector < 1) return "starts at sector 0, over the header";
    if (previous != nullptr && entry.startSector != previous->endSector) {
      return Format("starts at sector %u, where the routine before ends at %u", entry.startSector,
                    previous->endSector);
    }
    if (entry.dataSector < entry.startSector || entry.dataSector > entry.endSector) {
      return Format("its control data (sector %u) lies outside the routine (sectors %u to %u)",
                    entry.dataSector, entry.startSector, entry.endSector);
    }
    if (entry.endSector > limit) {
      return Format("ends at sector %u, past the end of the disk (%llu sectors)", entry.endSector,
                    static_cast<unsigned long long>(limit));
    }
    return std::nullopt;
  }

  // Reads [first, first + count) into m_piece; a piece the device refuses is
  // read again sector by sector, so the finding names the sector, and what
  // cannot be read counts as zeros.
  void ReadPiece(std::uint32_t first, std::uint32_t count) {
    m_piece.resize(static_cast<std::size_t>(count) * kSectorSize);
    try {
      m_device.ReadSectors(first, count, m_piece.data());
      return;
    } catch (const CVornError&) {
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint8_t* out = m_piece.data() + static_cast<std::size_t>(i) * kSectorSize;
      if (auto error = ReadSector(first + i, out)) {
        std::fill(out, out + kSectorSize, std::uint8_t{0});
        if (m_unreadable++ == 0) {
          m_firstUnreadable = Format("sector %u cannot be read: ", first + i) + *error;
        }
      }
    }
  }

  void CheckRoutine(std::size_t routine, const RoutineEntry& entry) {
    const std::size_t before = m_findings.size();
    m_unreadable = 0;
    CMp3RegionCheck audio;
    CMiniSscCheck control;
    std::uint64_t dataBytes = 0;  // control bytes up to the last one not zero
    std::uint64_t controlOffset = 0;
    for (std::uint64_t sector = entry.startSector; sector < entry.endSector;) {
      ThrowIfCancelled();
      // Pieces end at the control data's start, so each feeds one region.
      const std::uint64_t regionEnd = sector < entry.dataSector ? entry.dataSector : entry.endSector;
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPieceSectors, regionEnd - sector));
      ReadPiece(static_cast<std::uint32_t>(sector), count);
      if (sector < entry.dataSector) {
        audio.Feed(m_piece.data(), m_piece.size());
      } else {
        control.Feed(m_piece.data(), m_piece.size());
        for (std::size_t i = m_piece.size(); i > 0; --i) {
          if (m_piece[i - 1] != 0) {
            dataBytes = controlOffset + i;
            break;
          }
        }
        controlOffset += m_piece.size();
      }
      sector += count;
      m_doneSectors += count;
      const int percent = static_cast<int>(m_doneSectors * 100 / std::max<std::uint64_t>(1, m_totalSectors));
      if (m_progress && percent != m_shown) m_progress->SetPos(m_shown = percent);
    }

    if (m_unreadable != 0) {
      Add(CheckLevel::kRed, routine,
          m_firstUnreadable + Format(" (%llu unreadable sector%s)", static_cast<unsigned long long>(m_unreadable),
                                     m_unreadable == 1 ? "" : "s"));
    }
    const Mp3RegionReport mp3 = audio.Finish();
    if (mp3.badHeaderByte) {
      Add(CheckLevel::kRed, routine,
          Format("the MP3 data is not frames of the disk's kind from frame %llu (byte %llu, at ",
                 static_cast<unsigned long long>(*mp3.badHeaderFrame + 1),
                 static_cast<unsigned long long>(*mp3.badHeaderByte)) +
              TimeText(static_cast<double>(*mp3.badHeaderFrame) * kMp3FrameSeconds) + ")");
    }
    if (mp3.decodeErrors != 0) {
      Add(CheckLevel::kRed, routine,
          Format("the decoder rejects %llu MP3 frame%s, the first at ", static_cast<unsigned long long>(mp3.decodeErrors),
                 mp3.decodeErrors == 1 ? "" : "s") +
              TimeText(static_cast<double>(*mp3.firstBadFrame) * kMp3FrameSeconds));
    }

    const double audioSeconds = mp3.Seconds();
    std::string controlText = "no control data";
    if (dataBytes != 0) {
      if (!entry.Protocol().IsMiniSSC()) {
        controlText = Format("control data not decoded (%s)", entry.Protocol().Name());
      } else if (control.FirstFault()) {
        Add(CheckLevel::kRed, routine,
            "the MiniSSC control data is malformed: " + *control.FirstFault() +
                (control.BadTriples() > 1
                     ? Format(" (%llu bad commands)", static_cast<unsigned long long>(control.BadTriples()))
                     : std::string()));
      } else if (entry.frameRate == 0) {
        Add(CheckLevel::kRed, routine, "the frame period is 0 ms: the control data has no playing time");
      } else {
        const double controlSeconds = static_cast<double>(control.Frames()) * entry.frameRate / 1000.0;
        controlText = Format("control data %s (%llu frames of %llu servos)", TimeText(controlSeconds).c_str(),
                             static_cast<unsigned long long>(control.Frames()),
                             static_cast<unsigned long long>(control.ServosPerFrame()));
        if (std::fabs(controlSeconds - audioSeconds) > kPlayingTimeTolerance) {
          Add(CheckLevel::kAmber, routine,
              "the control data plays " + TimeText(controlSeconds) + ", the audio " + TimeText(audioSeconds) +
                  ": the unit will cut one short");
        }
      }
    }
    if (m_findings.size() == before) {
      Add(CheckLevel::kGreen, routine, "audio " + TimeText(audioSeconds) + ", " + controlText);
    }
  }

  CSectorDevice& m_device;
  const CCancelFlag* m_cancel;
  CProgressBar* m_progress;
  std::uint64_t m_totalSectors = 0;
  std::uint64_t m_doneSectors = 0;
  int m_shown = -1;
  std::vector<CheckFinding> m_findings;
  std::vector<std::uint8_t> m_piece;
  std::uint64_t m_unreadable = 0;
  std::string m_firstUnreadable;
};

}  // namespace

const char* CheckLevelName(CheckLevel level) {
  switch (level) {
    case CheckLevel::kGreen:
      return "green";
    case CheckLevel::kAmber:
      return "amber";
    case CheckLevel::kRed:
      return "red";
  }
  return "red";
}

CheckLevel WorstLevel(const std::vector<CheckFinding>& findings) {
  CheckLevel worst = CheckLevel::kGreen;
  for (const CheckFinding& finding : findings) worst = std::max(worst, finding.level);
  return worst;
}

std::vector<CheckFinding> CheckDisk(CSectorDevice& device, const CCancelFlag* cancel, const CheckOptions& options) {
  std::vector<CheckFinding> findings = CChecker(device, cancel, options.progress).Run();
  if (options.capacity) findings.push_back(ProbeCapacity(device, cancel));
  return findings;
}

}  // namespace vorn
