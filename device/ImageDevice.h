#pragma once
// A disk image: a regular file that holds a VORN disk sector by sector. Users
// keep backups of their cards this way, and every test of the disk layout runs
// on one.

#include <cstdint>
#include <string>

#include "device/SectorDevice.h"
#include "platform/UniqueFd.h"

namespace vorn {

class CImageDevice final : public CSectorDevice {
 public:
  // `path` is the image opened by Open (an entry's non-empty text overrides it).
  // With `durable`, every write has reached the file's storage when
  // WriteSectors returns, so the order of writes survives a power loss.
  explicit CImageDevice(std::string path = {}, bool durable = true);

  // The entry that names an image: no key, the path as its text.
  static DeviceEntry EntryFor(const std::string& path);

  std::uint32_t GetSectorCount() override { return m_sectorCount; }
  std::string GetName() override { return m_path; }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override;
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override;
  void Open(const DeviceEntry& entry) override;
  void Close() override;
  bool Identify() override { return true; }

  bool IsReadOnly() const { return m_readOnly; }

 private:
  bool Fits(std::uint32_t first, std::uint32_t count) const;

  std::string m_path;
  bool m_durable;
  bool m_readOnly = false;
  CUniqueFd m_fd;
  std::uint32_t m_sectorCount = 0;
};

}  // namespace vorn
