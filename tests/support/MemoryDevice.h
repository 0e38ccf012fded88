#pragma once
// A disk held in memory, for tests: a byte vector of whole sectors, a record of
// every transfer, an optional "size unknown" mode like a unit that has not
// identified itself yet, and an optional fake-card mode (WrapAt).

#include <cstdint>
#include <string>
#include <vector>

#include "device/SectorDevice.h"

namespace vorn {

struct Transfer {
  bool write;
  std::uint32_t first;
  std::uint32_t count;
  bool operator==(const Transfer&) const = default;
};

class CMemoryDevice : public CSectorDevice {
 public:
  explicit CMemoryDevice(std::uint32_t sectors, bool reportsSize = true);

  std::uint32_t GetSectorCount() override { return m_reportsSize ? SectorCount() : 0; }
  std::string GetName() override { return "memory"; }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override;
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override;
  void Open(const DeviceEntry&) override {}
  void Close() override {}
  bool Identify() override { return true; }

  std::uint32_t SectorCount() const { return static_cast<std::uint32_t>(m_bytes.size() / kSectorSize); }
  std::uint8_t* Sector(std::uint32_t n) { return m_bytes.data() + static_cast<std::size_t>(n) * kSectorSize; }
  std::vector<std::uint8_t>& Bytes() { return m_bytes; }
  const std::vector<Transfer>& Transfers() const { return m_transfers; }
  std::vector<Transfer> Writes() const;
  void ClearTransfers() { m_transfers.clear(); }
  // A fake card: it goes on claiming its whole size, but holds only `real`
  // sectors, and sector s reads and writes sector s mod `real` (a card that
  // wraps around at half its claim: WrapAt(SectorCount() / 2)).
  void WrapAt(std::uint32_t real) { m_real = real; }

 private:
  std::vector<std::uint8_t> m_bytes;
  bool m_reportsSize;
  std::uint32_t m_real = 0;  // 0: holds what it claims
  std::vector<Transfer> m_transfers;
};

}  // namespace vorn
