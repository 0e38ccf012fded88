#pragma once
// One open drive: its block device node, opened exclusively for reading and
// writing, with whole-sector transfers from a seek position.
//
// Exclusive (O_EXCL on a block device): while we hold the drive the kernel will
// not mount any of its partitions, and a drive with a mounted partition cannot
// be opened (EBUSY). Durable: a write that reports success has its sectors on
// the medium, because users pull the card as soon as the window says "Ready".

#include <cstdint>
#include <string>

#include "platform/UniqueFd.h"

namespace vorn {

class CSectorFile {
 public:
  enum class Durability {
    kSyncEachWrite,   // O_DSYNC: every write(2) returns once its data is on the medium
    kSyncAfterWrite,  // plain writes, then fdatasync(2) before the transfer returns
  };
  // Both cost the same on an image and on a card (bench/drive_write.sh); the
  // open flag needs no second call and cannot be forgotten on a new path.
  static constexpr Durability kDefaultDurability = Durability::kSyncEachWrite;

  // sizeBytes bounds every transfer (0: the system's own bound only), so an
  // image file standing in for a drive never grows.
  CSectorFile(std::string node, std::uint32_t bytesPerSector, std::uint64_t sizeBytes,
              Durability durability = kDefaultDurability);

  // Read-only unless `writable`: a drive closed after writing makes the kernel
  // announce a change, and every desktop program then reads the card again.
  // A node that is a regular file (a test fixture's) is locked as an image is,
  // shared to read and exclusive to write, since O_EXCL claims only block
  // devices; a lock held elsewhere fails the open with EBUSY.
  bool Open(bool writable = true);
  // Takes a descriptor someone else opened for us (udisks2) in place of Open.
  // Whether it was opened durable (O_DSYNC) is read off it: one that was not
  // gets each write flushed instead.
  void Adopt(CUniqueFd fd);
  Durability GetDurability() const { return m_durability; }
  // The open(2) flags Open uses besides the access mode.
  int ExtraOpenFlags() const;
  bool IsOpen() const { return m_fd.IsValid(); }
  int LastError() const { return m_error; }  // errno of the last failed call
  const std::string& Node() const { return m_node; }

  bool Seek(std::uint32_t sector);
  // Transfer `count` whole sectors from the position; true when all of them
  // moved (and, for writes, reached the medium).
  bool ReadSectors(void* buffer, std::uint32_t count);
  bool WriteSectors(const void* buffer, std::uint32_t count);
  bool ReadSector(void* buffer) { return ReadSectors(buffer, 1); }
  bool WriteSector(const void* buffer) { return WriteSectors(buffer, 1); }

  // Writes back what is still buffered and drops the kernel's cached copy of
  // the drive, so the next reads come from the medium. True when the cache was
  // dropped (or there is none to drop).
  bool DropCache();

  // Turns direct I/O (O_DIRECT) for the reads on or off, on whatever
  // descriptor is open, the one a disk service handed over included; reads
  // then come from the medium, whatever the cache holds. False, nothing
  // changed, when the node takes no direct I/O. Writes must not run while it
  // is on (their buffers are not aligned for it).
  bool SetDirectReads(bool on);
  bool DirectReads() const { return m_direct; }

  // Sectors per transfer that keep the drive at its pace: 4 MiB, or the
  // drive's optimal I/O size when it reports a larger one (16 MiB at most),
  // in multiples of 64 KiB. A durable write waits for the medium once per
  // transfer, so fewer, larger transfers cost far fewer flushes.
  std::uint32_t PieceSectors() const;

  void Close() {
    m_fd.Reset();
    m_direct = false;
  }

 private:
  std::uint64_t Clamp(std::uint64_t bytes) const;
  bool Fail(int error);
  bool ReadDirect(unsigned char* out, std::uint64_t bytes);

  std::string m_node;
  std::uint32_t m_bytesPerSector;
  std::uint64_t m_sizeBytes;
  Durability m_durability;
  CUniqueFd m_fd;
  std::uint64_t m_position = 0;
  int m_error = 0;
  bool m_direct = false;
};

}  // namespace vorn
