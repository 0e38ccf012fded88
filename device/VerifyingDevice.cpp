#include "device/VerifyingDevice.h"

#include <algorithm>
#include <functional>
#include <string_view>

#include "device/DeviceExceptions.h"
#include "device/DriveAccess.h"

namespace vorn {
namespace {

// The read-back reads at least this much per transfer (128 KiB, two of the
// unit protocol's pieces), and as much as the device takes well.
constexpr std::uint32_t kLeastChunkSectors = 256;

}  // namespace

CMediumReads::CMediumReads(CSectorDevice& device) : m_drive(dynamic_cast<CDriveAccess*>(&device)) {
  if (!m_drive) return;
  m_direct = m_drive->ReadFromMedium(true);
  if (!m_direct && !m_drive->DropCache()) {
    throw CUsbDeviceException("Verify failed\nThe written sectors of " + device.GetName() +
                              " cannot be read back from the card itself.");
  }
}

CMediumReads::~CMediumReads() {
  if (m_direct) m_drive->ReadFromMedium(false);
}

std::uint32_t SectorHash(const void* sector) {
  const std::size_t hash = std::hash<std::string_view>{}(
      std::string_view(static_cast<const char*>(sector), kSectorSize));
  return static_cast<std::uint32_t>(hash ^ (static_cast<std::uint64_t>(hash) >> 32));
}

CVerifyingDevice::CVerifyingDevice(CSectorDevice& inner) : m_inner(inner) {}

void CVerifyingDevice::WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) {
  m_inner.WriteSectors(first, count, buffer);
  std::vector<std::uint32_t> hashes(count);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  for (std::uint32_t i = 0; i < count; ++i) hashes[i] = SectorHash(bytes + std::size_t{i} * kSectorSize);
  Record(first, std::move(hashes));
}

void CVerifyingDevice::Record(std::uint32_t first, std::vector<std::uint32_t> hashes) {
  if (hashes.empty()) return;
  const std::uint64_t end = std::uint64_t{first} + hashes.size();
  // Cut what the new run covers out of the runs already kept.
  auto it = m_runs.upper_bound(first);
  if (it != m_runs.begin()) --it;
  while (it != m_runs.end() && it->first < end) {
    const std::uint32_t runFirst = it->first;
    const std::uint64_t runEnd = std::uint64_t{runFirst} + it->second.size();
    if (runEnd <= first) {
      ++it;
      continue;
    }
    std::vector<std::uint32_t> old = std::move(it->second);
    it = m_runs.erase(it);
    if (runFirst < first) m_runs[runFirst].assign(old.begin(), old.begin() + (first - runFirst));
    if (runEnd > end) {
      m_runs[static_cast<std::uint32_t>(end)].assign(old.begin() + static_cast<std::ptrdiff_t>(end - runFirst),
                                                     old.end());
    }
  }
  // Sequential writes grow one run instead of making many.
  it = m_runs.lower_bound(first);
  if (it != m_runs.begin()) {
    auto before = std::prev(it);
    if (std::uint64_t{before->first} + before->second.size() == first) {
      before->second.insert(before->second.end(), hashes.begin(), hashes.end());
      return;
    }
  }
  m_runs.emplace(first, std::move(hashes));
}

std::uint64_t CVerifyingDevice::PendingSectors() const {
  std::uint64_t total = 0;
  for (const auto& [first, hashes] : m_runs) total += hashes.size();
  return total;
}

void CVerifyingDevice::Verify(CProgressBar* progress, const CCancelFlag* cancel) {
  CMediumReads fromMedium(m_inner);
  const std::uint32_t chunkSectors = std::max(kLeastChunkSectors, m_inner.TransferSectors());
  const std::uint64_t total = PendingSectors();
  std::uint64_t done = 0;
  int shown = -1;
  if (progress) progress->SetRange(0, 100);
  std::vector<unsigned char> buffer(std::size_t{chunkSectors} * kSectorSize);
  for (const auto& [first, hashes] : m_runs) {
    for (std::size_t offset = 0; offset < hashes.size(); offset += chunkSectors) {
      ThrowIfCancelled(cancel);
      const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(chunkSectors, hashes.size() - offset));
      const auto sector = static_cast<std::uint32_t>(first + offset);
      m_inner.ReadSectors(sector, count, buffer.data());
      for (std::uint32_t i = 0; i < count; ++i) {
        if (SectorHash(buffer.data() + std::size_t{i} * kSectorSize) != hashes[offset + i]) {
          throw CUsbDeviceException("Verify failed\nSector " + std::to_string(sector + i) + " of " +
                                    m_inner.GetName() +
                                    " reads back differently from what was written: the card may be failing.");
        }
      }
      done += count;
      const int percent = static_cast<int>(done * 100 / total);
      if (progress && percent != shown) progress->SetPos(shown = percent);
    }
  }
  m_runs.clear();
}

}  // namespace vorn
