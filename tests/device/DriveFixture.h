#pragma once
// A fixture tree for the drive back end: a sysfs tree, a device node directory
// whose "nodes" are sparse image files, a mount table and a swap table, all in
// a temporary directory removed at the end. Point DriveRoots (or the VORN_*
// variables) at it and the back end sees these drives instead of the machine's.

#include <cstdint>
#include <map>
#include <string>

#include "device/DriveRoots.h"

namespace vorn::test {

enum class Bus { kUsb, kMmc, kAta, kVirtual };

class CDriveFixture {
 public:
  CDriveFixture();
  ~CDriveFixture();
  CDriveFixture(const CDriveFixture&) = delete;
  CDriveFixture& operator=(const CDriveFixture&) = delete;

  const std::string& Dir() const { return m_dir; }
  DriveRoots Roots() const;

  // A whole disk of `sectors` 512-byte sectors; its node is an image file of
  // that size. `removableFlag` is the kernel's removable attribute.
  void AddDisk(const std::string& name, std::uint64_t sectors, Bus bus, bool removableFlag = false,
               std::uint32_t logicalBlockSize = 512);
  // A partition numbered `number` (node name: disk + number, or disk + "p" +
  // number when the disk name ends in a digit).
  std::string AddPartition(const std::string& disk, std::uint32_t number, std::uint64_t sectors);
  // A mapped device (dm-N) lying on `slave`.
  void AddMapped(const std::string& name, const std::string& slave);

  void Mount(const std::string& name, const std::string& mountPoint);
  void MountBySourceOnly(const std::string& name, const std::string& mountPoint);
  void AddSwap(const std::string& name);

  // Overwrites one sysfs attribute of a disk or partition (e.g. "size").
  void SetAttribute(const std::string& name, const std::string& file, const std::string& value);
  // The drive disappears: its sysfs entry and its node.
  void RemoveDisk(const std::string& name);

  std::string Node(const std::string& name) const;
  // Writes a FAT16 boot sector with this label and volume id at the node's start.
  void WriteFat16(const std::string& name, const std::string& label, std::uint32_t serial);

 private:
  std::string SysDir(const std::string& name) const;
  std::string NextDevice();
  void AppendLine(const std::string& file, const std::string& line);

  std::string m_dir;
  std::map<std::string, std::string> m_sysDirs;   // name -> sysfs directory
  std::map<std::string, std::string> m_devices;   // name -> "major:minor"
  int m_nextMinor = 0;
  int m_nextHost = 0;
  int m_nextMount = 100;
};

}  // namespace vorn::test
