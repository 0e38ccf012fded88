#pragma once
// A device that fails one chosen write, for crash-consistency tests: the k-th
// WriteSectors call (counting from 1) throws "Unable to write sector" after
// putting none, or only the first half, of its sectors on the backing device,
// as a card pulled out in the middle of a transfer would. Every write after the
// failing one fails as well (the card is gone).

#include <cstdint>

#include "tests/support/MemoryDevice.h"

namespace vorn {

// kAllWritten: the write lands whole and the process ends right after it.
enum class FaultMode { kNothingWritten, kFirstHalfWritten, kAllWritten };

class CFaultyDevice : public CSectorDevice {
 public:
  CFaultyDevice(CMemoryDevice& backing, std::uint32_t failingWrite,
                FaultMode mode = FaultMode::kNothingWritten);

  std::uint32_t GetSectorCount() override { return m_backing.GetSectorCount(); }
  std::string GetName() override { return m_backing.GetName(); }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override;
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override;
  void Open(const DeviceEntry& entry) override { m_backing.Open(entry); }
  void Close() override { m_backing.Close(); }
  bool Identify() override { return m_backing.Identify(); }

  std::uint32_t WritesSeen() const { return m_writes; }
  bool Failed() const { return m_failed; }

 private:
  CMemoryDevice& m_backing;
  std::uint32_t m_failingWrite;  // 0: never fails
  FaultMode m_mode;
  std::uint32_t m_writes = 0;
  bool m_failed = false;
};

}  // namespace vorn
