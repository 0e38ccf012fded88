#pragma once
// A disk image: a regular file that holds a VORN disk sector by sector. Users
// keep backups of their cards this way, and every test of the disk layout runs
// on one.
//
// An open image is locked for the whole action: shared to read, exclusive to
// write, so two programs never write one image at the same time (one would
// lose the other's routine) and nobody reads a table while another rewrites
// it. The second one is refused at once; it does not wait.

#include <cstdint>
#include <string>

#include "device/SectorDevice.h"
#include "platform/UniqueFd.h"

namespace vorn {

enum class ImageAccess { kRead, kWrite };

class CImageDevice final : public CSectorDevice {
 public:
  // `path` is the image opened by Open (an entry's non-empty text overrides it).
  // With `durable`, every write has reached the file's storage when
  // WriteSectors returns, so the order of writes survives a power loss.
  // `access` is what the action will do: kRead opens read-only under a shared
  // lock, kWrite read-write under an exclusive one.
  explicit CImageDevice(std::string path = {}, bool durable = true,
                        ImageAccess access = ImageAccess::kWrite);

  // The entry that names an image: no key, the path as its text.
  static DeviceEntry EntryFor(const std::string& path);

  std::uint32_t GetSectorCount() override { return m_sectorCount; }
  std::string GetName() override { return m_path; }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override;
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override;
  void Open(const DeviceEntry& entry) override;
  void Close() override;
  bool Identify() override { return true; }
  // 4 MiB: each durable write costs a flush of the file's storage.
  std::uint32_t TransferSectors() override { return 8192; }

  bool IsReadOnly() const { return m_readOnly; }
  // errno of the read-write open that was refused (0 when read-only was asked for).
  int ReadOnlyReason() const { return m_readOnlyReason; }
  // The file's size in bytes when it was opened (it may end in a part sector).
  std::uint64_t FileBytes() const { return m_fileBytes; }

 private:
  bool Fits(std::uint32_t first, std::uint32_t count) const;

  std::string m_path;
  bool m_durable;
  ImageAccess m_access;
  bool m_readOnly = false;
  int m_readOnlyReason = 0;  // errno of the refused read-write open
  std::uint64_t m_fileBytes = 0;
  CUniqueFd m_fd;
  std::uint32_t m_sectorCount = 0;
};

}  // namespace vorn
