#pragma once
// Read-back after write: a sector device laid over another that remembers a
// hash of every sector written through it (not the data) and, on Verify, reads
// those sectors back from the medium and compares. A card that silently drops
// or garbles writes is then caught while the user still has the files.
//
// The read-back has to bypass the kernel's cache of a drive, or it would only
// compare the cache with itself: a raw drive is read with direct I/O, in the
// drive's own transfer size; where the drive takes no direct I/O it is synced
// and its cached pages dropped first. A USB unit has no such cache; its reads
// cross the wire.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device/SectorDevice.h"
#include "platform/Cancel.h"
#include "platform/ProgressBar.h"

namespace vorn {

class CVerifyingDevice final : public CSectorDevice {
 public:
  explicit CVerifyingDevice(CSectorDevice& inner);

  std::uint32_t GetSectorCount() override { return m_inner.GetSectorCount(); }
  std::string GetName() override { return m_inner.GetName(); }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override {
    m_inner.ReadSectors(first, count, buffer);
  }
  // Forwards, then remembers the hashes of the sectors (a later write of the
  // same sector replaces its hash).
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override;
  void Open(const DeviceEntry& entry) override { m_inner.Open(entry); }
  void Close() override { m_inner.Close(); }
  bool Identify() override { return m_inner.Identify(); }
  std::uint32_t TransferSectors() override { return m_inner.TransferSectors(); }

  // Reads back every sector written since the last Verify and compares it.
  // Throws CUsbDeviceException naming the first sector that differs, CCancelled
  // when `cancel` is set. Progress runs from 0 to 100.
  void Verify(CProgressBar* progress = nullptr, const CCancelFlag* cancel = nullptr);

  std::uint64_t PendingSectors() const;

 private:
  void Record(std::uint32_t first, std::vector<std::uint32_t> hashes);

  CSectorDevice& m_inner;
  // Runs of consecutive written sectors: first sector -> one hash per sector.
  std::map<std::uint32_t, std::vector<std::uint32_t>> m_runs;
};

// Reads a drive from its medium for as long as it lives: with direct I/O
// where the drive takes it, else after syncing it and dropping its cache.
// Other devices are read as they are. No write may run while one lives (direct
// I/O wants aligned buffers). Throws CUsbDeviceException when the drive's
// cache can be neither bypassed nor dropped.
class CDriveAccess;
class CMediumReads {
 public:
  explicit CMediumReads(CSectorDevice& device);
  ~CMediumReads();
  CMediumReads(const CMediumReads&) = delete;
  CMediumReads& operator=(const CMediumReads&) = delete;

 private:
  CDriveAccess* m_drive;
  bool m_direct = false;
};

// The hash kept per sector.
std::uint32_t SectorHash(const void* sector);

}  // namespace vorn
