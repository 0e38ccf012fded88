#include "disk/CapacityProbe.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>

#include "device/VerifyingDevice.h"
#include "disk/DiskHeader.h"
#include "disk/VornDisk.h"
#include "platform/Error.h"

namespace vorn {
namespace {

constexpr char kPatternMagic[8] = {'V', 'O', 'R', 'N', 'P', 'R', 'B', '1'};

std::string Format(const char* format, auto... values) {
  std::array<char, 512> text{};
  std::snprintf(text.data(), text.size(), format, values...);
  return text.data();
}

std::string Megabytes(std::uint64_t sectors) {
  return Format("%.0f MB", static_cast<double>(sectors) * kSectorSize / 1e6);
}

std::uint64_t RandomRunId() {
  std::random_device source;
  std::uint64_t id = 0;
  while (id == 0) id = (static_cast<std::uint64_t>(source()) << 32) ^ source();
  return id;
}

void PutLe(std::uint8_t* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t GetLe(const std::uint8_t* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  return value;
}

// Where a card that claims `sectorCount` sectors most likely ends if it lies:
// fakes keep a power of two of their claim, or half of it.
std::vector<std::uint32_t> WrapPoints(std::uint32_t sectorCount) {
  std::vector<std::uint32_t> points;
  for (std::uint64_t w = 1; w < sectorCount; w <<= 1) points.push_back(static_cast<std::uint32_t>(w));
  if (sectorCount / 2 > 0) points.push_back(sectorCount / 2);
  std::sort(points.begin(), points.end());
  points.erase(std::unique(points.begin(), points.end()), points.end());
  return points;
}

class CProbe {
 public:
  CProbe(CSectorDevice& device, const CCancelFlag* cancel, std::uint64_t runId)
      : m_device(device), m_cancel(cancel), m_runId(runId != 0 ? runId : RandomRunId()) {}

  CheckFinding Run() {
    const std::uint32_t claimed = m_device.GetSectorCount();
    if (claimed == 0) return Amber("the disk does not tell its size");
    std::vector<std::uint8_t> header(kSectorSize);
    if (auto error = Read(0, header.data())) return Red("the header (sector 0) cannot be read: " + *error);
    std::uint32_t firstFree = 1;
    const bool formatted = DiskHeader::Decode(header.data()).magic == kDiskMagic;
    if (formatted) {
      CVornDisk disk(m_device, nullptr);
      try {
        disk.ReadTable();
      } catch (const CVornError&) {
        return Amber("the routine table cannot be read, so which sectors are free is not known");
      }
      if (!disk.IsValid()) return Amber("the routine table is malformed, so which sectors are free is not known");
      firstFree = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(claimed, std::max<std::uint64_t>(disk.NextFreeSector(), disk.TableReadEnd())));
    }
    if (firstFree >= claimed) return Amber("the disk has no free sector to probe");

    // Read-only first: a formatted card that wraps at a likely point shows
    // its header and the sectors behind it there again, and is caught before
    // a write could land on a routine. (An unformatted card's first sectors
    // may well repeat; the read-back below catches its wrap.)
    if (formatted) {
      if (auto wrap = WrapSeen(claimed, header)) {
        return Red(Format("sector %u reads the header (sector 0) again: the card wraps around and holds "
                          "%u sectors (%s), not the %u (%s) it claims",
                          *wrap, *wrap, Megabytes(*wrap).c_str(), claimed, Megabytes(claimed).c_str()));
      }
    }

    m_sectors = CapacityProbeSectors(firstFree, claimed);
    m_saved.assign(m_sectors.size() * kSectorSize, 0);
    for (std::size_t i = 0; i < m_sectors.size(); ++i) {
      ThrowIfCancelled(m_cancel);
      if (auto error = Read(m_sectors[i], m_saved.data() + i * kSectorSize)) {
        return Red(Format("sector %u of the %u it claims cannot be read: ", m_sectors[i], claimed) + *error);
      }
    }

    std::optional<CheckFinding> finding = WriteAll();
    if (!finding) finding = ReadBack(claimed);
    if (auto failure = Restore()) {
      if (finding->level != CheckLevel::kRed) finding = Red(*failure);
      else finding->text += "; " + *failure;
    }
    if (m_cancelled) throw CCancelled();
    return *finding;
  }

 private:
  static CheckFinding Amber(const std::string& why) {
    return {CheckLevel::kAmber, std::nullopt, "capacity not probed: " + why};
  }
  static CheckFinding Red(const std::string& what) { return {CheckLevel::kRed, std::nullopt, "capacity: " + what}; }

  // The first wrap point at which the disk's first sectors read again.
  std::optional<std::uint32_t> WrapSeen(std::uint32_t claimed, const std::vector<std::uint8_t>& header) {
    constexpr std::uint32_t kLandmark = 4;  // the header and the sectors behind it
    std::vector<std::uint8_t> low(kSectorSize);
    std::vector<std::uint8_t> high(kSectorSize);
    for (std::uint32_t w : WrapPoints(claimed)) {
      ThrowIfCancelled(m_cancel);
      if (w < kLandmark || w + kLandmark > claimed) continue;
      bool same = true;
      for (std::uint32_t i = 0; i < kLandmark && same; ++i) {
        if (i == 0) low = header;
        else if (Read(i, low.data())) return std::nullopt;
        same = !Read(w + i, high.data()) && high == low;
      }
      if (same) return w;
    }
    return std::nullopt;
  }

  std::optional<std::string> Read(std::uint32_t sector, std::uint8_t* out) {
    try {
      m_device.ReadSectors(sector, 1, out);
      return std::nullopt;
    } catch (const CVornError& error) {
      return std::string(error.what());
    }
  }

  // Every probe sector is written before any is read back: a sector that
  // aliases another then shows the other's pattern.
  std::optional<CheckFinding> WriteAll() {
    for (std::size_t i = 0; i < m_sectors.size(); ++i) {
      if (m_cancel != nullptr && m_cancel->IsCancelled()) {
        m_cancelled = true;
        return Amber("cancelled");
      }
      const std::vector<std::uint8_t> pattern = CapacityPattern(m_runId, m_sectors[i]);
      m_written = i + 1;  // a failed write may have landed in part
      try {
        m_device.WriteSectors(m_sectors[i], 1, pattern.data());
      } catch (const CVornError& error) {
        return Red(Format("sector %u cannot be written: ", m_sectors[i]) + error.what());
      }
    }
    return std::nullopt;
  }

  CheckFinding ReadBack(std::uint32_t claimed) {
    std::optional<CheckFinding> first;
    try {
      CMediumReads fromMedium(m_device);
      std::vector<std::uint8_t> got(kSectorSize);
      for (std::uint32_t sector : m_sectors) {
        if (m_cancel != nullptr && m_cancel->IsCancelled()) {
          m_cancelled = true;
          return Amber("cancelled");
        }
        if (auto error = Read(sector, got.data())) {
          first = Red(Format("sector %u cannot be read back: ", sector) + *error);
          break;
        }
        if (got == CapacityPattern(m_runId, sector)) continue;
        first = Red(Mismatch(sector, got, claimed));
        break;
      }
    } catch (const CVornError& error) {
      first = Red(std::string("the written sectors cannot be read back from the card: ") + error.what());
    }
    if (first) return *first;
    return {CheckLevel::kGreen, std::nullopt,
            Format("capacity: the disk holds the %u sectors (%s) it claims (%zu free sectors from %u to %u "
                   "written, read back and restored)",
                   claimed, Megabytes(claimed).c_str(), m_sectors.size(), m_sectors.front(), m_sectors.back())};
  }

  std::string Mismatch(std::uint32_t sector, const std::vector<std::uint8_t>& got, std::uint32_t claimed) const {
    if (std::memcmp(got.data(), kPatternMagic, sizeof kPatternMagic) == 0 && GetLe(got.data() + 8, 8) == m_runId) {
      const auto other = static_cast<std::uint32_t>(GetLe(got.data() + 16, 4));
      if (other != sector && got == CapacityPattern(m_runId, other)) {
        const std::uint32_t real = sector > other ? sector - other : other - sector;
        return Format("sector %u reads back what was written to sector %u: the card wraps around and holds "
                      "at most %u sectors (%s), not the %u (%s) it claims",
                      sector, other, real, Megabytes(real).c_str(), claimed, Megabytes(claimed).c_str());
      }
    }
    return Format("sector %u does not keep what is written to it: the card does not hold the %u sectors (%s) it "
                  "claims, or is failing",
                  sector, claimed, Megabytes(claimed).c_str());
  }

  // Puts back every sector written (or begun). The originals were all read
  // before the first write, so a write that landed elsewhere is undone too.
  std::optional<std::string> Restore() {
    std::optional<std::string> failure;
    for (std::size_t i = 0; i < m_written; ++i) {
      try {
        m_device.WriteSectors(m_sectors[i], 1, m_saved.data() + i * kSectorSize);
      } catch (const CVornError& error) {
        if (!failure) {
          failure = Format("free sector %u could not be put back as it was: ", m_sectors[i]) + error.what();
        }
      }
    }
    return failure;
  }

  CSectorDevice& m_device;
  const CCancelFlag* m_cancel;
  std::uint64_t m_runId;
  std::vector<std::uint32_t> m_sectors;
  std::vector<std::uint8_t> m_saved;
  std::size_t m_written = 0;
  bool m_cancelled = false;
};

}  // namespace

std::vector<std::uint32_t> CapacityProbeSectors(std::uint32_t firstFree, std::uint32_t sectorCount) {
  std::vector<std::uint32_t> sectors;
  if (firstFree >= sectorCount) return sectors;
  const std::uint64_t span = sectorCount - firstFree;
  for (std::uint64_t i = 0; i < kCapacityProbeSpread; ++i) {
    sectors.push_back(static_cast<std::uint32_t>(firstFree + span * i / kCapacityProbeSpread));
  }
  sectors.push_back(sectorCount - 1);
  // Right at and past each likely real end, where a fake first goes wrong.
  for (std::uint32_t w : WrapPoints(sectorCount)) {
    if (w >= firstFree) sectors.push_back(w);
    if (w + 1 >= firstFree && w + 1 < sectorCount) sectors.push_back(w + 1);
  }
  std::sort(sectors.begin(), sectors.end());
  sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
  return sectors;
}

std::vector<std::uint8_t> CapacityPattern(std::uint64_t runId, std::uint32_t sector) {
  std::vector<std::uint8_t> pattern(kSectorSize);
  std::memcpy(pattern.data(), kPatternMagic, sizeof kPatternMagic);
  PutLe(pattern.data() + 8, runId, 8);
  PutLe(pattern.data() + 16, sector, 4);
  // The rest from a generator seeded by both, so no two sectors of a run (nor
  // two runs) share a byte pattern a controller could fold together.
  std::uint64_t state = runId ^ (0x9E3779B97F4A7C15ull * (static_cast<std::uint64_t>(sector) + 1));
  if (state == 0) state = 1;  // the generator's one fixed point
  for (std::size_t i = 20; i < kSectorSize; i += 4) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    PutLe(pattern.data() + i, state, 4);
  }
  return pattern;
}

CheckFinding ProbeCapacity(CSectorDevice& device, const CCancelFlag* cancel, std::uint64_t runId) {
  return CProbe(device, cancel, runId).Run();
}

}  // namespace vorn
