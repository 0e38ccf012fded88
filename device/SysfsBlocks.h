#pragma once
// The block devices the kernel lists under <sysfs>/block: whole disks, their
// partitions, and mapped devices (dm-, md) with the devices they lie on.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

struct BlockDevice {
  std::string name;             // kernel name: sdb, sdb1, mmcblk0p1, dm-0
  std::string disk;             // the whole disk's name (its own name for a whole disk)
  std::string dir;              // its sysfs directory
  std::string device;           // "major:minor"
  std::uint32_t partition = 0;  // partition number; 0 for a whole disk
};

class CSysfsBlocks {
 public:
  explicit CSysfsBlocks(std::string sysfsRoot);

  const std::vector<BlockDevice>& All() const { return m_devices; }
  const BlockDevice* ByName(const std::string& name) const;
  const BlockDevice* ByDevice(const std::string& majorMinor) const;
  // The partitions of a whole disk in ascending partition number.
  std::vector<const BlockDevice*> PartitionsOf(const std::string& disk) const;

  // The devices a mapped device lies on, followed down to partitions and disks;
  // a plain partition or disk gives itself.
  std::vector<std::string> Underlying(const std::string& name) const;
  // Some mapped device (dm-crypt, LVM, RAID) lies on this device.
  bool HasHolders(const BlockDevice& device) const;
  // The whole disk sits on the USB or MMC bus: a card reader or an SD slot.
  bool OnRemovableBus(const BlockDevice& disk) const;

  // One attribute file of the device, without its trailing newline.
  std::optional<std::string> Attribute(const BlockDevice& device, const std::string& file) const;

 private:
  void Collect(const std::string& name, int depth, std::vector<std::string>& out) const;

  std::string m_root;
  std::vector<BlockDevice> m_devices;
};

// Reads a small text file whole, without trailing whitespace; none when unreadable.
std::optional<std::string> ReadSmallFile(const std::string& path);

}  // namespace vorn
