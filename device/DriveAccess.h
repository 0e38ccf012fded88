#pragma once
// A removable drive as a sector device, opened by its physical drive number.
//
// Every Open scans the drives afresh, so an entry from an earlier discovery
// reaches the same drive only while that drive is still there. A drive in use
// by swap, a mapped device or a system filesystem is refused; a card whose
// filesystems a desktop mounted is unmounted first when the mount policy says
// so. The drive is held exclusively while open.
//
// Ways in, in this order: open the node directly (root, the "disk" group);
// when that is not permitted, ask the drive broker (udisks2, which may ask for
// a password) for a descriptor, and adopt it after checking that it is this
// drive, open for the access asked; otherwise a message that says what to do.
// Only what writes opens for writing (see SetAccess).
//
// Nothing here talks to the user: whether to unmount a mounted card is the
// caller's question (SetUnmountQuestion), asked during Open.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/DriveBroker.h"
#include "device/DriveRoots.h"
#include "device/ImageDevice.h"
#include "device/PhysicalDriveInfo.h"
#include "device/SectorDevice.h"
#include "device/SectorFile.h"

namespace vorn {

// What Open does with a card that has mounted filesystems.
enum class MountPolicy {
  kRefuse,   // "is mounted at …: unmount it first"
  kAsk,      // ask the caller's question, unmount on yes (refuse when none is set)
  kUnmount,  // unmount without asking (the user asked for it up front)
};

// Whether to unmount the card with these mounts and go on; the window asks
// MountQuestion(mounts).
using UnmountQuestion = std::function<bool(const std::vector<DriveMount>& mounts)>;

class CDriveAccess : public CSectorDevice {
 public:
  // The process's drive roots (DriveRoots::FromEnvironment), udisks2, and the
  // question (once set) before unmounting.
  CDriveAccess();
  explicit CDriveAccess(DriveRoots roots,
                        CSectorFile::Durability durability = CSectorFile::kDefaultDurability,
                        std::shared_ptr<CDriveBroker> broker = nullptr,
                        MountPolicy mountPolicy = MountPolicy::kRefuse);
  ~CDriveAccess() override;
  CDriveAccess(const CDriveAccess&) = delete;
  CDriveAccess& operator=(const CDriveAccess&) = delete;

  // Sectors of 512 bytes; a drive beyond 2^32 sectors reports 2^32 - 1, the
  // last sector a 32-bit sector number reaches.
  std::uint32_t GetSectorCount() override;
  std::string GetName() override;  // PhysicalDrive2
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override;
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override;
  void Open(const DeviceEntry& entry) override;  // entry.key: the drive number
  void Close() override;
  bool Identify() override { return true; }
  // 4 MiB, or the drive's optimal I/O size when that is larger (see CSectorFile).
  std::uint32_t TransferSectors() override;

  // `refusalHint` follows the refusal of a card that could have been
  // unmounted ("Give --unmount to unmount it.").
  void SetMountPolicy(MountPolicy policy, std::string refusalHint = {}) {
    m_mountPolicy = policy;
    m_refusalHint = std::move(refusalHint);
  }
  void SetUnmountQuestion(UnmountQuestion ask) { m_askUnmount = std::move(ask); }
  // kRead (the default kWrite) opens read-only, and asks udisks2 for "r".
  void SetAccess(ImageAccess access) { m_access = access; }
  // Whether the last Open was refused because the user answered No to
  // unmounting the card (MountPolicy::kAsk).
  bool UnmountDeclined() const { return m_unmountDeclined; }
  // Makes the next reads come from the medium rather than the kernel's cache.
  bool DropCache() { return m_file && m_file->DropCache(); }
  // While on, reads bypass the kernel's cache (direct I/O) and come from the
  // medium. False when the drive takes no direct I/O: use DropCache instead.
  bool ReadFromMedium(bool on) { return m_file && m_file->SetDirectReads(on); }

 private:
  std::optional<PhysicalDriveInfo> Scan(int number) const;
  void Unmount(const PhysicalDriveInfo& drive);
  void OpenThroughBroker(const PhysicalDriveInfo& drive, CSectorFile& file, bool writable);

  DriveRoots m_roots;
  CSectorFile::Durability m_durability;
  std::shared_ptr<CDriveBroker> m_broker;
  MountPolicy m_mountPolicy;
  UnmountQuestion m_askUnmount;
  ImageAccess m_access = ImageAccess::kWrite;
  std::string m_refusalHint;
  bool m_unmountDeclined = false;
  std::string m_path;
  std::uint64_t m_sectorCount = 0;  // 512-byte sectors
  std::unique_ptr<CSectorFile> m_file;
};

// The second line of "Could not open drive": the system's reason and what to do.
std::string DriveOpenReason(int error, const std::string& node);
// The second line when the drive broker said no to opening or unmounting
// `devicePath`; `mountPoint` is where it is mounted, when unmounting.
std::string BrokerFailureReason(const CDriveBrokerError& error, const std::string& devicePath, bool unmounting,
                                const std::string& mountPoint = {});
// "/dev/sdb is mounted at /media/a, /media/b: unmount it first."
std::string MountedReason(const std::string& node, const std::vector<DriveMount>& mounts);
// "/dev/sdb is in use by another program (gparted, process 4242): close it and
// try again." The programs are those /proc shows holding `node` (this
// process's own user's only, unless root); none named when it shows none.
std::string HeldReason(const std::string& node);
// The user whose desktop mounted `mountPoint` (udisks2's /media/USER/… or
// /run/media/USER/…) when that is not the user running this; empty otherwise.
std::string OtherUserOf(const std::string& mountPoint);
// "The card is mounted at /media/a, /media/b: unmount it and continue?"
std::string MountQuestion(const std::vector<DriveMount>& mounts);

}  // namespace vorn
