#include "device/LinuxDriveSource.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <set>
#include <string_view>

#include "device/MountTable.h"
#include "device/SysfsBlocks.h"
#include "device/VolumeProbe.h"

namespace vorn {
namespace {

// Partitions of this size or less are extended-partition containers, not volumes.
constexpr std::uint64_t kContainerSectors = 2;

std::optional<std::uint64_t> ParseNumber(const std::optional<std::string>& text) {
  if (!text || text->empty() || text->find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  try {
    return std::stoull(*text);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool NodeExists(const std::string& node) {
  struct stat st {};
  return ::stat(node.c_str(), &st) == 0 && (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode));
}

std::string AfterDev(const std::string& path) {
  constexpr std::string_view kDev = "/dev/";
  return path.rfind(kDev, 0) == 0 ? path.substr(kDev.size()) : std::string();
}

// What the kernel's tables say about the block devices the drives lie under.
struct Usage {
  std::set<std::string> busy;    // mounted or active swap
  std::set<std::string> system;  // a system filesystem or active swap
  std::set<std::string> root;    // holds "/"
  // Each mount, once for every device it lies on, with the node of the device
  // that is mounted (udisks2 unmounts by that one).
  std::vector<std::pair<std::string, DriveMount>> mounts;
};

Usage ReadUsage(const CSysfsBlocks& blocks, const DriveRoots& roots) {
  Usage usage;
  for (const MountRecord& mount : ReadMountInfo(roots.mountinfo)) {
    const BlockDevice* device = blocks.ByDevice(mount.device);
    if (device == nullptr) device = blocks.ByName(AfterDev(mount.source));  // btrfs: 0:NN
    if (device == nullptr) continue;
    for (const std::string& name : blocks.Underlying(device->name)) {
      usage.busy.insert(name);
      if (IsSystemMountPoint(mount.mountPoint)) usage.system.insert(name);
      if (mount.mountPoint == "/") usage.root.insert(name);
      usage.mounts.push_back({name, DriveMount{"/dev/" + device->name, mount.mountPoint}});
    }
  }
  for (const std::string& swap : ReadSwapPartitions(roots.swaps)) {
    for (const std::string& name : blocks.Underlying(AfterDev(swap))) {
      usage.busy.insert(name);
      usage.system.insert(name);
    }
  }
  return usage;
}

// "Generic STORAGE DEVICE" from a SCSI disk's vendor and model, or an SD
// card's name; empty when sysfs names neither.
std::string DescribeDisk(const CSysfsBlocks& blocks, const BlockDevice& disk) {
  std::string text;
  for (const char* file : {"device/vendor", "device/model", "device/name"}) {
    std::string part = blocks.Attribute(disk, file).value_or("");
    for (char& c : part) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    const std::size_t start = part.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    part = part.substr(start, part.find_last_not_of(' ') - start + 1);
    if (!text.empty()) text += ' ';
    text += part;
  }
  return text;
}

struct PendingVolume {
  int driveNumber = 0;
  bool holdsRoot = false;
  VolumeInfo info;
};

VolumeInfo MakeVolume(const std::string& node, std::uint32_t partition, bool removable) {
  VolumeInfo volume;
  volume.removable = removable;
  volume.partition = partition;
  volume.node = node;
  const VolumeLabel label = ProbeVolume(node);
  if (label.found) {
    volume.label = label.label;
    volume.serial = label.serial;
    volume.fileSystem = label.fileSystem;
  }
  return volume;
}

void AssignLetters(std::vector<PendingVolume>& pending, DriveScan& scan) {
  std::stable_sort(pending.begin(), pending.end(), [](const PendingVolume& a, const PendingVolume& b) {
    if (a.driveNumber != b.driveNumber) return a.driveNumber < b.driveNumber;
    return a.info.partition < b.info.partition;
  });
  bool rootTaken = false;
  char next = 'D';
  for (PendingVolume& volume : pending) {
    char letter = 0;
    if (volume.holdsRoot && !rootTaken) {
      letter = 'C';
      rootTaken = true;
    } else if (next <= 'Z') {
      letter = next++;
    } else {
      continue;  // out of letters: like any unlettered volume, not listed
    }
    volume.info.path = std::string("\\\\.\\") + letter + ":";
    scan.volumes.push_back({letter, volume.driveNumber, std::move(volume.info)});
  }
  std::sort(scan.volumes.begin(), scan.volumes.end(),
            [](const ScannedVolume& a, const ScannedVolume& b) { return a.letter < b.letter; });
}

}  // namespace

CLinuxDriveSource::CLinuxDriveSource(DriveRoots roots) : m_roots(std::move(roots)) {}

bool CLinuxDriveSource::IsPhysicalDiskName(const std::string& name) {
  static constexpr std::array<std::string_view, 9> kVirtual = {"loop", "ram",  "zram", "dm-", "md",
                                                               "sr",   "fd",   "nbd",  "zd"};
  if (name.empty()) return false;
  for (std::string_view prefix : kVirtual) {
    if (name.rfind(prefix, 0) == 0) return false;
  }
  // eMMC hardware partitions appear as disks of their own; they are not media.
  if (name.rfind("mmcblk", 0) == 0 &&
      (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos)) {
    return false;
  }
  return true;
}

bool CLinuxDriveSource::NaturalLess(const std::string& a, const std::string& b) {
  auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digitA = isDigit(a[i]);
    const bool digitB = isDigit(b[j]);
    if (digitA != digitB) return digitA;
    std::size_t endA = i;
    std::size_t endB = j;
    while (endA < a.size() && isDigit(a[endA]) == digitA) ++endA;
    while (endB < b.size() && isDigit(b[endB]) == digitB) ++endB;
    std::string_view runA(a.data() + i, endA - i);
    std::string_view runB(b.data() + j, endB - j);
    if (digitA) {
      while (runA.size() > 1 && runA.front() == '0') runA.remove_prefix(1);
      while (runB.size() > 1 && runB.front() == '0') runB.remove_prefix(1);
    }
    if (runA.size() != runB.size()) return runA.size() < runB.size();
    if (runA != runB) return runA < runB;
    i = endA;
    j = endB;
  }
  return a.size() - i < b.size() - j;
}

DriveScan CLinuxDriveSource::Scan() {
  DriveScan scan;
  const CSysfsBlocks blocks(m_roots.sysfs);
  const Usage usage = ReadUsage(blocks, m_roots);

  std::vector<const BlockDevice*> disks;
  for (const BlockDevice& device : blocks.All()) {
    if (device.partition == 0 && IsPhysicalDiskName(device.name)) disks.push_back(&device);
  }
  std::sort(disks.begin(), disks.end(),
            [](const BlockDevice* a, const BlockDevice* b) { return NaturalLess(a->name, b->name); });

  std::vector<PendingVolume> pending;
  for (std::size_t index = 0; index < disks.size(); ++index) {
    const BlockDevice& disk = *disks[index];
    const int number = static_cast<int>(index);
    ScannedDrive drive;
    drive.number = number;
    drive.node = m_roots.dev + "/" + disk.name;
    if (!NodeExists(drive.node)) continue;
    drive.devicePath = "/dev/" + disk.name;
    drive.majorMinor = disk.device;
    drive.description = DescribeDisk(blocks, disk);

    const auto size = ParseNumber(blocks.Attribute(disk, "size"));  // always in 512-byte units
    const auto blockSize = ParseNumber(blocks.Attribute(disk, "queue/logical_block_size"));
    if (size && blockSize && *size > 0 && *blockSize > 0 && *blockSize <= UINT32_MAX &&
        *size <= UINT64_MAX / 512) {
      drive.geometryValid = true;
      drive.geometry = {static_cast<std::uint32_t>(*blockSize), *size * 512};
    }
    drive.removable = blocks.Attribute(disk, "removable").value_or("0") == "1" ||
                      blocks.OnRemovableBus(disk);

    std::vector<const BlockDevice*> members = {&disk};
    for (const BlockDevice* part : blocks.PartitionsOf(disk.name)) {
      members.push_back(part);
      const auto partSize = ParseNumber(blocks.Attribute(*part, "size"));
      if (partSize && *partSize <= kContainerSectors) continue;
      pending.push_back({number, usage.root.count(part->name) > 0,
                         MakeVolume(m_roots.dev + "/" + part->name, part->partition, drive.removable)});
    }
    if (members.size() == 1 && drive.geometryValid) {
      VolumeInfo whole = MakeVolume(drive.node, 0, drive.removable);
      if (whole.fileSystem != kUnknownVolumeText || usage.busy.count(disk.name) > 0) {
        pending.push_back({number, usage.root.count(disk.name) > 0, std::move(whole)});
      }
    }
    for (const BlockDevice* member : members) {
      if (usage.busy.count(member->name) > 0 || blocks.HasHolders(*member)) drive.inUse = true;
      if (usage.system.count(member->name) > 0) drive.holdsSystem = true;
      for (const auto& named : usage.mounts) {
        if (named.first != member->name) continue;
        const DriveMount& mount = named.second;
        const bool known = std::any_of(drive.mounts.begin(), drive.mounts.end(), [&](const DriveMount& m) {
          return m.devicePath == mount.devicePath && m.mountPoint == mount.mountPoint;
        });
        if (!known) drive.mounts.push_back(mount);
      }
    }
    if (number <= kLastDriveNumber) scan.drives.push_back(std::move(drive));
  }
  AssignLetters(pending, scan);
  return scan;
}

}  // namespace vorn
